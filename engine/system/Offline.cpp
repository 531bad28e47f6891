// Another installation's hives, loaded for the time being.
#include "Offline.h"
#include "../registry/Hives.h"
#include "../registry/LoadedHives.h"
#include "Installation.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../../framework/Handles.h"
#include <map>

namespace {
const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kNtCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";


// What the rest of the process sees while an installation is open; set once it is loaded and
// only read until it is closed (the search's threads read it).
struct OfflineState
{
    std::wstring windowsFolder;
    std::unique_ptr<CInstallation> installation;
    bool hasSoftware = false;
    std::vector<std::wstring> usersNotLoaded;
};
OfflineState* g_state = nullptr;

std::wstring Loaded(const std::wstring& name)
{
    return LoadedName(name);
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether two paths name the same folder, however they are spelt (a short name, a link).
bool SameFolder(const std::wstring& a, const std::wstring& b)
{
    auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        CHandle folder(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return folder && ::GetFileInformationByHandle(folder, &info);
    };
    BY_HANDLE_FILE_INFORMATION first = {}, second = {};
    if (identity(a, first) && identity(b, second))
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
               first.nFileIndexLow == second.nFileIndexLow;
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring StringAt(const wchar_t* path, const wchar_t* name)
{
    CRegKeyOwner key;
    std::wstring text;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, key) == ERROR_SUCCESS)
        ReadStringValue(key, name, text);
    return text;
}

// The installation's own view of its files: its folders as its registry names them, on the
// drive they are on now.
std::unique_ptr<CInstallation> Describe(const std::wstring& windowsFolder, std::vector<UserProfile>& profiles)
{
    const std::wstring root = windowsFolder.substr(0, windowsFolder.rfind(L'\\'));
    std::wstring ownRoot = StringAt(kNtCurrentVersion, L"SystemRoot");
    const std::wstring ownDrive = ownRoot.size() >= 2 && ownRoot[1] == L':' ? ownRoot.substr(0, 2) : L"C:";
    std::map<std::wstring, std::wstring> variables = { { L"systemdrive", root } };
    CInstallation plain(windowsFolder, variables, {}, std::wstring());
    plain.MapDrive(ownDrive, root);
    // A folder its registry puts on another of its drives is left out, never looked for here.
    std::vector<std::wstring> left;
    auto value = [&](const wchar_t* path, const wchar_t* name, const std::wstring& fallback) {
        std::wstring text = StringAt(path, name), expanded;
        if (text.empty())
            return root + fallback;
        if (plain.Expand(text, std::wstring(), expanded))
            return expanded;
        left.push_back(L"left the folder " + text + L": not on the installation's own disk (" + root + L")");
        return std::wstring();
    };
    variables[L"programfiles"] = value(kCurrentVersion, L"ProgramFilesDir", L"\\Program Files");
    variables[L"programw6432"] = variables[L"programfiles"];
    variables[L"programfiles(x86)"] = value(kCurrentVersion, L"ProgramFilesDir (x86)", L"\\Program Files (x86)");
    variables[L"commonprogramfiles"] = value(kCurrentVersion, L"CommonFilesDir", L"\\Program Files\\Common Files");
    variables[L"commonprogramw6432"] = variables[L"commonprogramfiles"];
    variables[L"commonprogramfiles(x86)"] =
        value(kCurrentVersion, L"CommonFilesDir (x86)", L"\\Program Files (x86)\\Common Files");
    variables[L"programdata"] = value(kProfileList, L"ProgramData", L"\\ProgramData");
    variables[L"allusersprofile"] = variables[L"programdata"];
    variables[L"public"] = value(kProfileList, L"Public", L"\\Users\\Public");
    CInstallation machine(windowsFolder, variables, {}, std::wstring());
    machine.MapDrive(ownDrive, root);
    CRegKeyOwner list;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, list) == ERROR_SUCCESS)
        for (const std::wstring& sid : SubkeyNames(list)) {
            CRegKeyOwner profile;
            std::wstring folder, expanded;
            if (OpenSubKey(list, sid.c_str(), KEY_QUERY_VALUE, profile) != ERROR_SUCCESS ||
                !ReadStringValue(profile, L"ProfileImagePath", folder))
                continue;
            if (machine.Expand(folder, std::wstring(), expanded))
                profiles.push_back({ sid, expanded });
            else
                left.push_back(L"left the profile of " + sid + L" at " + folder + L": not on the installation's own disk (" + root +
                               L"), so neither its hive nor its files");
        }
    std::unique_ptr<CInstallation> installation(new CInstallation(windowsFolder, variables, profiles, std::wstring()));
    installation->MapDrive(ownDrive, root);
    for (const std::wstring& note : left)
        installation->AddLeft(note);
    profiles = installation->Profiles();
    return installation;
}
}

struct COfflineInstallation::Hives
{
    CLoadedHive system, software;
    std::vector<std::unique_ptr<CLoadedHive>> users;
};

COfflineInstallation::COfflineInstallation() {}

COfflineInstallation::~COfflineInstallation()
{
    Close();
}

COfflineInstallation::Opened COfflineInstallation::Open(const std::wstring& windowsFolder, std::wstring& why)
{
    Close();
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(windowsFolder.c_str(), MAX_PATH, full, nullptr);
    std::wstring folder = length > 0 && length < MAX_PATH ? std::wstring(full, length) : windowsFolder;
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    wchar_t running[MAX_PATH] = L"";
    ::GetSystemWindowsDirectoryW(running, MAX_PATH);
    if (g_state) {
        why = L"another offline installation is open";
        return Opened::BadUsage;
    }
    if (SameFolder(folder, running)) {
        why = folder + L" is the running Windows folder: search it without /offline";
        return Opened::BadUsage;
    }
    const std::wstring systemFile = folder + L"\\System32\\config\\SYSTEM";
    const std::wstring softwareFile = folder + L"\\System32\\config\\SOFTWARE";
    if (folder.rfind(L'\\') == std::wstring::npos || !IsFile(systemFile)) {
        why = L"no System32\\config\\SYSTEM in " + folder + L": not a Windows folder";
        return Opened::BadUsage;
    }
    const LONG privileges = EnableHivePrivileges();
    if (privileges != ERROR_SUCCESS) {
        why = L"the backup and restore privileges could not be enabled (error " + std::to_wstring(privileges) + L")";
        return Opened::CannotLoad;
    }
    for (const wchar_t* hive : { L"SYSTEM", L"SOFTWARE" })
        if (KeyExists(HKEY_LOCAL_MACHINE, Loaded(hive))) {
            why = L"a hive is loaded already as HKEY_LOCAL_MACHINE\\" + Loaded(hive) + L": unload it first";
            return Opened::BadUsage;
        }
    std::unique_ptr<Hives> hives(new Hives);
    const struct
    {
        CLoadedHive& hive;
        const wchar_t* name;
        const std::wstring& file;
        bool needed;
    } toLoad[] = { { hives->system, L"SYSTEM", systemFile, true }, { hives->software, L"SOFTWARE", softwareFile, false } };
    for (const auto& load : toLoad) {
        if (!load.needed && !IsFile(load.file))
            continue;
        const LONG loaded = load.hive.Load(HKEY_LOCAL_MACHINE, Loaded(load.name), load.file);
        if (loaded != ERROR_SUCCESS) {
            why = load.file + L" could not be loaded (error " + std::to_wstring(loaded) + L")" +
                  (loaded == ERROR_SHARING_VIOLATION ? L": another program holds it" : L"");
            return loaded == ERROR_ALREADY_EXISTS ? Opened::BadUsage : Opened::CannotLoad;
        }
    }
    // From here on the program sees the installation: its profiles come from its own registry.
    g_state = new OfflineState;
    SetLoadedHives({});
    g_state->windowsFolder = folder;
    m_windowsFolder = folder;
    std::vector<UserProfile> profiles;
    std::vector<LoadedUserHive> users;
    g_state->installation = Describe(folder, profiles);
    g_state->hasSoftware = hives->software.Loaded();
    for (const UserProfile& profile : profiles) {
        const struct
        {
            std::wstring file, name;
            bool classes;
        } userHives[] = { { profile.folder + L"\\NTUSER.DAT", profile.sid, false },
                          { profile.folder + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", profile.sid + L"_Classes", true } };
        for (const auto& user : userHives) {
            if (!IsFile(user.file))
                continue;
            std::unique_ptr<CLoadedHive> hive(new CLoadedHive);
            if (hive->Load(HKEY_USERS, Loaded(user.name), user.file) != ERROR_SUCCESS) {
                if (!user.classes) {
                    m_usersNotLoaded.push_back(profile.sid);
                    g_state->usersNotLoaded.push_back(profile.sid);
                }
                continue;
            }
            users.push_back({ profile.sid, user.classes });
            hives->users.push_back(std::move(hive));
        }
    }
    SetLoadedHives(users);
    m_hives = std::move(hives);
    return Opened::Open;
}

bool COfflineInstallation::Close(std::wstring* why)
{
    if (!m_hives)
        return true;
    if (g_state) {
        delete g_state;
        g_state = nullptr;
    }
    ClearLoadedHives();
    bool unloaded = true;
    for (auto& user : m_hives->users)
        unloaded = user->Unload() == ERROR_SUCCESS && unloaded;
    for (CLoadedHive* hive : { &m_hives->software, &m_hives->system }) {
        const std::wstring name = hive->Name();
        const LONG result = hive->Unload();
        if (result != ERROR_SUCCESS) {
            unloaded = false;
            if (why)
                *why = L"HKEY_LOCAL_MACHINE\\" + name + L" could not be unloaded (error " + std::to_wstring(result) + L")";
        }
    }
    m_hives.reset();
    m_usersNotLoaded.clear();
    return unloaded;
}

bool COfflineInstallation::IsOpen() const
{
    return m_hives != nullptr;
}

bool OfflineActive()
{
    return g_state != nullptr;
}

const CInstallation* OfflineInstallation()
{
    return g_state ? g_state->installation.get() : nullptr;
}

bool OfflineHasSoftware()
{
    return g_state && g_state->hasSoftware;
}

std::vector<std::wstring> OfflineUsersNotLoaded()
{
    return g_state ? g_state->usersNotLoaded : std::vector<std::wstring>();
}

std::vector<std::wstring> OfflineLeftOut()
{
    return g_state && g_state->installation ? g_state->installation->Left() : std::vector<std::wstring>();
}

std::wstring OfflinePrefix()
{
    return g_state ? L"OFFLINE " + g_state->windowsFolder + L": " : std::wstring();
}

std::vector<OfflineWalkRoot> OfflineWalkRoots(HKEY root)
{
    std::vector<OfflineWalkRoot> roots;
    if (!g_state)
        return roots;
    if (root == HKEY_LOCAL_MACHINE) {
        roots.push_back({ HKEY_LOCAL_MACHINE, Loaded(L"SYSTEM"), L"HKEY_LOCAL_MACHINE\\SYSTEM", kSystemKey });
        roots.push_back({ HKEY_LOCAL_MACHINE, Loaded(L"SOFTWARE"), L"HKEY_LOCAL_MACHINE\\SOFTWARE", kSoftwareKey });
    } else if (root == HKEY_USERS) {
        for (const LoadedUserHive& user : LoadedUserHives()) {
            const std::wstring name = user.classes ? user.sid + L"_Classes" : user.sid;
            roots.push_back({ HKEY_USERS, Loaded(name), L"HKEY_USERS\\" + name, user.classes ? kClassPlace : kUserHive });
        }
    }
    return roots;
}

namespace {
const wchar_t kCryptography[] = L"SOFTWARE\\Microsoft\\Cryptography";
const wchar_t kMachine[] = L"machine ";
const wchar_t kWindows[] = L", windows ";
const wchar_t kOffline[] = L", offline";

// "machine <guid>, windows <folder>[, offline]" in its parts.
bool SplitIdentity(const std::wstring& text, std::wstring& machine, std::wstring& windows, bool& offline)
{
    const size_t comma = text.find(kWindows);
    if (text.compare(0, wcslen(kMachine), kMachine) != 0 || comma == std::wstring::npos)
        return false;
    machine = text.substr(wcslen(kMachine), comma - wcslen(kMachine));
    windows = text.substr(comma + wcslen(kWindows));
    const size_t mark = wcslen(kOffline);
    offline = windows.size() > mark && windows.compare(windows.size() - mark, mark, kOffline) == 0;
    if (offline)
        windows.resize(windows.size() - mark);
    return !windows.empty();
}
}

std::wstring InstallationIdentity()
{
    // The loaded SOFTWARE hive's value while another installation is open.
    CRegKeyOwner key;
    std::wstring guid;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kCryptography, KEY_QUERY_VALUE, key) == ERROR_SUCCESS)
        ReadStringValue(key, L"MachineGuid", guid);
    const bool offline = OfflineActive();
    const std::wstring windows = CurrentInstallation().WindowsFolder();
    return kMachine + (guid.empty() ? std::wstring(L"(none)") : guid) + kWindows + windows + (offline ? kOffline : L"");
}

bool SameInstallation(const std::wstring& recorded, const std::wstring& current)
{
    std::wstring machineA, windowsA, machineB, windowsB;
    bool offlineA = false, offlineB = false;
    if (!SplitIdentity(recorded, machineA, windowsA, offlineA) || !SplitIdentity(current, machineB, windowsB, offlineB))
        return false;
    if (offlineA != offlineB)
        return false;
    // Another installation's disk may be given another drive letter next time: its MachineGuid
    // says who it is where it has one.
    if (machineA != L"(none)" && machineB != L"(none)")
        return _wcsicmp(machineA.c_str(), machineB.c_str()) == 0;
    return _wcsicmp(windowsA.c_str(), windowsB.c_str()) == 0;
}


CInstallation CurrentInstallation()
{
    if (const CInstallation* offline = OfflineInstallation())
        return *offline;
    return CInstallation::Running();
}
