// What became of one finding: the one outcome type that the engine, the report, the window and
// the JSON record share.
#pragma once
#include <windows.h>
#include <string>

enum class Outcome
{
    Listed,            // found and left alone: a detection run, or not ticked
    Removed,
    RemovedAtRestart,  // goes at the next restart (a service marked for deletion)
    Failed,            // could not be read, backed up or removed
    Refused,           // left in place on purpose: removing it would break Windows (or, for a
                       // restore, putting it back would)
    Restored,          // a restore put it back
};

// The record's name of an outcome ("listed", "removedAtRestart", ...).
const char* OutcomeName(Outcome outcome);
// Why a finding that failed stays, in words, when its kind says nothing more precise.
const char* DefaultWhy(Outcome outcome);

// The result of one removal: its outcome, why (in words, for the record) and, for the window,
// the message that explains it once per pass (0: the general one for a failure).
struct RemovalResult
{
    Outcome outcome = Outcome::Failed;
    std::wstring why;
    UINT windowMessage = 0;
    // What the administrator can do about it, for the report's line and the record.
    std::wstring advice;
};
