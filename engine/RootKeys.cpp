// Root key names and handles.
#include "RootKeys.h"
#include <cstring>

namespace {
struct RootKey
{
    const char* name;
    HKEY handle;
};

const RootKey kRootKeys[kRootKeyCount] = {
    { "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT },
    { "HKEY_CURRENT_USER", HKEY_CURRENT_USER },
    { "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE },
    { "HKEY_USERS", HKEY_USERS },
    { "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG },
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
