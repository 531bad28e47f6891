// Entries of the device filter lists that name the product's drivers: read where the walk of the
// machine passes a device class or a device instance of the running control set, and removed
// entry by entry, the other entries keeping their order. The whole list as it was goes into the
// pass's backup once, so that importing it puts every entry back.
#include "../registry/RegFile.h"
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "../system/FilterLists.h"
#include "../registry/FloorKeys.h"
#include "../registry/KeyTrees.h"
#include "../search/Keywords.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "KeyRemoval.h"
#include "../backup/KeyRestore.h"
#include "../search/Said.h"
#include <algorithm>

namespace {
struct PreparedEntry : CPreparedRemoval
{
    HKEY root = nullptr;
    std::wstring key, valueName, entry;
    std::wstring id;     // the list's full path: the backup holds it once per pass
    std::wstring text;   // the whole list as it was before the pass
    size_t index = 0;    // where the entry stood in it
};

// The device classes Windows needs to reach its own disk: an entry there whose driver cannot be
// loaded stops the machine at boot (inaccessible boot device).
const wchar_t* const kBootClasses[] = {
    L"{4d36e967-e325-11ce-bfc1-08002be10318}",  // disk drives
    L"{71a27cdd-812a-11d0-bec7-08002be2092f}",  // volumes
    L"{4d36e97b-e325-11ce-bfc1-08002be10318}",  // storage (SCSI, RAID, NVMe) controllers
    L"{4d36e96a-e325-11ce-bfc1-08002be10318}",  // IDE ATA/ATAPI controllers
    L"{533c5b84-ec70-11d2-9505-00c04f79deaf}",  // volume shadow copies
};

// Why an entry of the list at `listKey` (a full path in a control set) names no driver Windows
// can load: its service key is not there. Empty when it is.
std::wstring Dangling(const std::wstring& listKey, const std::wstring& entry)
{
    std::wstring below;
    if (SplitFullPath(listKey, below) != HKEY_LOCAL_MACHINE)
        return std::wstring();
    const size_t set = below.find(L'\\', below.find(L'\\') + 1);
    CRegKeyOwner service;
    if (set == std::wstring::npos ||
        OpenKeyExact(HKEY_LOCAL_MACHINE, (below.substr(0, set) + L"\\Services\\" + entry).c_str(), KEY_QUERY_VALUE, service) !=
            ERROR_FILE_NOT_FOUND)
        return std::wstring();
    // The list's class: the class key itself, or the class a device instance names.
    std::wstring classGuid = LastNameOf(listKey);
    CRegKeyOwner instance;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, instance) == ERROR_SUCCESS)
        ReadStringValue(instance, L"ClassGUID", classGuid);
    std::wstring reason = Said(IDS_REASON_NO_SERVICE_KEY);
    for (const wchar_t* boot : kBootClasses)
        if (_wcsicmp(classGuid.c_str(), boot) == 0)
            reason = Said(IDS_REASON_BOOT_CLASS, { Nested(reason) });
    return reason;
}

class CFilterEntryKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindFilterEntry, "filterEntry", 0, IDS_KIND_FILTER_ENTRY };
        return identity;
    }
    // What it decides on lies in the SYSTEM hive.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }
    bool ReadsAt(KeyPlace place) const override { return HoldsFilterLists(place); }

    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        if (IsProtectedPath(path))
            return;
        ReadFilterLists(key, path, [&](const FilterList& list) {
            WalkNote read;
            read.place = place;
            read.key = list.key;
            read.name = list.valueName;
            read.entries = list.entries;
            note(std::move(read));
        });
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const WalkNote& list : facts.walk.notes) {
            if (!HoldsFilterLists(list.place))
                continue;
            std::vector<std::wstring> recorded;
            for (const std::wstring& entry : list.entries) {
                // An entry named twice in one list is one finding; removal takes both.
                const std::wstring keyword = facts.keywords.Matching(entry);
                const std::wstring reason = facts.scope.dangling ? Dangling(list.key, entry) : std::wstring();
                if ((keyword.empty() && reason.empty()) || std::find(recorded.begin(), recorded.end(), entry) != recorded.end())
                    continue;
                recorded.push_back(entry);
                findings.Add(*this, FilterEntryPath(list.key, list.name.c_str(), entry), reason, keyword);
            }
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedEntry> prepared(new PreparedEntry);
        std::wstring below;
        prepared->root = SplitFullPath(finding.path, below);
        if (prepared->root != HKEY_LOCAL_MACHINE ||
            !SplitFilterEntryPath(below, prepared->key, prepared->valueName, prepared->entry))
            return nullptr;
        CRegKeyOwner key;
        if (OpenKeyExact(prepared->root, prepared->key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS)
            return nullptr;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (ReadValueBytes(key, prepared->valueName.c_str(), type, data) != ERROR_SUCCESS || !IsListType(type))
            return nullptr;
        const std::wstring fullKey = FullPath(prepared->root, prepared->key);
        prepared->id = fullKey + L"\\" + prepared->valueName;
        if (!ValueSection(fullKey, prepared->valueName, type, data, prepared->text))
            return nullptr;
        const std::vector<std::wstring> entries = SplitMultiString(data);
        prepared->index = static_cast<size_t>(std::find(entries.begin(), entries.end(), prepared->entry) - entries.begin());
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedEntry& entry = static_cast<PreparedEntry&>(prepared);
        std::wstring note;
        // The list as it is now: an entry of it this pass removed before is gone already.
        CRegKeyOwner key;
        if (OpenKeyExact(entry.root, entry.key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS)
            return Failed();
        DWORD type = 0;
        std::vector<BYTE> data;
        if (ReadValueBytes(key, entry.valueName.c_str(), type, data) != ERROR_SUCCESS || !IsListType(type))
            return Failed();
        const std::vector<std::wstring> entries = SplitMultiString(data);
        if (std::find(entries.begin(), entries.end(), entry.entry) == entries.end())
            return Failed();
        // The whole list as it was before the pass, once, however many of its entries go; then
        // which entry went from where.
        if (!context.backup.AppendOnce(entry.id, entry.text) || !AppendRemovedEntryNote(note, entry.entry, entry.index, entry.id) ||
            !context.backup.Append(note))
            return Failed();
        // The other entries keep their order, and the list its type; a list left empty goes as a whole.
        BOOL left = FALSE;
        const std::vector<BYTE> shortened = WithoutEntry(data, type, entry.entry, left);
        if (!left)
            return ::RegDeleteValueW(key, entry.valueName.c_str()) == ERROR_SUCCESS ? Removed() : Failed();
        return ::RegSetValueExW(key, entry.valueName.c_str(), 0, type, shortened.data(),
                                static_cast<DWORD>(shortened.size())) == ERROR_SUCCESS
                   ? Removed()
                   : Failed();
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        // Gone when its list or its key is, or the list no longer names it.
        std::wstring below, key, valueName, entry;
        const HKEY root = SplitFullPath(finding.path, below);
        if (!SplitFilterEntryPath(below, key, valueName, entry))
            return false;
        CRegKeyOwner hKey;
        LONG result = OpenKeyExact(root, key.c_str(), KEY_QUERY_VALUE, hKey);
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND;
        DWORD type = 0;
        std::vector<BYTE> data;
        result = ReadValueBytes(hKey, valueName.c_str(), type, data);
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND;
        for (const std::wstring& other : SplitMultiString(data))
            if (other == entry)
                return false;
        return true;
    }

    // Only the entries removed go back, each in its old place, while the list there keeps what
    // it holds now.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        RestoreListEntries(blocks, Identity().recordName, told,
                           [](const RestoreEntryNote& note, const ListNow& list, RestoredItem& item, RegValue& value) {
                               const bool there = list.read == ERROR_SUCCESS;
                               const std::vector<std::wstring> entries =
                                   there && IsListType(list.type) ? SplitMultiString(list.data) : std::vector<std::wstring>();
                               if (std::find(entries.begin(), entries.end(), note.entry) != entries.end())
                                   return false;  // back already (its key's tree brought the list back whole)
                               if (there && !IsListType(list.type)) {
                                   item.outcome = Outcome::Failed;
                                   item.why = L"the value is no list now";
                                   return false;
                               }
                               value.data = WithEntryAt(there ? list.data : std::vector<BYTE>(), note.entry, note.index);
                               // A list of one name may be a plain string; two or more need a multi-string.
                               const DWORD was = there ? list.type : note.before.type;
                               value.type = was == REG_MULTI_SZ || !entries.empty() || was == REG_NONE ? REG_MULTI_SZ : was;
                               if (value.type != REG_MULTI_SZ) {
                                   const BYTE* bytes = reinterpret_cast<const BYTE*>(note.entry.c_str());
                                   value.data.assign(bytes, bytes + (note.entry.size() + 1) * sizeof(wchar_t));
                               }
                               return true;
                           });
    }

    void RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const override
    {
        std::wstring key, valueName;
        path = finding.path;
        entry.clear();
        if (SplitFilterEntryPath(finding.path, key, valueName, entry))
            path = key + L"\\" + valueName;
    }
};
}

const ILeftoverKind& FilterEntryKind()
{
    static const CFilterEntryKind kind;
    return kind;
}
