// The main window's commands on a search and its results: search or remove (IDOK), select
// all, the list's check boxes, clear, the return to the idle state, the restart a removal may
// need, and grouping by kind.
#include "KlarnerDlg.h"
#include "../engine/registry/Constants.h"
#include "../engine/RemovalPass.h"
#include "../engine/Restore.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/kinds/KindsTable.h"
#include "../report/ReportLog.h"
#include "../engine/registry/RegKey.h"
#include "../framework/Handles.h"
#include "../resources/resource.h"
#include "WindowTexts.h"
#include <shellapi.h>
#include <algorithm>
#include <cstddef>

namespace {
// Unloads another installation's hives; one that stays loaded blocks its disk, and is said.
void CloseInstallation(std::unique_ptr<COfflineInstallation>& offline, HWND owner)
{
    std::wstring why;
    if (offline && !offline->Close(&why)) {
        CString text, caption;
        text.LoadString(IDS_OFFLINE_NOT_UNLOADED);
        caption.LoadString(IDS_ERROR_CAPTION);
        ::MessageBoxA(owner, text + ReportSpelling(why).c_str(), caption, MB_ICONERROR);
    }
    offline.reset();
}
}

void CKlarnerDlg::OnBnClickedOk()
{
    if (m_keywords.IsEmpty())
        m_keywords = kDefaultKeywords;
    if (m_removeMode == 0)
        StartSearch();
    else
        RemoveTickedFindings();
}

void CKlarnerDlg::StartSearch()
{
    // Another installation's hives are loaded before anything changes; one that cannot be
    // leaves the window as it was.
    if (!OpenOffline())
        return;
    // Should the worker not start, the window keeps the searching looks with IDOK disabled,
    // so the state's remove mode is never reached: only closing (two Cancels) is left.
    EnterSearching();
    m_text.LoadString(IDS_CANCEL_SEARCHING);
    SetDlgItemText(IDCANCEL, m_text);

    ExpandReportPath(m_reportPath);
    m_searchReportPath = ReportFullPath(m_reportPath);
    OpenSearchReport();

    m_text.LoadString(IDS_STATUS_SEARCHING);
    SetDlgItemText(IDC_STATUS, m_text);
    if (m_pictureCtrl.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_SEARCHING), "GIF"))
        m_pictureCtrl.Show();
    m_actionButton.EnableWindow(FALSE);

    if (StartWorker() == reinterpret_cast<HANDLE>(-1))
        return;
    SetTimer(kProgressTimer, kProgressIntervalMs);
}

void CKlarnerDlg::RemoveTickedFindings()
{
    const int n = m_resultList.GetItemCount();
    std::vector<const CmdListEntry*> ticked;
    for (int i = 0; i < n; ++i)
        if (m_resultList.GetCheck(i) == 1)
            ticked.push_back(&m_model[m_resultList.GetItemData(i)]);

    if (ticked.empty()) {
        m_text.LoadString(IDS_NOTHING_TICKED);
        AfxMessageBox(m_text, MB_OK);
    } else {
        m_text.LoadString(IDS_REMOVE_QUESTION);
        m_caption.LoadString(IDS_REMOVE_CAPTION);
        if (MessageBox(m_text, m_caption, MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
            // One backup file for this pass, beside the report; nothing goes that is not in it.
            BOOL failed = FALSE;
            int atRestart = 0;
            size_t advised = SIZE_MAX;  // the first finding with advice, by its place in the model
            std::vector<UINT> reasons;
            CRemovalPass pass(m_searchReportPath);
            pass.Run(ticked, [&](size_t index, const RemovalResult& result) {
                const CmdListEntry& finding = *ticked[index];
                const Outcome outcome = result.outcome;
                const size_t at = static_cast<size_t>(&finding - m_model.data());
                if (outcome == Outcome::Removed || outcome == Outcome::RemovedAtRestart) {
                    // Gone, or going at the next restart: it leaves the list either way.
                    m_resultList.DeleteItem(ItemOf(at));
                    atRestart += outcome == Outcome::RemovedAtRestart;
                } else {
                    // What the administrator can do about it stays with the finding: in its
                    // reason, its details and its tip.
                    if (!result.advice.empty() && at < m_advice.size()) {
                        m_advice[at] = result.advice;
                        const int item = ItemOf(at);
                        m_resultList.SendMessage(LVM_REDRAWITEMS, static_cast<WPARAM>(item), item);
                        if (advised == SIZE_MAX)
                            advised = at;
                    }
                    failed = failed || outcome == Outcome::Failed;
                    // Why it stays on purpose: the user can tick what holds it and try again.
                    if (result.windowMessage && std::find(reasons.begin(), reasons.end(), result.windowMessage) == reasons.end())
                        reasons.push_back(result.windowMessage);
                }
                m_report.WriteLine(RemovalReportLine(finding, outcome, result.advice).c_str());
            });
            if (!pass.BackupPath().empty()) {
                m_undoable.push_back({ pass.BackupPath(), m_searchReportPath });
                UpdateUndo();
            }
            for (UINT reason : reasons) {
                m_text.LoadString(reason);
                m_caption.LoadString(IDS_ERROR_CAPTION);
                MessageBox(m_text, m_caption, MB_ICONERROR);
            }
            if (failed) {
                m_text.LoadString(IDS_REMOVE_FAILED);
                m_caption.LoadString(IDS_ERROR_CAPTION);
                MessageBox(m_text, m_caption, MB_ICONERROR);
            }
            UpdateGroups();
            // The first finding that came with advice is selected, so its details say what to do.
            // Its row is looked up now: the rows removed before and after it moved it.
            const int advisedRow = advised == SIZE_MAX ? -1 : ItemOf(advised);
            if (advisedRow >= 0) {
                m_resultList.SetItemState(-1, 0, LVIS_SELECTED);
                m_resultList.SetItemState(advisedRow, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
                m_resultList.SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(advisedRow), FALSE);
            }
            ShowDetails();
            if (m_resultList.GetItemCount() == 0)
                ResetResults();
            if (atRestart > 0)
                OfferRestart(atRestart);
            return;
        }
    }
    if (m_resultList.GetItemCount() == 0)
        ResetResults();
}

namespace {
// Asks Windows to restart, with the shutdown privilege the call needs (an administrator holds it,
// disabled); false and why when it will not.
bool RestartWindows(std::wstring& why)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        why = L"the program's token cannot be opened (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    CHandle owned(token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) ||
        !::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) ||
        ::GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        why = L"the shutdown privilege is not held (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    if (!::ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE | SHTDN_REASON_FLAG_PLANNED)) {
        why = L"Windows refused the restart (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    return true;
}
}

void CKlarnerDlg::OfferRestart(int atRestart)
{
    // The status line keeps saying it after the question is answered; "No" (the default) leaves
    // the restart to the user, and nothing restarts without a click on "Yes".
    CString status;
    status.Format(LoadFormatText(IDS_STATUS_RESTART_FMT), atRestart);
    SetDlgItemText(IDC_STATUS, status);
    m_text.LoadString(IDS_RESTART_QUESTION);
    m_caption.LoadString(IDS_RESTART_CAPTION);
    if (MessageBox(m_text, m_caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    std::wstring why;
    if (RestartWindows(why))
        return;
    m_text.LoadString(IDS_RESTART_FAILED);
    m_caption.LoadString(IDS_ERROR_CAPTION);
    MessageBox(m_text + ReportSpelling(why).c_str(), m_caption, MB_ICONERROR);
}

int CKlarnerDlg::ItemOf(size_t index) const
{
    LVFINDINFOA find = {};
    find.flags = LVFI_PARAM;
    find.lParam = static_cast<LPARAM>(index);
    return m_resultList.FindItem(&find);
}

BOOL CKlarnerDlg::OpenOffline()
{
    // A new search starts afresh: the last one's installation goes first.
    CloseInstallation(m_offline, m_hWnd);
    if (m_offlineFolder.IsEmpty())
        return TRUE;
    std::unique_ptr<COfflineInstallation> offline(new COfflineInstallation);
    std::wstring why;
    const COfflineInstallation::Opened opened = offline->Open(WidenAnsi(m_offlineFolder), why);
    if (opened == COfflineInstallation::Opened::Open) {
        m_offline = std::move(offline);
        return TRUE;
    }
    m_text.LoadString(opened == COfflineInstallation::Opened::BadUsage ? IDS_OFFLINE_REFUSED : IDS_OFFLINE_NOT_LOADED);
    m_caption.LoadString(IDS_ERROR_CAPTION);
    MessageBox(m_text + ReportSpelling(why).c_str(), m_caption, MB_ICONERROR);
    return FALSE;
}

void CKlarnerDlg::ResetResults()
{
    m_findings.Reset(nullptr);
    m_model.clear();
    m_clearButton.EnableWindow(FALSE);
    SetActionCaption(IDS_OK_SEARCH);
    SetDlgItemText(IDC_STATUS, "");
    m_groupOf.clear();
    m_advice.clear();
    m_groups.clear();
    m_resultList.RemoveAllGroups();
    ShowDetails();
    m_selectAll.SetCheck(BST_UNCHECKED);
    m_selectAll.EnableWindow(FALSE);
    EnterIdle();
}

void CKlarnerDlg::OnBnClickedClear()
{
    m_resultList.DeleteAllItems();
    CloseSearchReport();
    ResetResults();
    CloseInstallation(m_offline, m_hWnd);  // its hives go once nothing of it is listed
}

void CKlarnerDlg::OnBnClickedSelectAll()
{
    const int count = m_resultList.GetItemCount();
    const BOOL tick = m_selectAll.GetCheck() == 1;
    for (int i = 0; i < count; ++i)
        m_resultList.SetCheck(i, tick);
}

void CKlarnerDlg::OnItemChangedResultList(NMHDR* pNMHDR, LRESULT* pResult)
{
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(pNMHDR);
    // Clearing a box that is clear already would only repaint it, once per item while the
    // list fills.
    if ((change->uChanged & LVIF_STATE) && m_resultList.GetCheck(change->iItem) == 0 &&
        m_selectAll.GetCheck() != BST_UNCHECKED)
        m_selectAll.SetCheck(BST_UNCHECKED);
    if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & (LVIS_SELECTED | LVIS_FOCUSED)))
        ShowDetails();
    *pResult = 0;
}

void CKlarnerDlg::UpdateUndo()
{
    if (HMENU menu = ::GetMenu(m_hWnd)) {
        ::EnableMenuItem(menu, ID_FILE_UNDO, MF_BYCOMMAND | (m_undoable.empty() ? MF_GRAYED : MF_ENABLED));
        ::DrawMenuBar(m_hWnd);
    }
}

void CKlarnerDlg::OnUndo()
{
    if (m_undoable.empty() || m_searching)
        return;
    const UndoablePass pass = m_undoable.back();
    m_text.LoadString(IDS_UNDO_QUESTION);
    m_caption.LoadString(IDS_REMOVE_CAPTION);
    if (MessageBox(m_text + ReportSpelling(pass.backup).c_str(), m_caption, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    CRestore restore;
    std::wstring why;
    m_caption.LoadString(IDS_ERROR_CAPTION);
    if (!restore.Open(pass.backup, why)) {
        m_text.LoadString(IDS_NOT_A_BACKUP);
        MessageBox(m_text + ReportSpelling(pass.backup + L" (" + why + L")").c_str(), m_caption, MB_ICONERROR);
        return;
    }
    // What is given back goes into the pass's report, like what was removed; without a report
    // nothing is given back, as in an unattended restore.
    CReport own;
    CReport& report = m_report.IsOpen() ? m_report : own;
    if (!m_report.IsOpen() && (!own.Open(pass.report) || own.WriteFailed())) {
        m_text.LoadString(IDS_REPORT_OPEN_FAILED);
        MessageBox(m_text, m_caption, MB_ICONERROR);
        return;
    }
    m_text.LoadString(IDS_REPORT_RESTORE);
    report.WriteLine("");
    report.WriteLine(m_text + ReportSpelling(pass.backup).c_str());
    report.WriteLine("");
    bool allBack = true;
    restore.Run([&](const RestoredItem& item) {
        report.WriteLine(RestoredReportLine(item).c_str());
        allBack = allBack && item.outcome == Outcome::Restored;
    });
    m_undoable.pop_back();
    UpdateUndo();
    m_text.LoadString(allBack ? IDS_UNDO_DONE : IDS_UNDO_FAILED);
    if (allBack)
        MessageBox(m_text, AfxGetAppName(), MB_ICONINFORMATION);
    else
        MessageBox(m_text, m_caption, MB_ICONERROR);
}

void CKlarnerDlg::UpdateGroups()
{
    std::vector<int> counts(m_groups.size(), 0);
    const int n = m_resultList.GetItemCount();
    for (int item = 0; item < n; ++item) {
        const size_t index = m_resultList.GetItemData(item);
        for (size_t g = 0; g < m_groups.size(); ++g)
            if (index < m_groupOf.size() && m_groups[g].id == m_groupOf[index])
                ++counts[g];
    }
    for (size_t g = m_groups.size(); g-- > 0;) {
        if (counts[g] > 0) {
            m_resultList.SetGroupHeader(m_groups[g].id, GroupHeader(m_groups[g].name, counts[g]).c_str());
        } else {
            m_resultList.RemoveGroup(m_groups[g].id);
            m_groups.erase(m_groups.begin() + static_cast<std::ptrdiff_t>(g));
        }
    }
}

void CKlarnerDlg::UpdateGroupMenu()
{
    // Where the control has no groups (older common controls, Wine) the entry cannot be used.
    if (!m_viewMenu)
        return;
    ::CheckMenuItem(m_viewMenu, ID_VIEW_GROUP_BY_KIND, MF_BYCOMMAND | (m_groupByKind ? MF_CHECKED : MF_UNCHECKED));
    ::EnableMenuItem(m_viewMenu, ID_VIEW_GROUP_BY_KIND, MF_BYCOMMAND | (m_groupsAvailable ? MF_ENABLED : MF_GRAYED));
}

void CKlarnerDlg::OnGroupByKind()
{
    m_groupByKind = !m_groupByKind;
    m_resultList.EnableGroupView(m_groupByKind);
    UpdateGroupMenu();
}
