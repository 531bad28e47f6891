// Fixed buffer sizes and fixed texts of the program, in one place.
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

// Texts the program holds itself; everything else comes from the language library.
const char kTextCouldNotFindFile[] = "Couldn't find file: ";
const char kTextErrorCaption[] = "Error!";
const char kTextEventFailed[] = "Error: Event failed!";
const char kColumnKey[] = "Key";
const char kColumnType[] = "Typ";
const char kColumnRootKey[] = "HKey";
// One instance per machine, whichever session or account starts it (a run as SYSTEM and an
// administrator's window must not remove at the same time).
const char kMutexName[] = "Global\\VelmoraKlarner";

// Exit codes of an unattended run; the windowed mode always ends with 0. Where Windows
// has a code for the situation, it is that one, so that deployment tools read it right.
const int kExitClean = 0;               // nothing found, or every finding removed
const int kExitFindingsRemain = 1;      // findings only listed (no /del), or a removal failed
const int kExitOutOfMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY: a finding could not be recorded
const int kExitBadUsage = 87;           // ERROR_INVALID_PARAMETER: bad command line, nothing done
const int kExitReportNotOpened = 110;   // ERROR_OPEN_FAILED: no report, so nothing was removed
const int kExitNoLanguageLibrary = 126; // ERROR_MOD_NOT_FOUND: no language library beside the program
const int kExitNotAdministrator = 740;  // ERROR_ELEVATION_REQUIRED
const int kExitInternalError = 1359;    // ERROR_INTERNAL_ERROR: an unexpected failure ended the run
const int kExitAlreadyRunning = 1618;   // ERROR_INSTALL_ALREADY_RUNNING: another instance, try later
