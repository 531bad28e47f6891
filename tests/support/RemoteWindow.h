// Reading and changing another process's list views: the messages carry pointers, so
// their structures and texts live in memory allocated inside that process.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>

namespace kt {

class RemoteList
{
public:
    explicit RemoteList(HWND list);
    ~RemoteList();
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    int Count() const;
    std::string Text(int item, int subItem) const;
    std::wstring TextW(int item, int subItem) const;
    bool Checked(int item) const;
    void SetChecked(int item, bool checked) const;
    std::string ColumnHeading(int column) const;
    int ColumnWidth(int column) const;
    DWORD ExtendedStyle() const;
    // Selects a row (the focused one when `focus`), or clears every row's selection with -1.
    void Select(int item, bool selected, bool focus = false) const;
    int SelectedCount() const;
    // The width the list needs for a text in its own font (LVM_GETSTRINGWIDTH).
    int StringWidth(const std::string& text) const;

private:
    HWND m_list;
    HANDLE m_process = nullptr;
    char* m_remote = nullptr;  // an LVITEMA / LVCOLUMNA followed by a text buffer
};

}  // namespace kt
