// Root key names and handles.
#include "RootKeys.h"
#include <cstring>

namespace {
struct RootKey
{
    const char* name;
    const char* abbreviation;
    HKEY handle;
};

const RootKey kRootKeys[kRootKeyCount] = {
    { "HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT },
    { "HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER },
    { "HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE },
    { "HKEY_USERS", "HKU", HKEY_USERS },
    { "HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG },
};
}

HKEY HkeyFromName(CString name)
{
    for (const RootKey& root : kRootKeys)
        if (name == root.name)
            return root.handle;
    return HKEY_LOCAL_MACHINE;
}

CString HkeyName(HKEY hKey)
{
    for (const RootKey& root : kRootKeys)
        if (hKey == root.handle)
            return CString(root.name);
    return CString();
}

const char* RootKeyNameAt(int slot)
{
    return slot >= 0 && slot < kRootKeyCount ? kRootKeys[slot].name : "";
}

HKEY RootKeyAt(int slot)
{
    return slot >= 0 && slot < kRootKeyCount ? kRootKeys[slot].handle : nullptr;
}

BOOL IsRootKeyName(const char* name)
{
    for (const RootKey& root : kRootKeys)
        if (strcmp(name, root.name) == 0)
            return TRUE;
    return FALSE;
}

CString CanonicalRootKeyName(const char* text)
{
    for (const RootKey& root : kRootKeys)
        if (_stricmp(text, root.name) == 0 || _stricmp(text, root.abbreviation) == 0)
            return CString(root.name);
    return CString();
}
