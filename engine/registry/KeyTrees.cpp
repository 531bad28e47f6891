// Key trees read whole, then deleted without ever following a registry link.
#include "KeyTrees.h"
#include "Constants.h"
#include "RegFile.h"
#include "RootKeys.h"
#include <cstring>

namespace {
const REGSAM kTreeAccess = KEY_READ | DELETE;
const wchar_t kLinkValueName[] = L"SymbolicLinkValue";

// Reads one key's values into `text`; false when one of them cannot be read or written (the
// backup would be incomplete). `linkValue` tells whether a link's target value was among them:
// only a key holding one can be a registry link, so that the dearer check is made for those alone.
bool ReadValues(HKEY key, DWORD values, DWORD nameChars, DWORD dataBytes, std::wstring& text, bool& linkValue)
{
    std::vector<wchar_t> name(nameChars + 1);
    std::vector<BYTE> data(dataBytes + sizeof(wchar_t));
    bool written = true;
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            return false;
        // Of any type: a hive written by hand can hold a link whose target value is text.
        if (_wcsicmp(name.data(), kLinkValueName) == 0)
            linkValue = true;
        // Read on after a value the format cannot carry: a link's target value is still told.
        written = written && AppendRegValue(text, name.data(), nameLength, type, data.data(), size);
    }
    return written;
}

// A registry link's target, as its target value holds it.
std::wstring LinkTarget(HKEY key)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(key, kLinkValueName, type, data) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
}

// `key` was opened as itself from `base` and `name`; `path` is the working path below the
// root (kDeletePathChars), `length` its length.
bool ReadTree(CRegKeyOwner key, HKEY base, const wchar_t* name, wchar_t* path, size_t length, KeyTree& tree)
{
    const std::wstring fullPath = tree.rootPrefix + std::wstring(path, length);
    DWORD subkeys = 0, values = 0, nameChars = 0, dataBytes = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &nameChars, &dataBytes,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring section;
    bool linkValue = false;
    // A name that the export format cannot carry (a line break in it) could not be restored.
    const bool carried = AppendRegSection(section, fullPath) &&
                         ReadValues(key, values, nameChars, dataBytes, section, linkValue);
    if (linkValue && IsRegistryLink(base, name, key)) {
        // A link holds nothing but its target; a link with subkeys could not be restored. A
        // name or target the format cannot carry could not be written safely.
        if (subkeys != 0 || !AppendRegLinkComment(tree.text, fullPath, LinkTarget(key)))
            return false;
        tree.keys.push_back(std::move(key));
        return true;
    }
    if (!carried)
        return false;
    tree.text += section;
    tree.text += L"\r\n";
    HKEY parent = key;
    tree.keys.push_back(std::move(key));

    wchar_t childName[kSearchNameChars];
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = kSearchNameChars;
        if (::RegEnumKeyExW(parent, i, childName, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        // A name that does not open as itself (empty, or with a NUL in it) cannot be backed up.
        if (nameLength == 0 || wcslen(childName) != nameLength)
            return false;
        // A subkey path that does not fit the working buffer cannot be removed.
        if (length + 1 + nameLength >= static_cast<size_t>(kDeletePathChars))
            return false;
        CRegKeyOwner child;
        if (OpenSubKey(parent, childName, kTreeAccess, child) != ERROR_SUCCESS)
            return false;
        path[length] = L'\\';
        memcpy(path + length + 1, childName, (nameLength + 1) * sizeof(wchar_t));
        bool read = ReadTree(std::move(child), parent, childName, path, length + 1 + nameLength, tree);
        path[length] = L'\0';
        if (!read)
            return false;
    }
    return true;
}
}

bool ReadKeyTree(HKEY root, const std::wstring& path, KeyTree& tree)
{
    if (path.size() >= static_cast<size_t>(kDeletePathChars))
        return false;
    wchar_t work[kDeletePathChars] = L"";
    wcsncpy(work, path.c_str(), kDeletePathChars - 1);
    size_t length = wcslen(work);
    if (length > 0 && work[length - 1] == L'\\')
        work[--length] = L'\0';
    if (length == 0)
        return false;
    // Opened name by name as itself: a link on the way is never followed, and a finding that is
    // a link is removed as the link.
    CRegKeyOwner top;
    if (OpenKeyExact(root, work, kTreeAccess, top) != ERROR_SUCCESS)
        return false;
    tree.rootPrefix = FullPath(root, std::wstring());
    return ReadTree(std::move(top), root, work, work, length, tree);
}

bool DeleteKeyTreeKeys(KeyTree& tree)
{
    for (auto key = tree.keys.rbegin(); key != tree.keys.rend(); ++key)
        if (DeleteOpenedKey(*key) != ERROR_SUCCESS)
            return false;
    return true;
}

bool ValueSection(const std::wstring& fullKey, const std::wstring& valueName, DWORD type, const std::vector<BYTE>& data,
                  std::wstring& text)
{
    if (!AppendRegSection(text, fullKey) ||
        !AppendRegValue(text, valueName.c_str(), valueName.size(), type, data.data(), static_cast<DWORD>(data.size())))
        return false;
    text += L"\r\n";
    return true;
}
