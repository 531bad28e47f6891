// Services through the service manager: a service key deleted behind its back leaves a
// service it still lists, and may still run, until the next restart.
#pragma once
#include <windows.h>
#include <string>

#include "../../framework/Handles.h"

enum ServiceRemoval
{
    kServiceNotKnown,            // the service manager knows no such service
    kServiceDeleted,             // deleted, or marked for deletion (see below)
    kServiceDeletedAtRestart,    // marked for deletion already: it still runs, or a handle is open
    kServiceNotDeleted,          // the service manager refused (no rights, or it failed)
};

struct ServiceHandleTraits
{
    typedef SC_HANDLE Type;
    static bool Holds(SC_HANDLE handle) { return handle != nullptr; }
    static void Free(SC_HANDLE handle) { ::CloseServiceHandle(handle); }
};
typedef CResourceOwner<ServiceHandleTraits> CServiceHandle;

// How long a running service is given to stop before it is only marked for deletion.
const DWORD kServiceStopWaitMs = 30000;
// How long the service manager is given to delete the key of a service that has stopped: it does
// so once the service's process has let go of it.
const DWORD kServiceKeyWaitMs = 5000;

// Opens the service to stop and delete it: kServiceDeleted (that is, "go on") with `service`
// open, or why not.
ServiceRemoval OpenKnownService(const std::wstring& name, CServiceHandle& service);
// Stops the service if it runs (waiting at most `stopWaitMs`), then deletes it; a service that
// would not stop is marked for deletion. `stopped` says whether it is stopped now. Whether its key
// is gone is for the caller to see once the handle is closed: the manager deletes it when the
// service has stopped and no handle is left.
ServiceRemoval StopAndDeleteService(SC_HANDLE service, DWORD stopWaitMs, BOOL& stopped);
// Whether the service runs now and would not accept a stop: deleting it would leave it marked
// for deletion until the next restart.
bool ServiceCannotStop(const std::wstring& name);
// Waits at most `waitMs` for the key at `path` below `root` to be gone, on the registry's word
// that something below its parent changed; whether it is gone.
bool WaitUntilKeyGone(HKEY root, const std::wstring& path, DWORD waitMs);

// A service key's path below HKEY_LOCAL_MACHINE ("SYSTEM\<control set>\Services\<name>", any
// control set): the control set and the service's name; FALSE for any other path.
bool SplitServiceKeyPath(const std::wstring& path, std::wstring& controlSet, std::wstring& name);
// Whether `controlSet` ("SYSTEM\CurrentControlSet" or "SYSTEM\ControlSetNNN") is the one the
// running system uses, the only one the service manager keeps; never while another installation
// is open (Offline.h).
bool IsCurrentControlSet(const std::wstring& controlSet);
