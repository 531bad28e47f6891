// The unattended run: one root key, the given or default keywords, every finding backed up
// and removed with /del, everything recorded in the report; no window, and an exit code that
// says how it ended.
#include "KlarnerApp.h"
#include "../engine/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/RegBackup.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include <vector>

void CKlarnerApp::RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName)
{
    CKlarnEngine engine;
    CmdListEntry* ptrCmdListBase = nullptr;
    LONG bAbort = 0;

    if (strFileName.IsEmpty())
        strFileName.LoadString(IDS_DEFAULT_REPORT);
    if (strKeyWords.IsEmpty())
        strKeyWords = kDefaultKeywords;
    if (strHkeyName.IsEmpty())
        strHkeyName = "HKEY_LOCAL_MACHINE";

    HKEY hKey = HkeyFromName(strHkeyName);
    RootKeySlot rootKeys[kRootKeyCount] = { SlotFromHkey(hKey), 0, 0, 0, 0 };

    ExpandReportPath(strFileName);
    HANDLE hReport = OpenReport(strFileName);
    if (hReport != INVALID_HANDLE_VALUE)
        WriteReportBanner(hReport);

    // The search lowercases the keyword text in place, so it gets a writable copy.
    std::vector<char> keywords(strKeyWords.GetString(), strKeyWords.GetString() + strKeyWords.GetLength() + 1);
    ptrCmdListBase = engine.ScanRegistry(keywords.data(), ptrCmdListBase, rootKeys, hReport, &bAbort);

    m_text.LoadString(IDS_REPORT_RESULTS);
    WriteReportLine("", hReport);
    WriteReportLine(m_text, hReport);
    WriteReportLine("", hReport);

    // Without a report there is no record of a removal, and no folder known to take the
    // backup: nothing is removed then.
    const BOOL remove = m_delete == 1 && hReport != INVALID_HANDLE_VALUE;
    CRegBackup backup(strFileName);
    engine.SetBackup(&backup);
    BOOL anyFinding = FALSE, anyFailed = FALSE;
    for (int index = 0;; ++index) {
        CmdListEntry* entry = CmdListGetAt(ptrCmdListBase, index);
        if (!entry)
            break;
        anyFinding = TRUE;
        if (!remove)
            continue;
        // Each finding names its own root key: everything up to its first backslash.
        const std::wstring path(entry->path);
        std::wstring below;
        HKEY root = SplitFullPath(path, below);
        BOOL removed = engine.RemoveEntry(kKindKey, root, below.c_str());
        CString strKey(ReportSpelling(path).c_str());
        if (!removed) {
            m_text.LoadString(IDS_REMOVE_FAILED_SUFFIX);
            strKey += m_text;
            anyFailed = TRUE;
        }
        WriteReportLine(strKey, hReport);
    }

    if (hReport == INVALID_HANDLE_VALUE)
        m_exitCode = kExitReportNotOpened;
    else if (!anyFinding)
        m_exitCode = kExitClean;
    else
        m_exitCode = (m_delete == 1 && !anyFailed) ? kExitClean : kExitFindingsRemain;

    CmdListFree(&ptrCmdListBase);
    CloseReport(hReport);
}
