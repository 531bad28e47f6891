// Putting keys back from a backup: name by name through the registry functions, never through a
// registry link, a value someone set since the removal left as it is, and a registry link only
// where the removal of its finding recorded one.
#pragma once
#include <windows.h>
#include "RestoreBlock.h"
#include "../registry/RegKey.h"
#include <functional>

// Creates (or opens) the key at `fullPath` one name at a time, never through a registry link;
// another installation's hive that is not loaded now is never made as a key of that name.
LONG CreateKeyExact(const std::wstring& fullPath, CRegKeyOwner& key);
// Writes a value and reads it back; false unless it reads back as written.
bool SetAndCheck(HKEY key, const RegValue& value);
// A block's key trees (one item per tree, its first failure as its why), then its links.
void RestoreKeyTrees(const RestoreBlock& block, const RestoreTold& told);

// Where a list entry goes back: its list's key, opened, and the list as it is now. The driver
// (or provider) it names must have its service key first: a list naming a missing driver stops
// the device (a disk, a keyboard) at the next start, and a provider order would name a provider
// that is not there. False, with `item` said, when it cannot go.
struct ListNow
{
    CRegKeyOwner key;
    std::wstring valueName;
    LONG read = ERROR_FILE_NOT_FOUND;  // reading the list: ERROR_FILE_NOT_FOUND when there is none
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
bool OpenListForEntry(const RestoreEntryNote& note, RestoredItem& item, ListNow& list, const RestoreTold& told);
// The entry notes of `blocks`, by list and then by their old place, so that each goes back
// where it stood.
std::vector<RestoreEntryNote> EntryNotesInOrder(const std::vector<const RestoreBlock*>& blocks);
// Puts the entry notes of `blocks` back one by one, in order: `entered` makes the list's new value
// from the list as it is now (false, with `item` said, when the entry is back already or cannot
// go); the value is written and read back, and each item told. An entry that stays out moves the
// later ones of its list up a place, so that each goes back between the names it stood between.
void RestoreListEntries(const std::vector<const RestoreBlock*>& blocks, const char* kind, const RestoreTold& told,
                        const std::function<bool(const RestoreEntryNote&, const ListNow&, RestoredItem&, RegValue&)>& entered);
