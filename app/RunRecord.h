// The record of an unattended run, for the tools that look after many machines: a JSON file
// (or standard output) that a collector reads whole or not at all, and one summary line, the
// last on standard output, that a fleet console can show per device.
#pragma once
#include <windows.h>
#include "../framework/Handles.h"
#include <string>
#include <vector>

// What became of one finding, as the record names it.
enum RecordStatus
{
    kStatusListed,
    kStatusRemoved,
    kStatusRemovedAtRestart,
    kStatusFailed,
    kStatusRefused,
};

struct RecordedFinding
{
    char kind;               // the findings list's letter: 'K', 'V' or 'F'
    char source;             // what made it a finding beside its name (References.h), or 0
    std::wstring path;       // the exact path; for a filter-list entry, that of its list
    std::wstring entry;      // a filter-list entry's text
    std::wstring keyword;    // the keyword that matched
    std::wstring reason;     // a finding by reference: which value named what
    RecordStatus status;
};

class CRunRecord
{
public:
    CRunRecord();

    // Where the record goes: a file's full path, or "-" for standard output. The file is written
    // as a temporary file beside it and renamed into place at the end; this opens that file (or
    // checks that there is a standard output). FALSE when it cannot be opened.
    BOOL Open(const std::wstring& where);
    BOOL Wanted() const { return !m_where.empty(); }

    void SetMode(bool remove) { m_remove = remove; }
    void SetRoot(const std::string& root) { m_root = root; }
    void SetKeywords(const std::vector<std::wstring>& keywords) { m_keywords = keywords; }
    void SetReport(const std::wstring& path) { m_report = path; }
    void AddBackup(const std::wstring& path);
    void AddFinding(const RecordedFinding& finding) { m_findings.push_back(finding); }
    void AddUnreadable(const std::wstring& path, bool inMatch) { m_unreadable.push_back({ path, inMatch }); }

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
    int Count(RecordStatus status) const;

    std::wstring m_where;
    std::wstring m_temporary;
    CHandle m_file;
    SYSTEMTIME m_started;
    bool m_remove = false;
    std::string m_root;
    std::vector<std::wstring> m_keywords;
    std::wstring m_report;
    std::vector<std::wstring> m_backups;
    std::vector<RecordedFinding> m_findings;
    std::vector<Unreadable> m_unreadable;
};
