// Security Center registrations: SOFTWARE\Microsoft\Security Center\Provider\Av\{GUID} and
// ...\Fw\{GUID} whose product executable lay in the product's place and is gone make Windows
// report the removed product as installed, and can stop another security product from
// installing. Only Windows may remove them: the instance of root\SecurityCenter2
// (AntiVirusProduct, FirewallProduct) is deleted through WMI; where that namespace is missing or
// the removal is refused, the finding is refused with its reason. The registry keys are never
// deleted by hand. Beside the findings, the report notes a Defender policy that keeps Windows'
// own antivirus off while no antivirus is registered any more.
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/SecurityCenter.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../registry/KeyTrees.h"
#include "../search/Keywords.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../../framework/Handles.h"
#include "../../resources/resource.h"
#include "../search/Said.h"

namespace {
const wchar_t kProviders[] = L"SOFTWARE\\Microsoft\\Security Center\\Provider";
const wchar_t kDefenderPolicies[] = L"SOFTWARE\\Policies\\Microsoft\\Windows Defender";
const wchar_t* const kExecutableValues[] = { L"PRODUCTEXE", L"REPORTINGEXE", L"pathToSignedProductExe",
                                             L"pathToSignedReportingExe" };
const struct
{
    const wchar_t* key;
    const wchar_t* wmiClass;
} kProducts[] = { { L"Av", L"AntiVirusProduct" }, { L"Fw", L"FirewallProduct" } };

struct PreparedRegistration : CPreparedRemoval
{
    std::wstring text;
    std::wstring guid;
    const wchar_t* wmiClass = nullptr;
};

RemovalResult Refused(const std::wstring& why)
{
    RemovalResult result;
    result.outcome = Outcome::Refused;
    result.why = why;
    result.windowMessage = IDS_SECURITY_CENTER_REFUSED;
    return result;
}

// Deletes the instance of `wmiClass` whose instanceGuid is `guid`, once `backUp` (called when WMI
// is there to ask) agreed; empty when it went, else why not.
std::wstring DeleteInstance(const wchar_t* wmiClass, const std::wstring& guid, const std::function<bool()>& backUp)
{
    CComScope com;
    CComPtrOf<IWbemServices> ownServices;
    bool noWmi = false;
    HRESULT result = ConnectSecurityCenter(ownServices, noWmi);
    if (noWmi)
        return L"WMI is not available (" + HexResult(result) + L")";
    if (FAILED(result))
        return L"the WMI namespace root\\SecurityCenter2 cannot be opened (" + HexResult(result) +
               L"): Windows keeps the registration, and its registry keys are never deleted by hand";
    IWbemServices* services = ownServices.get();
    if (!backUp())
        return L"the registration could not be backed up";
    const std::wstring path = std::wstring(wmiClass) + L".instanceGuid=\"" + guid + L"\"";
    BSTR objectPath = ::SysAllocString(path.c_str());
    result = services->DeleteInstance(objectPath, 0, nullptr, nullptr);
    ::SysFreeString(objectPath);
    if (FAILED(result))
        return L"Windows refused to remove the registration through WMI (" + HexResult(result) + L")";
    return std::wstring();
}

class CSecurityCenterKind : public ILeftoverKind, public IClaimsFiles
{
public:
    // The products the Security Center reports.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* type : { L"Av", L"Fw", L"As" })
            reader.EntriesBelow(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Microsoft\\Security Center\\Provider\\") + type,
                                std::wstring());
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'S', "securityCenter", 1, IDS_KIND_SECURITY_CENTER };
        return identity;
    }
    // Only the running Windows changes this, so another installation's is left alone.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE) && !scope.offline;
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        int registered = 0, found = 0;
        for (const auto& product : kProducts) {
            const std::wstring container = std::wstring(kProviders) + L"\\" + product.key;
            CRegKeyOwner key;
            const LONG opened = OpenKeyExact(HKEY_LOCAL_MACHINE, container.c_str(), KEY_READ, key);
            if (opened != ERROR_SUCCESS) {
                if (opened != ERROR_FILE_NOT_FOUND) {
                    check.state = KindCheck::Unavailable;
                    check.why = L"HKEY_LOCAL_MACHINE\\" + container + L" cannot be read";
                }
                continue;
            }
            for (const std::wstring& name : SubkeyNames(key)) {
                CRegKeyOwner registration;
                if (OpenSubKey(key, name.c_str(), KEY_QUERY_VALUE, registration) != ERROR_SUCCESS)
                    continue;
                const bool antivirus = product.key == kProducts[0].key;
                registered += antivirus;
                std::wstring reason, keyword, file;
                for (const wchar_t* value : kExecutableValues)
                    if (reason.empty() && ReadStringValue(registration, value, file))
                        reason = EvidenceOfGoneFile(value, file, std::wstring(), facts.installation, facts.keywords.Lower(),
                                                    keyword);
                if (reason.empty())
                    continue;
                found += antivirus && findings.Add(*this, facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, container + L"\\" + name)), reason,
                                                   keyword) != nullptr;
            }
        }
        // A policy that keeps Windows' own antivirus off, while no antivirus but the product's
        // leftovers is registered: the machine may have none at all. Reported, never changed.
        CRegKeyOwner policies;
        if (registered == found && OpenKeyExact(HKEY_LOCAL_MACHINE, kDefenderPolicies, KEY_QUERY_VALUE, policies) == ERROR_SUCCESS)
            for (const wchar_t* policy : { L"DisableAntiSpyware", L"ForceDefenderPassiveMode" }) {
                DWORD value = 0;
                if (ReadDwordValue(policies, policy, value) && value != 0)
                    check.notes.push_back(Said(IDS_NOTE_DEFENDER_OFF, { L"HKEY_LOCAL_MACHINE\\" + std::wstring(kDefenderPolicies) + L"\\" + policy }));
            }
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedRegistration> prepared(new PreparedRegistration);
        const std::wstring container = LastNameOf(ParentOf(finding.path));
        for (const auto& product : kProducts)
            if (_wcsicmp(container.c_str(), product.key) == 0)
                prepared->wmiClass = product.wmiClass;
        std::wstring below;
        KeyTree tree;
        if (!prepared->wmiClass || !ReadKeyTree(SplitFullPath(finding.path, below), below, tree))
            return nullptr;
        prepared->text = tree.text;
        prepared->guid = LastNameOf(finding.path);
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedRegistration& registration = static_cast<PreparedRegistration&>(prepared);
        bool backupFailed = false;
        const std::wstring refused = DeleteInstance(registration.wmiClass, registration.guid, [&] {
            backupFailed = !context.backup.Append(registration.text);
            return !backupFailed;
        });
        if (!refused.empty())
            return backupFailed ? RemovalResult() : Refused(refused);
        // Windows removes its own keys.
        RemovalResult result;
        result.outcome = IsGone(finding) ? Outcome::Removed : Outcome::RemovedAtRestart;
        return result;
    }

    // Never written back by hand: only Windows keeps this list, and a key put back behind its back
    // would name a provider (a product) that Windows does not know.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        for (const RestoreBlock* block : blocks)
            told(RestoredItemOf(Identity().recordName, block->finding, Outcome::Refused, Said(IDS_ADVICE_REINSTALL_SECURITY_CENTER)));
    }

    bool IsGone(const CmdListEntry& finding) const override { return KeyGone(finding.path); }

    // A registration's key is the product's GUID: the name Windows shows for it is its own value.
    std::wstring ReadableName(const CmdListEntry& finding) const override
    {
        std::wstring below, name;
        const HKEY root = SplitFullPath(finding.path, below);
        CRegKeyOwner key;
        if (!root || OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
            !ReadStringValue(key, L"DISPLAYNAME", name))
            return std::wstring();
        return name;
    }
};
}

const ILeftoverKind& SecurityCenterKind()
{
    static const CSecurityCenterKind kind;
    return kind;
}
