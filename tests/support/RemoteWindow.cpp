// Reading and changing another process's list views.
#include "RemoteWindow.h"

namespace kt {

namespace {
const SIZE_T kRemoteBytes = 8192;
const SIZE_T kTextOffset = 256;
}

RemoteList::RemoteList(HWND list)
    : m_list(list)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (m_process)
        m_remote = static_cast<char*>(VirtualAllocEx(m_process, nullptr, kRemoteBytes, MEM_COMMIT, PAGE_READWRITE));
}

RemoteList::~RemoteList()
{
    if (m_remote)
        VirtualFreeEx(m_process, m_remote, 0, MEM_RELEASE);
    if (m_process)
        CloseHandle(m_process);
}

int RemoteList::Count() const
{
    return static_cast<int>(SendMessageA(m_list, LVM_GETITEMCOUNT, 0, 0));
}

std::string RemoteList::Text(int item, int subItem) const
{
    LVITEMA lvi = {};
    lvi.iSubItem = subItem;
    lvi.pszText = m_remote + kTextOffset;
    lvi.cchTextMax = static_cast<int>(kRemoteBytes - kTextOffset);
    WriteProcessMemory(m_process, m_remote, &lvi, sizeof lvi, nullptr);
    SendMessageA(m_list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(m_remote));
    char text[kRemoteBytes - kTextOffset] = "";
    ReadProcessMemory(m_process, m_remote + kTextOffset, text, sizeof text - 1, nullptr);
    return text;
}

std::wstring RemoteList::TextW(int item, int subItem) const
{
    LVITEMW lvi = {};
    lvi.iSubItem = subItem;
    lvi.pszText = reinterpret_cast<wchar_t*>(m_remote + kTextOffset);
    lvi.cchTextMax = static_cast<int>((kRemoteBytes - kTextOffset) / sizeof(wchar_t));
    WriteProcessMemory(m_process, m_remote, &lvi, sizeof lvi, nullptr);
    SendMessageW(m_list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(m_remote));
    wchar_t text[(kRemoteBytes - kTextOffset) / sizeof(wchar_t)] = L"";
    ReadProcessMemory(m_process, m_remote + kTextOffset, text, sizeof text - sizeof(wchar_t), nullptr);
    return text;
}

bool RemoteList::Checked(int item) const
{
    UINT state = static_cast<UINT>(SendMessageA(m_list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void RemoteList::SetChecked(int item, bool checked) const
{
    LVITEMA lvi = {};
    lvi.stateMask = LVIS_STATEIMAGEMASK;
    lvi.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    WriteProcessMemory(m_process, m_remote, &lvi, sizeof lvi, nullptr);
    SendMessageA(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(m_remote));
}

std::string RemoteList::ColumnHeading(int column) const
{
    LVCOLUMNA lvc = {};
    lvc.mask = LVCF_TEXT;
    lvc.pszText = m_remote + kTextOffset;
    lvc.cchTextMax = static_cast<int>(kRemoteBytes - kTextOffset);
    WriteProcessMemory(m_process, m_remote, &lvc, sizeof lvc, nullptr);
    if (!SendMessageA(m_list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(m_remote)))
        return "<no column>";
    char text[256] = "";
    ReadProcessMemory(m_process, m_remote + kTextOffset, text, sizeof text - 1, nullptr);
    return text;
}

int RemoteList::ColumnWidth(int column) const
{
    return static_cast<int>(SendMessageA(m_list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

DWORD RemoteList::ExtendedStyle() const
{
    return static_cast<DWORD>(SendMessageA(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

void RemoteList::Select(int item, bool selected, bool focus) const
{
    LVITEMA lvi = {};
    lvi.stateMask = LVIS_SELECTED | (focus ? LVIS_FOCUSED : 0);
    lvi.state = selected ? lvi.stateMask : 0;
    WriteProcessMemory(m_process, m_remote, &lvi, sizeof lvi, nullptr);
    SendMessageA(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(m_remote));
}

int RemoteList::SelectedCount() const
{
    return static_cast<int>(SendMessageA(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
}

int RemoteList::StringWidth(const std::string& text) const
{
    WriteProcessMemory(m_process, m_remote + kTextOffset, text.c_str(), text.size() + 1, nullptr);
    return static_cast<int>(SendMessageA(m_list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(m_remote + kTextOffset)));
}

}  // namespace kt
