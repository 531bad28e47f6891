// Fixed buffer sizes and fixed texts of the program, in one place.
#pragma once

// Registry paths and report lines: 512 characters including the terminating zero.
const int kPathChars = 512;
// Key name offered to RegEnumKeyExA during the search.
const int kSearchNameChars = 256;
// Working path and subkey name buffers of a key tree removal.
const int kDeletePathChars = 520;
const int kDeleteNameChars = 260;
// One keyword, and the keyword text window that is split.
const int kKeywordChars = 32;
const int kKeywordTextChars = 256;
// The worker thread's copy of the keyword list.
const int kWorkerKeywordBytes = 512;

// Default keyword list: our company's present and former names, the product line and its
// components (file-system and network drivers, services, tray program, shell extension).
const char kDefaultKeywords[] =
    "velmora,nordhavn data,vigilo+,vigilo total,vmfilter,vmnetmon,vm-scansvc,vmguardsvc,vmtray,"
    "vm-shellext,vigilo context scan";

// Protected areas: keys whose lowercased full path contains one of these are never recorded.
const char kProtectedMonitoring[] = "security center\\monitoring";
const char kProtectedLegacy[] = "legacy";

// The tray program's start-up value in the machine-wide Run key.
const char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kTrayValueName[] = "vmtray";
const char kTrayValueFinding[] = "HKEY_LOCAL_MACHINE\\software\\microsoft\\windows\\currentversion\\run\\vmtray";

// Texts the program holds itself; everything else comes from the language library.
const char kTextCouldNotFindFile[] = "Couldn't find file: ";
const char kTextErrorCaption[] = "Error!";
const char kTextEventFailed[] = "Error: Event failed!";
const char kColumnKey[] = "Key";
const char kColumnType[] = "Typ";
const char kColumnRootKey[] = "HKey";
const char kMutexName[] = "VelmoraKlarner";
