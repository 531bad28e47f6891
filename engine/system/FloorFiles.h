// The file system's side of the floor. The Windows folder: a file in it is never evidence that a
// product is gone, and nothing in it is a product's place. The roots: the folders that programs
// are installed into; a product's place is a folder below one of them, and only the names below
// a root can name the product (never the drive, "Users", a profile's folder or anything above).
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

// The roots of one installation: the machine's folders by their variable's name (lowercase,
// "programfiles"), and each profile folder's AppData. Paths as the variables give them.
std::vector<std::wstring> RootFolders(const std::map<std::wstring, std::wstring>& machineVariables,
                                      const std::vector<std::wstring>& profileFolders);

// The machine-wide variables an installation's paths use (lowercase names); everything else
// (%APPDATA%, %TEMP%, ...) belongs to a user.
extern const wchar_t* const kMachineVariables[];
extern const size_t kMachineVariableCount;

// Whether a folder of that name below a root is Windows' own ("Windows NT", "Microsoft.NET",
// "Internet Explorer", "WindowsApps", ...): never a product's place, whatever a keyword matches.
bool IsWindowsFolderName(const std::wstring& name);
