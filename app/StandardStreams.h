// The unattended run's words to its starter: standard output and error, which a GUI program has
// only when its starter gave it them (a redirection, or a tool that captures the output); then
// each text goes there as one line, else nowhere. And the mode in which no box ever shows.
#pragma once
#include <windows.h>

// An unattended run shows no box of any kind: the system's ("no disk in drive"), the C
// runtime's and crash boxes all wait for a click nobody gives. Unexpected failures go to
// standard error and end the process with kExitInternalError.
void EnterUnattendedMode();
void WriteStandardError(const char* text);
void WriteStandardOutput(const char* text);
// Bad usage: the reason (string `reasonId` followed by `what`) and the usage on standard error.
void WriteUsageRefusal(UINT reasonId, const char* what);
