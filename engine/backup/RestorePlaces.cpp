// Where a restore may write files back.
#include "RestorePlaces.h"
#include "FileCopies.h"
#include "../system/FileHandles.h"
#include "../system/FloorFiles.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include <cwctype>

namespace {
const wchar_t kNotPlain[] = L"not a plain path on a drive";

// A plain drive-letter path: no "\\?\" form, no stream, no "." or ".." and no name that Windows
// would shorten (a trailing dot or space) or that stands for a short name.
bool IsPlainPath(const std::wstring& path)
{
    if (path.size() < 4 || !iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\')
        return false;
    for (size_t at = 3; at <= path.size();) {
        size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring name = path.substr(at, end - at);
        if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ' ||
            name.find_first_of(L":*?\"<>|/~") != std::wstring::npos)
            return false;
        for (wchar_t c : name)
            if (c < 0x20)
                return false;
        at = end + 1;
    }
    return true;
}

bool EndsWith(const std::wstring& text, const wchar_t* tail)
{
    const size_t length = wcslen(tail);
    return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, tail) == 0;
}
}

std::wstring NotARestorePlace(const std::wstring& path, bool folder, const CInstallation& installation)
{
    if (!IsPlainPath(path) || _wcsicmp(installation.Normalized(path).c_str(), path.c_str()) != 0)
        return kNotPlain;
    const std::wstring system = installation.WindowsFolder() + L"\\System32";
    const std::wstring drivers = system + L"\\drivers", tasks = system + L"\\Tasks";
    if (!folder && PathBelow(path, drivers) && path.find(L'\\', drivers.size() + 1) == std::wstring::npos && EndsWith(path, L".sys"))
        return std::wstring();
    if (!folder && PathBelow(path, tasks) && !PathAtOrBelow(path, tasks + L"\\Microsoft"))
        return std::wstring();
    if (installation.InWindowsFolder(path) || PathAtOrBelow(installation.WindowsFolder(), path))
        return L"in the Windows folder, where the program removes nothing but driver and task files";
    std::vector<std::wstring> names;
    if (!installation.NamesBelowRoot(path, names))
        return L"not below a folder programs are installed into";
    if (IsWindowsFolderName(names[0]))
        return L"a folder of Windows itself";
    return std::wstring();
}

bool CHeldFolders::Hold(const std::wstring& folder, std::wstring& why)
{
    m_held.clear();
    // "C:\", then "C:\a", "C:\a\b", ...
    for (size_t end = 3; end <= folder.size();) {
        const std::wstring part = folder.substr(0, end);
        for (int attempt = 0; attempt < 2; ++attempt) {
            CHandle held(::CreateFileW(LongPath(part).c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!held) {
                const DWORD error = ::GetLastError();
                if (attempt == 0 && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
                    (::CreateDirectoryW(LongPath(part).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS))
                    continue;
                why = part + L" could not be opened or made (error " + std::to_wstring(error) + L")";
                return false;
            }
            FileIdentity identity;
            DWORD attributes = 0;
            if (!IdentityOf(held, identity, &attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || _wcsicmp(FinalPathOf(held).c_str(), part.c_str()) != 0) {
                why = part + L" is a link or leads elsewhere; nothing is written through it";
                return false;
            }
            m_held.push_back(std::move(held));
            break;
        }
        if (end == folder.size())
            break;
        const size_t next = folder.find(L'\\', end + 1);
        end = next == std::wstring::npos ? folder.size() : next;
    }
    return true;
}

bool WriteNewFile(const std::wstring& path, HANDLE copy, unsigned long long& size, std::string& sha256, std::wstring& why)
{
    CHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        why = L"its copy could not be written back (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    if (_wcsicmp(FinalPathOf(file).c_str(), path.c_str()) != 0) {
        DeleteThrough(file);
        why = L"its place leads elsewhere; nothing was written there";
        return false;
    }
    if (!CopyAndHashInto(copy, file, size, sha256)) {
        DeleteThrough(file);
        why = L"its copy could not be written back";
        return false;
    }
    return true;
}
