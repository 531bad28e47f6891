// The cleaning engine: searches the selected root keys with the kinds of leftover the program
// knows (kinds/KindsTable.h) and removes single findings after backing them up.
#pragma once
#include <windows.h>
#include "../framework/CString.h"
#include "../framework/CStringArray.h"
#include "search/CmdList.h"
#include "registry/RootKeys.h"
#include "search/WalkResult.h"
#include "kinds/LeftoverKind.h"
#include <string>
#include <vector>

class CKeywords;
class CRegBackup;
class IReportLines;

class CKlarnEngine
{
public:
    CKlarnEngine();
    virtual ~CKlarnEngine();

    // Walks every selected root slot with the given keywords, lets every kind that looks in this
    // search decide its findings, writes the report's lines and returns the findings list
    // (ownership passes to the caller). `stopFlag` nonzero ends the walk early.
    CmdListEntry* Search(const CKeywords& keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys, IReportLines& report,
                         LONG* stopFlag);
    // The same from a keyword text, writing to a report someone else opened.
    CmdListEntry* ScanRegistry(const char* keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys, HANDLE hReport,
                               LONG* stopFlag);
    // Removes one finding of the kind `kind` names ('K' a key with its subtree, 'V' a value, 'F' a
    // filter list's entry) once what it holds is in the backup; TRUE when it is gone (or goes at the
    // next restart). Without a backup nothing is removed.
    BOOL RemoveEntry(char kind, HKEY root, const wchar_t* path);

    // The keys the last search could not open, in walk order.
    const std::vector<UnreadableKey>& UnreadableKeys() const { return m_unreadable; }
    // Whether one of them lies at or below a key whose name matches: a leftover may hide there.
    BOOL UnreadableInMatch() const;
    // What each kind of the last search did: looked, could not, or was not asked to.
    const std::vector<std::pair<const ILeftoverKind*, KindCheck>>& Checks() const { return m_checks; }

    // Where removals are backed up first (the caller keeps it); null: nothing can be removed.
    void SetBackup(CRegBackup* backup) { m_backup = backup; }
    // Threads of the search; 0 (the default) means one per core.
    void SetSearchThreads(int threads) { m_searchThreads = threads; }
    // Counted up once per key the search opens, for a progress display; may be null.
    void SetProgressCounter(LONG* keysSearched) { m_keysSearched = keysSearched; }
    // Whether the search also finds leftovers by reference (the reference kinds). The window does
    // when its settings say so; an unattended run with /refs.
    void SetFollowReferences(BOOL follow) { m_followReferences = follow; }
    // Whether the search also finds every filter-list entry whose driver has no service key.
    void SetDangling(BOOL dangling) { m_dangling = dangling; }
    // Files this run writes besides its report (a JSON record): what holds them is never a finding.
    void SetOwnFiles(const std::vector<std::wstring>& files) { m_ownFiles = files; }
    // The kinds a search asks (the kinds table unless set).
    void SetKinds(const std::vector<const ILeftoverKind*>& kinds) { m_kinds = kinds; }
    // For the benchmark: how long each kind of the last search read during the walk and took to
    // decide, in seconds, when asked for before the search.
    struct KindTime
    {
        const ILeftoverKind* kind;
        double reading;
        double deciding;
    };
    void TimeKinds() { m_timeKinds = true; }
    const std::vector<KindTime>& KindTimes() const { return m_kindTimes; }

protected:
    void SplitSearchTerms(const char* text, CStringArray& terms);
    // `path` is a writable buffer of kDeletePathChars characters; it holds the same path again
    // (without a trailing backslash) when the call returns.
    BOOL DeleteKeyTree(HKEY root, wchar_t* path);
    BOOL DeleteRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);
    void SplitPathWithValue(const wchar_t* path, std::vector<std::wstring>& parts);

    CStringArray m_searchTerms;
    CmdListEntry* m_cmdList = nullptr;
    CString m_hkeyName;
    LONG* m_stopFlag = nullptr;

private:
    CRegBackup* m_backup = nullptr;
    int m_searchThreads = 0;
    LONG* m_keysSearched = nullptr;
    std::vector<UnreadableKey> m_unreadable;
    std::vector<std::pair<const ILeftoverKind*, KindCheck>> m_checks;
    BOOL m_followReferences = FALSE;
    BOOL m_dangling = FALSE;
    std::vector<const ILeftoverKind*> m_kinds;
    std::vector<std::wstring> m_ownFiles;
    bool m_timeKinds = false;
    std::vector<KindTime> m_kindTimes;
};

// The folder this program runs from.
std::wstring ProgramFolder();
// The full path of an open file ("C:\...", "\\server\share\..."); empty when it cannot be told.
std::wstring PathOfFile(HANDLE file);
