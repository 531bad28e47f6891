// The unattended run.
#include "UnattendedRun.h"
#include "AppConstants.h"
#include "RunRecord.h"
#include "StandardStreams.h"
#include "../engine/registry/Constants.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/system/Offline.h"
#include "../engine/search/Keywords.h"
#include "../engine/system/Installation.h"
#include "../engine/system/PendingRenames.h"
#include "../engine/RemovalPass.h"
#include "../engine/Restore.h"
#include "../engine/registry/RootKeys.h"
#include "../engine/system/ServiceControl.h"
#include <cstring>
#include "../report/Report.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include "../engine/kinds/KindsTable.h"
#include "../engine/search/Said.h"
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {
[[noreturn]] void ThrowNoMemory()
{
    throw std::bad_alloc();
}

// Whether a kind of leftover could not look: what it would have found may be there.
bool CouldNotLook(const CKlarnEngine& engine)
{
    for (const auto& check : engine.Checks())
        if (check.second.state == KindCheck::Unavailable)
            return true;
    return false;
}

// Inside a handler: says in the report and on standard error that the exception being handled
// ended the run early (out of memory, or anything else), and gives the run's exit code for it.
int TellEndedEarly(CReport& report)
{
    const bool noMemory = [] {
        try {
            throw;
        } catch (const std::bad_alloc&) {
            return true;
        } catch (...) {
            return false;
        }
    }();
    CString text;
    text.LoadString(noMemory ? IDS_OUT_OF_MEMORY : IDS_INTERNAL_ERROR);
    report.WriteLine(text);
    WriteStandardError(text);
    return noMemory ? kExitOutOfMemory : kExitInternalError;
}

// The operations Windows had pending before the run, and how many of them lie in a product's
// place (a name below a root holds a keyword): a fleet plans the restart with them.
void RecordPendingBefore(const CKeywords& keywords, CRunRecord& record)
{
    const CInstallation installation = CurrentInstallation();
    const std::vector<PendingRename> pending = PendingRenames();
    int inProduct = 0;
    for (const PendingRename& rename : pending) {
        std::vector<std::wstring> names;
        const std::wstring file = installation.Normalized(rename.from);
        bool product = false;
        if (!file.empty() && installation.NamesBelowRoot(file, names))
            for (const std::wstring& name : names)
                product = product || !keywords.Matching(name).empty();
        inProduct += product;
    }
    record.SetPendingBefore(static_cast<int>(pending.size()), inProduct);
}

// What a run has found and done so far: what the record holds however the run ends.
struct Progress
{
    CFindingsList findings;
    std::vector<const CmdListEntry*> list;      // the findings in order
    std::vector<RemovalResult> results;         // what became of each
    std::unique_ptr<CRemovalPass> pass;

    void Found(CmdListEntry* head)
    {
        findings.Reset(head);
        for (const CmdListEntry* entry = head; entry; entry = entry->next)
            list.push_back(entry);
        RemovalResult listed;
        listed.outcome = Outcome::Listed;
        results.assign(list.size(), listed);
    }
    // Whether the run needs a restart to finish, and why: after a removal, what went only at
    // restart; after a detection, what a removal would leave to it.
    void RecordRestart(bool removed, CRunRecord& record) const
    {
        std::vector<std::wstring> reasons;
        for (size_t i = 0; i < list.size(); ++i) {
            const ILeftoverKind* kind = KindOf(*list[i]);
            std::wstring reason;
            if (removed && results[i].outcome == Outcome::RemovedAtRestart)
                reason = kind && kind->Identity().measured ? L"files scheduled for deletion at the next restart"
                                                           : L"service marked for deletion";
            else if (!removed && kind)
                reason = kind->RestartReason(*list[i]);
            if (!reason.empty() && std::find(reasons.begin(), reasons.end(), reason) == reasons.end())
                reasons.push_back(reason);
        }
        record.SetRestart(!reasons.empty(), reasons);
    }
    void Record(const CKlarnEngine& engine, CRunRecord& record) const
    {
        for (size_t i = 0; i < list.size(); ++i)
            record.AddFinding(RecordedFinding::Of(*list[i], results[i].outcome,
                                                  results[i].advice.empty() ? results[i].why
                                                                            : results[i].why + L": " + InEnglish(results[i].advice)));
        for (const UnreadableKey& key : engine.UnreadableKeys())
            record.AddUnreadable(key.path, key.inMatch != FALSE);
        for (const auto& check : engine.Checks())
            record.AddCheck(check.first->Identity().recordName,
                            check.second.state == KindCheck::Ran           ? "ran"
                            : check.second.state == KindCheck::Unavailable ? "unavailable"
                                                                            : "skipped",
                            check.second.why);
        if (pass)
            record.AddBackup(pass->BackupPath());
    }
};
}

int CUnattendedRun::OpenOffline(const UnattendedRequest& request, COfflineInstallation& offline)
{
    if (request.offlineFolder.empty())
        return kExitClean;
    std::wstring why;
    const COfflineInstallation::Opened opened = offline.Open(request.offlineFolder, why);
    if (opened == COfflineInstallation::Opened::Open) {
        m_record.SetOffline(offline.WindowsFolder());
        return kExitClean;
    }
    CString text;
    text.LoadString(opened == COfflineInstallation::Opened::BadUsage ? IDS_OFFLINE_REFUSED : IDS_OFFLINE_NOT_LOADED);
    WriteStandardError(text + ReportSpelling(why).c_str());
    return opened == COfflineInstallation::Opened::BadUsage ? kExitBadUsage : kExitReportNotOpened;
}

bool CUnattendedRun::CloseOffline(COfflineInstallation& offline, CReport* report)
{
    std::wstring why;
    if (offline.Close(&why))
        return true;
    CString text;
    text.LoadString(IDS_OFFLINE_NOT_UNLOADED);
    text += ReportSpelling(why).c_str();
    if (report)
        report->WriteLine(text);
    WriteStandardError(text);
    return false;
}

int CUnattendedRun::Run(UnattendedRequest request)
{
    if (request.reportPath.IsEmpty())
        request.reportPath.LoadString(IDS_DEFAULT_REPORT);
    if (request.keywords.IsEmpty())
        request.keywords = kDefaultKeywords;
    if (request.rootName.IsEmpty())
        request.rootName = "HKEY_LOCAL_MACHINE";

    // A keyword text that yields no keyword would search for nothing and call the machine clean.
    const CKeywords keywords(request.keywords);
    if (keywords.Empty()) {
        WriteUsageRefusal(IDS_NO_KEYWORD, request.keywords);
        return kExitBadUsage;
    }

    // Another installation: below HKEY_LOCAL_MACHINE and HKEY_USERS only, its hives loaded for the
    // run and unloaded however it ends.
    const HKEY requestedRoot = HkeyFromName(request.rootName);
    if (!request.offlineFolder.empty() && requestedRoot != HKEY_LOCAL_MACHINE && requestedRoot != HKEY_USERS) {
        WriteUsageRefusal(IDS_OFFLINE_ROOT, request.rootName);
        return kExitBadUsage;
    }
    COfflineInstallation offline;
    const int refused = OpenOffline(request, offline);
    if (refused != kExitClean)
        return refused;

    CKlarnEngine engine;
    // Leftovers by reference only when asked for: earlier detection and removal runs stay as they were.
    engine.SetFollowReferences(request.followReferences);
    engine.SetDangling(request.dangling);
    engine.SetOwnFiles(m_record.Files());
    if (!request.kinds.empty())
        engine.SetKinds(request.kinds);
    const HKEY hKey = HkeyFromName(request.rootName);
    const RootKeySlot rootKeys[kRootKeyCount] = { SlotFromHkey(hKey), 0, 0, 0, 0 };

    ExpandReportPath(request.reportPath);
    // The backups go beside the report, wherever the run's current folder is.
    const CString reportPath = ReportFullPath(request.reportPath);
    CReport report;
    if (report.Open(reportPath))
        m_record.SetReport(WidenAnsi(reportPath));
    m_record.SetRoot(request.rootName.GetString());
    m_record.SetKeywords(keywords.Lower());

    // Out of memory anywhere in the run, or any other failure, ends it with its own code and
    // says so in the report and on standard error; what was removed until then is in the backup
    // and in the record.
    Progress progress;
    int exitCode = kExitClean;
    CmdListSetNoMemoryHandler(&ThrowNoMemory);
    try {
        if (offline.IsOpen()) {
            CString text;
            text.LoadString(IDS_REPORT_OFFLINE);
            report.WriteLine(text + ReportSpelling(offline.WindowsFolder()).c_str());
            report.WriteLine("");
        } else {
            RecordPendingBefore(keywords, m_record);
        }
        LONG bAbort = 0;
        progress.Found(engine.Search(keywords, nullptr, rootKeys, report, &bAbort));

        CString text;
        text.LoadString(IDS_REPORT_RESULTS);
        report.WriteLine("");
        report.WriteLine(text);
        report.WriteLine("");

        // Without a report (or one that no longer takes its lines, or a record that cannot be
        // written) there is no record of a removal, and no folder known to take the backup:
        // nothing is removed then.
        const bool remove = request.remove && report.IsOpen() && !report.WriteFailed() && !request.recordFailed;
        bool anyFailed = false, anyAtRestart = false;
        progress.pass.reset(new CRemovalPass(reportPath));
        if (remove)
            progress.pass->Run(progress.list, [&](size_t index, const RemovalResult& result) {
                progress.results[index] = result;
                anyAtRestart = anyAtRestart || result.outcome == Outcome::RemovedAtRestart;
                anyFailed = anyFailed || (result.outcome != Outcome::Removed && result.outcome != Outcome::RemovedAtRestart);
                report.WriteLine(RemovalReportLine(*progress.list[index], result.outcome, result.advice).c_str());
            });

        progress.RecordRestart(remove, m_record);
        if (!report.IsOpen() || report.WriteFailed() || request.recordFailed)
            exitCode = kExitReportNotOpened;
        else if (engine.UnreadableInMatch() || CouldNotLook(engine))
            exitCode = kExitFindingsRemain;  // a key below a match could not be read, or a kind could not look
        else if (!progress.list.empty() && (!request.remove || anyFailed))
            exitCode = kExitFindingsRemain;
        else
            exitCode = anyAtRestart ? kExitRestartRequired : kExitClean;
    } catch (...) {
        report.WriteLine("");
        exitCode = TellEndedEarly(report);
    }
    CmdListSetNoMemoryHandler(nullptr);
    try {
        progress.Record(engine, m_record);
    } catch (...) {
        // The exit code still says how the run ended; the record then lacks its findings.
    }
    // The findings name keys of the loaded hives: the record holds their texts before they go.
    progress.pass.reset();
    // A hive left loaded blocks the disk: the run has not ended cleanly, whatever it removed.
    if (!CloseOffline(offline, &report) && exitCode != kExitOutOfMemory && exitCode != kExitInternalError)
        exitCode = kExitReportNotOpened;
    return exitCode;
}

int CUnattendedRun::Restore(UnattendedRequest request)
{
    if (request.reportPath.IsEmpty())
        request.reportPath.LoadString(IDS_DEFAULT_REPORT);
    m_record.SetModeName("restore");
    m_record.SetRestoredFrom(request.restorePath);
    COfflineInstallation offline;
    const int refused = OpenOffline(request, offline);
    if (refused != kExitClean)
        return refused;
    CRestore restore;
    std::wstring why;
    if (!restore.Open(request.restorePath, why)) {
        CString text;
        text.LoadString(IDS_NOT_A_BACKUP);
        WriteStandardError(text + ReportSpelling(request.restorePath + L" (" + why + L")").c_str());
        return kExitBadUsage;
    }
    ExpandReportPath(request.reportPath);
    const CString reportPath = ReportFullPath(request.reportPath);
    CReport report;
    if (report.Open(reportPath))
        m_record.SetReport(WidenAnsi(reportPath));
    // Without a report (or a record) nothing is changed: what a restore wrote must be on record.
    if (!report.IsOpen() || report.WriteFailed() || request.recordFailed)
        return kExitReportNotOpened;
    CString text;
    text.LoadString(IDS_REPORT_RESTORE);
    report.WriteLine(text + ReportSpelling(request.restorePath).c_str());
    report.WriteLine("");
    bool allBack = true;
    std::vector<std::wstring> restartReasons;
    int exitCode = kExitClean;
    try {
        restore.Run([&](const RestoredItem& item) {
            report.WriteLine(RestoredReportLine(item).c_str());
            RecordedFinding recorded;
            recorded.kind = item.kind;
            recorded.path = item.path;
            recorded.entry = item.entry;
            recorded.status = item.outcome;
            recorded.why = item.why;
            m_record.AddFinding(recorded);
            allBack = allBack && item.outcome == Outcome::Restored;
            // The service manager reads a service's key when Windows starts.
            std::wstring below, controlSet, service;
            if (item.outcome == Outcome::Restored && strcmp(item.kind, "key") == 0 &&
                SplitFullPath(item.path, below) == HKEY_LOCAL_MACHINE && SplitServiceKeyPath(below, controlSet, service) &&
                restartReasons.empty())
                restartReasons.push_back(L"restored services start with the next restart");
        });
        exitCode = report.WriteFailed() ? kExitReportNotOpened : allBack ? kExitClean : kExitFindingsRemain;
    } catch (...) {
        exitCode = TellEndedEarly(report);
    }
    m_record.SetRestart(!restartReasons.empty() && !offline.IsOpen(), restartReasons);
    if (!CloseOffline(offline, &report) && exitCode != kExitOutOfMemory && exitCode != kExitInternalError)
        exitCode = kExitReportNotOpened;
    return exitCode;
}
