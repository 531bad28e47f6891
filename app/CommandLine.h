// The command line: which switches an argument holds and their values.
//
// A switch is a "/" and a switch word, in any letter case, where an argument starts or right
// after a space inside an argument, and only as the whole word: "=", a space or the
// argument's end follows it ("/deltas" is no "/del"). A value follows the "=" and runs to the
// end of the argument or to the next space that is followed by a switch, so a value may hold
// "/" (paths written with forward slashes) and spaces.
#pragma once
#include "../framework/CString.h"

enum CommandSwitch
{
    kSwitchDel,
    kSwitchSilent,
    kSwitchKeywords,
    kSwitchHkey,
    kSwitchHelp,      // "/?" or "/help"
    kSwitchJson,      // "/json", "/json=path" or "/json=-"
    kSwitchRefs,      // "/refs": leftovers by reference too
    kSwitchRestore,   // "/restore=backup": gives back what one removal pass took
    kSwitchOffline,   // "/offline=Windows folder": another installation's hives
    kSwitchDangling,  // "/dangling": filter-list entries that name no driver at all
    kSwitchCount
};

// Values read from the command line.
struct CommandLineValues
{
    CString strFileName;  // value of /silent: the report path of an unattended run
    CString strKeyWords;  // value of /keywords
    CString strHkeyName;  // value of /hkey as a full root key name, empty unless it names one
    int silent = 0;       // 1 once a /silent switch was seen
    int remove = 0;       // 1 once a /del switch was seen
    int usage = 0;        // 1 once /? or /help was seen
    int json = 0;         // 1 once /json was seen
    int refs = 0;         // 1 once /refs was seen
    int restore = 0;      // 1 once /restore was seen
    CString strRestorePath;  // its value: the backup to give back
    int offline = 0;      // 1 once /offline was seen
    CString strOfflineFolder;  // its value: the offline installation's Windows folder
    int dangling = 0;     // 1 once /dangling was seen
    // The first switch seen beside /silent and /?, as given: the usage stands alone.
    CString otherSwitch;
    CString strJsonPath;  // its value: empty (beside the report), "-" (standard output) or a path
    // The first text that is no switch, or a switch given a value it takes none of (empty: none).
    CString badArgument;
    // The first switch given twice with different values (empty: none).
    CString conflictingSwitch;

    BOOL BadUsage() const { return !badArgument.IsEmpty() || !conflictingSwitch.IsEmpty(); }
};

// The switch whose word begins at `place` (a "/"), or -1; `wordEnd` receives where the word ends.
int SwitchAt(const char* place, const char** wordEnd = nullptr);
// The value of the switch at `place`: the text after the "=" that ends its word, up to the
// argument's end or the next space followed by a switch, with one trailing space removed.
// Empty when no "=" follows the word.
CString SwitchValue(const char* place);
// Reads arguments 1 to argc - 1.
void ParseCommandLine(int argc, const char* const argv[], CommandLineValues& values);
