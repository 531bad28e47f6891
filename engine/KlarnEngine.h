// The cleaning engine: splits the keyword text, searches the selected root keys for keys
// named after the product, and removes single findings.
#pragma once
#include <windows.h>
#include "../framework/CString.h"
#include "../framework/CStringArray.h"
#include "CmdList.h"
#include "RootKeys.h"

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
    // Deletes a 'K' finding with its subtree or a 'V' finding's value; TRUE when it is gone.
    BOOL RemoveEntry(char kind, HKEY root, const char* path);

protected:
    // 0 when the key was opened and walked, -1 when it was not.
    int SearchKey(HKEY hParent, CString fullPath, const char* name, BOOL inherited);
    void SplitSearchTerms(const char* text, CStringArray& terms);
    // `path` is a writable buffer of kDeletePathChars characters used as the working path.
    BOOL DeleteKeyTree(HKEY root, char* path);
    BOOL DeleteRegValue(HKEY root, const char* keyPath, const char* valueName);
    void SplitPathWithValue(const char* path, CStringArray& parts);

    CStringArray m_searchTerms;
    HANDLE m_hReport = INVALID_HANDLE_VALUE;
    CmdListEntry* m_cmdList = nullptr;
    CString m_hkeyName;
    LONG* m_stopFlag = nullptr;

private:
    BOOL StopRequested() const;
    void RecordFinding(const char* path, char kind);
    void ReportUnopenedKey(const char* name);
    void CheckTrayStartupValue();
};
