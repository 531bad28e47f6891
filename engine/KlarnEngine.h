// The cleaning engine: splits the keyword text, searches the selected root keys for keys
// named after the product, and removes single findings after backing them up.
#pragma once
#include <windows.h>
#include "../framework/CString.h"
#include "../framework/CStringArray.h"
#include "CmdList.h"
#include "RootKeys.h"
#include "SearchWalk.h"
#include <string>
#include <vector>

class CRegBackup;

class CKlarnEngine
{
public:
    CKlarnEngine();
    virtual ~CKlarnEngine();

    // Lowercases `keywords` in place, walks every selected root slot, checks the tray
    // program's start-up value, writes its report lines and returns the findings list
    // (ownership passes to the caller). `stopFlag` nonzero ends the walk early.
    CmdListEntry* ScanRegistry(char* keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys, HANDLE hReport,
                               LONG* stopFlag);
    // Deletes a 'K' finding with its subtree or a 'V' finding's value, once what it holds is
    // in the backup; TRUE when it is gone. Without a backup nothing is removed.
    BOOL RemoveEntry(char kind, HKEY root, const wchar_t* path);

    // The number of keywords that a keyword text yields (0: it would search for nothing).
    int CountSearchTerms(const char* keywords);
    // The keys the last search could not open, in walk order.
    const std::vector<UnreadableKey>& UnreadableKeys() const { return m_unreadable; }
    // Whether one of them lies at or below a key whose name matches: a leftover may hide there.
    BOOL UnreadableInMatch() const;

    // Whether a finding whose removal failed is gone from the registry all the same (someone
    // else removed it): a key only when it is not found, a value when it or its key is not.
    static BOOL FindingIsGone(char kind, HKEY root, const std::wstring& path);

    // Where removals are backed up first (the caller keeps it); null: nothing can be removed.
    void SetBackup(CRegBackup* backup) { m_backup = backup; }
    // Threads of the search; 0 (the default) means one per core.
    void SetSearchThreads(int threads) { m_searchThreads = threads; }
    // Counted up once per key the search opens, for a progress display; may be null.
    void SetProgressCounter(LONG* keysSearched) { m_keysSearched = keysSearched; }

protected:
    void SplitSearchTerms(const char* text, CStringArray& terms);
    // `path` is a writable buffer of kDeletePathChars characters; it holds the same path again
    // when the call returns.
    BOOL DeleteKeyTree(HKEY root, wchar_t* path);
    BOOL DeleteRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);
    void SplitPathWithValue(const wchar_t* path, std::vector<std::wstring>& parts);

    CStringArray m_searchTerms;
    HANDLE m_hReport = INVALID_HANDLE_VALUE;
    CmdListEntry* m_cmdList = nullptr;
    CString m_hkeyName;
    LONG* m_stopFlag = nullptr;

private:
    void RecordFinding(const wchar_t* path, char kind);
    void CheckTrayStartupValue();

    CRegBackup* m_backup = nullptr;
    int m_searchThreads = 0;
    LONG* m_keysSearched = nullptr;
    std::vector<UnreadableKey> m_unreadable;
};
