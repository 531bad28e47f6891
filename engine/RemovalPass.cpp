// One removal pass for both modes.
#include "RemovalPass.h"
#include "KeyNames.h"
#include "RegBackup.h"
#include "Offline.h"
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

    // Everything is read before anything changes: a list inside a key tree that an entry's
    // removal shortens is backed up as it was.
    std::vector<std::unique_ptr<CPreparedRemoval>> prepared(findings.size());
    for (size_t index : order)
        if (const ILeftoverKind* kind = KindOf(*findings[index]))
            prepared[index] = kind->Prepare(*findings[index]);
    for (size_t index : order) {
        const ILeftoverKind* kind = KindOf(*findings[index]);
        RemovalResult result;
        if (kind && prepared[index])
            result = kind->Remove(*findings[index], *prepared[index], m_backup);
        prepared[index].reset();
        told(index, result);
    }
}

std::string FindingReportLine(const CmdListEntry& entry)
{
    std::wstring line = OfflinePrefix() + entry.path;
    if (entry.reason[0])
        line += std::wstring(L"  (") + entry.reason + L")";
    return ReportSpelling(line);
}

std::string RemovalReportLine(const CmdListEntry& entry, Outcome outcome, const std::wstring& advice)
{
    CString line(ReportSpelling(OfflinePrefix() + entry.path).c_str());
    CString suffix;
    if (outcome == Outcome::RemovedAtRestart)
        suffix.LoadString(IDS_REMOVED_AT_RESTART);
    else if (outcome != Outcome::Removed)
        suffix.LoadString(IDS_REMOVE_FAILED_SUFFIX);
    line += suffix;
    if (!advice.empty())
        line += ("  (" + ReportSpelling(advice) + ")").c_str();
    return line.GetString();
}

std::string RestoredReportLine(const RestoredItem& item)
{
    std::wstring path = OfflinePrefix() + OwnFullPath(item.path);
    if (!item.entry.empty())
        path += L": " + item.entry;
    CString line(ReportSpelling(path).c_str());
    if (item.outcome != Outcome::Restored) {
        CString suffix;
        suffix.LoadString(IDS_RESTORE_FAILED_SUFFIX);
        line += suffix;
        if (!item.why.empty())
            line += ("  (" + ReportSpelling(item.why) + ")").c_str();
    }
    return line.GetString();
}
