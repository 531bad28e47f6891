// Fixed texts, names and exit codes of the application shell.
#pragma once

// Texts start-up shows before (or without) a language library; everything else comes from it.
const char kTextCouldNotFindFile[] = "Couldn't find file: ";
const char kTextErrorCaption[] = "Error!";
// One instance per machine, whichever session or account starts it (a run as SYSTEM and an
// administrator's window must not remove at the same time). The session's own name is taken as
// well: callers that look for a running program by it see this one, and one of theirs is seen.
const char kMutexName[] = "Global\\VelmoraKlarner";
const char kSessionMutexName[] = "VelmoraKlarner";

// Exit codes of an unattended run; the windowed mode always ends with 0. Where Windows
// has a code for the situation, it is that one, so that deployment tools read it right.
const int kExitClean = 0;               // nothing found, or every finding removed
const int kExitFindingsRemain = 1;      // findings only listed (no /del), or a removal failed
const int kExitOutOfMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY: the run ended early
const int kExitBadUsage = 87;           // ERROR_INVALID_PARAMETER: bad command line, nothing done
const int kExitReportNotOpened = 110;   // ERROR_OPEN_FAILED: no report, so nothing was removed
const int kExitNoLanguageLibrary = 126; // ERROR_MOD_NOT_FOUND: no language library beside the program
const int kExitNotAdministrator = 740;  // ERROR_ELEVATION_REQUIRED
const int kExitInternalError = 1359;    // ERROR_INTERNAL_ERROR: an unexpected failure ended the run
const int kExitAlreadyRunning = 1618;   // ERROR_INSTALL_ALREADY_RUNNING: another instance, try later
const int kExitRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED: done, a service goes at restart
