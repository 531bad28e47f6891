// Keys named after the product: the top-most key of each branch whose own name holds a keyword,
// removed with its whole tree. A service's key of the running control set goes through the
// service manager, and not at all while a device filter list still names the service.
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../FilterLists.h"
#include "../Keywords.h"
#include "../RegBackup.h"
#include "../ServiceControl.h"
#include "../../resources/resource.h"

namespace {
const wchar_t kStillNamed[] =
    L"a device filter list still names this driver: its service key stays so that the device can start";
const wchar_t kMayBeNamed[] =
    L"a device filter list that cannot be read may name this driver: its service key stays so that the device can start";

class CKeyKind : public CKeyRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "key", 1 };
        return identity;
    }
    bool LooksIn(const SearchScope&) const override { return true; }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const std::wstring& path : facts.walk.findings) {
            const size_t name = path.rfind(L'\\');
            findings.Add(*this, path, std::wstring(),
                         facts.keywords.Matching(name == std::wstring::npos ? path : path.substr(name + 1)));
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding) const override
    {
        std::unique_ptr<PreparedKey> prepared(new PreparedKey);
        if (!ReadFindingTree(finding, *prepared))
            return nullptr;
        prepared->service = prepared->root == HKEY_LOCAL_MACHINE &&
                            SplitServiceKeyPath(WithoutEmptyNames(prepared->below.c_str()), prepared->controlSet,
                                                prepared->name);
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, CRegBackup& backup) const override
    {
        PreparedKey& key = static_cast<PreparedKey&>(prepared);
        return key.service ? RemoveService(key, backup) : RemoveTree(key, backup);
    }

private:
    struct PreparedKey : PreparedTree
    {
        bool service = false;
        std::wstring controlSet, name;
    };

    static RemovalResult RemoveService(PreparedKey& key, CRegBackup& backup)
    {
        // A driver that a filter list still names keeps its service key: without it, the device
        // that loads the driver (a disk, a keyboard) would no longer start. So does one that a
        // list which cannot be read may name.
        const ListsNaming naming = FilterListsName(key.controlSet, key.name);
        if (naming != ListsNaming::No) {
            RemovalResult refused;
            refused.outcome = Outcome::Refused;
            refused.why = naming == ListsNaming::Yes ? kStillNamed : kMayBeNamed;
            refused.windowMessage = naming == ListsNaming::Yes ? IDS_FILTER_STILL_NAMES : IDS_FILTER_MAY_NAME;
            return refused;
        }
        // The service manager keeps only the running system's control set.
        if (!IsCurrentControlSet(key.controlSet))
            return RemoveTree(key, backup);
        CServiceHandle handle;
        const ServiceRemoval opened = OpenKnownService(key.name, handle);
        if (opened == kServiceNotKnown)
            return RemoveTree(key, backup);
        if (!backup.Append(key.tree.text))
            return Failed();
        RemovalResult result;
        if (opened == kServiceDeletedAtRestart) {
            result.outcome = Outcome::RemovedAtRestart;
            return result;
        }
        if (opened == kServiceNotDeleted)
            return Failed();
        // The manager deletes the key itself; none of ours may stand in its way.
        key.tree.keys.clear();
        BOOL stopped = FALSE;
        const ServiceRemoval removal = StopAndDeleteService(handle, kServiceStopWaitMs, stopped);
        handle.Close();
        if (removal == kServiceNotDeleted)
            return Failed();
        // It deletes the key once the service has stopped and its process and the last handle
        // have let go; a key still there after that goes at the next restart.
        result.outcome = WaitUntilKeyGone(key.root, key.below, stopped ? kServiceKeyWaitMs : 0) ? Outcome::Removed
                                                                                               : Outcome::RemovedAtRestart;
        return result;
    }
};
}

const ILeftoverKind& KeyKind()
{
    static const CKeyKind kind;
    return kind;
}
