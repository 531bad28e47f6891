// Whether the machine is managed.
#include "ManagedMachine.h"
#include "FilterLists.h"
#include "../registry/RootKeys.h"
#include "../registry/RegKey.h"
#include <windows.h>

namespace {
const wchar_t kEnrollments[] = L"SOFTWARE\\Microsoft\\Enrollments";
const wchar_t kCloudJoin[] = L"\\Control\\CloudDomainJoin\\JoinInfo";
const DWORD kNetSetupDomainName = 3;  // NETSETUP_JOIN_STATUS: joined to a domain
}

std::wstring ManagedBy()
{
    typedef LONG(WINAPI * JoinInformation)(LPCWSTR, LPWSTR*, DWORD*);
    typedef LONG(WINAPI * BufferFree)(LPVOID);
    if (HMODULE netapi = ::LoadLibraryExW(L"netapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        const auto join = reinterpret_cast<JoinInformation>(reinterpret_cast<void (*)()>(::GetProcAddress(netapi, "NetGetJoinInformation")));
        const auto release = reinterpret_cast<BufferFree>(reinterpret_cast<void (*)()>(::GetProcAddress(netapi, "NetApiBufferFree")));
        LPWSTR name = nullptr;
        DWORD status = 0;
        std::wstring domain;
        if (join && release && join(nullptr, &name, &status) == 0) {
            if (status == kNetSetupDomainName && name)
                domain = std::wstring(L"domain ") + name;
            release(name);
        }
        ::FreeLibrary(netapi);
        if (!domain.empty())
            return domain;
    }
    CRegKeyOwner cloud;
    const std::wstring joinInfo = RunningControlSetPath() + kCloudJoin;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, joinInfo.c_str(), KEY_READ, cloud) == ERROR_SUCCESS && !SubkeyNames(cloud).empty())
        return FullPath(HKEY_LOCAL_MACHINE, joinInfo);
    // A device-management enrolment names its provider; Windows' own subkeys there name none.
    CRegKeyOwner enrollments;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kEnrollments, KEY_READ, enrollments) == ERROR_SUCCESS)
        for (const std::wstring& name : SubkeyNames(enrollments)) {
            CRegKeyOwner enrollment;
            std::wstring provider;
            if (OpenSubKey(enrollments, name.c_str(), KEY_QUERY_VALUE, enrollment) == ERROR_SUCCESS &&
                ReadStringValue(enrollment, L"ProviderID", provider) && !provider.empty())
                return FullPath(HKEY_LOCAL_MACHINE, std::wstring(kEnrollments) + L"\\" + name) + L" " + provider;
        }
    return std::wstring();
}
