// Giving back what one removal pass took, from its backup: the keys and values of the .reg file
// (through the registry functions, name by name, never through a link), its registry links, the
// list entries it removed (only those, in their old place, and only while their driver's service
// key exists), and the files of its files folder, each checked against the manifest's SHA-256.
// Deletions the pass left to the next restart are taken back first.
#pragma once
#include <windows.h>
#include "backup/Outcome.h"
#include "../framework/Handles.h"
#include <functional>
#include <string>
#include <vector>

struct RestoredItem
{
    const char* kind;     // the record's kind: "key", "filterEntry", "providerOrderEntry", "link", "folder", "file"
    std::wstring path;    // a key's path, a list's path, a file's path
    std::wstring entry;   // a list's entry
    Outcome outcome = Outcome::Restored;
    std::wstring why;     // why it is not back
};

// One item of a restore, for `told`.
RestoredItem RestoredItemOf(const char* kind, const std::wstring& path, Outcome outcome = Outcome::Restored,
                  const std::wstring& why = std::wstring());

class CRestore
{
public:
    // Reads the backup and, when there is one, the manifest of its files folder; FALSE (with why)
    // when it is no backup this program wrote or cannot be read whole. Nothing changes here.
    bool Open(const std::wstring& backupPath, std::wstring& why);
    // Puts everything back; `told` for each item once it is back or known not to be.
    void Run(const std::function<void(const RestoredItem&)>& told);

    struct Value
    {
        std::wstring name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    struct Section
    {
        std::wstring path;            // the key's full path
        std::vector<Value> values;
        bool listOnly = false;        // it held only lists whose entries go back one by one
    };
    struct Link
    {
        std::wstring path, target;
        bool recorded = false;  // it lies in a tree a removal of this backup took
    };
    struct EntryNote
    {
        std::wstring entry, listPath;  // the list's full path (key and value name)
        size_t index = 0;
        Value before;                  // the whole list as the backup holds it
    };
    // What the backup holds, in its order.
    const std::vector<Section>& Sections() const { return m_sections; }
    const std::vector<EntryNote>& EntryNotes() const { return m_notes; }

private:
    bool Parse(const std::wstring& text, std::wstring& why);
    void RestoreKeys(const std::function<void(const RestoredItem&)>& told);
    void RestoreEntries(const std::function<void(const RestoredItem&)>& told);
    void RestoreFiles(const std::function<void(const RestoredItem&)>& told);

    std::wstring m_backup;
    CHandle m_held, m_filesFolder, m_manifest;  // held from their check to the end of the restore
    std::vector<Section> m_sections;
    std::vector<Link> m_links;
    std::vector<EntryNote> m_notes;
    bool m_hasManifest = false;
    bool m_hasFiles = false;       // the backup says it holds files
    std::wstring m_identity;       // the installation it was taken from
    std::wstring m_finding;        // the finding whose sections are being read
};

// Parses one value line of the export format ("name"=data, @=data); FALSE when it is none.
bool ParseRegValue(const std::wstring& line, CRestore::Value& value);
