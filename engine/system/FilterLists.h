// The device filter lists: the UpperFilters and LowerFilters values of the device classes
// (Control\Class\{class GUID}) and of single devices (their instance keys,
// Enum\<enumerator>\<device>\<instance>). Windows loads every driver a list names when it
// starts the device; a name whose service key is gone stops the whole device from starting. A
// list is a multi-string, or a string (REG_SZ, REG_EXPAND_SZ) that Windows reads as a list of
// one name; it ends at its first empty string.
#pragma once
#include <windows.h>
#include "../registry/KeyPlaces.h"
#include <functional>
#include <string>
#include <vector>

const wchar_t* const kFilterValueNames[] = { L"UpperFilters", L"LowerFilters" };

// One list as it was read: the full path of the key that holds it, and its entries.
struct FilterList
{
    std::wstring key;
    const wchar_t* valueName;
    std::vector<std::wstring> entries;
};

// Whether Windows reads a filter list from a value of this type.
inline bool IsListType(DWORD type)
{
    return type == REG_MULTI_SZ || type == REG_SZ || type == REG_EXPAND_SZ;
}

// Whether a key in this place (KeyPlaces.h) holds lists: a device class or a device instance.
inline bool HoldsFilterLists(KeyPlace place)
{
    return place == kDeviceClassKey || place == kInstanceKey;
}
// The name of the control set the running system uses (SYSTEM\Select\Current); empty if unknown.
std::wstring CurrentControlSetName();
// The path below HKEY_LOCAL_MACHINE by which the walk meets the running control set: its own key
// ("SYSTEM\ControlSet001") where there is one, else "SYSTEM\CurrentControlSet". Findings read
// there directly name the same keys as the walk's.
std::wstring RunningControlSetPath();
// The two lists of one open key at `path`, UpperFilters first; `visit` for each that has entries,
// `unreadable` (when given) for a list that is there but cannot be read or has another type.
void ReadFilterLists(HKEY key, const std::wstring& path, const std::function<void(const FilterList&)>& visit,
                     const std::function<void()>& unreadable = nullptr);

// Every list below `controlSet` (a path below HKEY_LOCAL_MACHINE), protected ones included: the
// classes' first, then the devices', in the order the registry lists their keys, UpperFilters
// before LowerFilters. `stopped` ends the reading early once it returns true; `unreadable` for
// every key or list on the way that cannot be read.
void ForEachFilterList(const std::wstring& controlSet, const std::function<bool()>& stopped,
                       const std::function<void(const FilterList&)>& visit, const std::function<void()>& unreadable);

// Whether a list below `controlSet`, protected ones included, names `driver` (in any case). One
// that cannot be read may name it: its driver's key must stay as well.
enum class ListsNaming
{
    No,
    Yes,
    Maybe,
};
ListsNaming FilterListsName(const std::wstring& controlSet, const std::wstring& driver);

// The entries of a list's data, up to its first empty string, and the data of a list of entries.
std::vector<std::wstring> SplitMultiString(const std::vector<BYTE>& data);
std::vector<BYTE> JoinMultiString(const std::vector<std::wstring>& entries);
// A list's data without `entry` (every time it occurs): the other entries keep their order, and
// what follows the list's first empty string, which Windows never reads, stays byte for byte.
// `left` is FALSE when nothing worth keeping remains (the value then goes as a whole).
// The data of a filter list with `entry` inserted at `index` (or at its end): the entries behind
// the list's first empty string, which Windows never reads, stay as they were.
std::vector<BYTE> WithEntryAt(const std::vector<BYTE>& data, const std::wstring& entry, size_t index);
std::vector<BYTE> WithoutEntry(const std::vector<BYTE>& data, DWORD type, const std::wstring& entry, BOOL& left);

// A filter-list entry as a finding's path: "<key>\<value name>: <entry>", for example
// "...\Control\Class\{4D36E967-E325-11CE-BFC1-08002BE10318}\UpperFilters: vmfilter".
std::wstring FilterEntryPath(const std::wstring& key, const wchar_t* valueName, const std::wstring& entry);
// The parts of such a path (with or without the root key's name in front); FALSE when it is none.
bool SplitFilterEntryPath(const std::wstring& path, std::wstring& key, std::wstring& valueName, std::wstring& entry);
