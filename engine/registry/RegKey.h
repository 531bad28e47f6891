// An open registry key that closes itself, and the few ways this program opens and deletes
// keys without ever following a registry link.
#pragma once
#include <windows.h>
#include "../../framework/Handles.h"
#include <functional>
#include <string>
#include <vector>

struct RegKeyTraits
{
    typedef HKEY Type;
    static bool Holds(HKEY key) { return key != nullptr; }
    static void Free(HKEY key) { ::RegCloseKey(key); }
};
typedef CResourceOwner<RegKeyTraits> CRegKeyOwner;

// One value's type and bytes, whatever their size (a value that grows meanwhile is read again).
LONG ReadValueBytes(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& bytes);
// A string value (REG_SZ or REG_EXPAND_SZ, not expanded) up to its first NUL; false when there is
// none of these types, or it is empty.
bool ReadStringValue(HKEY key, const wchar_t* name, std::wstring& text);
// Every value of an open key in the registry's order: its name, type and bytes.
void ForEachValue(HKEY key, const std::function<void(const std::wstring&, DWORD, const std::vector<BYTE>&)>& visit);
// The names of an open key's subkeys that open as themselves, in the registry's order.
std::vector<std::wstring> SubkeyNames(HKEY key);
// A DWORD value; false when there is none of that type.
bool ReadDwordValue(HKEY key, const wchar_t* name, DWORD& value);
// The path with its empty names dropped ("a\\\\b\\" is "a\\b"), as the registry opens it.
std::wstring WithoutEmptyNames(const wchar_t* path);
// Opens `name` below `parent` as itself: a registry link opens as the link, not its target.
LONG OpenSubKey(HKEY parent, const wchar_t* name, REGSAM access, CRegKeyOwner& key);
// Opens `path` below `root` one name at a time, each as itself, so that no link on the way is
// followed (a link has no subkeys: a path through one does not exist). Empty names, as from a
// trailing backslash, are skipped; an empty path opens the root key itself.
LONG OpenKeyExact(HKEY root, const wchar_t* path, REGSAM access, CRegKeyOwner& key);
// Whether `opened` (opened as itself, from `base` and `path`) is a registry link: told by the
// key, never by a value that merely carries a link's value name. Opening the same path the
// ordinary way then leads to another key; a link whose target is gone is told by its target
// value of type REG_LINK.
bool IsRegistryLink(HKEY base, const wchar_t* path, HKEY opened);
// Deletes the opened key itself (it must have no subkeys left); a link goes as the link and
// its target stays. A key deleted meanwhile by someone else counts as deleted.
LONG DeleteOpenedKey(HKEY key);
// `fullPath` (a root key's full name, then names) with every name as the registry spells it, as a
// walk of it would have recorded it ("HKEY_LOCAL_MACHINE\\System\\..." where the registry says
// "System"); a name that cannot be opened, or that leads elsewhere (a link), stays as given.
std::wstring RegistrySpelling(const std::wstring& fullPath);
