// The record of an unattended run, for the tools that look after many machines: a JSON file
// (or standard output) that a collector reads whole or not at all, and one summary line, the
// last on standard output, that a fleet console can show per device.
#pragma once
#include <windows.h>
#include "../engine/search/CmdList.h"
#include "../engine/backup/Outcome.h"
#include "../framework/Handles.h"
#include <string>
#include <vector>

struct RecordedFinding
{
    std::string kind;        // its kind's name in the record ("key", "class", "filterEntry")
    std::wstring path;       // the exact path; for a list's entry, that of its list
    std::wstring entry;      // a list's entry
    std::wstring keyword;    // the keyword that matched
    std::wstring reason;     // its evidence beside its name (a finding by reference)
    Outcome status;
    std::wstring why;        // why it stays, when it failed or was refused
    bool measured = false;   // a file or folder: its size in bytes and how many files it held
    unsigned long long size = 0;
    unsigned long fileCount = 0;

    // A finding as its kind records it, with what became of it.
    static RecordedFinding Of(const CmdListEntry& finding, Outcome status, const std::wstring& why = std::wstring());
};

class CRunRecord
{
public:
    CRunRecord();

    // Where the record goes: a file's full path, or "-" for standard output. The file is written
    // as a temporary file beside it (a new file under a name nobody can guess) and renamed into
    // place at the end; this opens that file (or checks that there is a standard output). FALSE
    // when it cannot be: not a file on a disk, no folder, a folder or link at the path.
    BOOL Open(const std::wstring& where);
    // The files it writes: the record and its temporary file ("-" writes none).
    std::vector<std::wstring> Files() const;
    BOOL Wanted() const { return !m_where.empty(); }
    const std::wstring& Where() const { return m_where; }

    void SetMode(bool remove) { m_mode = remove ? "remove" : "detect"; }
    // "restore": a run that gives back what a removal pass took.
    void SetModeName(const char* mode) { m_mode = mode; }
    void SetRoot(const std::string& root) { m_root = root; }
    void SetKeywords(const std::vector<std::wstring>& keywords) { m_keywords = keywords; }
    void SetReport(const std::wstring& path) { m_report = path; }
    // The Windows folder of the other installation the run searched (/offline).
    void SetOffline(const std::wstring& windowsFolder) { m_offline = windowsFolder; }
    // The backup a restore gave back.
    void SetRestoredFrom(const std::wstring& path) { m_restoredFrom = path; }
    void AddBackup(const std::wstring& path);
    void AddFinding(const RecordedFinding& finding) { m_findings.push_back(finding); }
    void AddUnreadable(const std::wstring& path, bool inMatch) { m_unreadable.push_back({ path, inMatch }); }
    // Whether the run (or, for a detection, removing what it found) needs a restart to finish,
    // and why.
    void SetRestart(bool required, const std::vector<std::wstring>& reasons)
    {
        m_restartRequired = required;
        m_restartReasons = reasons;
    }
    // The deletions and renames Windows had pending for its next start before the run, and how
    // many of them lie in the product's places.
    void SetPendingBefore(int count, int inProductPlaces)
    {
        m_pendingBefore = count;
        m_pendingInProduct = inProductPlaces;
    }
    // What one kind of leftover did in the search: "ran", "unavailable" (and why) or "skipped".
    void AddCheck(const std::string& kind, const char* state, const std::wstring& why);

    // Writes the whole record with its exit code; FALSE when it could not be written whole.
    BOOL Finish(int exitCode);
    // One line of printable ASCII, shorter than 2,048 characters: the counts, the exit code, and
    // where the report and the backup are.
    std::string SummaryLine(int exitCode) const;

    // The text of the record (UTF-8 JSON), for the exit code given.
    std::string Text(int exitCode) const;

private:
    struct Unreadable
    {
        std::wstring path;
        bool inMatch;
    };
    struct Check
    {
        std::string kind;
        std::string state;
        std::wstring why;
    };
    int Count(Outcome status) const;

    std::wstring m_where;
    std::wstring m_temporary;
    CHandle m_file;
    SYSTEMTIME m_started;
    std::string m_mode = "detect";
    bool m_restartRequired = false;
    std::vector<std::wstring> m_restartReasons;
    int m_pendingBefore = -1;  // not known
    int m_pendingInProduct = 0;
    std::string m_root;
    std::vector<std::wstring> m_keywords;
    std::wstring m_report;
    std::wstring m_restoredFrom;
    std::wstring m_offline;
    std::vector<std::wstring> m_backups;
    std::vector<RecordedFinding> m_findings;
    std::vector<Unreadable> m_unreadable;
    std::vector<Check> m_checks;
};
