// Folders that files in use wait in for the restart.
#include "StagingFolders.h"
#include "AdminOnly.h"
#include "FileHandles.h"
#include "../registry/KeyNames.h"
#include <bcrypt.h>
#include <cwchar>
#include <vector>

namespace {
const wchar_t kFolderName[] = L"VelmoraKlarner-Pending-";
const int kFolderAttempts = 100;
}

CStagingFolders::~CStagingFolders()
{
    for (const auto& folder : m_folders)
        ::MoveFileExW(folder.second.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

std::wstring CStagingFolders::FolderFor(const std::wstring& path, DWORD& error)
{
    std::vector<wchar_t> root(path.size() + 2);
    if (!::GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        error = ::GetLastError();
        return std::wstring();
    }
    const std::wstring volume = root.data();
    const auto known = m_folders.find(Lowered(volume));
    if (known != m_folders.end())
        return known->second;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    // A part nobody can guess: whoever makes folders of that name first cannot keep the pass from
    // finding one of its own.
    unsigned char random[4] = {};
    ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    wchar_t stamp[48];
    swprintf(stamp, 48, L"%04u%02u%02u-%02u%02u%02u-%02x%02x%02x%02x", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond, random[0], random[1], random[2], random[3]);
    CAdminOnly adminOnly;
    if (!adminOnly.Attributes()) {
        error = ERROR_INVALID_SECURITY_DESCR;
        return std::wstring();
    }
    // A new folder of its own, never one that exists: whoever made that one may change it.
    for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
        std::wstring folder = volume + kFolderName + stamp;
        if (attempt > 1)
            folder += L"-" + std::to_wstring(attempt);
        if (::CreateDirectoryW(LongPath(folder).c_str(), adminOnly.Attributes())) {
            if (!OthersMayChange(folder).empty()) {
                ::RemoveDirectoryW(LongPath(folder).c_str());
                error = ERROR_ACCESS_DENIED;
                return std::wstring();
            }
            m_folders[Lowered(volume)] = folder;
            return folder;
        }
        error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return std::wstring();
    }
    return std::wstring();
}

std::wstring CStagingFolders::Stage(HANDLE file, const std::wstring& path, DWORD& error)
{
    const std::wstring folder = FolderFor(path, error);
    if (folder.empty())
        return std::wstring();
    const std::wstring name = path.substr(path.rfind(L'\\') + 1);
    const std::wstring staged = folder + L"\\" + std::to_wstring(++m_staged) + L"-" + name;
    error = RenameThrough(file, staged);
    if (error != ERROR_SUCCESS)
        return std::wstring();
    if (!::MoveFileExW(staged.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        error = ::GetLastError();
        RenameThrough(file, path);
        return std::wstring();
    }
    return staged;
}
