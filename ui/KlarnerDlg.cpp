// The main window: construction, initialisation, its states' common commands (close,
// exit, settings, about), painting when minimised, and its layout: growing with the window,
// the display's scale, the columns' widths and the details line.
#include "KlarnerDlg.h"
#include "AboutDlg.h"
#include "Config.h"
#include "WindowTexts.h"
#include "../engine/registry/Constants.h"
#include "../engine/search/SharedFlag.h"
#include "../framework/AfxGuard.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include "../engine/search/Said.h"
#include <algorithm>

CKlarnerDlg::CKlarnerDlg(CWnd* parent)
    : CDialog(IDD_KLARNER_DIALOG, parent)
{
    if (CWinApp* app = AfxGetApp())
        m_hIcon = app->LoadIcon(IDR_MAINFRAME);
}

CKlarnerDlg::~CKlarnerDlg()
{
    // Closed during a search: stop the worker and let it finish before the stop flag, the
    // report handle and the window's members go away. It stops at its next key.
    if (m_hWorker) {
        RequestStop();
        ::WaitForSingleObject(m_hWorker, INFINITE);
        m_hWorker.Close();
    }
    m_pictureCtrl.Clear();
    // The report, the findings list and a record no worker took over (its start failed) go
    // with their owners.
}

BEGIN_MESSAGE_MAP(CKlarnerDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_TIMER()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDOK, &CKlarnerDlg::OnBnClickedOk)
    ON_COMMAND(ID_HELP_ABOUT, &CKlarnerDlg::OnAbout)
    ON_BN_CLICKED(IDCANCEL, &CKlarnerDlg::OnBnClickedCancel)
    ON_BN_CLICKED(IDC_SELECT_ALL, &CKlarnerDlg::OnBnClickedSelectAll)
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_RESULT_LIST, &CKlarnerDlg::OnItemChangedResultList)
    ON_COMMAND(ID_FILE_SETTINGS, &CKlarnerDlg::OnSettings)
    ON_BN_CLICKED(IDC_SETTINGS, &CKlarnerDlg::OnSettings)
    ON_MESSAGE(WM_WORKER_DONE, &CKlarnerDlg::OnWorkerDone)
    ON_BN_CLICKED(IDC_CLEAR, &CKlarnerDlg::OnBnClickedClear)
    ON_COMMAND(ID_FILE_EXIT, &CKlarnerDlg::OnExit)
    ON_COMMAND(ID_FILE_UNDO, &CKlarnerDlg::OnUndo)
    ON_WM_SIZE()
    ON_WM_GETMINMAXINFO()
    ON_MESSAGE(WM_DPICHANGED, &CKlarnerDlg::OnDpiChanged)
    ON_MESSAGE(WM_NOTIFYFORMAT, &CKlarnerDlg::OnNotifyFormat)
    ON_NOTIFY(LVN_GETINFOTIPW, IDC_RESULT_LIST, &CKlarnerDlg::OnGetInfoTip)
    ON_NOTIFY(LVN_GETINFOTIPA, IDC_RESULT_LIST, &CKlarnerDlg::OnGetInfoTip)
    ON_NOTIFY(LVN_GETDISPINFOW, IDC_RESULT_LIST, &CKlarnerDlg::OnGetDispInfo)
    ON_NOTIFY(LVN_GETDISPINFOA, IDC_RESULT_LIST, &CKlarnerDlg::OnGetDispInfo)
    ON_WM_CONTEXTMENU()
    ON_COMMAND(ID_VIEW_GROUP_BY_KIND, &CKlarnerDlg::OnGroupByKind)
    ON_COMMAND(ID_FINDING_COPY_PATH, &CKlarnerDlg::OnCopyPath)
    ON_COMMAND(ID_FINDING_COPY_TICKED, &CKlarnerDlg::OnCopyTicked)
    ON_COMMAND(ID_FINDING_OPEN_REGEDIT, &CKlarnerDlg::OnOpenRegedit)
    ON_COMMAND(ID_FINDING_OPEN_EXPLORER, &CKlarnerDlg::OnOpenExplorer)
END_MESSAGE_MAP()

void CKlarnerDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RESULT_LIST, m_resultList);
    DDX_Control(pDX, IDC_SELECT_ALL, m_selectAll);
    DDX_Control(pDX, IDC_PICTURE, m_pictureCtrl);
    DDX_Control(pDX, IDOK, m_actionButton);
    DDX_Control(pDX, IDC_CLEAR, m_clearButton);
}

#include "DialogParts.h"

namespace {
// A command that ended early (out of memory during a removal, say) says so once.
void ReportFailedCommand(bool noMemory)
{
    CString text, caption;
    text.LoadString(noMemory ? IDS_OUT_OF_MEMORY : IDS_INTERNAL_ERROR);
    caption.LoadString(IDS_ERROR_CAPTION);
    CWinApp* app = AfxGetApp();
    ::MessageBoxA(app && app->m_pMainWnd ? app->m_pMainWnd->GetSafeHwnd() : nullptr, text, caption, MB_ICONERROR);
}
}

BOOL CKlarnerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    AfxSetGuardReporter(&ReportFailedCommand);
    m_caption.LoadString(IDS_ERROR_CAPTION);

    m_report.Close();
    m_removeMode = 0;
    const RootKeySlot startSlots[kRootKeyCount] = { 0, SlotFromHkey(HKEY_CURRENT_USER), SlotFromHkey(HKEY_LOCAL_MACHINE), 0,
                                                     0 };
    memcpy(m_rootKeys, startSlots, sizeof m_rootKeys);
    m_findings.Reset(nullptr);
    m_workerRecord.reset();

    if (HMENU systemMenu = GetSystemMenu(FALSE)) {
        CString aboutItem;
        aboutItem.LoadString(IDS_ABOUTBOX);
        if (!aboutItem.IsEmpty()) {
            ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem);
        }
    }

    m_selectAll.EnableWindow(FALSE);
    m_dpi = DpiOf(m_hWnd);
    KeepOwnLayoutOnScaleChange(m_hWnd);
    // Tips name the whole finding; the list draws off screen first, so a full list does not
    // flicker while the window grows.
    m_resultList.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                             LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP |
                                 LVS_EX_DOUBLEBUFFER);
    m_resultList.InsertColumn(kColumnCheck, "", LVCFMT_LEFT, Scale(kCheckColumnWidth));
    m_resultList.InsertColumn(kColumnPath, kColumnKey, LVCFMT_LEFT, Scale(kPathColumnWidth));
    m_resultList.InsertColumn(kColumnLetter, kColumnType, LVCFMT_LEFT, 0);
    // What named the product, for the findings by reference (a class's server file, an uninstall
    // entry's name); right of the paths.
    CString heading;
    heading.LoadString(IDS_COLUMN_REASON);
    m_resultList.InsertColumn(kColumnReason, heading, LVCFMT_LEFT, Scale(kReasonColumnWidth));
    heading.LoadString(IDS_COLUMN_KIND);
    m_resultList.InsertColumn(kColumnKind, heading, LVCFMT_LEFT, Scale(kKindColumnWidth));
    const int order[kResultColumns] = { kColumnCheck, kColumnPath, kColumnLetter, kColumnKind, kColumnReason };
    m_resultList.SetColumnOrder(kResultColumns, order);
    // Notifications in Unicode from now on (the list asks the dialog again).
    m_resultList.SendMessage(WM_NOTIFYFORMAT, reinterpret_cast<WPARAM>(m_hWnd), NF_REQUERY);

    // View > Group by kind, beside the menu the language library brings.
    if (HMENU menu = ::GetMenu(m_hWnd)) {
        CString text;
        m_viewMenu = ::CreatePopupMenu();
        text.LoadString(IDS_MENU_GROUP_BY_KIND);
        ::AppendMenuA(m_viewMenu, MF_STRING | MF_CHECKED, ID_VIEW_GROUP_BY_KIND, text);
        text.LoadString(IDS_MENU_VIEW);
        ::InsertMenuA(menu, static_cast<UINT>(::GetMenuItemCount(menu) - 1), MF_BYPOSITION | MF_POPUP | MF_STRING,
                      reinterpret_cast<UINT_PTR>(m_viewMenu), text);
        ::DrawMenuBar(m_hWnd);
    }
    m_groupsAvailable = m_resultList.EnableGroupView(TRUE);
    UpdateGroupMenu();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    if (m_pictureCtrl.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_IDLE), "GIF"))
        m_pictureCtrl.Show();
    // The template's size is the smallest; everything is measured as the dialog manager placed
    // it for this display's scale.
    m_layout.Start(m_hWnd, kLayoutRules);
    const RECT details = m_layout.Placed(IDC_DETAILS);
    m_detailsHeight = details.bottom - details.top;
    RECT list = {};
    m_resultList.GetClientRect(&list);
    m_fittedWidth = list.right;
    return TRUE;
}

void CKlarnerDlg::EnterSearching()
{
    // The stop flag is cleared before the worker starts: a stop asked of the last search must
    // not end this one. Closing now takes a Cancel to stop first.
    m_closeAllowed = 0;
    SharedWrite(&m_stopRequested, 0);
    SharedWrite(&m_keysSearched, 0);
    m_removeMode = 1;
    m_searching = TRUE;
}

void CKlarnerDlg::EnterResults(int count)
{
    // Results with findings to remove, or No results, where IDOK searches again.
    m_searching = FALSE;
    m_removeMode = count > 0 ? 1 : 0;
    m_closeAllowed = 1;
}

void CKlarnerDlg::EnterIdle()
{
    SharedWrite(&m_stopRequested, 0);
    m_removeMode = 0;
}

void CKlarnerDlg::RequestStop()
{
    SharedWrite(&m_stopRequested, 1);
    m_closeAllowed = 1;
}

void CKlarnerDlg::OpenSearchReport()
{
    // The file is opened afresh for every search; an earlier search's handle goes first.
    m_report.Open(m_reportPath);
}

void CKlarnerDlg::CloseSearchReport()
{
    m_report.Close();
}

void CKlarnerDlg::OnBnClickedCancel()
{
    if (m_closeAllowed) {
        CDialog::OnCancel();
        return;
    }
    // A search runs: the first Cancel only asks it to stop; the next one closes.
    RequestStop();
}

void CKlarnerDlg::OnExit()
{
    RequestStop();
    ::Sleep(1000);
    CDialog::OnCancel();
}

void CKlarnerDlg::OnSettings()
{
    CConfig dlg(this, m_keywords, m_reportPath, m_rootKeys);
    dlg.SetFollowReferences(m_followReferences);
    dlg.SetRepair(m_offlineFolder, m_dangling);
    if (dlg.DoModal() != IDOK)
        return;
    m_reportPath = dlg.GetReportPath();
    ExpandReportPath(m_reportPath);
    m_keywords = dlg.GetKeywords();
    if (m_keywords.IsEmpty())
        m_keywords = kDefaultKeywords;
    memcpy(m_rootKeys, dlg.GetRootKeys(), sizeof m_rootKeys);
    m_followReferences = dlg.GetFollowReferences();
    m_offlineFolder = dlg.GetOfflineFolder();
    m_dangling = dlg.GetDangling();
}

void CKlarnerDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void CKlarnerDlg::OnAbout()
{
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
}

void CKlarnerDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CKlarnerDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CKlarnerDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kProgressTimer) {
        Default();
        return;
    }
    // A tick already queued when the search ended must not cover the final status.
    if (m_searching)
        ShowProgress();
}

void CKlarnerDlg::ShowProgress()
{
    CString status;
    status.Format(LoadFormatText(IDS_STATUS_PROGRESS_FMT), static_cast<int>(SharedRead(&m_keysSearched)));
    SetDlgItemText(IDC_STATUS, status);
}

void CKlarnerDlg::SetActionCaption(UINT id)
{
    m_text.LoadString(id);
    m_actionButton.SetWindowText(m_text);
}
