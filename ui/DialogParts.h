// The main window's measures, shared by its files: the columns' first widths, the room beside
// texts, where each control keeps to when the window grows, the display's scale and text widths.
#pragma once
#include "../framework/CDialog.h"
#include <commctrl.h>
#include "../resources/resource.h"
#include <vector>

namespace dialog_parts {
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
inline int DpiOf(HWND window)
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
inline void KeepOwnLayoutOnScaleChange(HWND dialog)
{
    typedef BOOL(WINAPI * DialogDpiBehavior)(HWND, int, int);
    const DialogDpiBehavior behave = reinterpret_cast<DialogDpiBehavior>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetDialogDpiChangeBehavior")));
    const int kDisableResize = 0x0002, kDisableControlRelayout = 0x0004;
    if (behave)
        behave(dialog, kDisableResize | kDisableControlRelayout, kDisableResize | kDisableControlRelayout);
}

// The width of a text in the font selected into `dc`.
inline int TextWidth(HDC dc, const wchar_t* text)
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
}
using namespace dialog_parts;
