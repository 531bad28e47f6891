// Findings list: one removal command per entry, a full registry path and its kind.
#pragma once
#include "Constants.h"

const char kKindKey = 'K';    // the path names a key, removed with its whole subtree
const char kKindValue = 'V';  // the path names a value: key path, backslash, value name

struct CmdListEntry
{
    CmdListEntry* next;
    // The exact path as the registry spells it, in UTF-16, so that removal addresses exactly
    // the key that was found, whatever letters its names hold.
    wchar_t path[kPathChars];
    char kind;
};

// Appends a zeroed entry behind the last one (or as the head) and returns it. When no memory
// is left the process ends with kExitOutOfMemory.
CmdListEntry* CmdListAppend(CmdListEntry** head);
// The entry at a 0-based index; the head for index 0 or less; null past the end.
CmdListEntry* CmdListGetAt(CmdListEntry* head, int index);
// Frees every entry and sets the head to null.
void CmdListFree(CmdListEntry** head);
