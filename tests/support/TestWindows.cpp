// Driving the program's windows as a person would: finding them, reading, pressing, waiting.
#include "TestSupport.h"

namespace kt {

namespace {
struct WindowSearch
{
    DWORD processId;
    const char* className;
    HWND except;
    int controlId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId || hwnd == search->except || !IsWindowVisible(hwnd))
        return TRUE;
    if (search->className) {
        char cls[64] = "";
        GetClassNameA(hwnd, cls, sizeof cls);
        if (strcmp(cls, search->className) != 0)
            return TRUE;
    }
    if (search->controlId && !GetDlgItem(hwnd, search->controlId))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindWindowOf(DWORD processId, const char* className, DWORD timeoutMs, HWND except, int controlId)
{
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = { processId, className, except, controlId, nullptr };
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}
}

HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, HWND except)
{
    return FindWindowOf(processId, className, timeoutMs, except, 0);
}

HWND WaitForDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs)
{
    return FindWindowOf(processId, "#32770", timeoutMs, nullptr, controlId);
}

std::string WindowText(HWND hwnd)
{
    char text[4096] = "";
    // WM_GETTEXT crosses processes; GetWindowText would not read another process's controls.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except)
{
    MessageBoxInfo info;
    // A message box holds its text in the static control 0xFFFF.
    info.hwnd = FindWindowOf(processId, "#32770", timeoutMs, except, 0xFFFF);
    if (info.hwnd) {
        info.text = ItemText(info.hwnd, 0xFFFF);
        info.caption = WindowText(info.hwnd);
    }
    return info;
}

void PressButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

bool WaitUntilGone(HWND hwnd, DWORD timeoutMs)
{
    return WaitUntil([hwnd] { return !IsWindow(hwnd); }, timeoutMs);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

void Sync(HWND hwnd)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
}

}  // namespace kt
