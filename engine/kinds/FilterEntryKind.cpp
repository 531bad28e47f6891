// Entries of the device filter lists that name the product's drivers: read where the walk of the
// machine passes a device class or a device instance of the running control set, and removed
// entry by entry, the other entries keeping their order. The whole list as it was goes into the
// pass's backup once, so that importing it puts every entry back.
#include "LeftoverKind.h"
#include "../FilterLists.h"
#include "../FloorKeys.h"
#include "../KeyTrees.h"
#include "../Keywords.h"
#include "../RegBackup.h"
#include "../RegKey.h"
#include "KeyRemoval.h"
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

class CFilterEntryKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindFilterEntry, "filterEntry", 0 };
        return identity;
    }
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
                if (keyword.empty() || std::find(recorded.begin(), recorded.end(), entry) != recorded.end())
                    continue;
                recorded.push_back(entry);
                findings.Add(*this, FilterEntryPath(list.key, list.name.c_str(), entry), std::wstring(), keyword);
            }
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding) const override
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

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, CRegBackup& backup) const override
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
        if (!backup.AppendOnce(entry.id, entry.text) || !AppendRemovedEntryNote(note, entry.entry, entry.index, entry.id) ||
            !backup.Append(note))
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
