// The Windows installation a search looks at.
#include "Installation.h"
#include "FloorFiles.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../../framework/Handles.h"
#include <sddl.h>
#include <cwctype>

namespace {
const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kLocalSystem[] = L"S-1-5-18";

bool StartsWith(const std::wstring& lowerText, const wchar_t* lowerPrefix)
{
    return lowerText.compare(0, wcslen(lowerPrefix), lowerPrefix) == 0;
}

bool IsDrivePath(const std::wstring& path)
{
    return path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// The long form of the longest part of `path` that exists, and the rest as it is.
std::wstring LongForm(const std::wstring& path)
{
    // "C:\a\b\c", then "C:\a\b" and "C:\a": the drive's root itself needs no long form.
    for (size_t end = path.size(); end > 3;) {
        const std::wstring part = path.substr(0, end);
        const DWORD size = ::GetLongPathNameW(part.c_str(), nullptr, 0);
        if (size > 0) {
            std::vector<wchar_t> buffer(size + 1);
            const DWORD length = ::GetLongPathNameW(part.c_str(), buffer.data(), size + 1);
            if (length > 0 && length <= size)
                return std::wstring(buffer.data(), length) + path.substr(end);
        }
        end = path.rfind(L'\\', end - 1);
        if (end == std::wstring::npos)
            break;
    }
    return path;
}

std::wstring ShortForm(const std::wstring& path)
{
    const DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(size + 1);
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), size + 1);
    return length > 0 && length <= size ? std::wstring(buffer.data(), length) : std::wstring();
}

std::wstring StringValue(HKEY key, const wchar_t* name)
{
    std::wstring text;
    return ReadStringValue(key, name, text) ? text : std::wstring();
}
}

std::wstring RunningUserSid()
{
    CHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return std::wstring();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::wstring();
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::wstring();
    CLocalMemory<wchar_t> owner(text);
    return std::wstring(text);
}

CInstallation CInstallation::Running()
{
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    std::map<std::wstring, std::wstring> machine;
    for (size_t i = 0; i < kMachineVariableCount; ++i) {
        wchar_t value[MAX_PATH * 2] = L"";
        const DWORD size = ::GetEnvironmentVariableW(kMachineVariables[i], value, MAX_PATH * 2);
        if (size > 0 && size < MAX_PATH * 2)
            machine[kMachineVariables[i]] = value;
    }
    // Each profile's folder as the machine expands it ("%SystemDrive%\Users\anna").
    CInstallation machineOnly(length > 0 && length < MAX_PATH ? folder : L"", machine, {}, std::wstring());
    std::vector<UserProfile> profiles;
    CRegKeyOwner list;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, list) == ERROR_SUCCESS) {
        wchar_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = 256;
            if (::RegEnumKeyExW(list, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            CRegKeyOwner profile;
            std::wstring path;
            if (OpenSubKey(list, name, KEY_QUERY_VALUE, profile) == ERROR_SUCCESS &&
                machineOnly.Expand(StringValue(profile, L"ProfileImagePath"), std::wstring(), path) && !path.empty())
                profiles.push_back({ std::wstring(name, nameLength), path });
        }
    }
    return CInstallation(machineOnly.m_windowsFolder, machine, profiles, RunningUserSid());
}

CInstallation::CInstallation(const std::wstring& windowsFolder, const std::map<std::wstring, std::wstring>& machineVariables,
                             const std::vector<UserProfile>& profiles, const std::wstring& runningUser)
    : m_windowsFolder(WithoutTrailingBackslash(windowsFolder)), m_profiles(profiles), m_runningUser(runningUser)
{
    for (const auto& variable : machineVariables)
        m_machine[Lowered(variable.first)] = variable.second;
    // %SystemRoot% and %windir% are the Windows folder, whatever the environment says.
    if (!m_windowsFolder.empty()) {
        m_machine[L"systemroot"] = m_windowsFolder;
        m_machine[L"windir"] = m_windowsFolder;
        if (!m_machine.count(L"systemdrive") && IsDrivePath(m_windowsFolder))
            m_machine[L"systemdrive"] = m_windowsFolder.substr(0, 2);
    }
    const std::wstring windows = Normalized(m_windowsFolder);
    m_lowerWindows = Lowered(windows);
    if (!windows.empty()) {
        const std::wstring shortForm = Lowered(ShortForm(windows));
        if (shortForm != m_lowerWindows)
            m_lowerWindowsShort = shortForm;
    }
    std::vector<std::wstring> folders;
    for (const UserProfile& profile : m_profiles)
        folders.push_back(profile.folder);
    for (const std::wstring& root : RootFolders(m_machine, folders)) {
        const std::wstring normalized = Normalized(root);
        if (normalized.empty())
            continue;
        m_roots.push_back(normalized);
        m_lowerRoots.push_back(Lowered(normalized));
    }
}

std::wstring CInstallation::OwnerOf(const std::wstring& fullKeyPath) const
{
    const std::wstring lower = Lowered(fullKeyPath);
    if (StartsWith(lower, L"hkey_current_user") || StartsWith(lower, L"hkey_classes_root"))
        return m_runningUser;
    if (!StartsWith(lower, L"hkey_users\\"))
        return std::wstring();
    const size_t start = wcslen(L"hkey_users\\");
    const size_t end = fullKeyPath.find(L'\\', start);
    std::wstring hive = fullKeyPath.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    const std::wstring classes = L"_classes";
    if (hive.size() > classes.size() && Lowered(hive.substr(hive.size() - classes.size())) == classes)
        hive.resize(hive.size() - classes.size());
    return Lowered(hive) == L".default" ? std::wstring(kLocalSystem) : hive;
}

bool CInstallation::UserVariable(const std::wstring& owner, const std::wstring& lowerName, std::wstring& value) const
{
    const UserProfile* profile = nullptr;
    for (const UserProfile& candidate : m_profiles)
        if (_wcsicmp(candidate.sid.c_str(), owner.c_str()) == 0)
            profile = &candidate;
    if (!profile)
        return false;
    const std::wstring& home = profile->folder;
    if (lowerName == L"userprofile")
        value = home;
    else if (lowerName == L"appdata")
        value = home + L"\\AppData\\Roaming";
    else if (lowerName == L"localappdata")
        value = home + L"\\AppData\\Local";
    else if (lowerName == L"temp" || lowerName == L"tmp")
        value = home + L"\\AppData\\Local\\Temp";
    else if (lowerName == L"homedrive" && IsDrivePath(home))
        value = home.substr(0, 2);
    else if (lowerName == L"homepath" && IsDrivePath(home))
        value = home.substr(2);
    else
        return false;
    return true;
}

void CInstallation::MapDrive(const std::wstring& ownDrive, const std::wstring& root)
{
    m_lowerOwnDrive = Lowered(ownDrive) + L"\\";
    m_driveRoot = root;
    m_left.clear();
    auto onDisk = [&root](const std::wstring& path) { return PathAtOrBelow(path, root); };
    for (size_t at = m_roots.size(); at-- > 0;)
        if (!onDisk(m_roots[at])) {
            m_left.push_back(L"left the folder " + m_roots[at] + L": not on the installation's own disk (" + root + L")");
            m_roots.erase(m_roots.begin() + static_cast<std::ptrdiff_t>(at));
            m_lowerRoots.erase(m_lowerRoots.begin() + static_cast<std::ptrdiff_t>(at));
        }
    for (size_t at = m_profiles.size(); at-- > 0;)
        if (!onDisk(m_profiles[at].folder)) {
            m_left.push_back(L"left the profile of " + m_profiles[at].sid + L" at " + m_profiles[at].folder +
                             L": not on the installation's own disk (" + root + L"), so neither its hive nor its files");
            m_profiles.erase(m_profiles.begin() + static_cast<std::ptrdiff_t>(at));
        }
}

bool CInstallation::Expand(const std::wstring& given, const std::wstring& owner, std::wstring& expanded) const
{
    // Another installation's own drive is where its disk is now; its variables say so already.
    // Any other drive it names is one of this machine's drives here, never one of its own: what
    // lies there cannot be told, whatever letter its disk has now.
    std::wstring text = given;
    if (!m_lowerOwnDrive.empty())
        for (size_t at = text.find(L":\\"); at != std::wstring::npos; at = text.find(L":\\", at + 1))
            if (at > 0 && iswalpha(text[at - 1]) && (at == 1 || !iswalnum(text[at - 2])) &&
                towlower(text[at - 1]) != m_lowerOwnDrive[0])
                return false;
    if (!m_lowerOwnDrive.empty()) {
        const std::wstring lower = Lowered(text);
        for (size_t at = lower.rfind(m_lowerOwnDrive); at != std::wstring::npos; at = at ? lower.rfind(m_lowerOwnDrive, at - 1) : std::wstring::npos) {
            if (at > 0 && iswalpha(lower[at - 1]))
                continue;
            text.replace(at, 2, m_driveRoot);
            if (at == 0)
                break;
        }
    }
    std::wstring out;
    for (size_t at = 0; at < text.size();) {
        const size_t open = text.find(L'%', at);
        const size_t close = open == std::wstring::npos ? std::wstring::npos : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        const std::wstring name = Lowered(text.substr(open + 1, close - open - 1));
        std::wstring value;
        if (!owner.empty() && UserVariable(owner, name, value)) {
            out += value;
        } else {
            const auto found = m_machine.find(name);
            if (found == m_machine.end())
                return false;
            out += found->second;
        }
        at = close + 1;
    }
    expanded = out;
    return true;
}

std::wstring CInstallation::Normalized(const std::wstring& file) const
{
    std::wstring path = file;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    const size_t start = path.find_first_not_of(L" \t");
    path = start == std::wstring::npos ? std::wstring() : path.substr(start);
    while (!path.empty() && (path.back() == L' ' || path.back() == L'\t'))
        path.pop_back();
    const std::wstring lower = Lowered(path);
    if (StartsWith(lower, L"\\\\?\\unc\\"))
        return std::wstring();
    if (StartsWith(lower, L"\\\\?\\") || StartsWith(lower, L"\\??\\"))
        path = path.substr(4);
    else if (StartsWith(lower, L"\\systemroot\\") && !m_windowsFolder.empty())
        path = m_windowsFolder + path.substr(wcslen(L"\\systemroot"));
    else if ((StartsWith(lower, L"system32\\") || StartsWith(lower, L"syswow64\\")) && !m_windowsFolder.empty())
        path = m_windowsFolder + L"\\" + path;
    if (!IsDrivePath(path))
        return std::wstring();
    // Another installation's data names nothing outside its own disk.
    if (!m_driveRoot.empty() && !PathAtOrBelow(path, m_driveRoot))
        return std::wstring();
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::vector<wchar_t> full(size + 1);
    const DWORD length = ::GetFullPathNameW(path.c_str(), size + 1, full.data(), nullptr);
    if (length == 0 || length > size)
        return std::wstring();
    // Only an 8.3 name has a long form of its own, and it always holds a tilde: other paths need
    // no look at the file system.
    const std::wstring fullPath(full.data(), length);
    return WithoutTrailingBackslash(fullPath.find(L'~') == std::wstring::npos ? fullPath : LongForm(fullPath));
}

bool CInstallation::Below(const std::wstring& lowerPath, const std::wstring& lowerFolder)
{
    return !lowerFolder.empty() && lowerPath.size() > lowerFolder.size() &&
           lowerPath.compare(0, lowerFolder.size(), lowerFolder) == 0 && lowerPath[lowerFolder.size()] == L'\\';
}

bool CInstallation::InWindowsFolder(const std::wstring& normalized) const
{
    const std::wstring lower = Lowered(normalized);
    return Below(lower, m_lowerWindows) || Below(lower, m_lowerWindowsShort) ||
           (!m_lowerWindows.empty() && lower == m_lowerWindows);
}

bool CInstallation::NamesBelowRoot(const std::wstring& normalized, std::vector<std::wstring>& names) const
{
    const std::wstring lower = Lowered(normalized);
    size_t deepest = 0;
    bool found = false;
    for (const std::wstring& root : m_lowerRoots)
        if (Below(lower, root) && root.size() >= deepest) {
            deepest = root.size();
            found = true;
        }
    if (!found)
        return false;
    names.clear();
    for (size_t at = deepest + 1; at < normalized.size();) {
        const size_t end = normalized.find(L'\\', at);
        const size_t stop = end == std::wstring::npos ? normalized.size() : end;
        if (stop > at)
            names.push_back(normalized.substr(at, stop - at));
        at = stop + 1;
    }
    return !names.empty();
}

bool CInstallation::FileGone(const std::wstring& normalized) const
{
    ::InterlockedIncrement(&m_fileChecks);
    if (::GetFileAttributesW(normalized.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
