// The picture control drawing on a canvas: frames at their positions, disposal, the visible
// rectangle, and the animation thread stopped, resumed and ended.
#include "PictureFixture.h"

namespace {

class RenderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Shown only where a test reads the screen: mapping a window costs Wine seconds.
        host = CreateWindowExA(0, "STATIC", "picture host", WS_POPUP, 50, 50, 200, 200, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        HWND control = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, host, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(picture.SubclassWindow(control));
    }
    void TearDown() override
    {
        picture.Clear();
        DestroyWindow(host);
    }
    // Two 8x8 frames, red and then green, each shown for `delay` hundredths of a second.
    static std::string RedThenGreen(int delay)
    {
        GifBuilder gif(8, 8, { kRed, kGreen });
        gif.Control(delay, 1).Image(0, 0, 8, 8, 0).Control(delay, 1).Image(0, 0, 8, 8, 1);
        return gif.Finish();
    }
    // Handles this thread's messages (the control paints on it) until the control's pixel on
    // the screen is `color`.
    bool PaintsUntil(int x, int y, COLORREF color)
    {
        return kt::WaitUntil(
            [&] {
                MSG msg;
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
                HDC dc = GetDC(picture.m_hWnd);
                const COLORREF seen = GetPixel(dc, x, y);
                ReleaseDC(picture.m_hWnd, dc);
                return seen == color;
            },
            3000);
    }
    bool WaitForPixel(int x, int y, COLORREF color, DWORD timeoutMs)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (picture.Pixel(x, y) == color)
                return true;
            Sleep(5);
        }
        return false;
    }
    HWND host = nullptr;
    PictureProbe picture;
};

TEST_F(RenderTest, StillPictureIsDrawnIntoTheCanvasAndTheControlTakesItsSize)
{
    GifBuilder gif(20, 10, { kRed, kGreen });
    std::vector<int> pixels(200, 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 10; x < 20; ++x)
            pixels[static_cast<size_t>(y * 20 + x)] = 1;
    gif.Image(0, 0, 20, 10, pixels);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    RECT rect;
    GetClientRect(picture.m_hWnd, &rect);
    EXPECT_EQ(rect.right, 20);
    EXPECT_EQ(rect.bottom, 10);
    EXPECT_TRUE(picture.Show());
    EXPECT_EQ(picture.Pixel(2, 2), kRedRef);
    EXPECT_EQ(picture.Pixel(15, 8), kGreenRef);
    EXPECT_FALSE(picture.IsRunning());
    EXPECT_EQ(picture.m_thread.Get(), nullptr) << "a still picture starts no thread";
}

TEST_F(RenderTest, AnimationAdvancesFramesAtTheirPositions)
{
    GifBuilder gif(20, 20, { kRed, kGreen, kBlue });
    gif.Control(5, 1).Image(0, 0, 20, 20, 0);
    gif.Control(5, 1).Image(10, 10, 10, 10, 2);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    EXPECT_FALSE(picture.Show()) << "a started animation reports FALSE";
    EXPECT_TRUE(WaitForPixel(15, 15, kBlueRef, 3000));
    EXPECT_EQ(picture.Pixel(5, 5), kRedRef) << "the second frame covers only its own rectangle";
    EXPECT_TRUE(picture.IsRunning());
    picture.StopAnimation();
    EXPECT_FALSE(picture.IsRunning());
    EXPECT_EQ(picture.m_thread.Get(), nullptr);
}

TEST_F(RenderTest, DisposalTwoRestoresTheBackgroundColour)
{
    GifBuilder gif(20, 20, { kRed, kGreen, kBlue });
    gif.Control(20, 2).Image(0, 0, 10, 10, 1);
    gif.Control(65535, 1).Image(10, 10, 10, 10, 2);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    const COLORREF background = RGB(200, 0, 200);
    picture.SetBackgroundColor(background);
    EXPECT_EQ(picture.Pixel(0, 0), background);
    picture.Show();
    ASSERT_TRUE(WaitForPixel(15, 15, kBlueRef, 3000));
    EXPECT_EQ(picture.Pixel(5, 5), background);
}

TEST_F(RenderTest, DisposalThreeRestoresWhatWasThereBefore)
{
    GifBuilder gif(20, 20, { kYellow, kGreen, kBlue });
    gif.Control(5, 1).Image(0, 0, 20, 20, 0);
    gif.Control(20, 3).Image(0, 0, 10, 10, 1);
    gif.Control(65535, 1).Image(10, 10, 10, 10, 2);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    picture.Show();
    ASSERT_TRUE(WaitForPixel(5, 5, kGreenRef, 3000));
    ASSERT_TRUE(WaitForPixel(15, 15, kBlueRef, 3000));
    EXPECT_EQ(picture.Pixel(5, 5), kYellowRef);
}

TEST_F(RenderTest, BackgroundColourBeforeALoadHasNoEffect)
{
    picture.SetBackgroundColor(RGB(1, 2, 3));
    EXPECT_EQ(picture.GetBackgroundColor(), RGB(255, 255, 255));
    GifBuilder gif(8, 8, { kRed });
    gif.Image(0, 0, 8, 8, 0);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    picture.Show();
    picture.SetBackgroundColor(RGB(10, 20, 30));
    EXPECT_EQ(picture.GetBackgroundColor(), RGB(10, 20, 30));
    EXPECT_EQ(picture.Pixel(4, 4), RGB(10, 20, 30)) << "the fill covers the picture until it is shown again";
    picture.Show();
    EXPECT_EQ(picture.Pixel(4, 4), kRedRef);
}

TEST_F(RenderTest, VisibleRectangleIsPaintedAtTheTopLeftCorner)
{
    std::vector<int> pixels(40 * 40, 0);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 20; ++x)
            pixels[static_cast<size_t>(y * 40 + x)] = 1;
    GifBuilder gif(40, 40, { kRed, kGreen });
    gif.Image(0, 0, 40, 40, pixels);
    ShowWindow(host, SW_SHOWNOACTIVATE);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    picture.Show();
    RECT visible = { 10, 10, 20, 30 };
    picture.SetVisibleRect(visible);
    RECT back;
    picture.GetVisibleRect(back);
    EXPECT_TRUE(EqualRect(&visible, &back));
    InvalidateRect(picture.m_hWnd, nullptr, TRUE);
    UpdateWindow(picture.m_hWnd);
    EXPECT_TRUE(PaintsUntil(0, 0, kGreenRef));
    EXPECT_TRUE(PaintsUntil(9, 19, kGreenRef));

    picture.SetVisibleRect(RECT{ 0, 0, 0, 0 });
    InvalidateRect(picture.m_hWnd, nullptr, TRUE);
    UpdateWindow(picture.m_hWnd);
    EXPECT_TRUE(PaintsUntil(0, 0, kRedRef)) << "an empty rectangle paints the whole picture";
    EXPECT_TRUE(PaintsUntil(15, 15, kGreenRef));
}

TEST_F(RenderTest, StopDuringALongFrameReturnsPromptly)
{
    ASSERT_TRUE(LoadBytes(picture, RedThenGreen(65535)));
    picture.Show();
    ASSERT_TRUE(WaitForPixel(4, 4, kRedRef, 3000));
    DWORD start = GetTickCount();
    picture.StopAnimation();
    // The frame would last 655 seconds; the stop must not wait it out.
    EXPECT_LT(GetTickCount() - start, 4000u);
}

TEST_F(RenderTest, StopThenShowResumesAtTheSameFrame)
{
    GifBuilder gif(8, 8, { kRed, kGreen, kBlue });
    gif.Control(20, 1).Image(0, 0, 8, 8, 0).Control(65535, 1).Image(0, 0, 8, 8, 1).Control(20, 1).Image(0, 0, 8, 8, 2);
    ASSERT_TRUE(LoadBytes(picture, gif.Finish()));
    picture.Show();
    ASSERT_TRUE(WaitForPixel(4, 4, kGreenRef, 3000));
    picture.StopAnimation();
    EXPECT_EQ(picture.m_currentFrame, 1);
    // A colour no frame has, so that the first frame drawn after Show shows.
    picture.SetBackgroundColor(kYellowRef);
    ASSERT_EQ(picture.Pixel(4, 4), kYellowRef);
    picture.Show();
    ASSERT_TRUE(kt::WaitUntil([&] { return picture.Pixel(4, 4) != kYellowRef; }, 3000));
    EXPECT_EQ(picture.Pixel(4, 4), kGreenRef);
    EXPECT_EQ(picture.m_currentFrame, 1);
}

TEST_F(RenderTest, ShowWhilePlayingKeepsTheOneThread)
{
    ASSERT_TRUE(LoadBytes(picture, RedThenGreen(10)));
    picture.Show();
    HANDLE thread = picture.m_thread.Get();
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(picture.Show());
    EXPECT_EQ(picture.m_thread.Get(), thread);
}

TEST_F(RenderTest, LoadWhilePlayingStopsTheThreadFirst)
{
    const std::string bytes = RedThenGreen(5);
    ASSERT_TRUE(LoadBytes(picture, bytes));
    picture.Show();
    ASSERT_TRUE(WaitForPixel(4, 4, kGreenRef, 3000));
    ASSERT_TRUE(LoadBytes(picture, bytes));
    EXPECT_FALSE(picture.IsRunning());
    EXPECT_EQ(picture.m_thread.Get(), nullptr);
    EXPECT_EQ(picture.m_currentFrame, 0);
    picture.Show();
    EXPECT_TRUE(WaitForPixel(4, 4, kRedRef, 3000));
}

TEST_F(RenderTest, StopStillWorksWithoutTheStopEvent)
{
    ASSERT_TRUE(LoadBytes(picture, RedThenGreen(65535)));
    picture.m_exitEvent.Close();  // as when creating it failed
    picture.Show();
    ASSERT_TRUE(WaitForPixel(4, 4, kRedRef, 3000));
    DWORD start = GetTickCount();
    picture.StopAnimation();
    EXPECT_LT(GetTickCount() - start, 4000u);
    EXPECT_EQ(picture.m_thread.Get(), nullptr);
}

TEST_F(RenderTest, DestroyingTheWindowStopsTheAnimation)
{
    ASSERT_TRUE(LoadBytes(picture, RedThenGreen(5)));
    picture.Show();
    ASSERT_TRUE(WaitForPixel(4, 4, kGreenRef, 3000));
    DestroyWindow(host);
    host = nullptr;
    EXPECT_FALSE(picture.IsRunning());
    EXPECT_EQ(picture.m_thread.Get(), nullptr);
}

}  // namespace
