// Fixed sizes and texts of the cleaning engine, in one place.
#pragma once
#include <windows.h>

// Registry paths (in UTF-16 characters) and report lines: 512 including the terminating zero.
const int kPathChars = 512;
// Key name offered to RegEnumKeyExW during the search: a registry key name has at most 255.
const int kSearchNameChars = 256;
// Working path of a key tree removal (UTF-16 characters below the root key).
const int kDeletePathChars = 520;
// One keyword, and the keyword text window that is split.
const int kKeywordChars = 32;
const int kKeywordTextChars = 256;
// The worker thread's copy of the keyword list.
const int kWorkerKeywordBytes = 512;
// Search threads: one per core, never more than this.
const int kMaxSearchThreads = 8;

// Default keyword list: our company's present and former names, the product line and its
// components (file-system and network drivers, services, tray program, shell extension).
const char kDefaultKeywords[] =
    "velmora,nordhavn data,vigilo+,vigilo total,vmfilter,vmnetmon,vm-scansvc,vmguardsvc,vmtray,"
    "vm-shellext,vigilo context scan";

// Protected areas: keys whose lowercased full path contains one of these are never recorded.
const wchar_t kProtectedMonitoring[] = L"security center\\monitoring";
const wchar_t kProtectedLegacy[] = L"legacy";

// The tray program's start-up value in the machine-wide Run key.
const wchar_t kRunKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kTrayKeyword[] = "vmtray";
const wchar_t kTrayValueName[] = L"vmtray";
const wchar_t kTrayValueFinding[] = L"HKEY_LOCAL_MACHINE\\software\\microsoft\\windows\\currentversion\\run\\vmtray";
