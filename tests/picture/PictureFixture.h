// What the picture's tests share: the colours of the test pictures, a control that shows what it
// drew, and a picture loaded from bytes.
#pragma once
#include <gtest/gtest.h>
#include "GifBuilder.h"
#include "TestSupport.h"
#include "../../framework/AfxResource.h"
#include "../../picture/GifReader.h"
#include "../../picture/PictureEx.h"
#include "../../resources/resource.h"
#include <random>

namespace picture_test {

using kt::GifBuilder;
using kt::Rgb;

const Rgb kRed{ 255, 0, 0 }, kGreen{ 0, 255, 0 }, kBlue{ 0, 0, 255 }, kYellow{ 255, 255, 0 };
const COLORREF kRedRef = RGB(255, 0, 0), kGreenRef = RGB(0, 255, 0), kBlueRef = RGB(0, 0, 255),
               kYellowRef = RGB(255, 255, 0);

class PictureProbe : public CPictureEx
{
public:
    using CPictureEx::m_currentFrame;
    using CPictureEx::m_exitEvent;
    using CPictureEx::m_frames;
    using CPictureEx::m_stillPicture;
    using CPictureEx::m_thread;

    COLORREF Pixel(int x, int y)
    {
        EnterCriticalSection(&m_canvasLock);
        COLORREF color = ::GetPixel(m_canvas.DC(), x, y);
        LeaveCriticalSection(&m_canvasLock);
        return color;
    }
};

inline BOOL LoadBytes(CPictureEx& picture, const std::string& bytes)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    BOOL result = picture.LoadFromMemory(block, static_cast<int>(bytes.size()));
    GlobalFree(block);
    return result;
}

// ---- Reader ---------------------------------------------------------------------------

}  // namespace picture_test

using namespace picture_test;
