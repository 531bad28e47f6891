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

// The order of a removal pass: the filter-list entries first, then the keys in the order of the
// findings, then the start-up value. So a driver's service key comes after its entries, and no
// pass can leave a filter list that names a driver without its service key.
const char kRemovalOrder[] = { kKindFilterEntry, kKindKey, kKindValue };

// What became of a finding that was to be removed.
enum RemovalOutcome
{
    kRemoved,
    kRemovedAtRestart,   // a service the service manager could only mark for deletion
    kRemovalFailed,
    kRemovalRefused,     // a driver's service key that a filter list still names
};

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
    // Deletes a 'K' finding with its subtree, a 'V' finding's value or an 'F' finding's entry of a
    // filter list, once what it holds is in the backup; TRUE when it is gone (or goes at the
    // next restart). Without a backup nothing is removed.
    BOOL RemoveEntry(char kind, HKEY root, const wchar_t* path);
    // The same, telling how it ended. A service key goes through the service manager, and not
    // at all while a filter list names the service.
    RemovalOutcome RemoveFinding(char kind, HKEY root, const wchar_t* path);

    // The keywords a search with this keyword text looks for, lowercased as it matches them.
    std::vector<std::wstring> SearchTermsOf(const char* keywords);
    // A finding's report line: its path, and for a finding by reference "  (<reason>)".
    static std::string ReportLine(const CmdListEntry& entry);
    // The first of `lowerKeywords` that `text` (a key's name, a list's entry) holds, or empty.
    static std::wstring MatchingKeyword(const std::wstring& text, const std::vector<std::wstring>& lowerKeywords);
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
    // Whether the search also finds leftovers by reference: class registrations, type libraries,
    // interfaces and AppIDs, uninstall entries and shell-extension approvals whose data names the
    // product (References.h). The window always does; an unattended run with /refs.
    void SetFollowReferences(BOOL follow) { m_followReferences = follow; }

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
    // Fills in the keyword that a finding by name matched.
    static void NoteKeyword(CmdListEntry& entry, const std::vector<std::wstring>& lowerKeywords);
    // Appends a finding; `reference`, when given, is what made it one beside its name.
    CmdListEntry* RecordFinding(const wchar_t* path, char kind, const ReferenceFinding* reference = nullptr);
    // The findings that references make (References.h), but for those that are findings by name
    // already, or lie inside one.
    void RecordReferences(const std::vector<WalkReference>& references, const std::vector<std::wstring>& lowerKeywords,
                          const std::vector<std::wstring>& byName);
    // The entries of the device filter lists that hold a keyword, as 'F' findings.
    void RecordFilterEntries(const std::vector<FilterList>& lists, const std::vector<std::wstring>& lowerKeywords);
    RemovalOutcome RemoveServiceKey(HKEY root, wchar_t* path, const std::wstring& controlSet,
                                    const std::wstring& service);
    BOOL RemoveFilterEntry(HKEY root, const wchar_t* path);
    void CheckTrayStartupValue();

    CRegBackup* m_backup = nullptr;
    int m_searchThreads = 0;
    LONG* m_keysSearched = nullptr;
    std::vector<UnreadableKey> m_unreadable;
    BOOL m_followReferences = FALSE;
};
