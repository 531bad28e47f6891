// Picture control: a static control that shows a picture and plays a multi-frame GIF on a
// thread of its own. The GIF reader cuts each frame out at load time as a standalone GIF;
// the OLE picture loader decodes it once; the control only plays the frames.
#pragma once
#include "../framework/Controls.h"
#include "GifReader.h"
#include "MemoryCanvas.h"
#include "../framework/Handles.h"
#include <ocidl.h>
#include <olectl.h>
#include <atomic>
#include <vector>

struct AnimationFrame
{
    IPicture* picture;
    int width, height;
    int left, top;
    DWORD delay;    // hundredths of a second; all bits set when the frame has no control extension
    int disposal;   // 0 to 7
};

class CPictureEx : public CStatic
{
public:
    CPictureEx();
    ~CPictureEx() override;

    BOOL LoadFromFile(const char* path);
    BOOL LoadFromResource(const char* name, const char* type);
    // The caller keeps the block and may free it when the call returns.
    BOOL LoadFromMemory(HGLOBAL block, int size);
    void Clear();

    BOOL IsGifData() const { return m_isGif; }
    BOOL IsAnimated() const { return m_isGif && m_frames.size() > 1; }
    int GetFrameCount() const { return IsAnimated() ? static_cast<int>(m_frames.size()) : 0; }
    SIZE GetPictureSize() const { return m_pictureSize; }

    // Draws a still picture (TRUE) or starts the animation thread (FALSE). While the
    // animation plays, Show does nothing and returns FALSE.
    BOOL Show();
    void StopAnimation();
    void SetBackgroundColor(COLORREF color);
    COLORREF GetBackgroundColor() const { return m_backgroundColor; }
    BOOL IsRunning() const { return m_isPlaying; }
    void SetVisibleRect(const RECT& rect) { m_paintRect = rect; }
    void GetVisibleRect(RECT& rect) const { rect = m_paintRect; }

protected:
    BOOL PrepareCanvas(int width, int height);
    // Decodes a whole image block with the OLE picture loader.
    IPicture* DecodePicture(HGLOBAL block, int size, BOOL deleteOnRelease);
    // Frame time in milliseconds.
    static DWORD FrameTime(DWORD delay);

    void OnPaint();
    void OnDestroy();
    static unsigned __stdcall AnimationThreadProc(void* control);
    void RunAnimation();
    void DisposeFrame(int index);
    // Drops the area saved for disposal method 3, if any.
    void ReleaseSaveArea();
    void FillCanvas(const RECT& rect, COLORREF color);
    BOOL RenderPicture(IPicture* picture, int left, int top, int width, int height);

    RECT m_paintRect = { 0, 0, 0, 0 };
    SIZE m_pictureSize = { 0, 0 };
    COLORREF m_backgroundColor = RGB(255, 255, 255);
    int m_currentFrame = 0;
    BOOL m_isGif = FALSE;
    std::atomic<BOOL> m_isPlaying{ FALSE };
    std::atomic<BOOL> m_exitRequested{ FALSE };
    BOOL m_isReady = FALSE;
    CMemoryCanvas m_canvas;
    CMemoryCanvas m_saveArea;
    CHandle m_thread;
    CHandle m_exitEvent;
    IPicture* m_stillPicture = nullptr;
    std::vector<AnimationFrame> m_frames;
    // The animation thread draws into the canvas while painting copies from it.
    CRITICAL_SECTION m_canvasLock;

    DECLARE_MESSAGE_MAP()
};
