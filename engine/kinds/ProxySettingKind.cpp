// A proxy left on: each user's WinINet settings (Internet Settings ProxyEnable, ProxyServer,
// AutoConfigURL and the connection blobs below Connections) and the machine's WinHTTP setting
// (Connections\WinHttpSettings) still naming the product's local proxy, or its PAC file, after
// the product is gone: the machine then has "no internet" and updates fail. Never a proxy the
// administrator set by policy, and never one that something still answers on. The running
// user's settings go back to a direct connection through WinINet itself (so that running
// programs hear of it), other users' hives through their values, the machine's through WinHTTP;
// each is read again afterwards, since a call that says it worked proves nothing.
// Winsock's header before windows.h: the TCP tables need its address families.
#include <winsock2.h>
#include <ws2ipdef.h>
#include "ProxySettingKind.h"
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../backup/KeyRestore.h"
#include "../backup/RegBackup.h"
#include "../registry/KeyNames.h"
#include "../registry/KeyTrees.h"
#include "../registry/RegKey.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include <wininet.h>
#include <iphlpapi.h>
#include <set>

namespace {
const wchar_t kUserSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kMachineConnections[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kWinHttpValue[] = L"WinHttpSettings";
const wchar_t kMachinePolicy[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kUserPolicy[] = L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kUserPanelPolicy[] = L"Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
// What a policy sets, or locks, of the proxy.
const wchar_t* const kPolicyValues[] = { L"ProxyEnable", L"ProxyServer", L"AutoConfigURL", L"ProxySettingsPerUser",
                                         L"Proxy", L"AutoConfig" };
const wchar_t* const kSettingValues[] = { L"ProxyEnable", L"ProxyServer", L"AutoConfigURL" };
// Connection values that name no dial-up connection.
const wchar_t* const kNoConnection[] = { L"DefaultConnectionSettings", L"SavedLegacySettings", L"WinHttpSettings" };

// Where proxy settings lie: a user's Internet Settings key, or the machine's WinHTTP value.
struct ProxyPlace
{
    HKEY root = nullptr;
    std::wstring prefix;  // "S-1-5-21-...\" below HKEY_USERS, empty below HKEY_CURRENT_USER
    bool machine = false;
    std::wstring Key() const { return machine ? std::wstring(kMachineConnections) : prefix + kUserSettings; }
};

std::vector<ProxyPlace> PlacesOf(const SearchScope& scope, const CInstallation& installation)
{
    std::vector<ProxyPlace> places;
    for (const auto& user : UserHivesOf(scope, installation))
        places.push_back({ user.first, user.second, false });
    if (scope.Searches(HKEY_LOCAL_MACHINE))
        places.push_back({ HKEY_LOCAL_MACHINE, std::wstring(), true });
    return places;
}

// The place a finding's path names.
bool PlaceOf(const std::wstring& path, ProxyPlace& place)
{
    std::wstring below;
    place.root = SplitFullPath(path, below);
    const std::wstring lower = Lowered(below);
    place.machine = lower == Lowered(std::wstring(kMachineConnections) + L"\\" + kWinHttpValue);
    if (place.machine)
        return place.root == HKEY_LOCAL_MACHINE;
    const std::wstring settings = Lowered(std::wstring(kUserSettings));
    if (lower.size() < settings.size() || lower.compare(lower.size() - settings.size(), settings.size(), settings) != 0)
        return false;
    place.prefix = below.substr(0, below.size() - settings.size());
    return (place.root == HKEY_CURRENT_USER && place.prefix.empty()) || (place.root == HKEY_USERS && !place.prefix.empty());
}

// Whether the hive is the account this program runs as: WinINet changes only its settings.
bool IsRunningUser(const ProxyPlace& place)
{
    if (place.machine)
        return false;
    if (place.root == HKEY_CURRENT_USER)
        return true;
    const std::wstring sid = RunningUserSid();
    return !sid.empty() && _wcsicmp((sid + L"\\").c_str(), place.prefix.c_str()) == 0;
}

bool HoldsAny(HKEY root, const std::wstring& below)
{
    CRegKeyOwner key;
    if (OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return false;
    for (const wchar_t* name : kPolicyValues)
        if (::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            return true;
    return false;
}

bool SetByPolicy(const ProxyPlace& place)
{
    return HoldsAny(HKEY_LOCAL_MACHINE, kMachinePolicy) ||
           (!place.machine && (HoldsAny(place.root, place.prefix + kUserPolicy) || HoldsAny(place.root, place.prefix + kUserPanelPolicy)));
}

// The ports something listens on (TCP, IPv4 and IPv6), read once.
std::set<unsigned> ListeningPorts()
{
    std::set<unsigned> ports;
    for (ULONG family : { static_cast<ULONG>(AF_INET), static_cast<ULONG>(AF_INET6) }) {
        std::vector<BYTE> table(16 * 1024);
        DWORD size = static_cast<DWORD>(table.size());
        DWORD result = ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (result == ERROR_INSUFFICIENT_BUFFER) {
            table.resize(size);
            result = ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        }
        if (result != NO_ERROR)
            continue;
        // The port is in network order in the low word.
        auto port = [](DWORD value) { return static_cast<unsigned>(((value & 0xFF) << 8) | ((value >> 8) & 0xFF)); };
        if (family == AF_INET) {
            const MIB_TCPTABLE_OWNER_PID* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                ports.insert(port(rows->table[i].dwLocalPort));
        } else {
            const MIB_TCP6TABLE_OWNER_PID* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                ports.insert(port(rows->table[i].dwLocalPort));
        }
    }
    return ports;
}

// What a user's settings have on: each proxy text and each PAC address, as the values and the
// connection blobs hold them.
struct OnSetting
{
    bool pac = false;
    std::wstring text;
};

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

std::vector<OnSetting> SettingsOn(const ProxyPlace& place)
{
    std::vector<OnSetting> on;
    auto add = [&](bool pac, const std::wstring& text) {
        for (const OnSetting& seen : on)
            if (seen.pac == pac && _wcsicmp(seen.text.c_str(), text.c_str()) == 0)
                return;
        if (!text.empty())
            on.push_back({ pac, text });
    };
    if (place.machine) {
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        ConnectionBlob blob;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, kMachineConnections, KEY_QUERY_VALUE, key) == ERROR_SUCCESS &&
            ReadValueBytes(key, kWinHttpValue, type, data) == ERROR_SUCCESS && ParseConnectionBlob(data, true, blob) &&
            (blob.flags & kProxyFlag))
            add(false, blob.proxy);
        return on;
    }
    const std::wstring settings = place.Key();
    CRegKeyOwner key;
    if (OpenKeyExact(place.root, settings.c_str(), KEY_QUERY_VALUE, key) == ERROR_SUCCESS) {
        DWORD enabled = 0;
        std::wstring server, pac;
        if (ReadDwordValue(key, L"ProxyEnable", enabled) && enabled != 0 && ReadStringValue(key, L"ProxyServer", server))
            add(false, server);
        if (ReadStringValue(key, L"AutoConfigURL", pac))
            add(true, pac);
    }
    for (const auto& value : ConnectionBlobs(place.root, settings)) {
        ConnectionBlob blob;
        if (!ParseConnectionBlob(value.second, false, blob))
            continue;
        if (blob.flags & kProxyFlag)
            add(false, blob.proxy);
        if (blob.flags & kPacFlag)
            add(true, blob.pac);
    }
    return on;
}

// Why a setting that is on is the product's and dead; empty when it may still work.
std::wstring WhyDead(const OnSetting& setting, bool machine, const CSearchFacts& facts, const std::set<unsigned>& ports,
                     std::wstring& keyword)
{
    const auto listening = [&ports](unsigned port) { return ports.count(port) != 0; };
    unsigned port = 0;
    if (!setting.pac)
        return ProxyIsDead(setting.text, facts.keywords, listening, port, keyword)
                   ? Said(machine ? IDS_WINHTTP_PROXY_REASON : IDS_PROXY_REASON, { setting.text, std::to_wstring(port) })
                   : std::wstring();
    std::wstring file;
    ProxyEndpoint endpoint;
    if (!SplitPacAddress(setting.text, file, endpoint))
        return std::wstring();
    if (file.empty()) {
        const std::wstring text = endpoint.host + L":" + std::to_wstring(endpoint.port);
        return ProxyIsDead(text, facts.keywords, listening, port, keyword)
                   ? Said(IDS_PROXY_PAC_PORT_REASON, { setting.text, std::to_wstring(port) })
                   : std::wstring();
    }
    const FileEvidence evidence = Examine(file, true, facts.installation, facts.keywords.Lower());
    if (!evidence.told || evidence.system || evidence.keyword.empty() || !facts.installation.FileGone(evidence.normalized))
        return std::wstring();
    keyword = evidence.keyword;
    return Said(IDS_PROXY_PAC_REASON, { setting.text });
}

void TellWinInet()
{
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

// The running user's connections (the LAN's and each dial-up one) set to direct through WinINet.
void DirectThroughWinInet(const ProxyPlace& place)
{
    std::vector<std::wstring> connections = { std::wstring() };
    DWORD detect = 0;
    for (const auto& value : ConnectionBlobs(place.root, place.Key())) {
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

// A user's settings set to direct in the hive's values: only what is there is changed, so that
// the backup's values put back are the settings as they were.
bool DirectInValues(const ProxyPlace& place)
{
    bool written = true;
    CRegKeyOwner key;
    if (OpenKeyExact(place.root, place.Key().c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) == ERROR_SUCCESS) {
        DWORD enabled = 0;
        const DWORD off = 0;
        if (ReadDwordValue(key, L"ProxyEnable", enabled) && enabled != 0)
            written = ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off) ==
                          ERROR_SUCCESS && written;
        const LONG deleted = ::RegDeleteValueW(key, L"AutoConfigURL");
        written = (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) && written;
    }
    CRegKeyOwner connections;
    if (OpenKeyExact(place.root, (place.Key() + L"\\Connections").c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, connections) ==
        ERROR_SUCCESS)
        for (const auto& value : ConnectionBlobs(place.root, place.Key())) {
            ConnectionBlob blob;
            if (!ParseConnectionBlob(value.second, false, blob) || !(blob.flags & (kProxyFlag | kPacFlag)))
                continue;
            const std::vector<BYTE> direct = DirectConnectionBlob(value.second, false);
            written = ::RegSetValueExW(connections, value.first.c_str(), 0, REG_BINARY, direct.data(),
                                       static_cast<DWORD>(direct.size())) == ERROR_SUCCESS && written;
        }
    return written;
}

// The machine's WinHTTP setting set to direct: through WinHTTP first, then its value where the
// call changed nothing. WinHTTP is loaded by name: its header cannot stand beside WinINet's.
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
    DWORD type = 0;
    std::vector<BYTE> data;
    ConnectionBlob blob;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kMachineConnections, KEY_QUERY_VALUE | KEY_SET_VALUE, key) == ERROR_SUCCESS &&
        ReadValueBytes(key, kWinHttpValue, type, data) == ERROR_SUCCESS && ParseConnectionBlob(data, true, blob) &&
        (blob.flags & kProxyFlag)) {
        const std::vector<BYTE> direct = DirectConnectionBlob(data, true);
        ::RegSetValueExW(key, kWinHttpValue, 0, REG_BINARY, direct.data(), static_cast<DWORD>(direct.size()));
    }
}

struct PreparedSettings : CPreparedRemoval
{
    ProxyPlace place;
    std::wstring text;  // the values as they were
};

// The values of a place as the backup holds them: a user's three values and every connection
// blob, or the machine's WinHTTP value.
bool SettingsText(const ProxyPlace& place, std::wstring& text)
{
    auto section = [&text](HKEY root, const std::wstring& below, const wchar_t* name) {
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        std::wstring one;
        if (OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
            ReadValueBytes(key, name, type, data) != ERROR_SUCCESS)
            return true;  // not there: nothing to keep
        if (!ValueSection(FullPath(root, below), name, type, data, one))
            return false;
        text += one;
        return true;
    };
    if (place.machine)
        return section(HKEY_LOCAL_MACHINE, kMachineConnections, kWinHttpValue) && !text.empty();
    for (const wchar_t* name : kSettingValues)
        if (!section(place.root, place.Key(), name))
            return false;
    for (const auto& value : ConnectionBlobs(place.root, place.Key()))
        if (!section(place.root, place.Key() + L"\\Connections", value.first.c_str()))
            return false;
    return !text.empty();
}

class CProxySettingKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'P', "proxySetting", 1, IDS_KIND_PROXY_SETTING };
        return identity;
    }
    // What listens on a port is the running system's: another installation's proxies cannot be told.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && !scope.offline &&
               (scope.Searches(HKEY_LOCAL_MACHINE) || scope.Searches(HKEY_USERS) || scope.Searches(HKEY_CURRENT_USER));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        std::unique_ptr<std::set<unsigned>> ports;
        for (const ProxyPlace& place : PlacesOf(facts.scope, facts.installation)) {
            const std::vector<OnSetting> on = SettingsOn(place);
            if (on.empty())
                continue;
            if (!ports)
                ports.reset(new std::set<unsigned>(ListeningPorts()));
            // Every setting that is on must be dead: one that works keeps them all.
            std::wstring reason, keyword;
            bool dead = true;
            for (const OnSetting& setting : on) {
                std::wstring matched;
                const std::wstring why = WhyDead(setting, place.machine, facts, *ports, matched);
                dead = dead && !why.empty();
                if (reason.empty()) {
                    reason = why;
                    keyword = matched;
                }
            }
            if (!dead)
                continue;
            const std::wstring path =
                facts.AsWalked(FullPath(place.root, place.machine ? place.Key() + L"\\" + kWinHttpValue : place.Key()));
            if (SetByPolicy(place))
                check.notes.push_back(Said(IDS_PROXY_KEPT_POLICY, { path }));
            else if (!findings.Has(path))
                findings.Add(*this, path, reason, keyword);
        }
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedSettings> prepared(new PreparedSettings);
        if (!PlaceOf(finding.path, prepared->place) || !SettingsText(prepared->place, prepared->text))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedSettings& settings = static_cast<PreparedSettings&>(prepared);
        if (!context.backup.Append(settings.text))
            return Failed();
        if (settings.place.machine) {
            DirectForWinHttp();
        } else {
            if (IsRunningUser(settings.place) && !context.offline)
                DirectThroughWinInet(settings.place);
            // What WinINet left on (or another user's hive, which it never changes) by the values.
            if (!SettingsOn(settings.place).empty())
                DirectInValues(settings.place);
            if (IsRunningUser(settings.place) && !context.offline)
                TellWinInet();
        }
        if (!SettingsOn(settings.place).empty()) {
            RemovalResult result;
            result.why = L"the proxy is still on after the change";
            return result;
        }
        return Removed();
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        ProxyPlace place;
        return PlaceOf(finding.path, place) && SettingsOn(place).empty();
    }

    // The values as they were, written over what the removal set; the running user's programs
    // are told.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        bool tell = false;
        for (const RestoreBlock* block : blocks) {
            RestoredItem item = RestoredItemOf(Identity().recordName, block->finding);
            ProxyPlace place;
            if (!PlaceOf(block->finding, place)) {
                item.outcome = Outcome::Failed;
                item.why = L"the backup names no proxy settings of this program";
                told(item);
                continue;
            }
            for (const RestoreSection& section : block->sections) {
                CRegKeyOwner key;
                if (CreateKeyExact(section.path, key) != ERROR_SUCCESS) {
                    item.outcome = Outcome::Failed;
                    item.why = section.path + L" could not be opened";
                    continue;
                }
                for (const RegValue& value : section.values)
                    if (!SetAndCheck(key, value)) {
                        item.outcome = Outcome::Failed;
                        item.why = L"the value " + value.name + L" of " + section.path + L" could not be written";
                    }
            }
            tell = tell || IsRunningUser(place);
            told(item);
        }
        if (tell)
            TellWinInet();
    }
};

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

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

const ILeftoverKind& ProxySettingKind()
{
    static const CProxySettingKind kind;
    return kind;
}
