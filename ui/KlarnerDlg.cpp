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

namespace {
// The widths the columns start with, at 96 DPI (pixels).
const int kCheckColumnWidth = 23;
const int kPathColumnWidth = 609;
const int kKindColumnWidth = 120;
// Room beside a cell's or a heading's text, and for the list's vertical scroll bar (96 DPI).
const int kCellPadding = 16;
const int kScrollBarRoom = 18;
// No column is fitted narrower than this while another is wider (96 DPI).
const int kNarrowestColumn = 60;
// The details line takes at most this share of the window's client height.
const int kDetailsShareOfHeight = 3;
// A row's tip holds at most this many characters.
const size_t kTipChars = INFOTIPSIZE;

// Where each control keeps to when the window changes size; the picture keeps its place.
const std::vector<CDynamicLayout::Rule> kLayoutRules = {
    { IDC_STATIC, CDynamicLayout::SizeX },
    { IDC_STATUS, CDynamicLayout::SizeX },
    { IDC_RESULT_LIST, CDynamicLayout::SizeX | CDynamicLayout::SizeY },
    { IDC_DETAILS, CDynamicLayout::SizeX | CDynamicLayout::MoveY },
    { IDC_SELECT_ALL, CDynamicLayout::MoveY },
    { IDC_SETTINGS, CDynamicLayout::MoveY },
    { IDC_CLEAR, CDynamicLayout::MoveY },
    { IDOK, CDynamicLayout::MoveX | CDynamicLayout::MoveY },
    { IDCANCEL, CDynamicLayout::MoveX | CDynamicLayout::MoveY },
};

// The display's scale of a window: per window where Windows knows it (10, 1607 and later),
// else the system's.
int DpiOf(HWND window)
{
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    static const DpiForWindow dpiForWindow =
        reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow)
        if (const UINT dpi = dpiForWindow(window))
            return static_cast<int>(dpi);
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// The window places its own controls when the display's scale changes (it knows which of them
// stretch); the dialog manager still gives every control the font for the new scale.
void KeepOwnLayoutOnScaleChange(HWND dialog)
{
    typedef BOOL(WINAPI * DialogDpiBehavior)(HWND, int, int);
    const DialogDpiBehavior behave = reinterpret_cast<DialogDpiBehavior>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetDialogDpiChangeBehavior")));
    const int kDisableResize = 0x0002, kDisableControlRelayout = 0x0004;
    if (behave)
        behave(dialog, kDisableResize | kDisableControlRelayout, kDisableResize | kDisableControlRelayout);
}

// The width of a text in the font selected into `dc`.
int TextWidth(HDC dc, const wchar_t* text)
{
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    return size.cx;
}

// A device context with a window's font, for measuring its texts.
class CFontDC
{
public:
    explicit CFontDC(HWND window) : m_window(window), m_dc(::GetDC(window))
    {
        m_old = ::SelectObject(m_dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(window, WM_GETFONT, 0, 0)));
    }
    ~CFontDC()
    {
        ::SelectObject(m_dc, m_old);
        ::ReleaseDC(m_window, m_dc);
    }
    CFontDC(const CFontDC&) = delete;
    CFontDC& operator=(const CFontDC&) = delete;
    operator HDC() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
    HGDIOBJ m_old;
};

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

int CKlarnerDlg::Scale(int pixels) const
{
    return ::MulDiv(pixels, m_dpi, 96);
}

void CKlarnerDlg::OnSize(UINT type, int, int)
{
    if (type == SIZE_MINIMIZED || !m_layout.Started())
        return;
    Layout();
}

void CKlarnerDlg::OnGetMinMaxInfo(MINMAXINFO* info)
{
    if (!m_layout.Started())
        return;
    info->ptMinTrackSize.x = m_layout.MinimumSize().cx;
    info->ptMinTrackSize.y = m_layout.MinimumSize().cy;
}

LRESULT CKlarnerDlg::OnDpiChanged(WPARAM wParam, LPARAM lParam)
{
    // Moved to a display of another scale: every distance, the columns and the smallest size
    // follow; Windows suggests the window's new rectangle.
    const int dpi = LOWORD(wParam);
    if (dpi > 0 && dpi != m_dpi) {
        m_layout.Rescale(m_dpi, dpi);
        for (int column = 0; column < kResultColumns; ++column) {
            m_resultList.SetColumnWidth(column, ::MulDiv(m_resultList.GetColumnWidth(column), dpi, m_dpi));
            m_columnNeeds[column] = ::MulDiv(m_columnNeeds[column], dpi, m_dpi);
        }
        m_detailsHeight = ::MulDiv(m_detailsHeight, dpi, m_dpi);
        m_dpi = dpi;
    }
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

int CKlarnerDlg::WantedDetailsHeight() const
{
    // The details line grows with its text, up to a share of the window, never below the
    // template's height.
    CWnd* detailsLine = GetDlgItem(IDC_DETAILS);
    if (!detailsLine)
        return m_detailsHeight;
    const RECT details = m_layout.Placed(IDC_DETAILS);
    const int length = ::GetWindowTextLengthW(*detailsLine);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::GetWindowTextW(*detailsLine, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    CFontDC dc(*detailsLine);
    RECT measured = { 0, 0, details.right - details.left, 0 };
    ::DrawTextW(dc, text.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    RECT client = {};
    GetClientRect(&client);
    return std::max<int>(m_detailsHeight, std::min<int>(measured.bottom, client.bottom / kDetailsShareOfHeight));
}

void CKlarnerDlg::Layout()
{
    // The list gives the details line the room its text takes beyond the template's height.
    const RECT start = m_layout.Placed(IDC_DETAILS);
    const int extra = WantedDetailsHeight() - (start.bottom - start.top);
    m_layout.Apply([extra](int id, RECT& rect) {
        if (id == IDC_RESULT_LIST)
            rect.bottom -= extra;
        else if (id == IDC_DETAILS)
            rect.top -= extra;
    });
    RECT list = {};
    m_resultList.GetClientRect(&list);
    if (list.right != m_fittedWidth) {
        m_fittedWidth = list.right;
        FitColumns();
    }
}

void CKlarnerDlg::MeasureColumns()
{
    CFontDC dc(m_resultList);
    const int padding = Scale(kCellPadding);
    for (int column : { kColumnPath, kColumnReason, kColumnKind }) {
        char heading[256] = "";
        LVCOLUMNA lvc = {};
        lvc.mask = LVCF_TEXT;
        lvc.pszText = heading;
        lvc.cchTextMax = sizeof heading;
        m_resultList.SendMessage(LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lvc));
        SIZE size = {};
        ::GetTextExtentPoint32A(dc, heading, static_cast<int>(strlen(heading)), &size);
        m_columnNeeds[column] = size.cx + padding;
    }
    // Each kind's name once; the paths and reasons as the model holds them.
    for (const KindGroup& group : m_groups)
        m_columnNeeds[kColumnKind] = std::max(m_columnNeeds[kColumnKind], TextWidth(dc, group.name.c_str()) + padding);
    for (size_t i = 0; i < m_model.size(); ++i) {
        m_columnNeeds[kColumnPath] = std::max(m_columnNeeds[kColumnPath], TextWidth(dc, ShownPath(i).c_str()) + padding);
        m_columnNeeds[kColumnReason] = std::max(m_columnNeeds[kColumnReason], TextWidth(dc, Shown(m_model[i].reason).c_str()) + padding);
    }
}

void CKlarnerDlg::FitColumns()
{
    // Every column within the list's width, the kind whole: a path or a reason that does not
    // fit is cut in the list, and shown whole by the details line and the row's tip.
    const bool anyReason = std::any_of(m_model.begin(), m_model.end(), [](const CmdListEntry& e) { return e.reason[0] != 0; });
    RECT client = {};
    m_resultList.GetClientRect(&client);
    const int check = m_resultList.GetColumnWidth(kColumnCheck);
    const int kind = m_columnNeeds[kColumnKind];
    const int room = std::max<int>(0, client.right - Scale(kScrollBarRoom) - check - kind);
    const int narrowest = Scale(kNarrowestColumn);
    int path = m_columnNeeds[kColumnPath], reason = m_columnNeeds[kColumnReason];
    if (path + reason <= room) {
        // Room to spare goes to the reasons, or to the paths while nothing has a reason.
        if (anyReason)
            reason = room - path;
        else
            path = room - reason;
    } else if (reason <= room / 2) {
        path = room - reason;
    } else if (path <= room / 2) {
        reason = room - path;
    } else {
        path = room / 2;
        reason = room - path;
    }
    m_resultList.SetColumnWidth(kColumnPath, std::max(path, std::min(narrowest, room)));
    m_resultList.SetColumnWidth(kColumnReason, std::max(reason, std::min(narrowest, room)));
    m_resultList.SetColumnWidth(kColumnKind, kind);
}

const CmdListEntry& CKlarnerDlg::FindingOf(int item) const
{
    return m_model[m_resultList.GetItemData(item)];
}

std::wstring CKlarnerDlg::ShownPath(size_t index) const
{
    return OfflinePrefix() + m_model[index].path;
}

std::wstring CKlarnerDlg::DetailsOf(int item) const
{
    const size_t index = m_resultList.GetItemData(item);
    if (index >= m_model.size())
        return std::wstring();
    return FindingDetails(m_model[index], ShownPath(index), index < m_advice.size() ? m_advice[index] : std::wstring());
}

void CKlarnerDlg::ShowDetails()
{
    CWnd* detailsLine = GetDlgItem(IDC_DETAILS);
    if (!detailsLine)
        return;
    const int item = m_resultList.SelectedItem();
    std::wstring text;
    if (item >= 0)
        text = DetailsOf(item);
    else if (m_resultList.GetItemCount() > 0)
        text = LoadWideText(IDS_DETAILS_HINT);
    ::SetWindowTextW(*detailsLine, text.c_str());
    // Placed afresh only when the text needs another height: a new selection does not move
    // every control.
    RECT shown = {};
    ::GetWindowRect(*detailsLine, &shown);
    if (WantedDetailsHeight() != shown.bottom - shown.top)
        Layout();
}

LRESULT CKlarnerDlg::OnNotifyFormat(WPARAM wParam, LPARAM)
{
    if (reinterpret_cast<HWND>(wParam) == m_resultList.GetSafeHwnd())
        return NFR_UNICODE;
    return Default();
}

void CKlarnerDlg::OnGetInfoTip(NMHDR* pNMHDR, LRESULT* pResult)
{
    *pResult = 0;
    const int item = reinterpret_cast<NMLVGETINFOTIPW*>(pNMHDR)->iItem;
    if (item < 0 || item >= m_resultList.GetItemCount())
        return;
    const std::wstring tip = DetailsOf(item);
    if (pNMHDR->code == LVN_GETINFOTIPW) {
        NMLVGETINFOTIPW* info = reinterpret_cast<NMLVGETINFOTIPW*>(pNMHDR);
        if (info->pszText && info->cchTextMax > 0)
            lstrcpynW(info->pszText, tip.c_str(), std::min(info->cchTextMax, static_cast<int>(kTipChars)));
    } else {
        NMLVGETINFOTIPA* info = reinterpret_cast<NMLVGETINFOTIPA*>(pNMHDR);
        if (info->pszText && info->cchTextMax > 0) {
            const int chars = std::min(info->cchTextMax, static_cast<int>(kTipChars));
            int written = ::WideCharToMultiByte(CP_ACP, 0, tip.c_str(), -1, info->pszText, chars, nullptr, nullptr);
            // Too long for the buffer: as much as surely fits, a character taking two bytes at most.
            if (written == 0)
                written = ::WideCharToMultiByte(CP_ACP, 0, tip.substr(0, static_cast<size_t>(chars - 1) / 2).c_str(), -1,
                                                info->pszText, chars, nullptr, nullptr);
            info->pszText[written > 0 ? written - 1 : 0] = '\0';
        }
    }
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
