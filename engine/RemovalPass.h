// One removal pass, the same for the window's Remove and an unattended /del: the findings go in
// the order of their kinds' ranks (equal ranks in the order given), every one of them read before
// the pass changes anything and backed up just before it goes, all into one backup.
#pragma once
#include <windows.h>
#include "search/CmdList.h"
#include "backup/Outcome.h"
#include "../framework/CString.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CRegBackup;
struct RestoredItem;

class CRemovalPass
{
public:
    // A pass whose backup goes beside the report at `reportPath`, created with its first finding.
    explicit CRemovalPass(const CString& reportPath);
    // A pass that writes into a backup someone else keeps.
    explicit CRemovalPass(CRegBackup& backup);
    ~CRemovalPass();
    CRemovalPass(const CRemovalPass&) = delete;
    CRemovalPass& operator=(const CRemovalPass&) = delete;

    // Removes `findings`; `told(index, result)` as each one's removal ends, in the order of the
    // pass. A finding of no known kind, or one that cannot be read whole, fails and stays; one
    // whose removal failed but that is gone when read again counts as removed.
    void Run(const std::vector<const CmdListEntry*>& findings,
             const std::function<void(size_t, const RemovalResult&)>& told);
    // Whether a finding gone when read again counts as removed (yes, unless a caller asks about
    // its own removal alone, as RemoveEntry does: a key that was never there is no removal).
    void CountGoneAsRemoved(bool count) { m_countGone = count; }
    // The backup's full path; empty until something was backed up.
    const std::wstring& BackupPath() const;
    const CRegBackup& Backup() const { return m_backup; }

private:
    std::unique_ptr<CRegBackup> m_own;
    CRegBackup& m_backup;
    bool m_countGone = true;
};

// A finding's report line after a search: its path, and "  (<reason>)" when it has one.
std::string FindingReportLine(const CmdListEntry& entry);
// The report line of a finding a pass tried to remove: its path, and for one that did not go at
// once the suffix that says so, then "  (<advice>)" when there is advice.
std::string RemovalReportLine(const CmdListEntry& entry, Outcome outcome, const std::wstring& advice = std::wstring());
// The report line of one thing a restore gave back (or could not, with the suffix and why).
std::string RestoredReportLine(const RestoredItem& item);
