// Findings list: one removal command per entry, a full registry path and its kind.
#pragma once
#include "Constants.h"

const char kKindKey = 'K';    // the path names a key, removed with its whole subtree
const char kKindValue = 'V';  // the path names a value: key path, backslash, value name
const char kKindFilterEntry = 'F';  // one entry of a device filter list (see FilterLists.h)

struct CmdListEntry
{
    CmdListEntry* next;
    // The exact path as the registry spells it, in UTF-16, so that removal addresses exactly
    // the key that was found, whatever letters its names hold.
    wchar_t path[kPathChars];
    char kind;
    // A finding by reference (References.h): what made it one and which value named what; zero
    // and empty for a finding by its name.
    char source;
    wchar_t reason[kPathChars];
    // The keyword that matched: in the name, a list's entry, or the data a reference named.
    wchar_t keyword[kKeywordChars];
};

// Appends a zeroed entry behind the last one (or as the head) and returns it. When no memory
// is left it prints "ERROR: malloc()" and calls the handler below, which does not return.
CmdListEntry* CmdListAppend(CmdListEntry** head);
// What happens then. By default the process ends (with 0: the window's exit code); an
// unattended run sets a handler that throws std::bad_alloc, so that it can record the failure
// in its report and end with its own code.
typedef void (*CmdListNoMemoryHandler)();
void CmdListSetNoMemoryHandler(CmdListNoMemoryHandler handler);
// The entry at a 0-based index; the head for index 0 or less; null past the end.
CmdListEntry* CmdListGetAt(CmdListEntry* head, int index);
// Frees every entry and sets the head to null.
void CmdListFree(CmdListEntry** head);
