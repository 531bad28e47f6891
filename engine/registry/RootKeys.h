// The five predefined root keys by full name; their order is also the root-key slot order.
#pragma once
#include <windows.h>
#include "../../framework/CString.h"
#include <string>

const int kRootKeyCount = 5;
// The slot of HKEY_LOCAL_MACHINE, whose search also checks the tray program's start-up value.
const int kMachineSlot = 2;

// Exact, case-sensitive look-up; any other text yields HKEY_LOCAL_MACHINE.
HKEY HkeyFromName(CString name);
// The root key's full name; any other handle yields the empty string.
CString HkeyName(HKEY hKey);
// Name and handle of slot 0 to 4.
const char* RootKeyNameAt(int slot);
HKEY RootKeyAt(int slot);
// The full name for a root key name in any letter case or its usual abbreviation (HKCR, HKCU,
// HKLM, HKU, HKCC); empty for any other text.
CString CanonicalRootKeyName(const char* text);

// A finding's full path split: the root key its first name names (HKEY_LOCAL_MACHINE for any
// other text, as HkeyFromName) and, in `below`, the rest after the backslash (empty without one).
HKEY SplitFullPath(const std::wstring& fullPath, std::wstring& below);
// The root key's full name, a backslash and `below`.
std::wstring FullPath(HKEY root, const std::wstring& below);

// A root-key slot holds the predefined handle's 32-bit value (0x80000000 and up) or 0.
// Predefined handles are sign-extended on 64-bit Windows, so the conversions go through LONG.
typedef DWORD RootKeySlot;
inline HKEY HkeyFromSlot(RootKeySlot slot) { return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(slot))); }
inline RootKeySlot SlotFromHkey(HKEY hKey) { return static_cast<RootKeySlot>(reinterpret_cast<ULONG_PTR>(hKey)); }
