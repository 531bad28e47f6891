// The roots table: the folders programs are installed into. A {profile} stands for each user's
// profile folder from the profile list, a {variable} for the machine's folder of that name.
#include "FloorFiles.h"

namespace {
const wchar_t* const kRoots[] = {
    L"{programfiles}",
    L"{programfiles(x86)}",
    L"{commonprogramfiles}",
    L"{commonprogramfiles(x86)}",
    L"{programdata}",
    L"{profile}\\AppData\\Local",
    L"{profile}\\AppData\\Roaming",
};
const wchar_t kProfile[] = L"{profile}";
}

const wchar_t* const kMachineVariables[] = {
    L"systemroot",         L"windir",          L"systemdrive",        L"programfiles",       L"programfiles(x86)",
    L"programw6432",       L"commonprogramfiles", L"commonprogramfiles(x86)", L"commonprogramw6432", L"programdata",
    L"allusersprofile",    L"public",
};
const size_t kMachineVariableCount = sizeof kMachineVariables / sizeof kMachineVariables[0];

std::vector<std::wstring> RootFolders(const std::map<std::wstring, std::wstring>& machineVariables,
                                      const std::vector<std::wstring>& profileFolders)
{
    std::vector<std::wstring> roots;
    for (const wchar_t* pattern : kRoots) {
        const std::wstring text = pattern;
        const size_t close = text.find(L'}');
        const std::wstring name = text.substr(1, close - 1), rest = text.substr(close + 1);
        if (text.compare(0, close + 1, kProfile) == 0) {
            for (const std::wstring& profile : profileFolders)
                if (!profile.empty())
                    roots.push_back(profile + rest);
            continue;
        }
        const auto found = machineVariables.find(name);
        if (found != machineVariables.end() && !found->second.empty())
            roots.push_back(found->second + rest);
    }
    return roots;
}

namespace {
// Folders Windows itself puts below Program Files, Common Files, ProgramData and a profile's
// AppData (the user's temporary files, the per-user programs' own root among them), besides every
// name that begins with "Windows" or "Microsoft".
const wchar_t* const kWindowsFolders[] = {
    L"Internet Explorer", L"Reference Assemblies", L"MSBuild",      L"Uninstall Information", L"Package Cache",
    L"Packages",          L"USOShared",            L"USOPrivate",   L"ModifiableWindowsApps", L"Common Files",
    L"dotnet",            L"PowerShell",           L"regid.1991-06.com.microsoft",            L"SoftwareDistribution",
    L"Temp",              L"Programs",             L"VirtualStore", L"CrashDumps",            L"Application Data",
    L"Start Menu",        L"Desktop",              L"Documents",    L"Templates",             L"Favorites",
    L"System",            L"Services",             L"SpeechEngines",
};
}

bool IsWindowsFolderName(const std::wstring& name)
{
    if (_wcsnicmp(name.c_str(), L"Windows", 7) == 0 || _wcsnicmp(name.c_str(), L"Microsoft", 9) == 0)
        return true;
    for (const wchar_t* folder : kWindowsFolders)
        if (_wcsicmp(name.c_str(), folder) == 0)
            return true;
    return false;
}
