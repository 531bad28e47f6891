// Loading and unloading hive files.
#include "Hives.h"
#include "RegKey.h"
#include "../../framework/Handles.h"

namespace {
const int kUnloadAttempts = 20;
const DWORD kUnloadRetryMs = 50;

LONG EnablePrivilege(HANDLE token, const wchar_t* name)
{
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
        !::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr))
        return static_cast<LONG>(::GetLastError());
    // AdjustTokenPrivileges succeeds without the privilege and says so only here.
    return static_cast<LONG>(::GetLastError());
}
}

LONG EnableHivePrivileges()
{
    CHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive()))
        return static_cast<LONG>(::GetLastError());
    const LONG backup = EnablePrivilege(token, L"SeBackupPrivilege");
    return backup != ERROR_SUCCESS ? backup : EnablePrivilege(token, L"SeRestorePrivilege");
}

LONG CLoadedHive::Load(HKEY parent, const std::wstring& name, const std::wstring& file)
{
    Unload();
    const LONG privileges = EnableHivePrivileges();
    if (privileges != ERROR_SUCCESS)
        return privileges;
    // A key of that name already there would be covered by the hive: never load over it.
    if (KeyExists(parent, name))
        return ERROR_ALREADY_EXISTS;
    const LONG loaded = ::RegLoadKeyW(parent, name.c_str(), file.c_str());
    if (loaded == ERROR_SUCCESS) {
        m_parent = parent;
        m_name = name;
    } else if (KeyExists(parent, name)) {
        // A load that failed may leave an empty key of that name behind (Wine does): it would
        // read as a hive loaded already the next time.
        ::RegDeleteKeyW(parent, name.c_str());
    }
    return loaded;
}

LONG CLoadedHive::Unload()
{
    if (!m_parent)
        return ERROR_SUCCESS;
    // A key of the hive that someone still holds open (a search thread that just ended, say)
    // keeps it loaded for a moment: try again until it lets go.
    LONG result = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kUnloadAttempts; ++attempt) {
        result = ::RegUnLoadKeyW(m_parent, m_name.c_str());
        if (result == ERROR_SUCCESS || !KeyExists(m_parent, m_name))
            break;
        ::Sleep(kUnloadRetryMs);
    }
    if (result == ERROR_SUCCESS || !KeyExists(m_parent, m_name)) {
        m_parent = nullptr;
        return ERROR_SUCCESS;
    }
    return result;
}

bool KeyExists(HKEY parent, const std::wstring& name)
{
    CRegKeyOwner key;
    return OpenKeyExact(parent, name.c_str(), KEY_READ, key) == ERROR_SUCCESS;
}
