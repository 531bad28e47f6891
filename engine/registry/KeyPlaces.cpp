// Where a key lies, as a walk meets it.
#include "KeyPlaces.h"
#include <cwctype>

namespace {
bool Named(const std::wstring& name, const wchar_t* expected)
{
    return _wcsicmp(name.c_str(), expected) == 0;
}

bool EndsWith(const std::wstring& name, const wchar_t* tail)
{
    const size_t length = wcslen(tail);
    return name.size() >= length && _wcsicmp(name.c_str() + name.size() - length, tail) == 0;
}

// A type library's locale: a hexadecimal number (FLAGS and HELPDIR stand beside them).
bool IsLocale(const std::wstring& name)
{
    if (name.empty())
        return false;
    for (wchar_t c : name)
        if (!iswxdigit(c))
            return false;
    return true;
}
}

KeyPlace RootPlace(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return kMachineRoot;
    if (root == HKEY_CLASSES_ROOT)
        return kClassPlace;
    if (root == HKEY_CURRENT_USER)
        return kUserHive;
    if (root == HKEY_USERS)
        return kUsersRoot;
    return kNoPlace;
}

KeyPlace NextPlace(KeyPlace parent, const std::wstring& name, const std::wstring& currentSet)
{
    switch (parent) {
    case kMachineRoot: return Named(name, L"SYSTEM") ? kSystemKey : Named(name, L"SOFTWARE") ? kSoftwareKey : kNoPlace;
    case kSystemKey:
        return Named(name, L"CurrentControlSet") || (!currentSet.empty() && Named(name, currentSet.c_str()))
                   ? kControlSetKey
                   : kNoPlace;
    case kControlSetKey:
        return Named(name, L"Control") ? kControlKey
               : Named(name, L"Enum") ? kEnumKey
               : Named(name, L"Services") ? kServicesKey
                                          : kNoPlace;
    case kServicesKey: return Named(name, L"EventLog") ? kEventLogKey : kServiceKey;
    case kServiceKey: return Named(name, L"Parameters") ? kServiceParameters : kNoPlace;
    case kEventLogKey: return kEventLog;
    case kEventLog: return kEventSource;
    case kControlKey: return Named(name, L"Class") ? kDeviceClassesKey : kNoPlace;
    case kDeviceClassesKey: return kDeviceClassKey;
    case kEnumKey: return kEnumeratorKey;
    case kEnumeratorKey: return kDeviceKey;
    case kDeviceKey: return kInstanceKey;

    case kUsersRoot: return EndsWith(name, L"_Classes") ? kClassPlace : kUserHive;
    case kUserHive: return Named(name, L"Software") ? kSoftwareKey : kNoPlace;
    case kSoftwareKey:
        return Named(name, L"Classes") ? kClassPlace
               : Named(name, L"WOW6432Node") ? kSoftwareKey
               : Named(name, L"Microsoft") ? kSoftwareMicrosoft
                                           : kNoPlace;

    case kClassPlace:
        return Named(name, L"CLSID") ? kClsidContainer
               : Named(name, L"TypeLib") ? kTypeLibContainer
               : Named(name, L"Interface") ? kInterfaceContainer
               : Named(name, L"Wow6432Node") ? kClassPlace
               : Named(name, L"AppID") ? kNoPlace
                                       : kProgId;
    case kProgId: return Named(name, L"shellex") ? kShellex : kNoPlace;
    case kShellex:
        return Named(name, L"ContextMenuHandlers") || Named(name, L"PropertySheetHandlers") ? kShellHandlerContainer
                                                                                             : kNoPlace;
    case kShellHandlerContainer: return kShellHandler;
    case kClsidContainer: return kComClass;
    case kComClass:
        return Named(name, L"InprocServer32") || Named(name, L"LocalServer32") || Named(name, L"InprocHandler32")
                   ? kServerKey
                   : kNoPlace;
    case kTypeLibContainer: return kTypeLib;
    case kTypeLib: return kTypeLibVersion;
    case kTypeLibVersion: return IsLocale(name) ? kTypeLibLocale : kNoPlace;
    case kTypeLibLocale: return Named(name, L"win32") || Named(name, L"win64") ? kTypeLibFile : kNoPlace;
    case kInterfaceContainer: return kInterface;
    case kInterface: return Named(name, L"ProxyStubClsid32") || Named(name, L"ProxyStubClsid") ? kProxyKey : kNoPlace;

    case kSoftwareMicrosoft:
        return Named(name, L"Windows") ? kSoftwareWindows : Named(name, L"AMSI") ? kAmsiKey : kNoPlace;
    case kAmsiKey: return Named(name, L"Providers") ? kHandlerContainer : kNoPlace;
    case kSoftwareWindows: return Named(name, L"CurrentVersion") ? kCurrentVersion : kNoPlace;
    case kCurrentVersion:
        return Named(name, L"Uninstall") ? kUninstallContainer
               : Named(name, L"Shell Extensions") ? kShellExtensions
               : Named(name, L"Run") || Named(name, L"RunOnce") ? kRunKey
               : Named(name, L"Explorer") ? kExplorerKey
               : Named(name, L"Authentication") ? kAuthenticationKey
                                                : kNoPlace;
    case kAuthenticationKey:
        return Named(name, L"Credential Providers") || Named(name, L"Credential Provider Filters") ? kHandlerContainer
                                                                                                   : kNoPlace;
    case kExplorerKey:
        return Named(name, L"StartupApproved") ? kStartupApproved
               : Named(name, L"ShellIconOverlayIdentifiers") ? kOverlayContainer
               : Named(name, L"ShellServiceObjects") || Named(name, L"Browser Helper Objects") ? kHandlerContainer
                                                                                                : kNoPlace;
    case kStartupApproved: return Named(name, L"Run") || Named(name, L"Run32") ? kApprovedRunKey : kNoPlace;
    case kHandlerContainer: return kHandlerEntry;
    case kOverlayContainer: return kOverlayEntry;
    case kUninstallContainer: return kUninstallEntry;
    case kShellExtensions: return Named(name, L"Approved") ? kApprovedKey : kNoPlace;
    default: return kNoPlace;
    }
}
