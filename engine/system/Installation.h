// The Windows installation a search looks at, as the files that its registrations name are judged:
// its Windows folder, the roots that programs are installed into (FloorFiles.h), its users'
// profiles, and the environment with which each hive's owner expands a path. Built once before a
// search and only read afterwards, from any thread.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

struct UserProfile
{
    std::wstring sid;      // "S-1-5-21-...-1001"
    std::wstring folder;   // "C:\Users\anna"
};

class CInstallation
{
public:
    // The running system: its Windows folder, the machine-wide folders of its environment, the
    // profile list and the account this program runs as.
    static CInstallation Running();
    // Given values: the Windows folder, the machine's variables (names in any case), the users'
    // profiles and the account whose hive HKEY_CURRENT_USER is.
    CInstallation(const std::wstring& windowsFolder, const std::map<std::wstring, std::wstring>& machineVariables,
                  const std::vector<UserProfile>& profiles, const std::wstring& runningUser);

    // For another installation: its data names its files on `ownDrive` ("C:"), which is `root`
    // here ("D:", or a folder a rescue machine holds its disk's files in). A path anywhere else
    // names a drive of this machine, never one of that installation: it cannot be told, and the
    // roots and profiles that lie there are left out (Left says which, and why).
    void MapDrive(const std::wstring& ownDrive, const std::wstring& root);
    const std::vector<std::wstring>& Left() const { return m_left; }
    void AddLeft(const std::wstring& note) { m_left.push_back(note); }

    const std::wstring& WindowsFolder() const { return m_windowsFolder; }
    const std::vector<UserProfile>& Profiles() const { return m_profiles; }
    const std::vector<std::wstring>& Roots() const { return m_roots; }

    // Whose environment expands what the key at `fullKeyPath` holds: empty for the machine's
    // hives, a user's SID for a user's hive. HKEY_CLASSES_ROOT is the running account's view.
    std::wstring OwnerOf(const std::wstring& fullKeyPath) const;
    // `text` with each %variable% as `owner`'s environment has it (empty: the machine's); FALSE
    // when one of them is not known there (a user's variable in a machine hive, a user without
    // a profile), since the file it names cannot then be told.
    bool Expand(const std::wstring& text, const std::wstring& owner, std::wstring& expanded) const;

    // A file's path as the file system knows it: a full local path with long names, "." and
    // ".." resolved, the kernel's forms (\??\, \SystemRoot\, system32\...) undone. Empty when it
    // names no file on a local disk that can be told: a bare name (found through the search
    // path), a relative or a network path.
    std::wstring Normalized(const std::wstring& file) const;
    // For normalized paths: whether it lies in the Windows folder, and the names below the root
    // it lies below (the deepest root); FALSE when it lies below none.
    bool InWindowsFolder(const std::wstring& normalized) const;
    bool NamesBelowRoot(const std::wstring& normalized, std::vector<std::wstring>& names) const;
    // Whether the file system says that nothing is there. A path it cannot check (no rights, a
    // busy device) is not gone: absence is evidence only when the file system reports it.
    bool FileGone(const std::wstring& normalized) const;
    // How many times FileGone asked the file system.
    long FileChecks() const { return m_fileChecks; }

private:
    CInstallation() {}
    // A user's own variables, from the profile folder; FALSE for a user without a profile.
    bool UserVariable(const std::wstring& owner, const std::wstring& lowerName, std::wstring& value) const;
    static bool Below(const std::wstring& lowerPath, const std::wstring& lowerFolder);

    std::wstring m_windowsFolder;
    std::wstring m_lowerWindows;                   // normalized, lowercase
    std::wstring m_lowerWindowsShort;              // its 8.3 form, lowercase (empty when the same)
    std::map<std::wstring, std::wstring> m_machine;  // lowercase names
    std::vector<UserProfile> m_profiles;
    std::wstring m_runningUser;
    std::vector<std::wstring> m_roots;             // normalized
    std::vector<std::wstring> m_lowerRoots;
    mutable LONG m_fileChecks = 0;
    std::wstring m_lowerOwnDrive;  // "c:\\" of another installation, empty for this one
    std::wstring m_driveRoot;
    std::vector<std::wstring> m_left;
};

// The SID of the account this program runs as, as text; empty when it cannot be read.
std::wstring RunningUserSid();
