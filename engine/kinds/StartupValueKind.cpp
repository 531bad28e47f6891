// The tray program's start-up value in the machine's Run key: checked when the machine's slot is
// searched and the keyword list names the tray program, once per such entry, and always listed by
// the same path; removed as the value alone.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../registry/Constants.h"
#include "../system/FileEvidence.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"

namespace {
class CStartupValueKind : public CValueRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindValue, "value", 2, IDS_KIND_STARTUP_VALUE };
        return identity;
    }
    // With the machine's own slot ticked, as the window's settings tick it (an unattended run puts
    // its one root key in slot 0); with the references also when the machine is searched at all.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.rootKeys[kMachineSlot] != 0 || (scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        // Once per keyword that is exactly the tray program's name, whatever the stop flag says:
        // the check is one open and one query.
        int entries = facts.scope.rootKeys[kMachineSlot] != 0 ? facts.keywords.TrayEntries() : 0;
        CRegKeyOwner run;
        std::wstring data;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_READ, run) != ERROR_SUCCESS ||
            ::RegQueryValueExW(run, kTrayValueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return KindCheck();
        // With the references it is also a finding when the program it starts lay in the product's
        // place and is gone; that is its reason, in the list and the record, never in its path.
        std::wstring reason, keyword = facts.keywords.Matching(kTrayValueName);
        if (facts.scope.followReferences && !facts.scope.stopped && ReadStringValue(run, kTrayValueName, data)) {
            std::wstring evidenceKeyword;
            reason = EvidenceOfGoneFile(kTrayValueName, data, std::wstring(), facts.installation, facts.keywords.Lower(),
                                        evidenceKeyword);
            if (entries == 0 && !reason.empty()) {
                entries = 1;
                keyword = evidenceKeyword;
            }
        }
        for (int i = 0; i < entries; ++i)
            if (CmdListEntry* entry = findings.Add(*this, kTrayValueFinding, reason, keyword))
                entry->reportPathOnly = true;
        return KindCheck();
    }
};
}

const ILeftoverKind& StartupValueKind()
{
    static const CStartupValueKind kind;
    return kind;
}
