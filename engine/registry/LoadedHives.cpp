// The table of another installation's loaded hives.
#include "LoadedHives.h"
#include "RootKeys.h"
#include <cwctype>

namespace {
const wchar_t kLoadedPrefix[] = L"VelmoraKlarner-Offline-";

// Set once the installation is loaded and only read until it is closed (the search's threads
// read it).
struct Table
{
    bool loaded = false;
    std::vector<LoadedUserHive> users;
};
Table& TheTable()
{
    static Table table;
    return table;
}
}

void SetLoadedHives(const std::vector<LoadedUserHive>& users)
{
    TheTable().users = users;
    TheTable().loaded = true;
}

void ClearLoadedHives()
{
    TheTable().loaded = false;
    TheTable().users.clear();
}

bool HivesLoaded()
{
    return TheTable().loaded;
}

const std::vector<LoadedUserHive>& LoadedUserHives()
{
    return TheTable().users;
}

std::wstring LoadedName(const std::wstring& name)
{
    return kLoadedPrefix + name;
}

bool IsLoadedName(const std::wstring& name)
{
    return _wcsnicmp(name.c_str(), kLoadedPrefix, wcslen(kLoadedPrefix)) == 0;
}

void MapToLoaded(HKEY root, std::wstring& path)
{
    if (!HivesLoaded() || (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS))
        return;
    size_t start = path.find_first_not_of(L'\\');
    if (start == std::wstring::npos)
        return;
    const size_t end = path.find(L'\\', start);
    const std::wstring first = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (IsLoadedName(first))
        return;
    if (root == HKEY_LOCAL_MACHINE && _wcsicmp(first.c_str(), L"SYSTEM") != 0 && _wcsicmp(first.c_str(), L"SOFTWARE") != 0)
        return;
    // Every user below HKEY_USERS is one of the installation's: one whose hive is not loaded
    // leads nowhere, never to a user of the running system.
    std::wstring name = first;
    if (root == HKEY_LOCAL_MACHINE)
        for (wchar_t& c : name)
            c = towupper(c);
    path.replace(start, first.size(), LoadedName(name));
}

std::wstring LoadedFullPath(const std::wstring& fullPath)
{
    if (!HivesLoaded())
        return fullPath;
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    MapToLoaded(root, below);
    return FullPath(root, below);
}

std::wstring OwnFullPath(const std::wstring& loadedFullPath)
{
    std::wstring below;
    const HKEY root = SplitFullPath(loadedFullPath, below);
    const size_t prefix = wcslen(kLoadedPrefix);
    if (below.size() <= prefix || !IsLoadedName(below))
        return loadedFullPath;
    return FullPath(root, below.substr(prefix));
}
