// What makes a proxy setting a product's leftover, apart from the registry it is read from: a
// product's local proxy (or its PAC file) stays named in WinINet's or WinHTTP's settings after
// the product is gone, and the machine then has no internet. Kept apart so that the rules can be
// tried without a registry or a network.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

class CKeywords;

struct ProxyEndpoint
{
    std::wstring host;
    unsigned port = 0;
};

// The proxies a ProxyServer text names ("host:port" or "http=host:port;https=host:port").
std::vector<ProxyEndpoint> ProxyEndpoints(const std::wstring& server);
bool IsLoopbackHost(const std::wstring& host);
// Whether every proxy `server` names is the product's and dead: on the loopback address (or a
// host whose name holds a keyword) with nothing listening on its port. `deadPort` gets the first
// such port, `keyword` the keyword a host holds.
bool ProxyIsDead(const std::wstring& server, const CKeywords& keywords, const std::function<bool(unsigned)>& listening,
                 unsigned& deadPort, std::wstring& keyword);
// A PAC address's file (file:// addresses) or host and port (http:// and https://).
bool SplitPacAddress(const std::wstring& address, std::wstring& file, ProxyEndpoint& endpoint);
