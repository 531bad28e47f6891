// One removal pass for both modes.
#include "RemovalPass.h"
#include "search/Said.h"
#include "registry/KeyNames.h"
#include "backup/RegBackup.h"
#include "system/Installation.h"
#include "system/Offline.h"
#include "system/StagingFolders.h"
#include "Restore.h"
#include "kinds/KindsTable.h"
#include "../framework/CString.h"
#include "../resources/resource.h"
#include <algorithm>
#include <memory>

CRemovalPass::CRemovalPass(const CString& reportPath)
    : m_own(new CRegBackup(reportPath)), m_backup(*m_own)
{
}

CRemovalPass::CRemovalPass(CRegBackup& backup)
    : m_backup(backup)
{
}

CRemovalPass::~CRemovalPass() {}

const std::wstring& CRemovalPass::BackupPath() const
{
    return m_backup.Path();
}

void CRemovalPass::Run(const std::vector<const CmdListEntry*>& findings,
                       const std::function<void(size_t, const RemovalResult&)>& told)
{
    std::vector<size_t> order(findings.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto rank = [&findings](size_t index) {
        const ILeftoverKind* kind = KindOf(*findings[index]);
        return kind ? kind->Identity().rank : 0;
    };
    std::stable_sort(order.begin(), order.end(), [&rank](size_t a, size_t b) { return rank(a) < rank(b); });

    // The folders that files in use wait in ask for their own deletion when the pass ends, after
    // the files in them.
    CStagingFolders staging;
    const CInstallation installation = CurrentInstallation();
    const std::vector<const IClaimsFiles*> claimers = FileClaimersAmong(LeftoverKinds());
    RemovalContext context = { m_backup, staging, installation, OfflineActive(), claimers };
    // Everything is read before anything changes: a list inside a key tree that an entry's
    // removal shortens is backed up as it was.
    std::vector<std::unique_ptr<CPreparedRemoval>> prepared(findings.size());
    for (size_t index : order)
        if (const ILeftoverKind* kind = KindOf(*findings[index]))
            prepared[index] = kind->Prepare(*findings[index], context);
    for (size_t index : order) {
        const ILeftoverKind* kind = KindOf(*findings[index]);
        RemovalResult result;
        if (kind && prepared[index]) {
            m_backup.BeginFinding(kind->Identity().recordName, findings[index]->path);
            result = kind->Remove(*findings[index], *prepared[index], context);
        }
        // Read again: a finding that someone else removed meanwhile is gone all the same, in both
        // modes alike.
        if (m_countGone && kind && result.outcome == Outcome::Failed && kind->IsGone(*findings[index])) {
            result.outcome = Outcome::Removed;
            result.advice.clear();
        }
        prepared[index].reset();
        told(index, result);
    }
}

std::string FindingReportLine(const CmdListEntry& entry)
{
    std::wstring line = OfflinePrefix() + entry.path;
    if (entry.reason[0] && !entry.reportPathOnly)
        line += L"  (" + Shown(entry.reason) + L")";
    return ReportSpelling(line);
}

namespace {
// A path as the report shows it, then the text of `suffixId` (none for 0) and "  (<note>)" when
// there is a note.
std::string OutcomeLine(const std::wstring& path, UINT suffixId, const std::wstring& note)
{
    CString line(ReportSpelling(OfflinePrefix() + path).c_str());
    CString suffix;
    if (suffixId && suffix.LoadString(suffixId))
        line += suffix;
    if (!note.empty())
        line += ("  (" + ReportSpelling(Shown(note)) + ")").c_str();
    return line.GetString();
}
}

std::string RemovalReportLine(const CmdListEntry& entry, Outcome outcome, const std::wstring& advice)
{
    const UINT suffix = outcome == Outcome::RemovedAtRestart ? IDS_REMOVED_AT_RESTART
                        : outcome != Outcome::Removed       ? IDS_REMOVE_FAILED_SUFFIX
                                                            : 0;
    return OutcomeLine(entry.path, suffix, advice);
}

std::string RestoredReportLine(const RestoredItem& item)
{
    const std::wstring path = OwnFullPath(item.path) + (item.entry.empty() ? std::wstring() : L": " + item.entry);
    const bool back = item.outcome == Outcome::Restored;
    return OutcomeLine(path, back ? 0 : IDS_RESTORE_FAILED_SUFFIX, back ? std::wstring() : item.why);
}
