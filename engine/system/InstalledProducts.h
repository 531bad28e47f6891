// The products still installed, as their uninstall entries show them: an entry whose uninstaller
// is there (or that Windows Installer knows with its package or a file of its own there), or
// whose install folder is. A maker often has several products; what one of them still uses is no
// leftover of another.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CInstallation;

struct InstalledProduct
{
    std::wstring key;           // the uninstall entry's full path
    std::wstring displayName;
    std::wstring folder;        // its install folder (InstallLocation, else the uninstaller's folder); may be empty
    std::wstring evidence;      // what shows that it is installed
};

// Every installed product of the machine (both registry views) and of the users whose hives are
// loaded. Windows Installer is asked only when `askWindowsInstaller` (the running installation).
std::vector<InstalledProduct> InstalledProducts(const CInstallation& installation, bool askWindowsInstaller);
// The first of `names` (installed products' display names) that holds `lowerKeyword`: a product of
// the maker that keyword names is still installed. Empty when none holds it.
std::wstring NameHoldingKeyword(const std::vector<std::wstring>& names, const std::wstring& lowerKeyword);

// Whether a subkey called `name` of the key `parent` is the settings key of `product`: named like
// its install folder or its display name (or the display name without the parent's own name,
// "Velmora SecureVPN" in "...\Velmora\SecureVPN").
bool IsSettingsKeyOf(const InstalledProduct& product, const std::wstring& parentName, const std::wstring& name);
