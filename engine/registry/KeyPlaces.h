// Where a key lies, as a walk down from a root key meets it: on the way to the device filter
// lists of the running control set, or to the places that name files and programs in their data
// (class registrations, type libraries, interfaces, uninstall entries, shell-extension
// approvals). A key's place follows from its parent's place and its own name alone.
#pragma once
#include <windows.h>
#include <string>

enum KeyPlace : unsigned char
{
    kNoPlace,
    // HKEY_LOCAL_MACHINE\SYSTEM\<current control set>\Control\Class\<class> and
    // ...\Enum\<enumerator>\<device>\<instance> hold device filter lists.
    kMachineRoot,
    kSystemKey,
    kControlSetKey,
    kControlKey,
    kDeviceClassesKey,
    kDeviceClassKey,
    kEnumKey,
    kEnumeratorKey,
    kDeviceKey,
    kInstanceKey,
    // A hive's software root, a user's hive, and HKEY_USERS itself.
    kSoftwareKey,
    kUserHive,
    kUsersRoot,
    // A place where classes are registered (HKEY_CLASSES_ROOT, the Classes keys, a user's _Classes
    // hive, and the 32-bit Wow6432Node inside each), and what it holds.
    kClassPlace,
    kClsidContainer,
    kComClass,
    kServerKey,         // InprocServer32, LocalServer32 or InprocHandler32: a file
    kTypeLibContainer,
    kTypeLib,
    kTypeLibVersion,
    kTypeLibLocale,
    kTypeLibFile,       // win32 or win64: a file
    kInterfaceContainer,
    kInterface,
    kProxyKey,          // ProxyStubClsid32 (or ProxyStubClsid): a class
    // <software>\Microsoft\Windows\CurrentVersion\Uninstall\<entry> and ...\Shell Extensions\Approved.
    kSoftwareMicrosoft,
    kSoftwareWindows,
    kCurrentVersion,
    kUninstallContainer,
    kUninstallEntry,
    kShellExtensions,
    kApprovedKey,
    // <software>\Microsoft\Windows\CurrentVersion\Run and RunOnce, and the approvals of what they
    // start (...\Explorer\StartupApproved\Run and Run32): values.
    kRunKey,
    kExplorerKey,
    kStartupApproved,
    kApprovedRunKey,
    // What names a class: <software>\Microsoft\AMSI\Providers, ...\Authentication\Credential
    // Providers and Credential Provider Filters, ...\Explorer\ShellServiceObjects and Browser
    // Helper Objects (keys named after the class), ...\Explorer\ShellIconOverlayIdentifiers
    // (keys whose default value is the class), and the ContextMenuHandlers and
    // PropertySheetHandlers below any key of a class place.
    kAmsiKey,
    kAuthenticationKey,
    kHandlerContainer,
    kHandlerEntry,
    kOverlayContainer,
    kOverlayEntry,
    kProgId,
    kShellex,
    kShellHandlerContainer,
    kShellHandler,
    // SYSTEM\<control set>\Services: each service's key and its Parameters, and the event log's
    // sources (Services\EventLog\<log>\<source>).
    kServicesKey,
    kServiceKey,
    kServiceParameters,
    kEventLogKey,
    kEventLog,
    kEventSource,
    kPlaceCount
};

// The place of a root key itself (kNoPlace: nothing the walk reads lies below it).
KeyPlace RootPlace(HKEY root);
// The place of the subkey `name` of a key in `parent`. `currentSet` names the control set the
// system runs on ("ControlSet001"); a key named "CurrentControlSet" always counts too.
KeyPlace NextPlace(KeyPlace parent, const std::wstring& name, const std::wstring& currentSet);
