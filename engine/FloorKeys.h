// The floor: system keys that no keyword can reach. They never count as a match, are never
// recorded and never removed, and neither is any key that holds one of them.
#pragma once
#include <windows.h>

// `fullPath` begins with the root key's full name; letter case does not matter.
BOOL IsFloorKey(const wchar_t* fullPath);
