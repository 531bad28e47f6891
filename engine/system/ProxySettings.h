// Windows' proxy settings: each user's WinINet settings (Internet Settings and the connection
// blobs below its Connections key) and the machine's WinHTTP setting, read and set to a direct
// connection the way Windows wants it.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

extern const wchar_t kUserSettings[];        // below a user's hive
extern const wchar_t kMachineConnections[];  // below HKEY_LOCAL_MACHINE
extern const wchar_t kWinHttpValue[];        // the WinHTTP setting's value in kMachineConnections
// Connection values that name no dial-up connection.
extern const wchar_t* const kNoConnection[3];

// A WinINet connection blob (Internet Settings\Connections, DefaultConnectionSettings and each
// dial-up connection's) and a WinHTTP one (WinHttpSettings): the flags and what they name.
struct ConnectionBlob
{
    DWORD flags = 0;           // 1 direct, 2 a proxy, 4 a PAC address, 8 detect settings
    std::wstring proxy, pac;
};
const DWORD kProxyFlag = 2, kPacFlag = 4;
bool ParseConnectionBlob(const std::vector<BYTE>& bytes, bool winHttp, ConnectionBlob& blob);
// The same blob set to a direct connection, its counter one on (so that WinINet reads it again);
// detecting settings stays as it was.
std::vector<BYTE> DirectConnectionBlob(const std::vector<BYTE>& bytes, bool winHttp);

// The machine's WinHTTP setting read from `connections` (kMachineConnections, open): true when
// it names a proxy.
bool WinHttpProxyOn(HKEY connections, std::vector<BYTE>& data, ConnectionBlob& blob);

// The WinINet connection blobs below `settings` (a user's Internet Settings key), by value name.
std::vector<std::pair<std::wstring, std::vector<BYTE>>> ConnectionBlobs(HKEY root, const std::wstring& settings);

// Running programs hear that the settings changed.
void TellWinInet();
// The running user's connections (the LAN's and each dial-up one) set to direct through WinINet.
void DirectThroughWinInet(HKEY root, const std::wstring& settings);
// A user's settings set to direct in the hive's values: only what is there is changed, so that
// a backup's values put back are the settings as they were. False when a write failed.
bool DirectInValues(HKEY root, const std::wstring& settings);
// The machine's WinHTTP setting set to direct: through WinHTTP first, then its value where the
// call changed nothing.
void DirectForWinHttp();
