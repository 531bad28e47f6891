// The unattended run: one root key, the given or default keywords, every finding
// removed with /del, everything recorded in the report; no window.
#include "KlarnerApp.h"
#include "../engine/KlarnEngine.h"
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

    for (int index = 0;; ++index) {
        CmdListEntry* entry = CmdListGetAt(ptrCmdListBase, index);
        if (!entry)
            break;
        if (m_delete != 1)
            continue;
        CString strKey(entry->path);
        CString strSubKey = strKey.Mid(strHkeyName.GetLength() + 1);
        if (!engine.RemoveEntry(kKindKey, hKey, strSubKey)) {
            m_text.LoadString(IDS_REMOVE_FAILED_SUFFIX);
            strKey += m_text;
        }
        WriteReportLine(strKey, hReport);
    }

    CmdListFree(&ptrCmdListBase);
    CloseReport(hReport);
}
