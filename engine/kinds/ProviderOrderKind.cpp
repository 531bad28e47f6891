// Entries of the network provider order (ProviderOrder.h) that name the product: a name that
// holds a keyword, or whose service key is a finding. Each is removed alone, the other names
// keeping their order, and the whole value goes into the pass's backup once; they go before the
// service keys, so that the order never names a provider whose key is gone.
#include "../registry/RegFile.h"
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../backup/KeyRestore.h"
#include "../registry/KeyTrees.h"
#include "../system/FilterLists.h"
#include "../search/Keywords.h"
#include "../system/ProviderOrder.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"
#include <algorithm>

namespace {
const wchar_t kSeparator[] = L": ";

struct PreparedEntry : CPreparedRemoval
{
    std::wstring key, valueName, name, id, text;
    size_t index = 0;  // where the name stood in the order
};

// "<key>\<value>: <name>" back into its parts (the key below HKEY_LOCAL_MACHINE).
bool SplitEntry(const std::wstring& path, std::wstring& key, std::wstring& valueName, std::wstring& name)
{
    std::wstring below;
    if (SplitFullPath(path, below) != HKEY_LOCAL_MACHINE)
        return false;
    for (const wchar_t* value : kProviderOrderValues) {
        const std::wstring marker = std::wstring(L"\\") + value + kSeparator;
        const size_t at = below.find(marker);
        if (at == std::wstring::npos || at == 0)
            continue;
        key = below.substr(0, at);
        valueName = value;
        name = below.substr(at + marker.size());
        return !name.empty();
    }
    return false;
}

std::wstring ListText(HKEY key, const std::wstring& valueName, DWORD* type = nullptr, std::vector<BYTE>* bytes = nullptr)
{
    DWORD found = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(key, valueName.c_str(), found, data) != ERROR_SUCCESS || (found != REG_SZ && found != REG_EXPAND_SZ))
        return std::wstring();
    if (type)
        *type = found;
    if (bytes)
        *bytes = data;
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)).c_str();
}

bool Names(const std::wstring& list, const std::wstring& name)
{
    for (const std::wstring& other : SplitProviderOrder(list))
        if (_wcsicmp(other.c_str(), name.c_str()) == 0)
            return true;
    return false;
}

class CProviderOrderKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'N', "providerOrderEntry", 0, IDS_KIND_PROVIDER_ORDER };
        return identity;
    }
    // What it decides on lies in the SYSTEM hive.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        const std::wstring controlSet = RunningControlSetPath();
        const std::wstring keyPath = controlSet + L"\\" + kProviderOrderKey;
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            return KindCheck();
        // The service's key as the walk met it, by either name of the running control set.
        const std::wstring sets[] = { controlSet, L"SYSTEM\\CurrentControlSet" };
        for (const wchar_t* valueName : kProviderOrderValues) {
            for (const std::wstring& name : SplitProviderOrder(ListText(key, valueName))) {
                std::wstring keyword = facts.keywords.Matching(name), reason;
                for (const std::wstring& set : sets) {
                    const std::wstring service = FullPath(HKEY_LOCAL_MACHINE, set + L"\\Services\\" + name);
                    if (keyword.empty() && !set.empty() && findings.Has(service))
                        reason = Said(IDS_REASON_SERVICE_FINDING, { service });
                }
                if (!keyword.empty() || !reason.empty())
                    findings.Add(*this, facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, keyPath)) + L"\\" + valueName + kSeparator + name,
                                 reason, keyword);
            }
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedEntry> prepared(new PreparedEntry);
        if (!SplitEntry(finding.path, prepared->key, prepared->valueName, prepared->name))
            return nullptr;
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, prepared->key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS)
            return nullptr;
        DWORD type = 0;
        std::vector<BYTE> data;
        const std::wstring list = ListText(key, prepared->valueName, &type, &data);
        if (list.empty())
            return nullptr;
        const std::vector<std::wstring> names = SplitProviderOrder(list);
        for (size_t at = 0; at < names.size(); ++at)
            if (_wcsicmp(names[at].c_str(), prepared->name.c_str()) == 0) {
                prepared->index = at;
                break;
            }
        const std::wstring fullKey = FullPath(HKEY_LOCAL_MACHINE, prepared->key);
        prepared->id = fullKey + L"\\" + prepared->valueName;
        if (!ValueSection(fullKey, prepared->valueName, type, data, prepared->text))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedEntry& entry = static_cast<PreparedEntry&>(prepared);
        // The order as it is now: a name of it this pass removed before is gone already.
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, entry.key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS)
            return Failed();
        DWORD type = 0;
        const std::wstring list = ListText(key, entry.valueName, &type);
        std::wstring note;
        if (!Names(list, entry.name) || !context.backup.AppendOnce(entry.id, entry.text) ||
            !AppendRemovedEntryNote(note, entry.name, entry.index, entry.id) || !context.backup.Append(note))
            return Failed();
        // An empty order stays as an empty value: Windows reads it, it never looks for it.
        const std::wstring kept = WithoutProvider(list, entry.name);
        return ::RegSetValueExW(key, entry.valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(kept.c_str()),
                                static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS
                   ? Removed()
                   : Failed();
    }

    // Only the names removed go back, each in its old place among the names there now.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        RestoreListEntries(blocks, Identity().recordName, told,
                           [](const RestoreEntryNote& note, const ListNow& list, RestoredItem&, RegValue& value) {
                               const bool there = list.read == ERROR_SUCCESS;
                               std::wstring text = there ? std::wstring(reinterpret_cast<const wchar_t*>(list.data.data()),
                                                                        list.data.size() / sizeof(wchar_t))
                                                         : std::wstring();
                               text = text.c_str();
                               std::vector<std::wstring> names = SplitProviderOrder(text);
                               const bool named = std::any_of(names.begin(), names.end(), [&](const std::wstring& name) {
                                   return _wcsicmp(name.c_str(), note.entry.c_str()) == 0;
                               });
                               if (!named)
                                   names.insert(names.begin() + static_cast<std::ptrdiff_t>(std::min(note.index, names.size())),
                                                note.entry);
                               std::wstring joined;
                               for (const std::wstring& name : names)
                                   joined += (joined.empty() ? L"" : L",") + name;
                               value.type = there ? list.type : REG_SZ;
                               const BYTE* bytes = reinterpret_cast<const BYTE*>(joined.c_str());
                               value.data.assign(bytes, bytes + (joined.size() + 1) * sizeof(wchar_t));
                               return true;
                           });
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        std::wstring keyPath, valueName, name;
        if (!SplitEntry(finding.path, keyPath, valueName, name))
            return false;
        CRegKeyOwner key;
        const LONG opened = OpenKeyExact(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE, key);
        if (opened != ERROR_SUCCESS)
            return opened == ERROR_FILE_NOT_FOUND;
        return !Names(ListText(key, valueName), name);
    }

    void RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const override
    {
        std::wstring key, valueName;
        path = finding.path;
        if (SplitEntry(finding.path, key, valueName, entry))
            path = FullPath(HKEY_LOCAL_MACHINE, key) + L"\\" + valueName;
    }
};
}

const ILeftoverKind& ProviderOrderKind()
{
    static const CProviderOrderKind kind;
    return kind;
}
