// The names another installation's hives are loaded under while it is open, and how a key's path
// in that installation's own terms leads into them: "HKEY_LOCAL_MACHINE\SYSTEM\..." into its loaded
// SYSTEM, "HKEY_USERS\<SID>\..." into its user's hive. A leaf of its own, so that opening a key asks
// this table and nothing else of the offline installation.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct LoadedUserHive
{
    std::wstring sid;
    bool classes;  // the user's UsrClass.dat, loaded as "<SID>_Classes"
};

// The table while an installation is open (SYSTEM and SOFTWARE below HKEY_LOCAL_MACHINE, and
// these users' hives below HKEY_USERS), and without one.
void SetLoadedHives(const std::vector<LoadedUserHive>& users);
void ClearLoadedHives();
bool HivesLoaded();
const std::vector<LoadedUserHive>& LoadedUserHives();
// The name the program loads a hive of that name under ("VelmoraKlarner-Offline-SYSTEM").
std::wstring LoadedName(const std::wstring& name);
// Whether a key's name is one of those.
bool IsLoadedName(const std::wstring& name);
// Rewrites the first name of `path` below `root` to the loaded hive's name where it leads into
// one ("SYSTEM" below HKEY_LOCAL_MACHINE, "<SID>" or "<SID>_Classes" below HKEY_USERS). Nothing
// changes while no installation is open.
void MapToLoaded(HKEY root, std::wstring& path);
// A full key path with the loaded names, as the backup writes it.
std::wstring LoadedFullPath(const std::wstring& fullPath);
// The other way round: a full key path with the loaded names in the installation's own terms.
std::wstring OwnFullPath(const std::wstring& loadedFullPath);
