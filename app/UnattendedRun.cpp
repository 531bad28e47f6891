// The unattended run: one root key, the given or default keywords, every finding backed up
// and removed with /del, everything recorded in the report; no window, and an exit code that
// says how it ended.
#include "KlarnerApp.h"
#include "AppConstants.h"
#include "../engine/Constants.h"
#include "../engine/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/FilterLists.h"
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

size_t CountFindings(CmdListEntry* findings)
{
    size_t count = 0;
    for (CmdListEntry* entry = findings; entry; entry = entry->next)
        ++count;
    return count;
}

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
    if (engine.SearchTermsOf(strKeyWords).empty()) {
        RefuseUsage(IDS_NO_KEYWORD, strKeyWords);
        return;
    }

    // Leftovers by reference only when asked for: earlier detection and removal runs stay as they were.
    engine.SetFollowReferences(m_followReferences == 1);
    HKEY hKey = HkeyFromName(strHkeyName);
    RootKeySlot rootKeys[kRootKeyCount] = { SlotFromHkey(hKey), 0, 0, 0, 0 };

    ExpandReportPath(strFileName);
    // The backups go beside the report, wherever the run's current folder is.
    strFileName = ReportFullPath(strFileName);
    HANDLE hReport = OpenReport(strFileName);
    if (hReport != INVALID_HANDLE_VALUE) {
        WriteReportBanner(hReport);
        m_record.SetReport(WidenAnsi(strFileName));
    }
    m_record.SetRoot(strHkeyName.GetString());
    m_record.SetKeywords(engine.SearchTermsOf(strKeyWords));

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

void CKlarnerApp::RecordFindings(const CKlarnEngine& engine, CmdListEntry* findings,
                                 const std::vector<RecordStatus>& statuses)
{
    size_t index = 0;
    for (CmdListEntry* entry = findings; entry; entry = entry->next, ++index) {
        RecordedFinding finding = { entry->kind, entry->source, entry->path, std::wstring(), entry->keyword, entry->reason,
                                    statuses[index] };
        std::wstring key, valueName;
        if (entry->kind == kKindFilterEntry && SplitFilterEntryPath(entry->path, key, valueName, finding.entry))
            finding.path = key + L"\\" + valueName;
        m_record.AddFinding(finding);
    }
    for (const UnreadableKey& key : engine.UnreadableKeys())
        m_record.AddUnreadable(key.path, key.inMatch != FALSE);
}

void CKlarnerApp::RemoveFindings(CKlarnEngine& engine, CmdListEntry* findings, HANDLE hReport,
                                 const CString& reportPath)
{
    m_text.LoadString(IDS_REPORT_RESULTS);
    WriteReportLine("", hReport);
    WriteReportLine(m_text, hReport);
    WriteReportLine("", hReport);

    // Without a report (or one that no longer takes its lines, or a record that cannot be
    // written) there is no record of a removal, and no folder known to take the backup: nothing
    // is removed then.
    const BOOL remove =
        m_delete == 1 && hReport != INVALID_HANDLE_VALUE && !ReportWriteFailed(hReport) && !m_recordFailed;
    std::vector<RecordStatus> statuses(CountFindings(findings), kStatusListed);
    CRegBackup backup(reportPath);
    engine.SetBackup(&backup);
    BOOL anyFinding = CmdListGetAt(findings, 0) != nullptr, anyFailed = FALSE, anyAtRestart = FALSE;
    for (char kind : kRemovalOrder) {
        for (int index = 0; remove; ++index) {
            CmdListEntry* entry = CmdListGetAt(findings, index);
            if (!entry)
                break;
            if (entry->kind != kind)
                continue;
            RecordStatus& status = statuses[static_cast<size_t>(index)];
            // Each finding names its own root key: everything up to its first backslash.
            const std::wstring path(entry->path);
            std::wstring below;
            HKEY root = SplitFullPath(path, below);
            const RemovalOutcome outcome = engine.RemoveFinding(kind, root, below.c_str());
            CString strKey(ReportSpelling(path).c_str());
            status = outcome == kRemoved ? kStatusRemoved
                     : outcome == kRemovedAtRestart ? kStatusRemovedAtRestart
                     : outcome == kRemovalRefused ? kStatusRefused : kStatusFailed;
            if (outcome == kRemovedAtRestart) {
                m_text.LoadString(IDS_REMOVED_AT_RESTART);
                strKey += m_text;
                anyAtRestart = TRUE;
            } else if (outcome != kRemoved) {
                m_text.LoadString(IDS_REMOVE_FAILED_SUFFIX);
                strKey += m_text;
                anyFailed = TRUE;
            }
            WriteReportLine(strKey, hReport);
        }
    }
    RecordFindings(engine, findings, statuses);
    m_record.AddBackup(backup.Path());

    if (hReport == INVALID_HANDLE_VALUE || ReportWriteFailed(hReport) || m_recordFailed)
        m_exitCode = kExitReportNotOpened;
    else if (engine.UnreadableInMatch())
        m_exitCode = kExitFindingsRemain;  // a key below a match could not be read: may hold one
    else if (anyFinding && (m_delete != 1 || anyFailed))
        m_exitCode = kExitFindingsRemain;
    else
        m_exitCode = anyAtRestart ? kExitRestartRequired : kExitClean;
}
