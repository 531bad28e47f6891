// The main window's layout: growing with the window and the display's scale, the columns'
// widths, the details line and the rows' tips.
#include "KlarnerDlg.h"
#include "DialogParts.h"
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
