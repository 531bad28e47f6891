// What a backup holds, read back for a restore: per finding, the kind that removed it and the
// sections, registry links and removed list entries its removal wrote; and what a restore says
// about each thing it gives back.
#pragma once
#include <windows.h>
#include "Outcome.h"
#include "../registry/RegFile.h"
#include <functional>
#include <string>
#include <vector>

struct RestoredItem
{
    const char* kind;     // the record's kind: "key", "filterEntry", "providerOrderEntry", "link", "folder", "file", ...
    std::wstring path;    // a key's path, a list's path, a file's path
    std::wstring entry;   // a list's entry
    Outcome outcome = Outcome::Restored;
    std::wstring why;     // why it is not back
};
using RestoreTold = std::function<void(const RestoredItem&)>;

// One item of a restore, for `told`.
RestoredItem RestoredItemOf(const char* kind, const std::wstring& path, Outcome outcome = Outcome::Restored,
                            const std::wstring& why = std::wstring());

struct RestoreSection
{
    std::wstring path;  // the key's full path
    std::vector<RegValue> values;
    bool listOnly = false;  // it held only lists whose entries go back one by one
};
struct RestoreLink
{
    std::wstring path, target;
    bool recorded = false;  // it lies in a tree the removal of its finding took
};
struct RestoreEntryNote
{
    std::wstring entry, listPath;  // the list's full path (key and value name)
    size_t index = 0;
    RegValue before;               // the whole list as the backup holds it
};

// What one finding's removal wrote, in the backup's order.
struct RestoreBlock
{
    std::string kind;      // the record name of the kind that removed it
    std::wstring finding;  // its path
    std::vector<RestoreSection> sections;
    std::vector<RestoreLink> links;
    std::vector<RestoreEntryNote> notes;
};

struct BackupContents
{
    std::wstring identity;  // the installation it was taken from; empty when it does not say
    bool hasFiles = false;  // it says it holds files
    std::vector<RestoreBlock> blocks;
};

// Makes the blocks of a parsed backup. Sections before any kind note (a backup of an older
// version) belong to the key kind, their removed entries to the filter list's or the provider
// order's kind by the list they name.
BackupContents ContentsOf(const std::vector<RegFileItem>& items);

// What a kind's restore is given besides its blocks.
struct RestoreContext
{
    bool offline;  // the backup is of another installation, open offline
};
