// The device filter lists.
#include "FilterLists.h"
#include <algorithm>
#include "../registry/Constants.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"

namespace {
const wchar_t kEntrySeparator[] = L": ";
// Enum\<enumerator>\<device>\<instance>: the instance keys hold a device's lists.
const int kDeviceInstanceDepth = 3;

// The keys `depth` levels below the open key at `path`, depth first in the registry's order.
void VisitLevels(HKEY key, const std::wstring& path, int depth, const std::function<bool()>& stopped,
                 const std::function<void(const FilterList&)>& visit, const std::function<void()>& unreadable)
{
    wchar_t name[kSearchNameChars];
    for (DWORD index = 0;; ++index) {
        if (stopped())
            return;
        DWORD length = kSearchNameChars;
        const LONG listed = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS)
            return;
        // A key that cannot be listed or opened (a name with a NUL in it, no rights) may hold a list.
        if (listed != ERROR_SUCCESS) {
            unreadable();
            return;
        }
        CRegKeyOwner child;
        const LONG opened = length > 0 && wcslen(name) == length ? OpenSubKey(key, name, KEY_READ, child) : ERROR_ACCESS_DENIED;
        if (opened != ERROR_SUCCESS) {
            if (opened != ERROR_FILE_NOT_FOUND)
                unreadable();
            continue;
        }
        const std::wstring childPath = path + L"\\" + std::wstring(name, length);
        if (depth == 1)
            ReadFilterLists(child, childPath, visit, unreadable);
        else
            VisitLevels(child, childPath, depth - 1, stopped, visit, unreadable);
    }
}
}

std::wstring CurrentControlSetName()
{
    DWORD current = 0, size = sizeof current;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Select", L"Current", RRF_RT_REG_DWORD, nullptr, &current,
                       &size) != ERROR_SUCCESS ||
        current == 0 || current > 999)
        return std::wstring();
    wchar_t name[16];
    swprintf(name, 16, L"ControlSet%03lu", static_cast<unsigned long>(current));
    return name;
}

std::wstring RunningControlSetPath()
{
    const std::wstring own = L"SYSTEM\\" + CurrentControlSetName();
    CRegKeyOwner key;
    if (own.size() > 7 && OpenKeyExact(HKEY_LOCAL_MACHINE, own.c_str(), KEY_QUERY_VALUE, key) == ERROR_SUCCESS)
        return own;
    return L"SYSTEM\\CurrentControlSet";
}

void ReadFilterLists(HKEY key, const std::wstring& path, const std::function<void(const FilterList&)>& visit,
                     const std::function<void()>& unreadable)
{
    for (const wchar_t* valueName : kFilterValueNames) {
        DWORD type = 0;
        std::vector<BYTE> data;
        const LONG read = ReadValueBytes(key, valueName, type, data);
        if (read != ERROR_SUCCESS || !IsListType(type)) {
            if ((read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) || (read == ERROR_SUCCESS && !IsListType(type)))
                if (unreadable)
                    unreadable();
            continue;
        }
        FilterList list = { path, valueName, SplitMultiString(data) };
        if (!list.entries.empty())
            visit(list);
    }
}

void ForEachFilterList(const std::wstring& controlSet, const std::function<bool()>& stopped,
                       const std::function<void(const FilterList&)>& visit, const std::function<void()>& unreadable)
{
    const struct
    {
        const wchar_t* below;
        int depth;
    } places[] = { { L"\\Control\\Class", 1 }, { L"\\Enum", kDeviceInstanceDepth } };
    for (const auto& place : places) {
        const std::wstring path = controlSet + place.below;
        CRegKeyOwner key;
        const LONG opened = OpenKeyExact(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, key);
        if (opened == ERROR_SUCCESS)
            VisitLevels(key, FullPath(HKEY_LOCAL_MACHINE, path), place.depth, stopped, visit, unreadable);
        else if (opened != ERROR_FILE_NOT_FOUND)
            unreadable();
    }
}

ListsNaming FilterListsName(const std::wstring& controlSet, const std::wstring& driver)
{
    bool named = false, maybe = false;
    ForEachFilterList(
        controlSet, [&named] { return named; },
        [&](const FilterList& list) {
            for (const std::wstring& entry : list.entries)
                if (_wcsicmp(entry.c_str(), driver.c_str()) == 0)
                    named = true;
        },
        [&maybe] { maybe = true; });
    return named ? ListsNaming::Yes : maybe ? ListsNaming::Maybe : ListsNaming::No;
}

std::vector<std::wstring> SplitMultiString(const std::vector<BYTE>& data)
{
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t units = data.size() / sizeof(wchar_t);
    std::vector<std::wstring> entries;
    for (size_t start = 0; start < units;) {
        size_t end = start;
        while (end < units && text[end] != L'\0')
            ++end;
        // An empty string ends the list.
        if (end == start)
            break;
        entries.emplace_back(text + start, end - start);
        start = end + 1;
    }
    return entries;
}

std::vector<BYTE> JoinMultiString(const std::vector<std::wstring>& entries)
{
    std::wstring text;
    for (const std::wstring& entry : entries)
        text.append(entry).append(1, L'\0');
    text.append(1, L'\0');
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::vector<BYTE> WithoutEntry(const std::vector<BYTE>& data, DWORD type, const std::wstring& entry, BOOL& left)
{
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t units = data.size() / sizeof(wchar_t);
    std::wstring kept;
    size_t at = 0;
    // The entries up to the first empty string (or the data's end)...
    while (at < units && text[at] != L'\0') {
        size_t end = at;
        while (end < units && text[end] != L'\0')
            ++end;
        if (std::wstring(text + at, end - at) != entry)
            kept.append(text + at, end - at).append(1, L'\0');
        at = end + 1;
    }
    // ...then everything from there on as it was: the terminating empty string, and whatever
    // lies hidden behind it. A list that had no terminator gets one.
    std::wstring tail = at < units ? std::wstring(text + at, units - at) : std::wstring();
    if (tail.empty() && type == REG_MULTI_SZ)
        tail.assign(1, L'\0');
    left = !kept.empty() || tail.find_first_not_of(L'\0') != std::wstring::npos;
    const std::wstring whole = kept + tail;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(whole.data());
    std::vector<BYTE> result(bytes, bytes + whole.size() * sizeof(wchar_t));
    // An odd trailing byte is part of the value too.
    if (data.size() % sizeof(wchar_t))
        result.push_back(data.back());
    return result;
}

std::wstring FilterEntryPath(const std::wstring& key, const wchar_t* valueName, const std::wstring& entry)
{
    return key + L"\\" + valueName + kEntrySeparator + entry;
}

bool SplitFilterEntryPath(const std::wstring& path, std::wstring& key, std::wstring& valueName, std::wstring& entry)
{
    // The first place where a list's value name follows a key: the names of the keys that hold
    // lists (class GUIDs, device and instance ids) never look like one.
    size_t best = std::wstring::npos;
    const wchar_t* found = nullptr;
    for (const wchar_t* name : kFilterValueNames) {
        const std::wstring marker = std::wstring(L"\\") + name + kEntrySeparator;
        const size_t at = path.find(marker);
        if (at != std::wstring::npos && at < best) {
            best = at;
            found = name;
        }
    }
    if (!found || best == 0)
        return FALSE;
    key = path.substr(0, best);
    valueName = found;
    entry = path.substr(best + 1 + wcslen(found) + wcslen(kEntrySeparator));
    return !entry.empty();
}

std::vector<BYTE> WithEntryAt(const std::vector<BYTE>& data, const std::wstring& entry, size_t index)
{
    std::vector<std::wstring> entries = SplitMultiString(data);
    size_t visible = 0;
    for (const std::wstring& existing : entries)
        visible += (existing.size() + 1) * sizeof(wchar_t);
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(std::min(index, entries.size())), entry);
    std::vector<BYTE> joined = JoinMultiString(entries);
    if (visible < data.size() && data.size() - visible > sizeof(wchar_t)) {
        // The tail starts with the empty string that ends the list.
        joined.resize(joined.size() - sizeof(wchar_t));
        joined.insert(joined.end(), data.begin() + static_cast<std::ptrdiff_t>(visible), data.end());
    }
    return joined;
}
