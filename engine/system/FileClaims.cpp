// Reading what still names a file.
#include "FileClaims.h"
#include "FileEvidence.h"
#include "../registry/Hives.h"
#include "Installation.h"
#include "../registry/KeyNames.h"
#include "Offline.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "ComScope.h"
#include "FileHandles.h"
#include "../../framework/Handles.h"
#include "../search/Said.h"
#include "../../resources/resource.h"
#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <memory>

namespace {
const wchar_t* const kServerKeys[] = { L"InprocServer32", L"LocalServer32", L"InprocHandler32" };
const wchar_t kAppPaths[] = L"Microsoft\\Windows\\CurrentVersion\\App Paths";
const wchar_t kComponents[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const wchar_t kStartMenu[] = L"Microsoft\\Windows\\Start Menu\\Programs";
// The name a profile's hive is loaded under while its claims are read.
const wchar_t kLoadedPrefix[] = L"VelmoraKlarner-";

bool Terminates(const std::wstring& text, size_t at)
{
    return at >= text.size() || wcschr(L"\\\"', ;", text[at]) != nullptr;
}

// A user's hives while they are read: the loaded ones where the user is logged on, else loaded
// from the profile for the time being.
struct UserHives
{
    std::wstring user, classes;  // below HKEY_USERS; classes may be empty
    std::unique_ptr<CLoadedHive> loadedUser, loadedClasses;
};

bool OpenUser(const UserProfile& profile, UserHives& hives)
{
    if (KeyExists(HKEY_USERS, profile.sid)) {
        hives.user = profile.sid;
        if (KeyExists(HKEY_USERS, profile.sid + L"_Classes"))
            hives.classes = profile.sid + L"_Classes";
        return true;
    }
    hives.loadedUser.reset(new CLoadedHive);
    if (hives.loadedUser->Load(HKEY_USERS, kLoadedPrefix + profile.sid, profile.folder + L"\\NTUSER.DAT") != ERROR_SUCCESS)
        return false;
    hives.user = hives.loadedUser->Name();
    hives.loadedClasses.reset(new CLoadedHive);
    if (hives.loadedClasses->Load(HKEY_USERS, kLoadedPrefix + profile.sid + L"_Classes",
                                  profile.folder + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat") == ERROR_SUCCESS)
        hives.classes = hives.loadedClasses->Name();
    return true;
}

// The open commands of every file type and application of a class place.
void OpenCommands(CClaimReader& reader, HKEY root, const std::wstring& classes, const std::wstring& owner)
{
    CRegKeyOwner container;
    if (OpenKeyExact(root, classes.c_str(), KEY_READ, container) != ERROR_SUCCESS)
        return;
    auto commandsOf = [&](HKEY type, const std::wstring& typePath) {
        CRegKeyOwner shell;
        if (OpenSubKey(type, L"shell", KEY_READ, shell) != ERROR_SUCCESS)
            return;
        for (const std::wstring& verb : SubkeyNames(shell)) {
            CRegKeyOwner command;
            std::wstring data;
            if (OpenSubKey(shell, (verb + L"\\command").c_str(), KEY_QUERY_VALUE, command) == ERROR_SUCCESS &&
                ReadStringValue(command, nullptr, data))
                reader.Add(owner, data, FullPath(root, typePath + L"\\shell\\" + verb + L"\\command"));
        }
    };
    for (const std::wstring& name : SubkeyNames(container)) {
        CRegKeyOwner type;
        if (OpenSubKey(container, name.c_str(), KEY_READ, type) != ERROR_SUCCESS)
            continue;
        commandsOf(type, classes + L"\\" + name);
        if (_wcsicmp(name.c_str(), L"Applications") == 0)
            for (const std::wstring& application : SubkeyNames(type)) {
                CRegKeyOwner own;
                if (OpenSubKey(type, application.c_str(), KEY_READ, own) == ERROR_SUCCESS)
                    commandsOf(own, classes + L"\\" + name + L"\\" + application);
            }
    }
}

// The programs the start menu's shortcuts below `folder` start.
void Shortcuts(CClaimReader& reader, const std::wstring& folder, IShellLinkW* link, IPersistFile* file)
{
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileExW(LongPath(folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::wstring> below;
    do {
        const std::wstring name = found.cFileName, path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..")
                below.push_back(path);
            continue;
        }
        wchar_t target[MAX_PATH * 2] = L"";
        if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".lnk") == 0 && SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(target, MAX_PATH * 2, nullptr, SLGP_RAWPATH)))
            reader.Add(std::wstring(), target, Said(IDS_CLAIM_SHORTCUT, { path }));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    for (const std::wstring& sub : below)
        Shortcuts(reader, sub, link, file);
}

void StartMenus(CClaimReader& reader, const CInstallation& installation)
{
    CComScope com;
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link))))
        return;
    CComPtrOf<IShellLinkW> ownLink(link);
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        return;
    CComPtrOf<IPersistFile> ownFile(file);
    std::wstring programData;
    if (installation.Expand(L"%ProgramData%", std::wstring(), programData))
        Shortcuts(reader, programData + L"\\" + kStartMenu, link, file);
    for (const UserProfile& profile : installation.Profiles())
        Shortcuts(reader, profile.folder + L"\\AppData\\Roaming\\" + kStartMenu, link, file);
}
}

CClaimReader::CClaimReader(CFileClaims& claims, const CInstallation& installation,
                           const std::function<bool(const std::wstring&)>& isFinding)
    : m_claims(claims), m_installation(installation), m_isFinding(isFinding)
{
}

void CClaimReader::EntriesBelow(HKEY root, const std::wstring& path, const std::wstring& owner)
{
    CRegKeyOwner key;
    if (OpenKeyExact(root, path.c_str(), KEY_READ, key) != ERROR_SUCCESS)
        return;
    for (const std::wstring& name : SubkeyNames(key)) {
        const std::wstring by = FullPath(root, path + L"\\" + name);
        CRegKeyOwner entry;
        if (m_isFinding(by) || OpenSubKey(key, name.c_str(), KEY_READ, entry) != ERROR_SUCCESS)
            continue;
        Values(entry, by, owner);
    }
}

void CClaimReader::ValuesOf(HKEY root, const std::wstring& path, const std::wstring& owner)
{
    CRegKeyOwner key;
    if (OpenKeyExact(root, path.c_str(), KEY_READ, key) == ERROR_SUCCESS)
        Values(key, FullPath(root, path), owner);
}

void CClaimReader::Servers(HKEY root, const std::wstring& path, const std::wstring& owner)
{
    CRegKeyOwner key;
    if (OpenKeyExact(root, path.c_str(), KEY_READ, key) != ERROR_SUCCESS)
        return;
    for (const std::wstring& name : SubkeyNames(key)) {
        const std::wstring by = FullPath(root, path + L"\\" + name);
        CRegKeyOwner classKey;
        if (m_isFinding(by) || OpenSubKey(key, name.c_str(), KEY_READ, classKey) != ERROR_SUCCESS)
            continue;
        for (const wchar_t* server : kServerKeys) {
            CRegKeyOwner serverKey;
            std::wstring data;
            if (OpenSubKey(classKey, server, KEY_QUERY_VALUE, serverKey) == ERROR_SUCCESS && ReadStringValue(serverKey, nullptr, data))
                m_claims.Add(m_installation, owner, data, by);
        }
    }
}

void CClaimReader::Add(const std::wstring& owner, const std::wstring& data, const std::wstring& by)
{
    if (!m_isFinding(by))
        m_claims.Add(m_installation, owner, data, by);
}

void CClaimReader::Values(HKEY key, const std::wstring& by, const std::wstring& owner)
{
    ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>&) {
        std::wstring data;
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && ReadStringValue(key, name.c_str(), data) && !m_isFinding(by + L"\\" + name))
            m_claims.Add(m_installation, owner, data, by);
    });
}

void IClaimsFiles::ClaimUserFiles(CClaimReader&, const std::wstring&, const std::wstring&, const std::wstring&) const {}

CFileClaims CFileClaims::Read(const CInstallation& installation, const std::vector<const IClaimsFiles*>& kinds,
                              const std::function<bool(const std::wstring&)>& isFinding)
{
    CFileClaims claims;
    CClaimReader reader(claims, installation, isFinding);
    for (const IClaimsFiles* kind : kinds)
        kind->ClaimMachineFiles(reader);
    // Windows' own: the files Windows Installer installed for each product, the programs of App
    // Paths and of the file types' open commands, and what the start menu starts.
    CRegKeyOwner userData;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kComponents, KEY_READ, userData) == ERROR_SUCCESS)
        for (const std::wstring& sid : SubkeyNames(userData))
            reader.EntriesBelow(HKEY_LOCAL_MACHINE, std::wstring(kComponents) + L"\\" + sid + L"\\Components", std::wstring());
    for (const wchar_t* software : { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" })
        reader.EntriesBelow(HKEY_LOCAL_MACHINE, software + std::wstring(kAppPaths), std::wstring());
    OpenCommands(reader, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", std::wstring());
    for (const UserProfile& profile : installation.Profiles()) {
        UserHives hives;
        if (!OpenUser(profile, hives)) {
            claims.m_unread.push_back(profile.sid);
            continue;
        }
        for (const IClaimsFiles* kind : kinds)
            kind->ClaimUserFiles(reader, hives.user, hives.classes, profile.sid);
        reader.EntriesBelow(HKEY_USERS, hives.user + L"\\Software\\" + kAppPaths, profile.sid);
        if (!hives.classes.empty())
            OpenCommands(reader, HKEY_USERS, hives.classes, profile.sid);
    }
    StartMenus(reader, installation);
    // The programs that run belong to this installation, never to another one.
    if (!OfflineActive())
        for (const std::wstring& image : RunningImages())
            claims.Add(installation, std::wstring(), image, Said(IDS_CLAIM_RUNNING, { image }));
    return claims;
}

void CFileClaims::Add(const CInstallation& installation, const std::wstring& owner, const std::wstring& data,
                      const std::wstring& by)
{
    if (data.empty())
        return;
    std::wstring expanded;
    if (!installation.Expand(data, owner, expanded))
        expanded = data;
    FileClaim claim;
    claim.lowerText = Lowered(expanded);
    claim.normalized = Lowered(installation.Normalized(FileOfCommand(expanded)));
    claim.by = by;
    m_claims.push_back(std::move(claim));
}

const FileClaim* CFileClaims::Naming(const std::wstring& path, bool* directly) const
{
    std::wstring forms[2] = { Lowered(path), std::wstring() };
    wchar_t shortPath[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        forms[1] = Lowered(std::wstring(shortPath, length));
    for (const FileClaim& claim : m_claims)
        for (const std::wstring& form : forms) {
            if (form.empty())
                continue;
            const std::wstring& file = claim.normalized;
            if (file == form || (file.size() > form.size() && file.compare(0, form.size(), form) == 0 && file[form.size()] == L'\\')) {
                // A file right in the folder, or the folder itself; a folder one level down (an
                // installation's own folder) is not.
                if (directly) {
                    const DWORD attributes = ::GetFileAttributesW(file.c_str());
                    *directly = file == form || (file.find(L'\\', form.size() + 1) == std::wstring::npos &&
                                                 (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)));
                }
                return &claim;
            }
            // The text itself, wherever the folder appears in it (a command's argument, a list).
            for (size_t at = claim.lowerText.find(form); at != std::wstring::npos; at = claim.lowerText.find(form, at + 1)) {
                const size_t end = at + form.size();
                if (!Terminates(claim.lowerText, end) || (at > 0 && iswalnum(claim.lowerText[at - 1])))
                    continue;
                if (directly) {
                    const size_t next = claim.lowerText.find_first_of(L"\\\"", end + 1);
                    *directly = claim.lowerText[end] != L'\\' || next == std::wstring::npos || claim.lowerText[next] != L'\\';
                }
                return &claim;
            }
        }
    return nullptr;
}

std::vector<std::wstring> RunningImages()
{
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    while (::EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes) &&
           bytes == ids.size() * sizeof(DWORD))
        ids.resize(ids.size() * 2);
    ids.resize(bytes / sizeof(DWORD));
    std::vector<std::wstring> images;
    for (DWORD id : ids) {
        CHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        wchar_t image[32768];
        DWORD length = 32768;
        if (process && ::QueryFullProcessImageNameW(process, 0, image, &length))
            images.emplace_back(image, length);
    }
    return images;
}
