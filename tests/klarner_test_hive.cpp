// Writes a registry key to a hive file, as another installation's System32\config holds them: for
// the demo's offline repair (the tests make theirs in process). Usage:
//   klarner_test_hive.exe <key below HKEY_CURRENT_USER> <hive file>
#include <windows.h>
#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 87;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return 1;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid);
    ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    ::CloseHandle(token);
    HKEY key = nullptr;
    LONG result = ::RegOpenKeyExW(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        ::DeleteFileW(argv[2]);
        result = ::RegSaveKeyW(key, argv[2], nullptr);
        ::RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        fwprintf(stderr, L"%ls: error %ld\n", argv[2], result);
    return result == ERROR_SUCCESS ? 0 : 1;
}
