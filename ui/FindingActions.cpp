// The actions on a finding: its menu, copying paths to the clipboard, opening a key in the
// registry editor and a file's place in Explorer.
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
const wchar_t kRegeditApplet[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit";
const wchar_t kRegeditWindowClass[] = L"RegEdit_RegEdit";
const int kClipboardAttempts = 20;
const DWORD kClipboardRetryMs = 25;

// The registry key a finding lies in: the finding's own key, or for a value or a list's entry the
// key that holds it; empty for a finding that is no registry path (a file, a task).
std::wstring RegistryKeyOf(const CmdListEntry& finding)
{
    std::wstring path = finding.path, entry;
    if (const ILeftoverKind* kind = KindOf(finding))
        kind->RecordPath(finding, path, entry);
    for (; path.find(L'\\') != std::wstring::npos; path = ParentOf(path)) {
        std::wstring below;
        const HKEY root = SplitFullPath(path, below);
        CRegKeyOwner key;
        if (!root)
            return std::wstring();
        if (OpenKeyExact(root, below.c_str(), KEY_READ, key) == ERROR_SUCCESS)
            return path;
    }
    return std::wstring();
}

// Whether a finding is a file or a folder, named by a drive or a share.
bool IsFilePath(const CmdListEntry& finding)
{
    const wchar_t* path = finding.path;
    return (path[0] && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\');
}

bool CopyToClipboard(HWND owner, const std::wstring& text)
{
    // Another program (a clipboard manager, a remote session, Wine's X11 clipboard) may hold the
    // clipboard for a moment: a few tries before giving up.
    bool opened = false;
    for (int attempt = 0; attempt < kClipboardAttempts && !(opened = ::OpenClipboard(owner) != FALSE); ++attempt)
        ::Sleep(kClipboardRetryMs);
    if (!opened)
        return false;
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* at = memory ? ::GlobalLock(memory) : nullptr;
    if (at) {
        memcpy(at, text.c_str(), bytes);
        ::GlobalUnlock(memory);
    }
    // Once set, the clipboard owns the memory.
    const bool set = at && ::SetClipboardData(CF_UNICODETEXT, memory);
    if (!set && memory)
        ::GlobalFree(memory);
    ::CloseClipboard();
    return set;
}

void AppendItem(HMENU menu, UINT id, UINT textId, bool enabled)
{
    CString text;
    text.LoadString(textId);
    ::AppendMenuA(menu, MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED), id, text);
}
}

void CKlarnerDlg::OnContextMenu(CWnd* wnd, POINT at)
{
    if (!wnd || wnd->GetSafeHwnd() != m_resultList.GetSafeHwnd()) {
        Default();
        return;
    }
    int item = m_resultList.SelectedItem();
    if (at.x == -1 && at.y == -1) {
        // The menu key or Shift+F10: below the selected row, or at the list's corner.
        RECT row = {};
        POINT corner = { 0, 0 };
        if (item >= 0 && m_resultList.GetItemRect(item, &row, LVIR_LABEL))
            corner = { row.left, row.bottom };
        ::ClientToScreen(m_resultList, &corner);
        at = corner;
    }
    bool anyTicked = false;
    for (int i = 0, n = m_resultList.GetItemCount(); i < n && !anyTicked; ++i)
        anyTicked = m_resultList.GetCheck(i) != FALSE;
    const CmdListEntry* finding = item >= 0 ? &FindingOf(item) : nullptr;
    HMENU menu = ::CreatePopupMenu();
    AppendItem(menu, ID_FINDING_COPY_PATH, IDS_MENU_COPY_PATH, finding != nullptr);
    AppendItem(menu, ID_FINDING_COPY_TICKED, IDS_MENU_COPY_TICKED, anyTicked);
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendItem(menu, ID_FINDING_OPEN_REGEDIT, IDS_MENU_OPEN_REGEDIT, finding && !RegistryKeyOf(*finding).empty());
    AppendItem(menu, ID_FINDING_OPEN_EXPLORER, IDS_MENU_OPEN_EXPLORER, finding && IsFilePath(*finding));
    // The chosen command arrives as WM_COMMAND, like a menu bar's.
    ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    ::DestroyMenu(menu);
}

void CKlarnerDlg::OnCopyPath()
{
    const int item = m_resultList.SelectedItem();
    if (item >= 0)
        CopyToClipboard(m_hWnd, m_resultList.GetItemTextW(item, kColumnPath));
}

void CKlarnerDlg::OnCopyTicked()
{
    // In the list's order, one path a line.
    std::wstring paths;
    for (int i = 0, n = m_resultList.GetItemCount(); i < n; ++i)
        if (m_resultList.GetCheck(i))
            paths += (paths.empty() ? L"" : L"\r\n") + m_resultList.GetItemTextW(i, kColumnPath);
    if (!paths.empty())
        CopyToClipboard(m_hWnd, paths);
}

void CKlarnerDlg::OnOpenRegedit()
{
    const int item = m_resultList.SelectedItem();
    const std::wstring key = item >= 0 ? RegistryKeyOf(FindingOf(item)) : std::wstring();
    if (key.empty())
        return;
    // The registry editor opens at the key it last showed, which it keeps below its own key,
    // behind the name of its tree's top ("Computer", in the system's language): the first name of
    // what it kept stays.
    std::wstring last, top = L"Computer";
    CRegKeyOwner applet;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRegeditApplet, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                          applet.Receive(), nullptr) == ERROR_SUCCESS) {
        if (ReadStringValue(applet, L"LastKey", last) && !last.empty() && last.compare(0, 5, L"HKEY_") != 0)
            top = last.substr(0, last.find(L'\\'));
        const std::wstring value = top + L"\\" + key;
        ::RegSetValueExW(applet, L"LastKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    // A registry editor that runs already would only come forward: a second one (-m) opens there.
    const wchar_t* arguments = ::FindWindowW(kRegeditWindowClass, nullptr) ? L"-m" : nullptr;
    if (reinterpret_cast<INT_PTR>(::ShellExecuteW(m_hWnd, L"open", L"regedit.exe", arguments, nullptr, SW_SHOWNORMAL)) <= 32) {
        m_text.LoadString(IDS_TOOL_FAILED);
        m_caption.LoadString(IDS_ERROR_CAPTION);
        MessageBox(m_text + "regedit.exe", m_caption, MB_ICONERROR);
    }
}

void CKlarnerDlg::OnOpenExplorer()
{
    // Explorer opens the folder that holds the file or folder, with it selected.
    const int item = m_resultList.SelectedItem();
    if (item < 0 || !IsFilePath(FindingOf(item)))
        return;
    const std::wstring arguments = L"/select,\"" + std::wstring(FindingOf(item).path) + L"\"";
    if (reinterpret_cast<INT_PTR>(::ShellExecuteW(m_hWnd, L"open", L"explorer.exe", arguments.c_str(), nullptr, SW_SHOWNORMAL)) <= 32) {
        m_text.LoadString(IDS_TOOL_FAILED);
        m_caption.LoadString(IDS_ERROR_CAPTION);
        MessageBox(m_text + "explorer.exe", m_caption, MB_ICONERROR);
    }
}
