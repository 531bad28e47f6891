// A proxy left on: each user's WinINet settings (Internet Settings ProxyEnable, ProxyServer,
// AutoConfigURL and the connection blobs below Connections) and the machine's WinHTTP setting
// (Connections\WinHttpSettings) still naming the product's local proxy, or its PAC file, after
// the product is gone: the machine then has "no internet" and updates fail. Never a proxy the
// administrator set by policy, and never one that something still answers on. The running
// user's settings go back to a direct connection through WinINet itself (so that running
// programs hear of it), other users' hives through their values, the machine's through WinHTTP;
// each is read again afterwards, since a call that says it worked proves nothing.
#include "ProxyRules.h"
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
#include "../system/ListeningPorts.h"
#include "../system/ProxySettings.h"
#include <set>

namespace {
const wchar_t kMachinePolicy[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kUserPolicy[] = L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kUserPanelPolicy[] = L"Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
// What a policy sets, or locks, of the proxy.
const wchar_t* const kPolicyValues[] = { L"ProxyEnable", L"ProxyServer", L"AutoConfigURL", L"ProxySettingsPerUser",
                                         L"Proxy", L"AutoConfig" };
const wchar_t* const kSettingValues[] = { L"ProxyEnable", L"ProxyServer", L"AutoConfigURL" };

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

// What a user's settings have on: each proxy text and each PAC address, as the values and the
// connection blobs hold them.
struct OnSetting
{
    bool pac = false;
    std::wstring text;
};

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
        std::vector<BYTE> data;
        ConnectionBlob blob;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, kMachineConnections, KEY_QUERY_VALUE, key) == ERROR_SUCCESS &&
            WinHttpProxyOn(key, data, blob))
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
                DirectThroughWinInet(settings.place.root, settings.place.Key());
            // What WinINet left on (or another user's hive, which it never changes) by the values.
            if (!SettingsOn(settings.place).empty())
                DirectInValues(settings.place.root, settings.place.Key());
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
}

const ILeftoverKind& ProxySettingKind()
{
    static const CProxySettingKind kind;
    return kind;
}
