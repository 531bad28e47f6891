// Findings list: one removal command per entry, a full registry path and its kind.
#pragma once
#include "../registry/Constants.h"

const char kKindKey = 'K';    // the path names a key, removed with its whole subtree
const char kKindValue = 'V';  // the path names a value: key path, backslash, value name
const char kKindFilterEntry = 'F';  // one entry of a device filter list (see FilterLists.h)

class ILeftoverKind;

struct CmdListEntry
{
    CmdListEntry* next;
    // The exact path as the registry spells it, in UTF-16, so that removal addresses exactly
    // the key that was found, whatever letters its names hold.
    wchar_t path[kPathChars];
    char kind;
    // The kind of leftover that made it (kinds/LeftoverKind.h); null for an entry made by hand,
    // whose letter then says its kind.
    const ILeftoverKind* owner;
    // The evidence beside its name (a finding by reference: which value named what); empty for
    // a finding by its name.
    wchar_t reason[kPathChars];
    // The keyword that matched: in the name, a list's entry, or the data a reference named.
    wchar_t keyword[kKeywordChars];
    // For a file or folder: the bytes and the number of files it held when it was found.
    unsigned long long size;
    unsigned long fileCount;
    // A finding by its name (a key the walk found, the tray program's value): its report line is
    // its path alone, whatever reason the list and the record show.
    bool reportPathOnly;
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

// Owns a findings list: it is freed however its holder's scope ends.
class CFindingsList
{
public:
    CFindingsList() {}
    ~CFindingsList() { CmdListFree(&m_head); }
    CFindingsList(const CFindingsList&) = delete;
    CFindingsList& operator=(const CFindingsList&) = delete;
    CmdListEntry* Get() const { return m_head; }
    // Frees what it held and takes `head` over.
    void Reset(CmdListEntry* head)
    {
        if (head != m_head)
            CmdListFree(&m_head);
        m_head = head;
    }

private:
    CmdListEntry* m_head = nullptr;
};
