// Another Windows installation, searched and cleaned from this one: a machine that no longer
// boots, repaired from its recovery environment or from a rescue machine its disk is attached
// to. Its hives are loaded under names of their own (SYSTEM and SOFTWARE below
// HKEY_LOCAL_MACHINE, each user's NTUSER.DAT and UsrClass.dat below HKEY_USERS) while the run
// needs them and unloaded however it ends.
//
// While it is open the whole program sees it in its own terms: "HKEY_LOCAL_MACHINE\SYSTEM\..."
// and "HKEY_USERS\<SID>\..." lead into its loaded hives (opening name by name maps the first
// name), its control set is the one its Select\Current names, and its files are judged below its
// own Windows folder. The backup names the loaded keys, so that a restore with the same
// installation open puts them back there.
#pragma once
#include <windows.h>
#include "../registry/KeyPlaces.h"
#include "../registry/LoadedHives.h"
#include <memory>
#include <string>
#include <vector>

class CInstallation;

class COfflineInstallation
{
public:
    enum class Opened
    {
        Open,
        BadUsage,    // the running Windows folder, no SYSTEM hive, or a hive loaded already
        CannotLoad,  // a hive that cannot be loaded: in use, no privilege
    };
    COfflineInstallation();
    ~COfflineInstallation();
    COfflineInstallation(const COfflineInstallation&) = delete;
    COfflineInstallation& operator=(const COfflineInstallation&) = delete;

    // Loads the hives of the installation whose Windows folder is `windowsFolder`; on failure
    // nothing stays loaded and `why` says what went wrong. Only one is open at a time.
    Opened Open(const std::wstring& windowsFolder, std::wstring& why);
    // Unloads every hive it loaded; FALSE (with why) when one would not go.
    bool Close(std::wstring* why = nullptr);
    bool IsOpen() const;
    const std::wstring& WindowsFolder() const { return m_windowsFolder; }
    // The users whose hives could not be loaded (their SIDs).
    const std::vector<std::wstring>& UsersNotLoaded() const { return m_usersNotLoaded; }

private:
    struct Hives;
    std::unique_ptr<Hives> m_hives;
    std::wstring m_windowsFolder;
    std::vector<std::wstring> m_usersNotLoaded;
};

// Whether an offline installation is open (for the whole process).
bool OfflineActive();
// Its installation as the files are judged, or null.
const CInstallation* OfflineInstallation();
// Whether the open installation's SOFTWARE hive is loaded (an installation may lack one).
bool OfflineHasSoftware();
// The users of the open installation whose hives could not be loaded (their SIDs).
std::vector<std::wstring> OfflineUsersNotLoaded();
// What of the open installation's folders and profiles lies off its own disk and was left out.
std::vector<std::wstring> OfflineLeftOut();
// "OFFLINE D:\Windows: " while one is open, else empty: what every path of it is shown with.
std::wstring OfflinePrefix();
// The installation the program works on now: the one open offline, else the running one.
CInstallation CurrentInstallation();
// Which Windows installation the program works on now (the running one, or the one open offline):
// its MachineGuid, its Windows folder and whether it is offline, as one line a backup keeps.
std::wstring InstallationIdentity();
// Whether a backup's identity line names the installation of `current` (InstallationIdentity):
// the same mode, and the same MachineGuid where both have one, else the same Windows folder.
bool SameInstallation(const std::wstring& recorded, const std::wstring& current);

// The loaded hives' names and how paths map into them: registry/LoadedHives.h.
// What a walk of `root` covers while an installation is open: each loaded hive, by its key
// below the real root, the name its paths begin with, and the place it stands for.
struct OfflineWalkRoot
{
    HKEY root;               // HKEY_LOCAL_MACHINE or HKEY_USERS
    std::wstring loaded;     // the loaded hive's name below it
    std::wstring shownAs;    // "HKEY_LOCAL_MACHINE\SYSTEM", "HKEY_USERS\S-1-5-21-...-1001"
    KeyPlace place;          // the place of the key it stands for
};
std::vector<OfflineWalkRoot> OfflineWalkRoots(HKEY root);
