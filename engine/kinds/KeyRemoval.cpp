// Keys with their trees and single values, read first and backed up just before they go.
#include "../registry/RegFile.h"
#include "KeyRemoval.h"
#include "../registry/Constants.h"
#include "../system/FilterLists.h"
#include "../system/FileEvidence.h"
#include "../registry/FloorKeys.h"
#include "../system/Installation.h"
#include "../system/ProviderOrder.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../system/ServiceControl.h"
#include "../../resources/resource.h"

namespace {
const wchar_t kStillNamed[] =
    L"a device filter list still names this driver: its service key stays so that the device can start";
const wchar_t kMayBeNamed[] =
    L"a device filter list that cannot be read may name this driver: its service key stays so that the device can start";
const wchar_t kProviderNamed[] =
    L"the network provider order still names this provider: its service key stays so that mapped drives keep working";

struct PreparedValue : CPreparedRemoval
{
    CRegKeyOwner key;     // open for setting values
    std::wstring name;
    std::wstring text;    // its section in the backup
};

// The key part and the value name of a value finding's path below its root.
bool SplitValuePath(const std::wstring& below, std::wstring& key, std::wstring& name)
{
    const size_t lastBackslash = below.rfind(L'\\');
    if (lastBackslash == std::wstring::npos)
        return false;
    key = below.substr(0, lastBackslash);
    name = below.substr(lastBackslash + 1);
    return true;
}
}

RemovalResult Removed()
{
    RemovalResult result;
    result.outcome = Outcome::Removed;
    return result;
}

RemovalResult Failed()
{
    return RemovalResult();
}

bool CKeyRemoval::ReadFindingTree(const CmdListEntry& finding, PreparedTree& prepared)
{
    prepared.root = SplitFullPath(finding.path, prepared.below);
    std::wstring& below = prepared.below;
    // An empty path would name the root key itself; removal must never be pointed at a whole root.
    if (below.empty() || below[0] == L'\\' || below.size() >= static_cast<size_t>(kDeletePathChars))
        return false;
    // The floor is never removed, nor any key that holds part of it.
    if (IsFloorKey(FullPath(prepared.root, below).c_str()))
        return false;
    if (!ReadKeyTree(prepared.root, below, prepared.tree))
        return false;
    if (below.back() == L'\\')
        below.pop_back();
    prepared.service = prepared.root == HKEY_LOCAL_MACHINE &&
                       SplitServiceKeyPath(WithoutEmptyNames(below.c_str()), prepared.controlSet, prepared.serviceName);
    return true;
}

std::unique_ptr<CPreparedRemoval> CKeyRemoval::Prepare(const CmdListEntry& finding, const RemovalContext&) const
{
    std::unique_ptr<PreparedTree> prepared(new PreparedTree);
    if (!ReadFindingTree(finding, *prepared))
        return nullptr;
    return std::unique_ptr<CPreparedRemoval>(prepared.release());
}

RemovalResult CKeyRemoval::RemoveTree(PreparedTree& prepared, CRegBackup& backup)
{
    if (!backup.Append(prepared.tree.text))
        return Failed();
    return DeleteKeyTreeKeys(prepared.tree) ? Removed() : Failed();
}

RemovalResult CKeyRemoval::Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const
{
    PreparedTree& tree = static_cast<PreparedTree&>(prepared);
    return tree.service ? RemoveService(tree, context.backup) : RemoveTree(tree, context.backup);
}

RemovalResult CKeyRemoval::RemoveService(PreparedTree& key, CRegBackup& backup)
{
    // A driver that a filter list still names keeps its service key: without it, the device that
    // loads the driver (a disk, a keyboard) would no longer start. So does one that a list which
    // cannot be read may name, and a network provider the provider order still names.
    const ListsNaming naming = FilterListsName(key.controlSet, key.serviceName);
    const bool ordered = naming == ListsNaming::No && ProviderOrderNames(key.controlSet, key.serviceName);
    if (naming != ListsNaming::No || ordered) {
        RemovalResult refused;
        refused.outcome = Outcome::Refused;
        refused.why = ordered ? kProviderNamed : naming == ListsNaming::Yes ? kStillNamed : kMayBeNamed;
        refused.windowMessage = ordered ? IDS_PROVIDER_STILL_NAMED
                                : naming == ListsNaming::Yes ? IDS_FILTER_STILL_NAMES : IDS_FILTER_MAY_NAME;
        return refused;
    }
    // The service manager keeps only the running system's control set.
    if (!IsCurrentControlSet(key.controlSet))
        return RemoveTree(key, backup);
    CServiceHandle handle;
    const ServiceRemoval opened = OpenKnownService(key.serviceName, handle);
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
    // It deletes the key once the service has stopped and its process and the last handle have
    // let go; a key still there after that goes at the next restart.
    result.outcome = WaitUntilKeyGone(key.root, key.below, stopped ? kServiceKeyWaitMs : 0) ? Outcome::Removed
                                                                                           : Outcome::RemovedAtRestart;
    return result;
}

std::wstring CKeyRemoval::RestartReason(const CmdListEntry& finding) const
{
    std::wstring below, controlSet, name;
    if (SplitFullPath(finding.path, below) != HKEY_LOCAL_MACHINE || !SplitServiceKeyPath(below, controlSet, name) ||
        !IsCurrentControlSet(controlSet) || !ServiceCannotStop(name))
        return std::wstring();
    return L"service marked for deletion: it runs and cannot be stopped";
}

bool KeyGone(const std::wstring& fullPath)
{
    // A key is gone only when it is not found; one that denies reading is still there. The very
    // key, name by name: never another key through a link.
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    CRegKeyOwner key;
    return OpenKeyExact(root, below.c_str(), KEY_READ, key) == ERROR_FILE_NOT_FOUND;
}

bool CKeyRemoval::IsGone(const CmdListEntry& finding) const
{
    return KeyGone(finding.path);
}

std::unique_ptr<CPreparedRemoval> CValueRemoval::Prepare(const CmdListEntry& finding, const RemovalContext&) const
{
    std::wstring below, keyPath;
    const HKEY root = SplitFullPath(finding.path, below);
    std::unique_ptr<PreparedValue> prepared(new PreparedValue);
    if (below.empty() || below[0] == L'\\' || !SplitValuePath(below, keyPath, prepared->name))
        return nullptr;
    // Opened for removing now: a key that denies it leaves its value unsaved and in place.
    if (OpenKeyExact(root, keyPath.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, prepared->key) != ERROR_SUCCESS)
        return nullptr;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(prepared->key, prepared->name.c_str(), type, data) != ERROR_SUCCESS ||
        !ValueSection(FullPath(root, keyPath), prepared->name, type, data, prepared->text))
        return nullptr;
    return std::unique_ptr<CPreparedRemoval>(prepared.release());
}

RemovalResult CValueRemoval::Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const
{
    PreparedValue& value = static_cast<PreparedValue&>(prepared);
    if (!context.backup.Append(value.text))
        return Failed();
    return ::RegDeleteValueW(value.key, value.name.c_str()) == ERROR_SUCCESS ? Removed() : Failed();
}

bool CValueRemoval::IsGone(const CmdListEntry& finding) const
{
    // Gone when its key or the value itself no longer exists; a key that cannot be opened for
    // another reason may well still hold it.
    std::wstring below, keyPath, name;
    const HKEY root = SplitFullPath(finding.path, below);
    if (!SplitValuePath(below, keyPath, name))
        return false;
    CRegKeyOwner key;
    LONG result = OpenKeyExact(root, keyPath.c_str(), KEY_QUERY_VALUE, key);
    if (result == ERROR_FILE_NOT_FOUND)
        return true;
    if (result != ERROR_SUCCESS)
        return false;
    return ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND;
}

void AddNamedFiles(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                   std::vector<std::wstring>& files)
{
    std::wstring expanded;
    if (data.empty() || !installation.Expand(data, owner, expanded))
        return;
    for (const std::wstring& named : { installation.Normalized(FileOfCommand(expanded)), installation.Normalized(expanded) })
        if (!named.empty())
            files.push_back(named);
}

void CKeyRemoval::NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const
{
    // Every string value of the tree, a bounded number of keys deep and wide: what a product's key
    // names lies in its first levels (InstallDir, an ImagePath, a server).
    const size_t kMostKeys = 4096;
    std::wstring below;
    const HKEY root = SplitFullPath(finding.path, below);
    const std::wstring owner = installation.OwnerOf(finding.path);
    std::vector<std::wstring> pending = { below };
    for (size_t visited = 0; !pending.empty() && visited < kMostKeys; ++visited) {
        const std::wstring path = pending.back();
        pending.pop_back();
        CRegKeyOwner key;
        if (OpenKeyExact(root, path.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            continue;
        ForEachValue(key, [&](const std::wstring&, DWORD type, const std::vector<BYTE>& data) {
            if (type == REG_SZ || type == REG_EXPAND_SZ)
                AddNamedFiles(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)).c_str(),
                              owner, installation, files);
        });
        for (const std::wstring& name : SubkeyNames(key))
            pending.push_back(path + L"\\" + name);
    }
}

void CValueRemoval::NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const
{
    std::wstring below, keyPath, name;
    const HKEY root = SplitFullPath(finding.path, below);
    CRegKeyOwner key;
    std::wstring data;
    if (SplitValuePath(below, keyPath, name) && OpenKeyExact(root, keyPath.c_str(), KEY_QUERY_VALUE, key) == ERROR_SUCCESS &&
        ReadStringValue(key, name.c_str(), data))
        AddNamedFiles(data, installation.OwnerOf(finding.path), installation, files);
}
