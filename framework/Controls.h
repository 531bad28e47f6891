// Control wrappers of the framework layer: static, button, edit, list view, paint DC and
// the file-open dialog. Each is a thin layer over the control's own messages.
#pragma once
#include "CWnd.h"
#include <commctrl.h>
#include <commdlg.h>
#include <string>

class CStatic : public CWnd
{
};

class CButton : public CWnd
{
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

class CEdit : public CWnd
{
};

class CListCtrl : public CWnd
{
public:
    DWORD SetExtendedStyle(DWORD style);
    int InsertColumn(int column, const char* heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
    int InsertItem(int item, const char* text);
    BOOL SetItemText(int item, int subItem, const char* text);
    // Unicode texts, for registry names that the ANSI code page cannot hold.
    BOOL SetItemText(int item, int subItem, const wchar_t* text);
    CString GetItemText(int item, int subItem) const;
    std::wstring GetItemTextW(int item, int subItem) const;
    int GetItemCount() const;
    BOOL GetCheck(int item) const;
    BOOL SetCheck(int item, BOOL check = TRUE);
    BOOL DeleteItem(int item);
    BOOL DeleteAllItems();
    // The value an item carries beside its texts, and the item that carries a value (-1: none).
    BOOL SetItemData(int item, DWORD_PTR data);
    DWORD_PTR GetItemData(int item) const;
    int FindItem(LVFINDINFOA* find, int start = -1) const;

    // One message per row: its text, its value and its group.
    int InsertItem(int item, const char* text, LPARAM data, int groupId);
    int GetColumnWidth(int column) const;
    BOOL SetColumnWidth(int column, int width);
    BOOL SetColumnOrder(int count, const int* order);
    UINT GetItemState(int item, UINT mask) const;
    // Every row when `item` is -1.
    BOOL SetItemState(int item, UINT state, UINT mask);
    int GetNextItem(int start, UINT flags) const;
    BOOL GetItemRect(int item, RECT* rect, UINT code) const;
    int HitTest(POINT clientPoint) const;
    void SetRedraw(BOOL redraw);
    // The row the details speak of: the focused row while it is selected, else the first
    // selected one; -1 when none is.
    int SelectedItem() const;

    // Groups, a feature of common controls 6: a control without it (an older one, Wine's)
    // answers FALSE, and the rows stay a flat list.
    BOOL EnableGroupView(BOOL enable);
    BOOL IsGroupViewEnabled() const;
    int InsertGroup(int groupId, const wchar_t* header);
    BOOL SetGroupHeader(int groupId, const wchar_t* header);
    BOOL RemoveGroup(int groupId);
    void RemoveAllGroups();
};

// A check-box list as people expect one to behave: Space ticks (or clears) every selected
// row as the focused row's box goes, and Ctrl+A selects every row.
class CCheckListCtrl : public CListCtrl
{
protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void ToggleSelected();
};

// Paint device context for the duration of one WM_PAINT.
class CPaintDC
{
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    PAINTSTRUCT m_ps;
    HDC m_hDC;

private:
    HWND m_hWnd;
};

class CFileDialog
{
public:
    CFileDialog(BOOL openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr, DWORD size = 0, BOOL vistaStyle = TRUE);
    INT_PTR DoModal();
    CString GetPathName() const { return CString(m_szFileName); }

    OPENFILENAMEA m_ofn;

private:
    BOOL m_openFileDialog;
    char m_szFileName[MAX_PATH * 2];
};
