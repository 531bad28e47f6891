// The floor of system keys. One table; the place holders in it stand for:
//   {software}    a hive's software root: HKLM\SOFTWARE, its 32-bit view, HKCU\Software and
//                 the Software key of every loaded user hive
//   {classes}     a place where classes are registered: HKEY_CLASSES_ROOT, its 32-bit view,
//                 the Classes keys of the machine and of the users, and the 32-bit
//                 class container inside each
//   {controlset}  CurrentControlSet and ControlSet001 to ControlSet999
//   {any}         any one name (within a name: any run of characters)
#include "FloorKeys.h"
#include "Constants.h"
#include "KeyNames.h"
#include <string>
#include <vector>

namespace {
const wchar_t* const kFloorKeys[] = {
    // Hives and their top-level containers.
    L"HKEY_LOCAL_MACHINE\\{any}",
    L"HKEY_CURRENT_USER\\{any}",
    L"HKEY_USERS\\{any}",
    L"HKEY_USERS\\{any}\\{any}",
    L"HKEY_CURRENT_CONFIG\\{any}",
    // Software.
    L"{software}\\Microsoft",
    L"{software}\\Classes",
    L"{software}\\Policies",
    L"{software}\\WOW6432Node",
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\Run",
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"{software}\\Microsoft\\Windows NT\\CurrentVersion",
    // What Windows keeps of its installer, its scheduled tasks and its cryptography: a careless
    // keyword ("data", "schedule") must never take all of it.
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\Installer",
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    L"{software}\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    L"{software}\\Microsoft\\Windows NT\\CurrentVersion\\Schedule",
    L"{software}\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache",
    L"{software}\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\{any}",
    L"{software}\\Microsoft\\Cryptography",
    L"{software}\\Microsoft\\Cryptography\\OID",
    // Classes.
    L"{classes}\\CLSID",
    L"{classes}\\Interface",
    L"{classes}\\TypeLib",
    L"{classes}\\AppID",
    L"{classes}\\*",
    L"{classes}\\Directory",
    L"{classes}\\Drive",
    L"{classes}\\Folder",
    L"{classes}\\AllFilesystemObjects",
    L"{classes}\\Wow6432Node",
    L"{classes}\\Installer",
    L"{classes}\\MIME",
    L"{classes}\\MIME\\Database",
    // Services, drivers and devices.
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Services",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Control",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Enum",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Control\\WMI",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Control\\WMI\\Autologger",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Services\\EventLog",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Services\\EventLog\\{any}",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\{controlset}\\Hardware Profiles",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\Select",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\Setup",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices",
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\WPA",
};

const struct
{
    const wchar_t* placeHolder;
    std::vector<const wchar_t*> meanings;
} kPlaceHolders[] = {
    { L"{software}",
      { L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", L"HKEY_CURRENT_USER\\Software",
        L"HKEY_USERS\\{any}\\Software" } },
    { L"{classes}",
      { L"HKEY_CLASSES_ROOT", L"HKEY_CLASSES_ROOT\\Wow6432Node", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Classes", L"HKEY_CURRENT_USER\\Software\\Classes",
        L"HKEY_USERS\\{any}\\Software\\Classes", L"HKEY_USERS\\{any}_Classes",
        // The 32-bit class containers inside each of those.
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Wow6432Node", L"HKEY_CURRENT_USER\\Software\\Classes\\Wow6432Node",
        L"HKEY_USERS\\{any}\\Software\\Classes\\Wow6432Node", L"HKEY_USERS\\{any}_Classes\\Wow6432Node" } },
    { L"{controlset}", { L"CurrentControlSet", L"ControlSet{nnn}" } },
};

typedef std::vector<std::wstring> Names;

// Empty names (a trailing backslash, or two in a row) name no key: the registry skips them
// when it opens a path, so the floor does too, or "Environment\\" would slip past it.
Names SplitLowered(const std::wstring& path)
{
    Names names;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'\\', start);
        const size_t length = (end == std::wstring::npos ? path.size() : end) - start;
        if (length > 0)
            names.push_back(Lowered(path.c_str() + start, length));
        if (end == std::wstring::npos)
            return names;
        start = end + 1;
    }
}

// Every entry with its place holders replaced, each as its lowercased names.
std::vector<Names> ExpandedTable()
{
    std::vector<std::wstring> entries(std::begin(kFloorKeys), std::end(kFloorKeys));
    for (const auto& holder : kPlaceHolders) {
        std::vector<std::wstring> expanded;
        for (const std::wstring& entry : entries) {
            size_t at = entry.find(holder.placeHolder);
            if (at == std::wstring::npos) {
                expanded.push_back(entry);
                continue;
            }
            for (const wchar_t* meaning : holder.meanings)
                expanded.push_back(entry.substr(0, at) + meaning + entry.substr(at + wcslen(holder.placeHolder)));
        }
        entries.swap(expanded);
    }
    std::vector<Names> table;
    for (const std::wstring& entry : entries)
        table.push_back(SplitLowered(entry));
    return table;
}

// One name against one pattern name: {any} is any run of characters, {nnn} three digits.
bool NameMatches(const wchar_t* name, const wchar_t* pattern)
{
    if (wcsncmp(pattern, L"{any}", 5) == 0) {
        for (const wchar_t* rest = name;; ++rest) {
            if (NameMatches(rest, pattern + 5))
                return true;
            if (!*rest)
                return false;
        }
    }
    if (wcsncmp(pattern, L"{nnn}", 5) == 0) {
        for (int i = 0; i < 3; ++i)
            if (name[i] < L'0' || name[i] > L'9')
                return false;
        return NameMatches(name + 3, pattern + 5);
    }
    if (*pattern != *name)
        return false;
    return !*pattern || NameMatches(name + 1, pattern + 1);
}
}

bool IsProtectedPath(const std::wstring& fullPath)
{
    const std::wstring lower = Lowered(fullPath.c_str(), fullPath.size());
    return lower.find(kProtectedMonitoring) != std::wstring::npos || lower.find(kProtectedLegacy) != std::wstring::npos;
}

bool IsFloorKey(const wchar_t* fullPath)
{
    static const std::vector<Names> table = ExpandedTable();
    const Names names = SplitLowered(fullPath);
    for (const Names& entry : table) {
        // The entry itself, or a key on the way to it.
        if (names.size() > entry.size())
            continue;
        bool matches = true;
        for (size_t i = 0; matches && i < names.size(); ++i)
            matches = NameMatches(names[i].c_str(), entry[i].c_str());
        if (matches)
            return true;
    }
    return false;
}

namespace {
// Sessions Windows brings below Control\WMI\Autologger, besides every name that begins with one
// of the prefixes after them.
const wchar_t* const kWindowsSessions[] = {
    L"AppModel", L"Audio", L"CloudExperienceHostOobe", L"DefenderApiLogger", L"DefenderAuditLogger", L"Diagtrack-Listener",
    L"DiagLog", L"LwtNetLog", L"NBSMBLOGGER", L"NetCore", L"NtfsLog", L"PEAuthLog", L"RdrLog", L"ReadyBoot",
    L"SpoolerLogger", L"SQMLogger", L"TCPIPLOGGER", L"TileStore", L"Tpm", L"UBPM", L"WdiContextLog", L"WFP-IPsec Trace",
    L"WinPhoneCritical", L"Circular Kernel Context Logger", L"SgrmLog", L"ScreenOnPowerStudyTraceSession", L"Cellcore",
    L"WindowsUpdate", L"Mellanox-Kernel", L"SocketHeciServer", L"HolographicDevice",
};
const wchar_t* const kWindowsSessionPrefixes[] = { L"EventLog-", L"Microsoft-", L"AutoLogger-", L"WiFi", L"Setup", L"Wdi" };
}

bool IsWindowsTraceSession(const std::wstring& name)
{
    for (const wchar_t* prefix : kWindowsSessionPrefixes)
        if (_wcsnicmp(name.c_str(), prefix, wcslen(prefix)) == 0)
            return true;
    for (const wchar_t* session : kWindowsSessions)
        if (_wcsicmp(name.c_str(), session) == 0)
            return true;
    return false;
}
