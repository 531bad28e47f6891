// Removal: each finding is read whole into the pass's backup first, and only what was read
// is deleted: a key tree without ever following a registry link, a value alone, one entry of a
// device filter list; a service's key through the service manager.
#include "KlarnEngine.h"
#include "FilterLists.h"
#include "FloorKeys.h"
#include "RegBackup.h"
#include "RegKey.h"
#include "ServiceControl.h"
#include <cstring>

BOOL CKlarnEngine::RemoveEntry(char kind, HKEY root, const wchar_t* path)
{
    const RemovalOutcome outcome = RemoveFinding(kind, root, path);
    return outcome == kRemoved || outcome == kRemovedAtRestart;
}

RemovalOutcome CKlarnEngine::RemoveFinding(char kind, HKEY root, const wchar_t* path)
{
    // An empty path would name the root key itself; the search never records one, and
    // removal must never be pointed at a whole root.
    if (!path || path[0] == L'\0' || path[0] == L'\\')
        return kRemovalFailed;

    if (kind == kKindKey) {
        if (wcslen(path) >= static_cast<size_t>(kDeletePathChars))
            return kRemovalFailed;
        // The floor is never removed, nor any key that holds part of it.
        if (IsFloorKey(FullPath(root, path).c_str()))
            return kRemovalFailed;
        wchar_t szDelKey[kDeletePathChars] = L"";
        wcsncpy(szDelKey, path, kDeletePathChars - 1);
        std::wstring controlSet, service;
        if (root == HKEY_LOCAL_MACHINE && SplitServiceKeyPath(WithoutEmptyNames(path), controlSet, service))
            return RemoveServiceKey(root, szDelKey, controlSet, service);
        return DeleteKeyTree(root, szDelKey) ? kRemoved : kRemovalFailed;
    }
    if (kind == kKindValue) {
        std::vector<std::wstring> parts;
        SplitPathWithValue(path, parts);
        if (parts.size() != 2)
            return kRemovalFailed;
        return DeleteRegValue(root, parts[0].c_str(), parts[1].c_str()) ? kRemoved : kRemovalFailed;
    }
    if (kind == kKindFilterEntry)
        return RemoveFilterEntry(root, path) ? kRemoved : kRemovalFailed;
    return kRemovalFailed;
}

namespace {
// One finding's key tree, read whole before anything of it is deleted: its export text for
// the backup, and every key open (as itself) for deleting, parents before children.
struct KeyTree
{
    std::wstring rootPrefix;          // the root key's name and a backslash
    std::wstring text;
    std::vector<CRegKeyOwner> keys;
};

const REGSAM kTreeAccess = KEY_READ | DELETE;
const wchar_t kLinkValueName[] = L"SymbolicLinkValue";

// Reads one key's values into `text`; FALSE when one of them cannot be read or written (the
// backup would be incomplete).
BOOL ReadValues(HKEY key, DWORD values, DWORD nameChars, DWORD dataBytes, std::wstring& text)
{
    std::vector<wchar_t> name(nameChars + 1);
    std::vector<BYTE> data(dataBytes + sizeof(wchar_t));
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            return FALSE;
        if (!AppendRegValue(text, name.data(), nameLength, type, data.data(), size))
            return FALSE;
    }
    return TRUE;
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
BOOL ReadTree(CRegKeyOwner key, HKEY base, const wchar_t* name, wchar_t* path, size_t length, KeyTree& tree)
{
    const std::wstring fullPath = tree.rootPrefix + std::wstring(path, length);
    DWORD subkeys = 0, values = 0, nameChars = 0, dataBytes = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &nameChars, &dataBytes,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return FALSE;
    if (IsRegistryLink(base, name, key)) {
        // A link holds nothing but its target; a link with subkeys could not be restored.
        if (subkeys != 0)
            return FALSE;
        AppendRegLinkComment(tree.text, fullPath, LinkTarget(key));
        tree.keys.push_back(std::move(key));
        return TRUE;
    }
    std::wstring section;
    // A name that the export format cannot carry (a line break in it) could not be restored.
    if (!AppendRegSection(section, fullPath) || !ReadValues(key, values, nameChars, dataBytes, section))
        return FALSE;
    tree.text += section;
    tree.text += L"\r\n";
    HKEY parent = key;
    tree.keys.push_back(std::move(key));

    wchar_t childName[kSearchNameChars];
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = kSearchNameChars;
        if (::RegEnumKeyExW(parent, i, childName, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return FALSE;
        // A name that does not open as itself (empty, or with a NUL in it) cannot be backed up.
        if (nameLength == 0 || wcslen(childName) != nameLength)
            return FALSE;
        // A subkey path that does not fit the working buffer cannot be removed.
        if (length + 1 + nameLength >= static_cast<size_t>(kDeletePathChars))
            return FALSE;
        CRegKeyOwner child;
        if (OpenSubKey(parent, childName, kTreeAccess, child) != ERROR_SUCCESS)
            return FALSE;
        path[length] = L'\\';
        memcpy(path + length + 1, childName, (nameLength + 1) * sizeof(wchar_t));
        BOOL read = ReadTree(std::move(child), parent, childName, path, length + 1 + nameLength, tree);
        path[length] = L'\0';
        if (!read)
            return FALSE;
    }
    return TRUE;
}
}

namespace {
// Reads the tree of the key at `path` (the working buffer) into the backup; FALSE, and nothing
// in the backup, unless all of it could be read and written.
BOOL BackUpTree(CRegBackup* backup, HKEY root, wchar_t* path, KeyTree& tree)
{
    size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\')
        path[--length] = L'\0';
    if (!backup || length == 0)
        return FALSE;
    // Opened name by name as itself: a link on the way is never followed, and a finding that is
    // a link is removed as the link.
    CRegKeyOwner top;
    if (OpenKeyExact(root, path, kTreeAccess, top) != ERROR_SUCCESS)
        return FALSE;
    tree.rootPrefix = FullPath(root, std::wstring());
    return ReadTree(std::move(top), root, path, path, length, tree) && backup->Append(tree.text);
}

// One value alone as the backup holds it: its key's section with that value line only.
BOOL ValueSection(const std::wstring& fullKey, const std::wstring& valueName, DWORD type, const std::vector<BYTE>& data,
                  std::wstring& text)
{
    if (!AppendRegSection(text, fullKey) ||
        !AppendRegValue(text, valueName.c_str(), valueName.size(), type, data.data(), static_cast<DWORD>(data.size())))
        return FALSE;
    text += L"\r\n";
    return TRUE;
}

// Children before their parents. Only keys that were read go: a subkey added meanwhile makes
// its parent's deletion fail, and the removal with it.
BOOL DeleteTreeKeys(KeyTree& tree)
{
    for (auto key = tree.keys.rbegin(); key != tree.keys.rend(); ++key)
        if (DeleteOpenedKey(*key) != ERROR_SUCCESS)
            return FALSE;
    return TRUE;
}
}

BOOL CKlarnEngine::DeleteKeyTree(HKEY root, wchar_t* path)
{
    KeyTree tree;
    return BackUpTree(m_backup, root, path, tree) && DeleteTreeKeys(tree);
}

RemovalOutcome CKlarnEngine::RemoveServiceKey(HKEY root, wchar_t* path, const std::wstring& controlSet,
                                              const std::wstring& service)
{
    // A driver that a filter list still names keeps its service key: without it, the device
    // that loads the driver (a disk, a keyboard) would no longer start.
    if (FilterListsName(controlSet, service))
        return kRemovalRefused;
    // Backed up before anything is stopped or deleted.
    KeyTree tree;
    if (!BackUpTree(m_backup, root, path, tree))
        return kRemovalFailed;
    // The service manager keeps only the running system's control set.
    if (!IsCurrentControlSet(controlSet))
        return DeleteTreeKeys(tree) ? kRemoved : kRemovalFailed;
    CServiceHandle handle;
    switch (OpenKnownService(service, handle)) {
    case kServiceNotKnown:
        return DeleteTreeKeys(tree) ? kRemoved : kRemovalFailed;
    case kServiceDeletedAtRestart:
        return kRemovedAtRestart;
    case kServiceNotDeleted:
        return kRemovalFailed;
    case kServiceDeleted:
        break;
    }
    // The manager deletes the key itself; none of ours may stand in its way.
    tree.keys.clear();
    const ServiceRemoval removal = StopAndDeleteService(handle, kServiceStopWaitMs);
    handle.Close();
    if (removal == kServiceNotDeleted)
        return kRemovalFailed;
    // It deletes the key once the service has stopped and the last handle is closed; a key still
    // there goes at the next restart.
    CRegKeyOwner left;
    return OpenKeyExact(root, path, KEY_READ, left) == ERROR_FILE_NOT_FOUND ? kRemoved : kRemovedAtRestart;
}

BOOL CKlarnEngine::RemoveFilterEntry(HKEY root, const wchar_t* path)
{
    std::wstring key, valueName, entry;
    if (root != HKEY_LOCAL_MACHINE || !m_backup || !SplitFilterEntryPath(path, key, valueName, entry))
        return FALSE;
    CRegKeyOwner hKey;
    if (OpenKeyExact(root, key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(hKey, valueName.c_str(), type, data) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return FALSE;
    const std::vector<std::wstring> entries = SplitMultiString(data);
    std::vector<std::wstring> kept;
    for (const std::wstring& other : entries)
        if (other != entry)
            kept.push_back(other);
    if (kept.size() == entries.size())
        return FALSE;
    // The whole list as it was, once per pass, so that importing the backup puts every entry
    // back in its place, however many of them this pass removes.
    const std::wstring fullKey = FullPath(root, key);
    std::wstring text;
    if (!ValueSection(fullKey, valueName, type, data, text) || !m_backup->AppendOnce(fullKey + L"\\" + valueName, text))
        return FALSE;
    // The other entries keep their order; a list left empty goes as a whole.
    if (kept.empty())
        return ::RegDeleteValueW(hKey, valueName.c_str()) == ERROR_SUCCESS;
    const std::vector<BYTE> joined = JoinMultiString(kept);
    return ::RegSetValueExW(hKey, valueName.c_str(), 0, REG_MULTI_SZ, joined.data(),
                            static_cast<DWORD>(joined.size())) == ERROR_SUCCESS;
}

BOOL CKlarnEngine::DeleteRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName)
{
    if (!m_backup)
        return FALSE;
    CRegKeyOwner hKey;
    if (OpenKeyExact(root, keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(hKey, valueName, type, data) != ERROR_SUCCESS)
        return FALSE;
    std::wstring text;
    if (!ValueSection(FullPath(root, keyPath), valueName, type, data, text) || !m_backup->Append(text))
        return FALSE;
    return ::RegDeleteValueW(hKey, valueName) == ERROR_SUCCESS;
}

void CKlarnEngine::SplitPathWithValue(const wchar_t* path, std::vector<std::wstring>& parts)
{
    const wchar_t* lastBackslash = wcsrchr(path, L'\\');
    if (!lastBackslash)
        return;
    parts.emplace_back(path, static_cast<size_t>(lastBackslash - path));
    parts.emplace_back(lastBackslash + 1);
}

BOOL CKlarnEngine::FindingIsGone(char kind, HKEY root, const std::wstring& path)
{
    // The very key of the finding, name by name: never another key through a link.
    CRegKeyOwner hKey;
    if (kind == kKindFilterEntry) {
        // Gone when its list or its key is, or the list no longer names it.
        std::wstring key, valueName, entry;
        if (!SplitFilterEntryPath(path, key, valueName, entry))
            return FALSE;
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
                return FALSE;
        return TRUE;
    }
    if (kind == kKindValue) {
        // Gone when its key or the value itself no longer exists; a key that cannot be
        // opened for another reason may well still hold it.
        const size_t lastBackslash = path.rfind(L'\\');
        if (lastBackslash == std::wstring::npos)
            return FALSE;
        LONG result = OpenKeyExact(root, path.substr(0, lastBackslash).c_str(), KEY_QUERY_VALUE, hKey);
        if (result == ERROR_FILE_NOT_FOUND)
            return TRUE;
        if (result != ERROR_SUCCESS)
            return FALSE;
        result = ::RegQueryValueExW(hKey, path.substr(lastBackslash + 1).c_str(), nullptr, nullptr, nullptr, nullptr);
        return result == ERROR_FILE_NOT_FOUND;
    }
    // A key is gone only when it is not found; one that denies reading is still there.
    return OpenKeyExact(root, path.c_str(), KEY_READ, hKey) == ERROR_FILE_NOT_FOUND;
}
