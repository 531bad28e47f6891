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

HKEY SplitFullPath(const std::wstring& fullPath, std::wstring& below)
{
    const size_t backslash = fullPath.find(L'\\');
    below = backslash == std::wstring::npos ? std::wstring() : fullPath.substr(backslash + 1);
    // Root key names are ASCII: a name with any other character names none of them.
    std::string name;
    for (wchar_t c : fullPath.substr(0, backslash))
        name += c < 0x80 ? static_cast<char>(c) : '?';
    return HkeyFromName(CString(name.c_str()));
}

std::wstring FullPath(HKEY root, const std::wstring& below)
{
    CString name = HkeyName(root);
    return std::wstring(name.GetString(), name.GetString() + name.GetLength()) + L"\\" + below;
}

CString CanonicalRootKeyName(const char* text)
{
    for (const RootKey& root : kRootKeys)
        if (_stricmp(text, root.name) == 0 || _stricmp(text, root.abbreviation) == 0)
            return CString(root.name);
    return CString();
}
