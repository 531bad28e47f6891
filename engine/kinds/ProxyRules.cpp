#include "ProxyRules.h"
#include "../registry/KeyNames.h"
#include "../search/Keywords.h"

namespace {
std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}
}

std::vector<ProxyEndpoint> ProxyEndpoints(const std::wstring& server)
{
    std::vector<ProxyEndpoint> endpoints;
    for (size_t start = 0; start <= server.size();) {
        size_t end = server.find_first_of(L"; ", start);
        if (end == std::wstring::npos)
            end = server.size();
        std::wstring part = Trimmed(server.substr(start, end - start));
        start = end + 1;
        const size_t equals = part.find(L'=');
        if (equals != std::wstring::npos)
            part = part.substr(equals + 1);
        const size_t scheme = part.find(L"://");
        if (scheme != std::wstring::npos)
            part = part.substr(scheme + 3);
        if (part.empty())
            continue;
        ProxyEndpoint endpoint;
        // "[::1]:8080", "host:8080", "host" (WinINet's port 80).
        size_t colon = part.rfind(L':');
        if (part[0] == L'[') {
            const size_t close = part.find(L']');
            endpoint.host = part.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
            colon = close != std::wstring::npos && close + 1 < part.size() && part[close + 1] == L':' ? close + 1 : std::wstring::npos;
        } else {
            endpoint.host = part.substr(0, colon);
        }
        endpoint.port = colon == std::wstring::npos ? 80 : static_cast<unsigned>(wcstoul(part.c_str() + colon + 1, nullptr, 10));
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

bool IsLoopbackHost(const std::wstring& host)
{
    const std::wstring lower = Lowered(host);
    return lower == L"localhost" || lower == L"::1" || lower.compare(0, 4, L"127.") == 0;
}

bool ProxyIsDead(const std::wstring& server, const CKeywords& keywords, const std::function<bool(unsigned)>& listening,
                 unsigned& deadPort, std::wstring& keyword)
{
    const std::vector<ProxyEndpoint> endpoints = ProxyEndpoints(server);
    deadPort = 0;
    keyword.clear();
    for (const ProxyEndpoint& endpoint : endpoints) {
        const std::wstring named = keywords.Matching(endpoint.host);
        if ((!IsLoopbackHost(endpoint.host) && named.empty()) || endpoint.port == 0 || listening(endpoint.port))
            return false;
        if (keyword.empty())
            keyword = named;
        if (!deadPort)
            deadPort = endpoint.port;
    }
    return !endpoints.empty();
}

bool SplitPacAddress(const std::wstring& address, std::wstring& file, ProxyEndpoint& endpoint)
{
    file.clear();
    const std::wstring lower = Lowered(Trimmed(address));
    const std::wstring text = Trimmed(address);
    if (lower.compare(0, 5, L"file:") == 0) {
        size_t at = 5;
        while (at < text.size() && (text[at] == L'/' || text[at] == L'\\'))
            ++at;
        for (; at < text.size(); ++at) {
            if (text[at] == L'%' && at + 2 < text.size() && iswxdigit(text[at + 1]) && iswxdigit(text[at + 2])) {
                file += static_cast<wchar_t>(wcstoul(text.substr(at + 1, 2).c_str(), nullptr, 16));
                at += 2;
            } else {
                file += text[at] == L'/' ? L'\\' : text[at];
            }
        }
        return file.size() > 2 && file[1] == L':';
    }
    const bool https = lower.compare(0, 8, L"https://") == 0;
    if (!https && lower.compare(0, 7, L"http://") != 0)
        return false;
    std::wstring authority = text.substr(https ? 8 : 7);
    authority = authority.substr(0, authority.find(L'/'));
    const std::vector<ProxyEndpoint> endpoints = ProxyEndpoints(authority);
    if (endpoints.size() != 1)
        return false;
    endpoint = endpoints[0];
    if (authority.find(L':', authority.find(L']') == std::wstring::npos ? 0 : authority.find(L']')) == std::wstring::npos)
        endpoint.port = https ? 443 : 80;
    return true;
}
