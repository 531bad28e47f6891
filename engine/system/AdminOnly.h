// Files and folders that only SYSTEM and the Administrators may change: a backup, its files folder
// and manifest, the folders that files in use wait in for the restart. A backup is data a restore
// writes back as an administrator wherever it says; one that somebody else could have written is
// never used.
#pragma once
#include <windows.h>
#include "../../framework/Handles.h"
#include <string>

// A security descriptor of its own for a new file or folder: SYSTEM and the Administrators may do
// everything, nobody else anything, and nothing is inherited from the folder it is made in.
class CAdminOnly
{
public:
    CAdminOnly();
    ~CAdminOnly();
    CAdminOnly(const CAdminOnly&) = delete;
    CAdminOnly& operator=(const CAdminOnly&) = delete;
    // For CreateFileW and CreateDirectoryW; null when the descriptor could not be made (the
    // object must then not be made either).
    SECURITY_ATTRIBUTES* Attributes();

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes = {};
};

// Why someone other than SYSTEM, the Administrators, TrustedInstaller or `runningUser` (this
// program's account, an administrator) owns the object or may change it (write, append, delete,
// change its attributes, access list or owner); empty when nobody else can. `runningUser` may
// be null.
std::wstring OthersMayChange(PSECURITY_DESCRIPTOR descriptor, PSID runningUser);
// The same for the file or folder at `path`, opened as itself: a link there is refused too.
std::wstring OthersMayChange(const std::wstring& path);
// The same for an open file or folder (READ_CONTROL).
std::wstring OthersMayChange(HANDLE object);
// Opens a part of a backup (its file, files folder or manifest) as itself and holds it so that
// nobody can change, rename or replace it while it is used: FALSE (with why) when it is a link,
// leads elsewhere, or somebody else owns it or may change it.
bool HoldAdminOnly(const std::wstring& path, DWORD access, CHandle& held, std::wstring& why);
// The owner and access list of an open file or folder as SDDL; empty when they cannot be read.
std::wstring AccessOf(HANDLE object);
// Whether somebody other than SYSTEM and the Administrators could change what an access list in
// SDDL describes (as OthersMayChange); TRUE when the text is no access list.
bool OthersCouldChange(const std::wstring& sddl);
// Gives an open file the access list of CAdminOnly (the copy of a file in a backup that still
// carried the access list of the place it was removed from).
bool MakeAdminOnly(HANDLE file);
