// Screenshots of the program's windows, for a person to look at: the window's pixels as the
// screen shows them once they have stopped changing, written as bitmap files under
// build\screenshots (scripts/test turns them into PNG files with ImageMagick).
#include "TestSupport.h"

namespace kt {

namespace {
// The screen's pixels in `rect`, as the rows of a top-down 24-bit bitmap (4-byte aligned).
std::string Capture(const RECT& rect)
{
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const size_t stride = static_cast<size_t>((width * 3 + 3) & ~3);
    std::string rows(static_cast<const char*>(bits), stride * static_cast<size_t>(height));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rows;
}

std::string BitmapFile(int width, int height, const std::string& rows)
{
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = -height;  // top-down rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(rows.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + rows.size());
    return std::string(reinterpret_cast<const char*>(&file), sizeof file) +
           std::string(reinterpret_cast<const char*>(&info), sizeof info) + rows;
}
}

bool SaveScreenshot(HWND hwnd, const std::string& name)
{
    RECT rect;
    if (!GetWindowRect(hwnd, &rect) || rect.right <= rect.left || rect.bottom <= rect.top)
        return false;
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Painted once the window's thread has handled what was sent before, and on the screen once
    // two captures in a row agree.
    std::string rows, previous;
    WaitUntil(
        [&] {
            Sync(hwnd);
            previous.swap(rows);
            rows = Capture(rect);
            return rows == previous;
        },
        5000);
    std::string dir = TestDir() + "..\\screenshots\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return WriteFileBytes(dir + name + ".bmp", BitmapFile(rect.right - rect.left, rect.bottom - rect.top, rows));
}

}  // namespace kt
