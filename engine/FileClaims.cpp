// Reading what still names a file.
#include "FileClaims.h"
#include "FileEvidence.h"
#include "FilterLists.h"
#include "Hives.h"
#include "Installation.h"
#include "KeyNames.h"
#include "Offline.h"
#include "RegKey.h"
#include "RootKeys.h"
#include "TaskCache.h"
#include "WinsockCatalog.h"
#include "../framework/Handles.h"
#include <psapi.h>
#include <memory>

namespace {
const wchar_t kUninstall[] = L"Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t* const kRunKeys[] = { L"Microsoft\\Windows\\CurrentVersion\\Run", L"Microsoft\\Windows\\CurrentVersion\\RunOnce" };
const wchar_t* const kServerKeys[] = { L"InprocServer32", L"LocalServer32", L"InprocHandler32" };
// The name a profile's hive is loaded under while its claims are read.
const wchar_t kLoadedPrefix[] = L"VelmoraKlarner-";

bool Terminates(const std::wstring& text, size_t at)
{
    return at >= text.size() || wcschr(L"\\\"', ;", text[at]) != nullptr;
}

class CReader
{
public:
    CReader(CFileClaims& claims, const CInstallation& installation, const std::function<bool(const std::wstring&)>& isFinding)
        : m_claims(claims), m_installation(installation), m_isFinding(isFinding)
    {
    }

    // Every string value of each subkey of `path` (uninstall entries: all of them may name a file).
    void EntriesBelow(HKEY root, const std::wstring& path, const std::wstring& owner)
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, path.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return;
        for (const std::wstring& name : SubkeyNames(key)) {
            const std::wstring below = path + L"\\" + name;
            CRegKeyOwner entry;
            if (Finding(root, below) || OpenSubKey(key, name.c_str(), KEY_READ, entry) != ERROR_SUCCESS)
                continue;
            Values(entry, root, below, owner);
        }
    }
    // Every string value of the key itself (start-up values).
    void ValuesOf(HKEY root, const std::wstring& path, const std::wstring& owner)
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, path.c_str(), KEY_READ, key) == ERROR_SUCCESS)
            Values(key, root, path, owner);
    }
    // The servers of every class below `path` (a CLSID key).
    void Servers(HKEY root, const std::wstring& path, const std::wstring& owner)
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, path.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return;
        for (const std::wstring& name : SubkeyNames(key)) {
            const std::wstring below = path + L"\\" + name;
            CRegKeyOwner classKey;
            if (Finding(root, below) || OpenSubKey(key, name.c_str(), KEY_READ, classKey) != ERROR_SUCCESS)
                continue;
            for (const wchar_t* server : kServerKeys) {
                CRegKeyOwner serverKey;
                std::wstring data;
                if (OpenSubKey(classKey, server, KEY_QUERY_VALUE, serverKey) == ERROR_SUCCESS &&
                    ReadStringValue(serverKey, nullptr, data))
                    m_claims.Add(m_installation, owner, data, FullPath(root, below));
            }
        }
    }
    // What every service runs: its image, and the library a host process loads for it.
    void Services(const std::wstring& servicesPath)
    {
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, servicesPath.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return;
        for (const std::wstring& name : SubkeyNames(key)) {
            const std::wstring below = servicesPath + L"\\" + name;
            CRegKeyOwner service, parameters;
            std::wstring data;
            DWORD deleted = 0;
            if (Finding(HKEY_LOCAL_MACHINE, below) || OpenSubKey(key, name.c_str(), KEY_READ, service) != ERROR_SUCCESS)
                continue;
            // A service marked for deletion goes with its key at the next restart.
            if (ReadDwordValue(service, L"DeleteFlag", deleted) && deleted == 1)
                continue;
            if (ReadStringValue(service, L"ImagePath", data))
                m_claims.Add(m_installation, std::wstring(), data, FullPath(HKEY_LOCAL_MACHINE, below));
            if (OpenSubKey(service, L"Parameters", KEY_QUERY_VALUE, parameters) == ERROR_SUCCESS &&
                ReadStringValue(parameters, L"ServiceDll", data))
                m_claims.Add(m_installation, std::wstring(), data, FullPath(HKEY_LOCAL_MACHINE, below));
        }
    }

private:
    bool Finding(HKEY root, const std::wstring& path) const { return m_isFinding(FullPath(root, path)); }
    void Values(HKEY key, HKEY root, const std::wstring& path, const std::wstring& owner)
    {
        const std::wstring by = FullPath(root, path);
        ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>&) {
            std::wstring data;
            if ((type == REG_SZ || type == REG_EXPAND_SZ) && ReadStringValue(key, name.c_str(), data) &&
                !m_isFinding(by + L"\\" + name))
                m_claims.Add(m_installation, owner, data, by);
        });
    }

    CFileClaims& m_claims;
    const CInstallation& m_installation;
    const std::function<bool(const std::wstring&)>& m_isFinding;
};

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
}

CFileClaims CFileClaims::Read(const CInstallation& installation, const std::function<bool(const std::wstring&)>& isFinding)
{
    CFileClaims claims;
    CReader reader(claims, installation, isFinding);
    for (const wchar_t* software : { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" }) {
        reader.EntriesBelow(HKEY_LOCAL_MACHINE, software + std::wstring(kUninstall), std::wstring());
        for (const wchar_t* run : kRunKeys)
            reader.ValuesOf(HKEY_LOCAL_MACHINE, software + std::wstring(run), std::wstring());
    }
    reader.Servers(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\CLSID", std::wstring());
    reader.Servers(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\WOW6432Node\\CLSID", std::wstring());
    reader.Services(RunningControlSetPath() + L"\\Services");
    // The providers Windows loads into every program that uses the network, and the products the
    // Security Center reports.
    for (const WinsockCatalog& catalog : kWinsockCatalogs)
        for (const WinsockEntry& entry : ReadWinsockCatalog(RunningControlSetPath() + kWinsockParameters, catalog))
            if (!isFinding(entry.path))
                claims.Add(installation, std::wstring(), entry.dll, entry.path);
    for (const wchar_t* type : { L"Av", L"Fw", L"As" })
        reader.EntriesBelow(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Microsoft\\Security Center\\Provider\\") + type,
                            std::wstring());
    for (const UserProfile& profile : installation.Profiles()) {
        UserHives hives;
        if (!OpenUser(profile, hives)) {
            claims.m_unread.push_back(profile.sid);
            continue;
        }
        reader.EntriesBelow(HKEY_USERS, hives.user + L"\\Software\\" + kUninstall, profile.sid);
        for (const wchar_t* run : kRunKeys)
            reader.ValuesOf(HKEY_USERS, hives.user + L"\\Software\\" + run, profile.sid);
        if (!hives.classes.empty())
            reader.Servers(HKEY_USERS, hives.classes + L"\\CLSID", profile.sid);
    }
    for (const ScheduledTask& task : ScheduledTasks())
        if (!isFinding(task.path))
            claims.Add(installation, std::wstring(), TaskCommand(task, installation), L"task " + task.path);
    // The programs that run belong to this installation, never to another one.
    if (!OfflineActive())
        for (const std::wstring& image : RunningImages())
            claims.Add(installation, std::wstring(), image, L"running program " + image);
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
