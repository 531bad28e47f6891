// The tray program's start-up value in the machine's Run key: checked when the machine's slot is
// searched and the keyword list names the tray program, once per such entry; removed as the
// value alone.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../Constants.h"
#include "../Keywords.h"

namespace {
class CStartupValueKind : public CValueRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindValue, "value", 2, IDS_KIND_STARTUP_VALUE };
        return identity;
    }
    // Only with the machine's own slot ticked, as the window's settings tick it: an unattended run
    // puts its one root key in slot 0 and never lists the value.
    bool LooksIn(const SearchScope& scope) const override { return scope.rootKeys[kMachineSlot] != 0; }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        // Found by what it runs already (with the references): listed once.
        if (findings.Has(kTrayValueFinding))
            return KindCheck();
        // Deliberately ignores the stop flag: the check is one open and one query.
        for (int i = 0; i < facts.keywords.TrayEntries(); ++i) {
            CRegKeyOwner run;
            if (OpenKeyExact(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_READ, run) != ERROR_SUCCESS)
                break;
            if (::RegQueryValueExW(run, kTrayValueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            findings.Add(*this, kTrayValueFinding, std::wstring(), facts.keywords.Matching(kTrayValueName));
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& StartupValueKind()
{
    static const CStartupValueKind kind;
    return kind;
}
