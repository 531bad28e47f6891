#include "ProxySettings.h"
#include "../registry/RegKey.h"
#include <wininet.h>

const wchar_t kUserSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kMachineConnections[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kWinHttpValue[] = L"WinHttpSettings";
const wchar_t* const kNoConnection[3] = { L"DefaultConnectionSettings", L"SavedLegacySettings", L"WinHttpSettings" };

namespace {
DWORD ReadUInt32(const std::vector<BYTE>& bytes, size_t at)
{
    return static_cast<DWORD>(bytes[at]) | static_cast<DWORD>(bytes[at + 1]) << 8 | static_cast<DWORD>(bytes[at + 2]) << 16 |
           static_cast<DWORD>(bytes[at + 3]) << 24;
}

// A counted ANSI text of a blob at `at`, moved past; FALSE when the blob ends first.
bool ReadCounted(const std::vector<BYTE>& bytes, size_t& at, std::wstring& text)
{
    if (at + 4 > bytes.size())
        return false;
    const DWORD length = ReadUInt32(bytes, at);
    at += 4;
    if (length > bytes.size() - at)
        return false;
    text.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    text = text.c_str();
    at += length;
    return true;
}
}

bool ParseConnectionBlob(const std::vector<BYTE>& bytes, bool winHttp, ConnectionBlob& blob)
{
    if (bytes.size() < 12)
        return false;
    blob.flags = ReadUInt32(bytes, 8);
    size_t at = 12;
    std::wstring bypass;
    if (!ReadCounted(bytes, at, blob.proxy) || !ReadCounted(bytes, at, bypass))
        return false;
    return winHttp || ReadCounted(bytes, at, blob.pac);
}

std::vector<BYTE> DirectConnectionBlob(const std::vector<BYTE>& bytes, bool)
{
    std::vector<BYTE> direct = bytes;
    if (direct.size() < 12)
        return direct;
    const DWORD counter = ReadUInt32(bytes, 4) + 1;
    const DWORD flags = PROXY_TYPE_DIRECT | (ReadUInt32(bytes, 8) & PROXY_TYPE_AUTO_DETECT);
    for (int i = 0; i < 4; ++i) {
        direct[4 + i] = static_cast<BYTE>(counter >> (8 * i));
        direct[8 + i] = static_cast<BYTE>(flags >> (8 * i));
    }
    return direct;
}

bool WinHttpProxyOn(HKEY connections, std::vector<BYTE>& data, ConnectionBlob& blob)
{
    DWORD type = 0;
    return ReadValueBytes(connections, kWinHttpValue, type, data) == ERROR_SUCCESS && ParseConnectionBlob(data, true, blob) &&
           (blob.flags & kProxyFlag);
}

std::vector<std::pair<std::wstring, std::vector<BYTE>>> ConnectionBlobs(HKEY root, const std::wstring& settings)
{
    std::vector<std::pair<std::wstring, std::vector<BYTE>>> blobs;
    CRegKeyOwner key;
    if (OpenKeyExact(root, (settings + L"\\Connections").c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return blobs;
    ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
        if (type == REG_BINARY && _wcsicmp(name.c_str(), kWinHttpValue) != 0)
            blobs.push_back({ name, data });
    });
    return blobs;
}

void TellWinInet()
{
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

void DirectThroughWinInet(HKEY root, const std::wstring& settings)
{
    std::vector<std::wstring> connections = { std::wstring() };
    DWORD detect = 0;
    for (const auto& value : ConnectionBlobs(root, settings)) {
        bool named = true;
        for (const wchar_t* none : kNoConnection)
            named = named && _wcsicmp(value.first.c_str(), none) != 0;
        if (named)
            connections.push_back(value.first);
        ConnectionBlob blob;
        if (_wcsicmp(value.first.c_str(), kNoConnection[0]) == 0 && ParseConnectionBlob(value.second, false, blob))
            detect = blob.flags & PROXY_TYPE_AUTO_DETECT;
    }
    for (const std::wstring& connection : connections) {
        INTERNET_PER_CONN_OPTIONW option = {};
        option.dwOption = INTERNET_PER_CONN_FLAGS;
        option.Value.dwValue = PROXY_TYPE_DIRECT | detect;
        INTERNET_PER_CONN_OPTION_LISTW list = {};
        list.dwSize = sizeof list;
        list.pszConnection = connection.empty() ? nullptr : const_cast<wchar_t*>(connection.c_str());
        list.dwOptionCount = 1;
        list.pOptions = &option;
        ::InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
    }
    TellWinInet();
}

bool DirectInValues(HKEY root, const std::wstring& settings)
{
    bool written = true;
    CRegKeyOwner key;
    if (OpenKeyExact(root, settings.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) == ERROR_SUCCESS) {
        DWORD enabled = 0;
        const DWORD off = 0;
        if (ReadDwordValue(key, L"ProxyEnable", enabled) && enabled != 0)
            written = ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off) ==
                          ERROR_SUCCESS && written;
        const LONG deleted = ::RegDeleteValueW(key, L"AutoConfigURL");
        written = (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) && written;
    }
    CRegKeyOwner connections;
    if (OpenKeyExact(root, (settings + L"\\Connections").c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, connections) ==
        ERROR_SUCCESS)
        for (const auto& value : ConnectionBlobs(root, settings)) {
            ConnectionBlob blob;
            if (!ParseConnectionBlob(value.second, false, blob) || !(blob.flags & (kProxyFlag | kPacFlag)))
                continue;
            const std::vector<BYTE> direct = DirectConnectionBlob(value.second, false);
            written = ::RegSetValueExW(connections, value.first.c_str(), 0, REG_BINARY, direct.data(),
                                       static_cast<DWORD>(direct.size())) == ERROR_SUCCESS && written;
        }
    return written;
}

// WinHTTP is loaded by name: its header cannot stand beside WinINet's.
void DirectForWinHttp()
{
    struct ProxyInfo
    {
        DWORD accessType;
        LPWSTR proxy, bypass;
    } none = { 1 /* WINHTTP_ACCESS_TYPE_NO_PROXY */, nullptr, nullptr };
    typedef BOOL(WINAPI * SetDefault)(ProxyInfo*);
    if (HMODULE winHttp = ::LoadLibraryW(L"winhttp.dll")) {
        if (SetDefault set = reinterpret_cast<SetDefault>(reinterpret_cast<void*>(::GetProcAddress(winHttp, "WinHttpSetDefaultProxyConfiguration"))))
            set(&none);
        ::FreeLibrary(winHttp);
    }
    CRegKeyOwner key;
    std::vector<BYTE> data;
    ConnectionBlob blob;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kMachineConnections, KEY_QUERY_VALUE | KEY_SET_VALUE, key) == ERROR_SUCCESS &&
        WinHttpProxyOn(key, data, blob)) {
        const std::vector<BYTE> direct = DirectConnectionBlob(data, true);
        ::RegSetValueExW(key, kWinHttpValue, 0, REG_BINARY, direct.data(), static_cast<DWORD>(direct.size()));
    }
}
