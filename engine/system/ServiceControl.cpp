// Services through the service manager.
#include "ServiceControl.h"
#include "Offline.h"
#include "FilterLists.h"
#include "../registry/RegKey.h"
#include <cwctype>
#include <vector>

namespace {
const DWORD kShortestPollMs = 100;
const DWORD kLongestPollMs = 1000;

// Waits until the service has stopped or the time is up; whether it stopped.
BOOL WaitUntilStopped(SC_HANDLE service, DWORD waitMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!::QueryServiceStatus(service, &status))
            return FALSE;
        if (status.dwCurrentState == SERVICE_STOPPED)
            return TRUE;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return FALSE;
        // The service's own hint, within reason, and never past the deadline.
        DWORD poll = status.dwWaitHint / 10;
        poll = poll < kShortestPollMs ? kShortestPollMs : poll > kLongestPollMs ? kLongestPollMs : poll;
        ::Sleep(static_cast<DWORD>(deadline - now < poll ? deadline - now : poll));
    }
}

bool SameName(const std::wstring& name, const wchar_t* expected)
{
    return _wcsicmp(name.c_str(), expected) == 0;
}

std::vector<std::wstring> Names(const std::wstring& path)
{
    std::vector<std::wstring> names;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(L'\\', start);
        names.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            return names;
        start = end + 1;
    }
}

// "ControlSet" and three digits: its number, else 0.
DWORD ControlSetNumber(const std::wstring& name)
{
    const size_t prefix = wcslen(L"ControlSet");
    if (name.size() != prefix + 3 || _wcsnicmp(name.c_str(), L"ControlSet", prefix) != 0)
        return 0;
    for (size_t i = prefix; i < name.size(); ++i)
        if (!iswdigit(name[i]))
            return 0;
    return static_cast<DWORD>(_wtoi(name.c_str() + prefix));
}
}

ServiceRemoval OpenKnownService(const std::wstring& name, CServiceHandle& service)
{
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return kServiceNotDeleted;
    service.Reset(::OpenServiceW(manager, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service)
        return kServiceDeleted;
    const DWORD error = ::GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
        return kServiceNotKnown;
    return error == ERROR_SERVICE_MARKED_FOR_DELETE ? kServiceDeletedAtRestart : kServiceNotDeleted;
}

ServiceRemoval StopAndDeleteService(SC_HANDLE service, DWORD stopWaitMs, BOOL& stopped)
{
    SERVICE_STATUS status = {};
    stopped = FALSE;
    if (::QueryServiceStatus(service, &status)) {
        stopped = status.dwCurrentState == SERVICE_STOPPED;
        if (!stopped && ::ControlService(service, SERVICE_CONTROL_STOP, &status))
            stopped = WaitUntilStopped(service, stopWaitMs);
    }
    // A service that would not stop is marked for deletion: it goes at the next restart.
    if (!::DeleteService(service))
        return ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE ? kServiceDeletedAtRestart : kServiceNotDeleted;
    return kServiceDeleted;
}

bool WaitUntilKeyGone(HKEY root, const std::wstring& path, DWORD waitMs)
{
    const std::wstring parentPath = path.substr(0, path.rfind(L'\\'));
    CRegKeyOwner parent;
    CHandle changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const bool notified = OpenKeyExact(root, parentPath.c_str(), KEY_NOTIFY, parent) == ERROR_SUCCESS && changed;
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        // Asked before each look, so that a change between the look and the wait is not missed.
        if (notified)
            ::RegNotifyChangeKeyValue(parent, FALSE, REG_NOTIFY_CHANGE_NAME, changed, TRUE);
        CRegKeyOwner key;
        if (OpenKeyExact(root, path.c_str(), KEY_READ, key) == ERROR_FILE_NOT_FOUND)
            return TRUE;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return FALSE;
        // A registry that never says so is looked at again now and then.
        const DWORD slice = static_cast<DWORD>(deadline - now < kLongestPollMs ? deadline - now : kLongestPollMs);
        if (notified)
            ::WaitForSingleObject(changed, slice);
        else
            ::Sleep(slice < kShortestPollMs ? slice : kShortestPollMs);
    }
}

bool SplitServiceKeyPath(const std::wstring& path, std::wstring& controlSet, std::wstring& name)
{
    const std::vector<std::wstring> names = Names(path);
    if (names.size() != 4 || !SameName(names[0], L"SYSTEM") || !SameName(names[2], L"Services") || names[3].empty())
        return FALSE;
    if (!SameName(names[1], L"CurrentControlSet") && ControlSetNumber(names[1]) == 0)
        return FALSE;
    controlSet = names[0] + L"\\" + names[1];
    name = names[3];
    return TRUE;
}

bool IsCurrentControlSet(const std::wstring& controlSet)
{
    // Another installation's control sets are no running system's: its services are keys.
    if (OfflineActive())
        return FALSE;
    const std::vector<std::wstring> names = Names(controlSet);
    if (names.size() != 2)
        return FALSE;
    const std::wstring current = CurrentControlSetName();
    return SameName(names[1], L"CurrentControlSet") || (!current.empty() && SameName(names[1], current.c_str()));
}

bool ServiceCannotStop(const std::wstring& name)
{
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CServiceHandle service(manager ? ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    return service && ::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           !(status.dwControlsAccepted & SERVICE_ACCEPT_STOP);
}
