// A memory device context with a bitmap of its own selected into it: the picture's canvas, and
// the area saved for disposal method 3. The two are made and released together, on every path.
#pragma once
#include <windows.h>

class CMemoryCanvas
{
public:
    CMemoryCanvas() {}
    ~CMemoryCanvas() { Release(); }
    CMemoryCanvas(const CMemoryCanvas&) = delete;
    CMemoryCanvas& operator=(const CMemoryCanvas&) = delete;

    // A canvas compatible with `reference`; FALSE, and nothing held, when it cannot be made.
    BOOL Create(HDC reference, int width, int height)
    {
        Release();
        m_dc = ::CreateCompatibleDC(reference);
        m_bitmap = m_dc ? ::CreateCompatibleBitmap(reference, width, height) : nullptr;
        if (!m_bitmap) {
            Release();
            return FALSE;
        }
        m_oldBitmap = ::SelectObject(m_dc, m_bitmap);
        return TRUE;
    }
    void Release()
    {
        if (m_dc) {
            if (m_oldBitmap)
                ::SelectObject(m_dc, m_oldBitmap);
            ::DeleteDC(m_dc);
        }
        if (m_bitmap)
            ::DeleteObject(m_bitmap);
        m_dc = nullptr;
        m_bitmap = nullptr;
        m_oldBitmap = nullptr;
    }
    HDC DC() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
};
