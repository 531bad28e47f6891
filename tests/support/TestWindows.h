// Driving the program's windows as a person would, and screenshots of them.
#pragma once
#include <windows.h>
#include <string>
#include <functional>

namespace kt {

// A visible top-level window of the process with the given class (null: any), waiting up to the time.
HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, HWND except = nullptr);
HWND WaitForDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs);
std::string WindowText(HWND hwnd);
std::string ItemText(HWND dialog, int id);
// A message box of the process: its text, caption and the window itself.
struct MessageBoxInfo
{
    HWND hwnd = nullptr;
    std::string text;
    std::string caption;
};
MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except = nullptr);
// Presses a button of a dialog or message box as a click would.
void PressButton(HWND dialog, int id);
bool WaitUntilGone(HWND hwnd, DWORD timeoutMs);
// Checks the condition until it holds or the time is up; whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
// Returns once the window's thread has handled every message sent to it before (or is
// waiting in a modal loop, such as a message box's).
void Sync(HWND hwnd);
// Saves the window's pixels as build\screenshots\<name>.bmp (scripts/test makes PNG files of them).
bool SaveScreenshot(HWND hwnd, const std::string& name);

}  // namespace kt
