// Windows' own protection left off: the Defender policies a security product sets so that Windows
// stays quiet beside it (DisableAntiSpyware, DisableAntiVirus, Real-Time Protection\Disable*,
// ForceDefenderPassiveMode), and Windows' protection services it disabled. Once the product is
// gone the machine has no protection at all. A setting is a finding only while no other antivirus
// is registered and the machine is not managed (then it may be its administrator's); where Security
// Center cannot be asked it is listed and never changed. A policy value goes, a service gets
// Windows' default start type back through the service manager; both take effect at the restart.
#include "ProtectionSettingKind.h"
#include "KeyRemoval.h"
#include "../../resources/resource.h"
#include "../backup/KeyRestore.h"
#include "../backup/RegBackup.h"
#include "../registry/KeyNames.h"
#include "../registry/KeyTrees.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"
#include "../system/FilterLists.h"
#include "../system/Installation.h"
#include "../system/ManagedMachine.h"
#include "../system/SecurityCenter.h"
#include "../system/ServiceControl.h"

namespace {
const wchar_t kDefender[] = L"SOFTWARE\\Policies\\Microsoft\\Windows Defender";
const wchar_t kRealTime[] = L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Real-Time Protection";
const wchar_t kAtp[] = L"SOFTWARE\\Policies\\Microsoft\\Windows Advanced Threat Protection";
const wchar_t kTamper[] = L"SOFTWARE\\Microsoft\\Windows Defender\\Features";
const DWORD kDisabled = SERVICE_DISABLED;

// Windows' own protection services and the start type Windows gives them.
const struct
{
    const wchar_t* name;
    DWORD start;
    bool tamperProtected;  // Defender's own: tamper protection keeps them as they are
} kServices[] = {
    { L"WinDefend", SERVICE_AUTO_START, true },          // Microsoft Defender Antivirus
    { L"WdNisSvc", SERVICE_DEMAND_START, true },         // its network inspection
    { L"mpssvc", SERVICE_AUTO_START, false },            // Windows Defender Firewall
    { L"BFE", SERVICE_AUTO_START, false },               // the base filtering engine
    { L"SecurityHealthService", SERVICE_DEMAND_START, true },
};

struct Setting
{
    std::wstring key;      // below HKEY_LOCAL_MACHINE
    std::wstring name;     // the value's name ("Start" for a service)
    std::wstring shown;    // its data, as the reason shows it
    std::wstring service;  // a service's name; empty for a policy
    DWORD defaultStart = 0;
};

struct PreparedSetting : CPreparedRemoval
{
    std::wstring key, name, service, text;
    DWORD defaultStart = 0;
    bool tamperProtected = false;
};

const wchar_t* ServiceEntry(const std::wstring& name, DWORD* start = nullptr, bool* tamper = nullptr)
{
    for (const auto& service : kServices)
        if (_wcsicmp(service.name, name.c_str()) == 0) {
            if (start)
                *start = service.start;
            if (tamper)
                *tamper = service.tamperProtected;
            return service.name;
        }
    return nullptr;
}

// A policy value that differs from Windows' default (no value, or 0): its data as text.
bool PolicyOff(HKEY key, const std::wstring& name, bool exactlyOne, std::wstring& shown)
{
    DWORD value = 0;
    if (!ReadDwordValue(key, name.c_str(), value) || value == 0 || (exactlyOne && value != 1))
        return false;
    shown = std::to_wstring(value);
    return true;
}

std::vector<Setting> SettingsOff()
{
    std::vector<Setting> settings;
    CRegKeyOwner key;
    std::wstring shown;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kDefender, KEY_QUERY_VALUE, key) == ERROR_SUCCESS)
        for (const wchar_t* name : { L"DisableAntiSpyware", L"DisableAntiVirus" })
            if (PolicyOff(key, name, false, shown))
                settings.push_back({ kDefender, name, shown, std::wstring(), 0 });
    CRegKeyOwner realTime;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kRealTime, KEY_QUERY_VALUE, realTime) == ERROR_SUCCESS)
        ForEachValue(realTime, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>&) {
            if (type == REG_DWORD && _wcsnicmp(name.c_str(), L"Disable", 7) == 0 && PolicyOff(realTime, name, false, shown))
                settings.push_back({ kRealTime, name, shown, std::wstring(), 0 });
        });
    CRegKeyOwner atp;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kAtp, KEY_QUERY_VALUE, atp) == ERROR_SUCCESS &&
        PolicyOff(atp, L"ForceDefenderPassiveMode", true, shown))
        settings.push_back({ kAtp, L"ForceDefenderPassiveMode", shown, std::wstring(), 0 });
    // The start types as the service manager keeps them: a service it does not know is none.
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const auto& known : kServices) {
        CServiceHandle service(manager ? ::OpenServiceW(manager, known.name, SERVICE_QUERY_CONFIG) : nullptr);
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        if (!service || !::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                               static_cast<DWORD>(buffer.size()), &needed))
            continue;
        if (reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType == kDisabled)
            settings.push_back({ RunningControlSetPath() + L"\\Services\\" + known.name, L"Start", L"4", known.name, known.start });
    }
    return settings;
}

bool TamperProtectionOn()
{
    CRegKeyOwner features;
    DWORD value = 0;
    return OpenKeyExact(HKEY_LOCAL_MACHINE, kTamper, KEY_QUERY_VALUE, features) == ERROR_SUCCESS &&
           ReadDwordValue(features, L"TamperProtection", value) && (value & 1) != 0;
}

RemovalResult Refused(const std::wstring& why, UINT advice)
{
    RemovalResult result;
    result.outcome = Outcome::Refused;
    result.why = why;
    result.advice = Said(advice);
    return result;
}

// The start type the service manager keeps for `service`; false when it cannot be asked.
bool StartTypeOf(const std::wstring& service, DWORD& start)
{
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CServiceHandle opened(manager ? ::OpenServiceW(manager, service.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (!opened || !::QueryServiceConfigW(opened, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                          static_cast<DWORD>(buffer.size()), &needed))
        return false;
    start = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    return true;
}

// Gives `service` the start type `start` through the service manager: Windows' own record of
// it, which a key written by hand would not change until the next restart.
DWORD SetStartType(const std::wstring& service, DWORD start)
{
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return ::GetLastError();
    CServiceHandle opened(::OpenServiceW(manager, service.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG));
    if (!opened)
        return ::GetLastError();
    if (!::ChangeServiceConfigW(opened, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr))
        return ::GetLastError();
    DWORD now = 0;
    return StartTypeOf(service, now) && now == start ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

void SplitValue(const std::wstring& path, std::wstring& key, std::wstring& name)
{
    key = ParentOf(path);
    name = LastNameOf(path);
}

class CProtectionSettingKind : public ILeftoverKind
{
public:
    explicit CProtectionSettingKind(std::function<AntivirusAnswer(const CInstallation&)> ask) : m_ask(std::move(ask)) {}

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'P', "protectionSetting", 2, IDS_KIND_PROTECTION_SETTING };
        return identity;
    }
    // Only the running Windows is asked what protects it; another installation's is left alone.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE) && !scope.offline;
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        const std::vector<Setting> settings = SettingsOff();
        if (settings.empty())
            return check;  // Windows' defaults: nobody needs asking
        const std::wstring managed = ManagedBy();
        AntivirusAnswer answer;
        if (managed.empty()) {
            answer = m_ask(facts.installation);
            AntivirusInRegistry(facts.installation, answer.others);
        }
        for (const Setting& setting : settings) {
            const std::wstring key = facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, setting.key));
            const std::wstring path = key + L"\\" + setting.name;
            switch (JudgeProtection(true, !managed.empty(), answer)) {
            case ProtectionVerdict::Managed:
                check.notes.push_back(Said(IDS_KEPT_PROTECTION_MANAGED, { path, managed }));
                break;
            case ProtectionVerdict::OtherAv:
                check.notes.push_back(Said(IDS_KEPT_PROTECTION_OTHER_AV, { path, answer.others.front() }));
                break;
            case ProtectionVerdict::ListedOnly:
            case ProtectionVerdict::Finding: {
                const bool asked = answer.asked;
                const std::wstring reason =
                    setting.service.empty()
                        ? (asked ? Said(IDS_WHY_PROTECTION_POLICY, { setting.name, setting.shown })
                                 : Said(IDS_WHY_PROTECTION_POLICY_UNASKED, { setting.name, setting.shown, answer.why }))
                        : (asked ? Said(IDS_WHY_PROTECTION_SERVICE, { setting.service, std::to_wstring(setting.defaultStart) })
                                 : Said(IDS_WHY_PROTECTION_SERVICE_UNASKED,
                                        { setting.service, std::to_wstring(setting.defaultStart), answer.why }));
                findings.Add(*this, path, reason, std::wstring());
                break;
            }
            case ProtectionVerdict::None:
                break;
            }
        }
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedSetting> prepared(new PreparedSetting);
        std::wstring fullKey, below, controlSet;
        SplitValue(finding.path, fullKey, prepared->name);
        if (SplitFullPath(fullKey, below) != HKEY_LOCAL_MACHINE)
            return nullptr;
        prepared->key = below;
        if (SplitServiceKeyPath(below, controlSet, prepared->service) &&
            !ServiceEntry(prepared->service, &prepared->defaultStart, &prepared->tamperProtected))
            return nullptr;
        if (prepared->service.empty())
            prepared->tamperProtected = true;  // every Defender policy
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
            ReadValueBytes(key, prepared->name.c_str(), type, data) != ERROR_SUCCESS ||
            !ValueSection(fullKey, prepared->name, type, data, prepared->text))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedSetting& setting = static_cast<PreparedSetting&>(prepared);
        // Asked again now: another antivirus may have come meanwhile.
        AntivirusAnswer answer = m_ask(context.installation);
        AntivirusInRegistry(context.installation, answer.others);
        if (!answer.asked)
            return Refused(L"Security Center cannot be asked whether another antivirus is registered (" + answer.why + L")",
                           IDS_ADVICE_PROTECTION_UNASKED);
        if (!answer.others.empty())
            return Refused(L"another antivirus is registered now (" + answer.others.front() + L")", IDS_ADVICE_PROTECTION_UNASKED);
        if (setting.tamperProtected && TamperProtectionOn())
            return Refused(L"tamper protection is on", IDS_ADVICE_TAMPER);
        RemovalResult result;
        if (setting.service.empty()) {
            CRegKeyOwner key;
            const LONG opened = OpenKeyExact(HKEY_LOCAL_MACHINE, setting.key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key);
            if (opened == ERROR_ACCESS_DENIED)
                return Refused(L"Windows refuses to change the policy", IDS_ADVICE_TAMPER);
            if (opened != ERROR_SUCCESS || !context.backup.Append(setting.text))
                return Failed();
            const LONG deleted = ::RegDeleteValueW(key, setting.name.c_str());
            if (deleted == ERROR_ACCESS_DENIED)
                return Refused(L"Windows refuses to change the policy", IDS_ADVICE_TAMPER);
            if (deleted != ERROR_SUCCESS)
                return Failed();
            result.outcome = Outcome::Removed;
        } else {
            if (!context.backup.Append(setting.text))
                return Failed();
            const DWORD changed = SetStartType(setting.service, setting.defaultStart);
            if (changed == ERROR_ACCESS_DENIED)
                return Refused(L"Windows refuses to change the service", IDS_ADVICE_TAMPER);
            if (changed != ERROR_SUCCESS)
                return Failed();
            // The service starts with Windows: until the restart the machine stays as it is.
            result.outcome = Outcome::RemovedAtRestart;
        }
        result.advice = Said(IDS_ADVICE_PROTECTION_BACK);
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        std::wstring fullKey, name, below, controlSet, service;
        SplitValue(finding.path, fullKey, name);
        SplitFullPath(fullKey, below);
        DWORD start = 0;
        if (SplitServiceKeyPath(below, controlSet, service))
            return StartTypeOf(service, start) && start != kDisabled;
        CRegKeyOwner key;
        const LONG opened = OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, key);
        return opened == ERROR_FILE_NOT_FOUND ||
               (opened == ERROR_SUCCESS && (!ReadDwordValue(key, name.c_str(), start) || start == 0));
    }

    // A policy value goes back where nobody set it since; a service's start type goes back through
    // the service manager.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext& context, const RestoreTold& told) const override
    {
        for (const RestoreBlock* block : blocks)
            for (const RestoreSection& section : block->sections)
                for (const RegValue& value : section.values) {
                    RestoredItem item = RestoredItemOf(Identity().recordName, section.path + L"\\" + value.name);
                    std::wstring below, controlSet, service;
                    const bool own = SplitFullPath(section.path, below) == HKEY_LOCAL_MACHINE;
                    if (own && SplitServiceKeyPath(below, controlSet, service) && ServiceEntry(service)) {
                        DWORD start = 0;
                        if (context.offline || value.type != REG_DWORD || value.data.size() != sizeof start) {
                            item.outcome = Outcome::Failed;
                            item.why = L"only the running Windows' service manager may change the service";
                        } else {
                            memcpy(&start, value.data.data(), sizeof start);
                            const DWORD changed = SetStartType(service, start);
                            item.outcome = changed == ERROR_SUCCESS ? Outcome::Restored : Outcome::Failed;
                            item.why = changed == ERROR_SUCCESS ? std::wstring()
                                                                : L"the service manager refused (" + std::to_wstring(changed) + L")";
                        }
                        told(item);
                        continue;
                    }
                    CRegKeyOwner key;
                    DWORD type = 0;
                    std::vector<BYTE> data;
                    if (!own || CreateKeyExact(section.path, key) != ERROR_SUCCESS) {
                        item.outcome = Outcome::Failed;
                        item.why = L"the key could not be opened";
                    } else if (ReadValueBytes(key, value.name.c_str(), type, data) == ERROR_SUCCESS) {
                        // Set again since: left as it is.
                        if (type != value.type || data != value.data) {
                            item.outcome = Outcome::Failed;
                            item.why = L"the value was set again since; it is left as it is";
                        }
                    } else if (!SetAndCheck(key, value)) {
                        item.outcome = Outcome::Failed;
                        item.why = L"the value could not be written";
                    }
                    told(item);
                }
    }

private:
    std::function<AntivirusAnswer(const CInstallation&)> m_ask;
};
}

ProtectionVerdict JudgeProtection(bool differsFromDefault, bool managed, const AntivirusAnswer& answer)
{
    if (!differsFromDefault)
        return ProtectionVerdict::None;
    if (managed)
        return ProtectionVerdict::Managed;
    if (!answer.others.empty())
        return ProtectionVerdict::OtherAv;
    return answer.asked ? ProtectionVerdict::Finding : ProtectionVerdict::ListedOnly;
}

DWORD DefaultProtectionStart(const std::wstring& service)
{
    DWORD start = 0;
    return ServiceEntry(service, &start) ? start : 0;
}

std::unique_ptr<ILeftoverKind> MakeProtectionSettingKind(std::function<AntivirusAnswer(const CInstallation&)> ask)
{
    return std::unique_ptr<ILeftoverKind>(new CProtectionSettingKind(std::move(ask)));
}

const ILeftoverKind& ProtectionSettingKind()
{
    static const CProtectionSettingKind kind(AskSecurityCenter);
    return kind;
}
