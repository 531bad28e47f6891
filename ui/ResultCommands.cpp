// The main window's commands on a search and its results: search or remove (IDOK), select
// all, the list's check boxes, clear, and the return to the idle state.
#include "KlarnerDlg.h"
#include "../engine/Constants.h"
#include "../engine/KlarnEngine.h"
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
    m_closeAllowed = 0;
    __atomic_store_n(&m_stopRequested, 0, __ATOMIC_RELEASE);
    m_text.LoadString(IDS_CANCEL_SEARCHING);
    SetDlgItemText(IDCANCEL, m_text);

    ExpandReportPath(m_reportPath);
    // The file is opened afresh for every search; an earlier search's handle goes first.
    if (m_reportOpen == 1) {
        CloseReport(m_hReport);
        m_reportOpen = 0;
    }
    m_hReport = OpenReport(m_reportPath);
    if (m_hReport != INVALID_HANDLE_VALUE) {
        WriteReportBanner(m_hReport);
        m_reportOpen = 1;
    }

    m_text.LoadString(IDS_STATUS_SEARCHING);
    SetDlgItemText(IDC_STATUS, m_text);
    if (m_pictureCtrl.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_SEARCHING), "GIF"))
        m_pictureCtrl.Show();
    m_actionButton.EnableWindow(FALSE);

    if (StartWorker() == reinterpret_cast<HANDLE>(-1))
        return;
    m_removeMode = 1;
}

BOOL CKlarnerDlg::FindingIsGone(char kind, HKEY root, const CString& path)
{
    if (kind == kKindValue) {
        // Gone when its key or the value itself no longer exists; a key that cannot be
        // opened for another reason may well still hold it.
        int lastBackslash = -1;
        for (int at = path.Find('\\'); at >= 0; at = path.Find('\\', at + 1))
            lastBackslash = at;
        if (lastBackslash < 0)
            return FALSE;
        HKEY hKey = nullptr;
        LONG result = ::RegOpenKeyExA(root, path.Left(lastBackslash), 0, KEY_QUERY_VALUE, &hKey);
        if (result == ERROR_FILE_NOT_FOUND)
            return TRUE;
        if (result != ERROR_SUCCESS)
            return FALSE;
        result = ::RegQueryValueExA(hKey, path.Mid(lastBackslash + 1), nullptr, nullptr, nullptr, nullptr);
        ::RegCloseKey(hKey);
        return result == ERROR_FILE_NOT_FOUND;
    }
    // A key is gone only when it is not found; one that denies reading is still there.
    HKEY hKey = nullptr;
    LONG result = ::RegOpenKeyExA(root, path, 0, KEY_READ, &hKey);
    if (result == ERROR_SUCCESS)
        ::RegCloseKey(hKey);
    return result == ERROR_FILE_NOT_FOUND;
}

void CKlarnerDlg::RemoveTickedFindings()
{
    CKlarnEngine engine;
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
            BOOL failed = FALSE;
            for (int i = 0; i < n; ++i) {
                if (i >= m_resultList.GetItemCount() || m_resultList.GetCheck(i) != 1)
                    continue;
                CString path = m_resultList.GetItemText(i, 1);
                CString kind = m_resultList.GetItemText(i, 2);
                int p = path.Find('\\');
                CString sub = p >= 0 ? path.Mid(p + 1) : CString();
                CString rootName = p >= 0 ? path.Left(p) : path;
                HKEY root = HkeyFromName(rootName);
                const char kindLetter = kind.IsEmpty() ? '\0' : kind.GetAt(0);
                if (engine.RemoveEntry(kindLetter, root, sub) || FindingIsGone(kindLetter, root, sub)) {
                    m_resultList.DeleteItem(i);
                    WriteReportLine(path, m_hReport);
                    --i;
                } else {
                    failed = TRUE;
                    m_text.LoadString(IDS_REMOVE_FAILED_SUFFIX);
                    path += m_text;
                    WriteReportLine(path, m_hReport);
                }
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

void CKlarnerDlg::ResetResults()
{
    CmdListFree(&m_findings);
    m_clearButton.EnableWindow(FALSE);
    SetActionCaption(IDS_OK_SEARCH);
    SetDlgItemText(IDC_STATUS, "");
    m_selectAll.SetCheck(BST_UNCHECKED);
    m_selectAll.EnableWindow(FALSE);
    __atomic_store_n(&m_stopRequested, 0, __ATOMIC_RELEASE);
    m_removeMode = 0;
}

void CKlarnerDlg::OnBnClickedClear()
{
    m_resultList.DeleteAllItems();
    CloseReport(m_hReport);
    m_hReport = nullptr;
    m_reportOpen = 0;
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
