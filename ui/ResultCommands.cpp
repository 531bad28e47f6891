// The main window's commands on a search and its results: search or remove (IDOK), select
// all, the list's check boxes, clear, and the return to the idle state.
#include "KlarnerDlg.h"
#include "../engine/Constants.h"
#include "../engine/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/RegBackup.h"
#include "../engine/SharedFlag.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"

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
    CKlarnEngine engine;
    // One backup file for this pass, beside the report; nothing goes that is not in it.
    CRegBackup backup(m_searchReportPath);
    engine.SetBackup(&backup);
    const int n = m_resultList.GetItemCount();
    BOOL anyTicked = FALSE;
    for (int i = 0; i < n; ++i)
        if (m_resultList.GetCheck(i) == 1)
            anyTicked = TRUE;

    if (!anyTicked) {
        m_text.LoadString(IDS_NOTHING_TICKED);
        AfxMessageBox(m_text, MB_OK);
    } else {
        m_text.LoadString(IDS_REMOVE_QUESTION);
        m_caption.LoadString(IDS_REMOVE_CAPTION);
        if (MessageBox(m_text, m_caption, MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
            BOOL failed = FALSE, refused = FALSE;
            for (char kind : kRemovalOrder)
                RemoveTickedOfKind(engine, kind, n, failed, refused);
            if (refused) {
                // Why the driver's key stays: the user can tick its entries and try again.
                m_text.LoadString(IDS_FILTER_STILL_NAMES);
                m_caption.LoadString(IDS_ERROR_CAPTION);
                MessageBox(m_text, m_caption, MB_ICONERROR);
            }
            if (failed) {
                m_text.LoadString(IDS_REMOVE_FAILED);
                m_caption.LoadString(IDS_ERROR_CAPTION);
                MessageBox(m_text, m_caption, MB_ICONERROR);
            }
        }
    }
    if (m_resultList.GetItemCount() == 0)
        ResetResults();
}

void CKlarnerDlg::RemoveTickedOfKind(CKlarnEngine& engine, char kind, int n, BOOL& failed, BOOL& refused)
{
    for (int i = 0; i < n; ++i) {
        if (i >= m_resultList.GetItemCount() || m_resultList.GetCheck(i) != 1)
            continue;
        CString kindText = m_resultList.GetItemText(i, 2);
        const char kindLetter = kindText.IsEmpty() ? '\0' : kindText.GetAt(0);
        if (kindLetter != kind)
            continue;
        const std::wstring exactPath = m_resultList.GetItemTextW(i, 1);
        std::wstring sub;
        HKEY root = SplitFullPath(exactPath, sub);
        CString path(ReportSpelling(exactPath).c_str());
        const RemovalOutcome outcome = engine.RemoveFinding(kindLetter, root, sub.c_str());
        if (outcome == kRemoved || outcome == kRemovedAtRestart ||
            (outcome == kRemovalFailed && CKlarnEngine::FindingIsGone(kindLetter, root, sub))) {
            // Gone, or going at the next restart: it leaves the list either way.
            if (outcome == kRemovedAtRestart) {
                m_text.LoadString(IDS_REMOVED_AT_RESTART);
                path += m_text;
            }
            m_resultList.DeleteItem(i);
            WriteReportLine(path, m_hReport);
            --i;
        } else {
            failed = failed || outcome == kRemovalFailed;
            refused = refused || outcome == kRemovalRefused;
            m_text.LoadString(IDS_REMOVE_FAILED_SUFFIX);
            path += m_text;
            WriteReportLine(path, m_hReport);
        }
    }
}

void CKlarnerDlg::ResetResults()
{
    CmdListFree(&m_findings);
    m_clearButton.EnableWindow(FALSE);
    SetActionCaption(IDS_OK_SEARCH);
    SetDlgItemText(IDC_STATUS, "");
    m_selectAll.SetCheck(BST_UNCHECKED);
    m_selectAll.EnableWindow(FALSE);
    EnterIdle();
}

void CKlarnerDlg::OnBnClickedClear()
{
    m_resultList.DeleteAllItems();
    CloseSearchReport();
    ResetResults();
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
    *pResult = 0;
}
