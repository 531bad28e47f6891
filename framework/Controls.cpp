// Control wrappers of the framework layer.
#include "Controls.h"
#include <vector>

namespace {
// The character Ctrl+A types, whatever the keyboard's layout.
const WPARAM kCtrlA = 0x01;
// WM_KEYDOWN's bit for a key that was down already (a repeat).
const LPARAM kKeyWasDown = 1 << 30;
}

DWORD CListCtrl::SetExtendedStyle(DWORD style)
{
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style));
}

int CListCtrl::InsertColumn(int column, const char* heading, int format, int width, int subItem)
{
    LVCOLUMNA lvc = {};
    lvc.mask = LVCF_FMT | LVCF_TEXT;
    lvc.fmt = format;
    lvc.pszText = const_cast<char*>(heading);
    if (width >= 0) {
        lvc.mask |= LVCF_WIDTH;
        lvc.cx = width;
    }
    if (subItem >= 0) {
        lvc.mask |= LVCF_SUBITEM;
        lvc.iSubItem = subItem;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lvc)));
}

int CListCtrl::InsertItem(int item, const char* text)
{
    LVITEMA lvi = {};
    lvi.mask = LVIF_TEXT;
    lvi.iItem = item;
    lvi.pszText = const_cast<char*>(text);
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char* text)
{
    LVITEMA lvi = {};
    lvi.iSubItem = subItem;
    lvi.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}

BOOL CListCtrl::SetItemText(int item, int subItem, const wchar_t* text)
{
    LVITEMW lvi = {};
    lvi.iSubItem = subItem;
    lvi.pszText = const_cast<wchar_t*>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}

namespace {
// An item's text in either character set: the buffer grows until the text fits (the list
// view reports the length it copied).
template <class Char, class Item> std::basic_string<Char> ItemText(HWND list, UINT message, int item, int subItem)
{
    for (int capacity = 256;; capacity *= 2) {
        std::vector<Char> buffer(static_cast<size_t>(capacity), Char());
        Item lvi = {};
        lvi.iSubItem = subItem;
        lvi.pszText = buffer.data();
        lvi.cchTextMax = capacity;
        int length = static_cast<int>(
            ::SendMessageA(list, message, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
        if (length < capacity - 1 || capacity >= 65536)
            return std::basic_string<Char>(buffer.data());
    }
}
}

std::wstring CListCtrl::GetItemTextW(int item, int subItem) const
{
    return ItemText<wchar_t, LVITEMW>(m_hWnd, LVM_GETITEMTEXTW, item, subItem);
}

CString CListCtrl::GetItemText(int item, int subItem) const
{
    return CString(ItemText<char, LVITEMA>(m_hWnd, LVM_GETITEMTEXTA, item, subItem).c_str());
}

int CListCtrl::GetItemCount() const
{
    return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

BOOL CListCtrl::GetCheck(int item) const
{
    UINT state = static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
    return ((state >> 12) - 1) == 1;
}

BOOL CListCtrl::SetCheck(int item, BOOL check)
{
    LVITEMA lvi = {};
    lvi.stateMask = LVIS_STATEIMAGEMASK;
    lvi.state = INDEXTOSTATEIMAGEMASK(check ? 2 : 1);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}

BOOL CListCtrl::DeleteItem(int item)
{
    return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(item)));
}

BOOL CListCtrl::DeleteAllItems()
{
    return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS));
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data)
{
    LVITEMA lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    lvi.lParam = static_cast<LPARAM>(data);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

DWORD_PTR CListCtrl::GetItemData(int item) const
{
    LVITEMA lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    return SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi)) ? static_cast<DWORD_PTR>(lvi.lParam) : 0;
}

int CListCtrl::FindItem(LVFINDINFOA* find, int start) const
{
    return static_cast<int>(SendMessage(LVM_FINDITEMA, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(find)));
}

int CListCtrl::InsertItem(int item, const char* text, LPARAM data, int groupId)
{
    LVITEMA lvi = {};
    lvi.mask = LVIF_TEXT | LVIF_PARAM | LVIF_GROUPID;
    lvi.iItem = item;
    lvi.pszText = const_cast<char*>(text);
    lvi.lParam = data;
    lvi.iGroupId = groupId;
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

int CListCtrl::GetColumnWidth(int column) const
{
    return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
}

BOOL CListCtrl::SetColumnWidth(int column, int width)
{
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0)));
}

BOOL CListCtrl::SetColumnOrder(int count, const int* order)
{
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNORDERARRAY, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(order)));
}

UINT CListCtrl::GetItemState(int item, UINT mask) const
{
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(item), mask));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask)
{
    LVITEMA lvi = {};
    lvi.state = state;
    lvi.stateMask = mask;
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}

int CListCtrl::GetNextItem(int start, UINT flags) const
{
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

BOOL CListCtrl::GetItemRect(int item, RECT* rect, UINT code) const
{
    rect->left = static_cast<LONG>(code);
    return static_cast<BOOL>(SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(rect)));
}

int CListCtrl::HitTest(POINT clientPoint) const
{
    LVHITTESTINFO hit = {};
    hit.pt = clientPoint;
    return static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
}

void CListCtrl::SetRedraw(BOOL redraw)
{
    SendMessage(WM_SETREDRAW, static_cast<WPARAM>(redraw));
}

int CListCtrl::SelectedItem() const
{
    const int focused = GetNextItem(-1, LVNI_FOCUSED);
    if (focused >= 0 && (GetItemState(focused, LVIS_SELECTED) & LVIS_SELECTED))
        return focused;
    return GetNextItem(-1, LVNI_SELECTED);
}

BOOL CListCtrl::EnableGroupView(BOOL enable)
{
    SendMessage(LVM_ENABLEGROUPVIEW, static_cast<WPARAM>(enable));
    return IsGroupViewEnabled() == enable;
}

BOOL CListCtrl::IsGroupViewEnabled() const
{
    return static_cast<BOOL>(SendMessage(LVM_ISGROUPVIEWENABLED));
}

int CListCtrl::InsertGroup(int groupId, const wchar_t* header)
{
    LVGROUP group = {};
    group.cbSize = sizeof group;
    group.mask = LVGF_HEADER | LVGF_GROUPID;
    group.pszHeader = const_cast<wchar_t*>(header);
    group.iGroupId = groupId;
    return static_cast<int>(SendMessage(LVM_INSERTGROUP, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&group)));
}

BOOL CListCtrl::SetGroupHeader(int groupId, const wchar_t* header)
{
    LVGROUP group = {};
    group.cbSize = sizeof group;
    group.mask = LVGF_HEADER;
    group.pszHeader = const_cast<wchar_t*>(header);
    return SendMessage(LVM_SETGROUPINFO, static_cast<WPARAM>(groupId), reinterpret_cast<LPARAM>(&group)) != -1;
}

BOOL CListCtrl::RemoveGroup(int groupId)
{
    return SendMessage(LVM_REMOVEGROUP, static_cast<WPARAM>(groupId)) != -1;
}

void CListCtrl::RemoveAllGroups()
{
    SendMessage(LVM_REMOVEALLGROUPS);
}

LRESULT CCheckListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The control's own Space ticks the focused row alone; the space and Ctrl+A characters
    // would start an incremental search for a name that begins with them.
    if (message == WM_KEYDOWN && wParam == VK_SPACE) {
        // A key held down ticks once, not once per repeat.
        if (!(lParam & kKeyWasDown))
            ToggleSelected();
        return 0;
    }
    if (message == WM_CHAR && (wParam == ' ' || wParam == kCtrlA)) {
        if (wParam == kCtrlA)
            SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
        return 0;
    }
    return CListCtrl::WindowProc(message, wParam, lParam);
}

void CCheckListCtrl::ToggleSelected()
{
    const int leading = SelectedItem();
    if (leading < 0)
        return;
    const BOOL tick = !GetCheck(leading);
    for (int item = GetNextItem(-1, LVNI_SELECTED); item >= 0; item = GetNextItem(item, LVNI_SELECTED))
        SetCheck(item, tick);
}

CPaintDC::CPaintDC(CWnd* wnd)
    : m_hWnd(wnd->GetSafeHwnd())
{
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
}

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent, DWORD size, BOOL /*vistaStyle*/)
    : m_openFileDialog(openFileDialog)
{
    memset(&m_ofn, 0, sizeof m_ofn);
    m_szFileName[0] = '\0';
    if (fileName)
        lstrcpynA(m_szFileName, fileName, sizeof m_szFileName);
    m_ofn.lStructSize = size ? size : sizeof m_ofn;
    m_ofn.hwndOwner = parent ? parent->GetSafeHwnd() : nullptr;
    m_ofn.lpstrFilter = filter;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = sizeof m_szFileName;
    m_ofn.lpstrDefExt = defaultExt;
    m_ofn.Flags = flags;
}

INT_PTR CFileDialog::DoModal()
{
    BOOL ok = m_openFileDialog ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    if (!ok)
        m_szFileName[0] = '\0';
    return ok ? IDOK : IDCANCEL;
}
