// The floor: system keys that no keyword can reach. They never count as a match, are never
// recorded and never removed, and neither is any key that holds one of them.
#pragma once
#include <windows.h>
#include <string>

// `fullPath` begins with the root key's full name; letter case does not matter.
bool IsFloorKey(const wchar_t* fullPath);
// Beyond the floor, the protected areas: a key whose full path holds "legacy" or "security
// center\monitoring" (any letter case) is never recorded, and never read for data either.
bool IsProtectedPath(const std::wstring& fullPath);
// Whether a trace session Windows starts at boot (Control\WMI\Autologger\<name>) is one Windows
// itself brings: the event logs' sessions, its diagnostics, setup and networking sessions.
bool IsWindowsTraceSession(const std::wstring& name);
