// Hive files loaded into the registry for a while: a user whose profile is not logged on, or
// another installation's SYSTEM and SOFTWARE. A loaded hive blocks its file and its disk, so it
// is unloaded however its owner's scope ends.
#pragma once
#include <windows.h>
#include <string>

// Enables the backup and restore privileges that loading and unloading a hive need; the error
// when they cannot be.
LONG EnableHivePrivileges();

class CLoadedHive
{
public:
    CLoadedHive() {}
    ~CLoadedHive() { Unload(); }
    CLoadedHive(const CLoadedHive&) = delete;
    CLoadedHive& operator=(const CLoadedHive&) = delete;

    // Loads the hive file `file` as the key `name` below `parent` (HKEY_USERS or
    // HKEY_LOCAL_MACHINE); the registry's error when it could not (a key of that name there
    // already, a file in use, no privilege).
    LONG Load(HKEY parent, const std::wstring& name, const std::wstring& file);
    // Unloads it; ERROR_SUCCESS also when nothing was loaded.
    LONG Unload();
    bool Loaded() const { return m_parent != nullptr; }
    // Its key's path below its parent.
    const std::wstring& Name() const { return m_name; }

private:
    HKEY m_parent = nullptr;
    std::wstring m_name;
};

// Whether a key of that name exists below `parent`: a hive loaded under that name, say.
bool KeyExists(HKEY parent, const std::wstring& name);
