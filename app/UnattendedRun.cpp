// The unattended run: one root key, the given or default keywords, every finding backed up
// and removed with /del, everything recorded in the report; no window, and an exit code that
// says how it ended.
#include "KlarnerApp.h"
#include "AppConstants.h"
#include "../engine/Constants.h"
#include "../engine/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/RegBackup.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include <new>
#include <vector>

namespace {
// The findings list goes with the run, however the run ends.
struct FindingsOwner
{
    CmdListEntry* head = nullptr;
    ~FindingsOwner() { CmdListFree(&head); }
};

[[noreturn]] void ThrowNoMemory()
{
    throw std::bad_alloc();
}
}

void CKlarnerApp::RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName)
{
    CKlarnEngine engine;
    FindingsOwner ptrCmdListBase;
    LONG bAbort = 0;

    if (strFileName.IsEmpty())
        strFileName.LoadString(IDS_DEFAULT_REPORT);
    if (strKeyWords.IsEmpty())
        strKeyWords = kDefaultKeywords;
    if (strHkeyName.IsEmpty())
        strHkeyName = "HKEY_LOCAL_MACHINE";

    // A keyword text that yields no keyword would search for nothing and call the machine clean.
    if (engine.CountSearchTerms(strKeyWords) == 0) {
        RefuseUsage(IDS_NO_KEYWORD, strKeyWords);
        return;
    }

    HKEY hKey = HkeyFromName(strHkeyName);
    RootKeySlot rootKeys[kRootKeyCount] = { SlotFromHkey(hKey), 0, 0, 0, 0 };

    ExpandReportPath(strFileName);
    // The backups go beside the report, wherever the run's current folder is.
    strFileName = ReportFullPath(strFileName);
    HANDLE hReport = OpenReport(strFileName);
    if (hReport != INVALID_HANDLE_VALUE)
        WriteReportBanner(hReport);

    // Out of memory anywhere in the run, or any other failure, ends it with its own code and
    // says so in the report and on standard error; what was removed until then is in the backup.
    CmdListSetNoMemoryHandler(&ThrowNoMemory);
    try {
        // The search lowercases the keyword text in place, so it gets a writable copy.
        std::vector<char> keywords(strKeyWords.GetString(), strKeyWords.GetString() + strKeyWords.GetLength() + 1);
        ptrCmdListBase.head = engine.ScanRegistry(keywords.data(), ptrCmdListBase.head, rootKeys, hReport, &bAbort);
        RemoveFindings(engine, ptrCmdListBase.head, hReport, strFileName);
    } catch (...) {
        const bool noMemory = [] {
            try {
                throw;
            } catch (const std::bad_alloc&) {
                return true;
            } catch (...) {
                return false;
            }
        }();
        m_text.LoadString(noMemory ? IDS_OUT_OF_MEMORY : IDS_INTERNAL_ERROR);
        WriteReportLine("", hReport);
        WriteReportLine(m_text, hReport);
        WriteStandardError(m_text);
        m_exitCode = noMemory ? kExitOutOfMemory : kExitInternalError;
    }
    CmdListSetNoMemoryHandler(nullptr);
    CloseReport(hReport);
}

void CKlarnerApp::RemoveFindings(CKlarnEngine& engine, CmdListEntry* findings, HANDLE hReport,
                                 const CString& reportPath)
{
    m_text.LoadString(IDS_REPORT_RESULTS);
    WriteReportLine("", hReport);
    WriteReportLine(m_text, hReport);
    WriteReportLine("", hReport);

    // Without a report (or one that no longer takes its lines) there is no record of a
    // removal, and no folder known to take the backup: nothing is removed then.
    const BOOL remove = m_delete == 1 && hReport != INVALID_HANDLE_VALUE && !ReportWriteFailed(hReport);
    CRegBackup backup(reportPath);
    engine.SetBackup(&backup);
    BOOL anyFinding = FALSE, anyFailed = FALSE;
    for (int index = 0;; ++index) {
        CmdListEntry* entry = CmdListGetAt(findings, index);
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

    if (hReport == INVALID_HANDLE_VALUE || ReportWriteFailed(hReport))
        m_exitCode = kExitReportNotOpened;
    else if (engine.UnreadableInMatch())
        m_exitCode = kExitFindingsRemain;  // a key below a match could not be read: may hold one
    else if (!anyFinding)
        m_exitCode = kExitClean;
    else
        m_exitCode = (m_delete == 1 && !anyFailed) ? kExitClean : kExitFindingsRemain;
}
