// Entries of the lists Windows reads at every start: the native programs Session Manager runs at
// boot (BootExecute, SetupExecute) and the packages the Local Security Authority loads
// (Authentication, Notification and Security Packages). Evidence for one entry, in words a table
// test can try.
#pragma once
#include <windows.h>
#include <string>

// Windows' own boot check ("autocheck autochk *", spaces and letter case aside).
bool IsWindowsBootEntry(const std::wstring& entry);
// The native program a boot entry runs: the name after "autocheck", or the first word.
std::wstring BootProgramOf(const std::wstring& entry);
// Whether an LSA package is one of Windows' own (msv1_0, kerberos, scecli, ...).
bool IsWindowsLsaPackage(const std::wstring& entry);
// The file Windows loads for a list's entry: a bare name lies in System32 with `extension`
// added when it has none; a path stays as it is. Empty for an entry that names no file.
std::wstring ListEntryFile(const std::wstring& name, const std::wstring& windowsFolder, const wchar_t* extension);
