// Putting keys, values, registry links and list entries back.
#include "KeyRestore.h"
#include "../registry/KeyNames.h"
#include "../registry/Hives.h"
#include "../registry/LoadedHives.h"
#include "../registry/RootKeys.h"
#include <algorithm>
#include <cwchar>

LONG CreateKeyExact(const std::wstring& fullPath, CRegKeyOwner& key)
{
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    if (!root)
        return ERROR_INVALID_PARAMETER;
    const std::wstring first = below.substr(0, below.find(L'\\'));
    if (IsLoadedName(first) && !KeyExists(root, first))
        return ERROR_FILE_NOT_FOUND;
    CRegKeyOwner current;
    HKEY parent = root;
    size_t start = 0;
    while (start < below.size()) {
        size_t end = below.find(L'\\', start);
        if (end == std::wstring::npos)
            end = below.size();
        const std::wstring name = below.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        CRegKeyOwner next;
        LONG result = OpenSubKey(parent, name.c_str(), KEY_READ | KEY_WRITE, next);
        if (result == ERROR_SUCCESS && IsRegistryLink(parent, name.c_str(), next))
            return ERROR_ACCESS_DENIED;  // a link where the backup holds a key: never write through it
        if (result == ERROR_FILE_NOT_FOUND) {
            HKEY created = nullptr;
            result = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &created, nullptr);
            next.Reset(created);
        }
        if (result != ERROR_SUCCESS)
            return result;
        current = std::move(next);
        parent = current;
    }
    key = std::move(current);
    return key ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

bool SetAndCheck(HKEY key, const RegValue& value)
{
    if (::RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    std::vector<BYTE> data;
    return ReadValueBytes(key, value.name.c_str(), type, data) == ERROR_SUCCESS && type == value.type && data == value.data;
}

namespace {
// One section's values; the first failure (or the values changed since) into `why`.
void RestoreSectionValues(const RestoreSection& section, std::wstring& why)
{
    CRegKeyOwner key;
    const LONG created = CreateKeyExact(section.path, key);
    if (created != ERROR_SUCCESS) {
        if (why.empty())
            why = section.path + L" could not be created (" + std::to_wstring(created) + L")";
        return;
    }
    std::wstring changed;
    for (const RegValue& value : section.values) {
        const std::wstring shown = value.name.empty() ? std::wstring(L"@") : value.name;
        // A value someone set since the removal stays as it is, as a file that is back at its
        // place does: the restore never writes over what it did not take.
        DWORD type = 0;
        std::vector<BYTE> data;
        if (ReadValueBytes(key, value.name.c_str(), type, data) == ERROR_SUCCESS) {
            if (type != value.type || data != value.data)
                changed += (changed.empty() ? L"" : L", ") + shown;
            continue;
        }
        if (!SetAndCheck(key, value) && why.empty())
            why = L"the value " + shown + L" of " + section.path + L" could not be written";
    }
    if (!changed.empty() && why.empty())
        why = L"changed since the backup, left as they are: " + changed + L" of " + section.path;
}

LONG MakeLink(const RestoreLink& link)
{
    const std::wstring parent = link.path.substr(0, link.path.rfind(L'\\'));
    const std::wstring name = link.path.substr(link.path.rfind(L'\\') + 1);
    CRegKeyOwner parentKey;
    HKEY created = nullptr;
    DWORD disposition = 0;
    LONG result = CreateKeyExact(parent, parentKey);
    if (result == ERROR_SUCCESS)
        result = ::RegCreateKeyExW(parentKey, name.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_WRITE | KEY_CREATE_LINK,
                                   nullptr, &created, &disposition);
    CRegKeyOwner linkKey(created);
    if (result == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY)
        result = ERROR_ALREADY_EXISTS;
    if (result == ERROR_SUCCESS)
        result = ::RegSetValueExW(linkKey, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(link.target.data()),
                                  static_cast<DWORD>(link.target.size() * sizeof(wchar_t)));
    // Read back: the key there must be a link now, as itself.
    CRegKeyOwner made;
    if (result == ERROR_SUCCESS && (OpenSubKey(parentKey, name.c_str(), KEY_READ, made) != ERROR_SUCCESS ||
                                    !IsRegistryLink(parentKey, name.c_str(), made)))
        result = ERROR_CANTREAD;
    return result;
}
}

void RestoreKeyTrees(const RestoreBlock& block, const RestoreTold& told)
{
    // A key tree's sections come parent first: one item per tree.
    const std::vector<RestoreSection>& sections = block.sections;
    for (size_t index = 0; index < sections.size();) {
        if (sections[index].listOnly) {
            ++index;
            continue;
        }
        const std::wstring top = sections[index].path;
        std::wstring why;
        do
            RestoreSectionValues(sections[index++], why);
        while (index < sections.size() && PathBelow(sections[index].path, top));
        told(RestoredItemOf("key", top, why.empty() ? Outcome::Restored : Outcome::Failed, why));
    }
    for (const RestoreLink& link : block.links) {
        if (!link.recorded) {
            told(RestoredItemOf("link", link.path, Outcome::Refused,
                                L"no removal of this backup took a key tree it lies in; a link there could lead anywhere"));
            continue;
        }
        const LONG result = MakeLink(link);
        told(RestoredItemOf("link", link.path, result == ERROR_SUCCESS ? Outcome::Restored : Outcome::Failed,
                            result == ERROR_SUCCESS ? std::wstring()
                                                    : L"the registry link could not be made again (" + std::to_wstring(result) +
                                                          L"); it pointed to " + link.target));
    }
}

bool OpenListForEntry(const RestoreEntryNote& note, RestoredItem& item, ListNow& list, const RestoreTold& told)
{
    const std::wstring keyPath = note.listPath.substr(0, note.listPath.rfind(L'\\'));
    list.valueName = note.listPath.substr(note.listPath.rfind(L'\\') + 1);
    std::wstring below;
    const HKEY root = SplitFullPath(keyPath, below);
    const size_t set = below.find(L'\\', below.find(L'\\') + 1);
    const std::wstring service = below.substr(0, set) + L"\\Services\\" + note.entry;
    const LONG opened = CreateKeyExact(keyPath, list.key);
    list.read = opened == ERROR_SUCCESS ? ReadValueBytes(list.key, list.valueName.c_str(), list.type, list.data) : opened;
    if (set == std::wstring::npos || !KeyExists(root, service)) {
        item.outcome = Outcome::Refused;
        item.why = note.listPath.find(L"\\NetworkProvider\\") != std::wstring::npos
                       ? L"its provider has no service key (" + FullPath(root, service) +
                             L"); the provider order would name a provider that is not there"
                       : L"its driver has no service key (" + FullPath(root, service) +
                             L"); a list naming it would stop its device at the next start";
        told(item);
        return false;
    }
    if (opened != ERROR_SUCCESS || (list.read != ERROR_SUCCESS && list.read != ERROR_FILE_NOT_FOUND)) {
        item.outcome = Outcome::Failed;
        item.why = L"the list could not be read";
        told(item);
        return false;
    }
    return true;
}

std::vector<RestoreEntryNote> EntryNotesInOrder(const std::vector<const RestoreBlock*>& blocks)
{
    std::vector<RestoreEntryNote> notes;
    for (const RestoreBlock* block : blocks)
        notes.insert(notes.end(), block->notes.begin(), block->notes.end());
    std::stable_sort(notes.begin(), notes.end(), [](const RestoreEntryNote& a, const RestoreEntryNote& b) {
        const int list = _wcsicmp(a.listPath.c_str(), b.listPath.c_str());
        return list < 0 || (list == 0 && a.index < b.index);
    });
    return notes;
}

void RestoreListEntries(const std::vector<const RestoreBlock*>& blocks, const char* kind, const RestoreTold& told,
                        const std::function<bool(const RestoreEntryNote&, const ListNow&, RestoredItem&, RegValue&)>& entered)
{
    // An entry that stays out moves the later ones of its list up a place: each goes back beside
    // the names it stood between, not one place further on.
    std::wstring lastList;
    size_t missing = 0;
    for (RestoreEntryNote note : EntryNotesInOrder(blocks)) {
        if (_wcsicmp(note.listPath.c_str(), lastList.c_str()) != 0) {
            lastList = note.listPath;
            missing = 0;
        }
        note.index -= std::min(missing, note.index);
        RestoredItem item = RestoredItemOf(kind, note.listPath);
        item.entry = note.entry;
        ListNow list;
        if (!OpenListForEntry(note, item, list, told)) {
            ++missing;
            continue;
        }
        RegValue value;
        value.name = list.valueName;
        if (entered(note, list, item, value) && !SetAndCheck(list.key, value)) {
            item.outcome = Outcome::Failed;
            item.why = L"the list could not be written";
        }
        if (item.outcome == Outcome::Failed || item.outcome == Outcome::Refused)
            ++missing;
        told(item);
    }
}
