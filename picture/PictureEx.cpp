// Picture control: loading and decoding the frames, then showing, the animation thread and painting.
#include "PictureEx.h"
#include "../framework/AfxGuard.h"
#include "../framework/AfxResource.h"
#include "../framework/CFile.h"
#include <process.h>

namespace {
const DWORD kDefaultFrameMs = 100;
const DWORD kStopWaitMs = 5000;
const DWORD kPollMs = 10;
const int kHimetricPerInch = 2540;

// A block the OLE stream frees when it is released.
HGLOBAL FixedCopy(const std::vector<BYTE>& bytes)
{
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, bytes.size());
    if (block)
        memcpy(block, bytes.data(), bytes.size());  // a fixed block's handle is its address
    return block;
}
}

CPictureEx::CPictureEx()
    : m_exitEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    InitializeCriticalSection(&m_canvasLock);
}

CPictureEx::~CPictureEx()
{
    Clear();
    DeleteCriticalSection(&m_canvasLock);
}

BEGIN_MESSAGE_MAP(CPictureEx, CStatic)
    ON_WM_PAINT()
    ON_WM_DESTROY()
END_MESSAGE_MAP()

// ---- Loading --------------------------------------------------------------------------

BOOL CPictureEx::LoadFromFile(const char* path)
{
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite))
        return FALSE;
    DWORD length = static_cast<DWORD>(file.GetLength());
    CGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, length));
    if (!block)
        return FALSE;
    {
        CGlobalLock bytes(block.get());
        if (!bytes.Bytes())
            return FALSE;
        try {
            file.Read(bytes.Bytes(), length);
        } catch (CFileException* error) {
            error->Delete();
            return FALSE;
        }
    }
    file.Close();
    return LoadFromMemory(block.get(), static_cast<int>(length));
}

BOOL CPictureEx::LoadFromResource(const char* name, const char* type)
{
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC resource = ::FindResourceA(module, name, type);
    if (!resource)
        return FALSE;
    HGLOBAL loaded = ::LoadResource(module, resource);
    if (!loaded)
        return FALSE;
    // A resource belongs to its module and is never freed; its bytes are copied into a block of
    // our own, which the picture loader's stream reads.
    DWORD size = ::SizeofResource(module, resource);
    const void* source = ::LockResource(loaded);
    CGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size));
    if (!block || !source)
        return FALSE;
    {
        CGlobalLock target(block.get());
        if (!target.Bytes())
            return FALSE;
        memcpy(target.Bytes(), source, size);
    }
    return LoadFromMemory(block.get(), static_cast<int>(size));
}

IPicture* CPictureEx::DecodePicture(HGLOBAL block, int size, BOOL deleteOnRelease)
{
    // A block handed over is the stream's once the stream exists, and ours to free until then.
    CGlobalMemory handedOver(deleteOnRelease ? block : nullptr);
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block, deleteOnRelease, &stream)))
        return nullptr;
    handedOver.release();
    IPicture* picture = nullptr;
    if (FAILED(::OleLoadPicture(stream, size, FALSE, IID_IPicture, reinterpret_cast<void**>(&picture))))
        picture = nullptr;
    stream->Release();
    return picture;
}

BOOL CPictureEx::LoadFromMemory(HGLOBAL block, int size)
{
    Clear();
    CGlobalLock locked(block);
    const BYTE* bytes = static_cast<const BYTE*>(locked.Bytes());
    if (!bytes)
        return FALSE;

    if (!CGifReader::IsGif(bytes, size)) {
        locked.Unlock();
        m_stillPicture = DecodePicture(block, size, FALSE);
        if (!m_stillPicture)
            return FALSE;
        OLE_XSIZE_HIMETRIC hmWidth = 0;
        OLE_YSIZE_HIMETRIC hmHeight = 0;
        m_stillPicture->get_Width(&hmWidth);
        m_stillPicture->get_Height(&hmHeight);
        HDC hdc = GetDC();
        m_pictureSize.cx = ::MulDiv(hmWidth, ::GetDeviceCaps(hdc, LOGPIXELSX), kHimetricPerInch);
        m_pictureSize.cy = ::MulDiv(hmHeight, ::GetDeviceCaps(hdc, LOGPIXELSY), kHimetricPerInch);
        ReleaseDC(hdc);
        return PrepareCanvas(m_pictureSize.cx, m_pictureSize.cy);
    }

    m_isGif = TRUE;
    CGifReader reader(bytes, size);
    // Too short for a logical screen descriptor: nothing to read, nothing to show.
    const int frameCount = reader.HasScreen() ? reader.CountFrames() : 0;
    m_pictureSize = reader.ScreenSize();
    if (frameCount <= 1) {
        locked.Unlock();
        if (frameCount == 0)
            return FALSE;
        m_stillPicture = DecodePicture(block, size, FALSE);
        if (!m_stillPicture)
            return FALSE;
        return PrepareCanvas(m_pictureSize.cx, m_pictureSize.cy);
    }

    reader.RewindToFirstBlock();
    GifFrame cut;
    while (reader.ExtractNextFrame(cut)) {
        // A frame wholly outside the logical screen can never show: it is not kept.
        if (cut.position.x >= m_pictureSize.cx || cut.position.y >= m_pictureSize.cy ||
            cut.position.x + cut.size.cx <= 0 || cut.position.y + cut.size.cy <= 0)
            continue;
        HGLOBAL frameBlock = FixedCopy(cut.bytes);
        if (!frameBlock)
            break;
        AnimationFrame frame = {};
        // The stream frees the frame's block when it is released.
        frame.picture = DecodePicture(frameBlock, static_cast<int>(cut.bytes.size()), TRUE);
        if (!frame.picture)
            continue;
        frame.delay = cut.delay;
        frame.disposal = cut.disposal;
        frame.width = cut.size.cx;
        frame.height = cut.size.cy;
        frame.left = cut.position.x;
        frame.top = cut.position.y;
        m_frames.push_back(frame);
    }
    locked.Unlock();
    if (m_frames.empty())
        return FALSE;
    return PrepareCanvas(m_pictureSize.cx, m_pictureSize.cy);
}

BOOL CPictureEx::PrepareCanvas(int width, int height)
{
    SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    HDC hdc = GetDC();
    if (!hdc)
        return FALSE;
    const BOOL created = m_canvas.Create(hdc, width, height);
    ReleaseDC(hdc);
    if (!created)
        return FALSE;
    m_backgroundColor = ::GetSysColor(COLOR_BTNFACE);
    RECT whole = { 0, 0, width, height };
    ::FillRect(m_canvas.DC(), &whole, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    m_isReady = TRUE;
    return TRUE;
}

void CPictureEx::Clear()
{
    StopAnimation();
    if (m_stillPicture) {
        m_stillPicture->Release();
        m_stillPicture = nullptr;
    }
    for (AnimationFrame& frame : m_frames)
        if (frame.picture)
            frame.picture->Release();
    m_frames.clear();
    m_canvas.Release();
    ReleaseSaveArea();
    m_paintRect = { 0, 0, 0, 0 };
    m_isReady = FALSE;
    m_exitRequested = FALSE;
    m_isGif = FALSE;
    m_backgroundColor = RGB(255, 255, 255);
    m_currentFrame = 0;
}

// ---- Showing and animation --------------------------------------------------------------

BOOL CPictureEx::RenderPicture(IPicture* picture, int left, int top, int width, int height)
{
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    CCriticalSectionLock hold(m_canvasLock);
    return picture->Render(m_canvas.DC(), left, top, width, height, 0, hmHeight, hmWidth, -hmHeight, nullptr) == S_OK;
}

void CPictureEx::FillCanvas(const RECT& rect, COLORREF color)
{
    HBRUSH brush = ::CreateSolidBrush(color);
    if (!brush)
        return;
    {
        CCriticalSectionLock hold(m_canvasLock);
        ::FillRect(m_canvas.DC(), &rect, brush);
    }
    ::DeleteObject(brush);
}

BOOL CPictureEx::Show()
{
    if (!m_isReady)
        return FALSE;
    if (IsAnimated()) {
        // One animation thread at a time: while it plays there is nothing to start.
        if (m_thread)
            return FALSE;
        m_thread.Reset(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, &CPictureEx::AnimationThreadProc, this, CREATE_SUSPENDED, nullptr)));
        if (!m_thread)
            return FALSE;
        ::ResumeThread(m_thread);
        return FALSE;
    }
    if (m_stillPicture) {
        if (RenderPicture(m_stillPicture, 0, 0, m_pictureSize.cx, m_pictureSize.cy)) {
            InvalidateRect(nullptr, FALSE);
            return TRUE;
        }
    }
    return FALSE;
}

unsigned __stdcall CPictureEx::AnimationThreadProc(void* control)
{
    CPictureEx* self = static_cast<CPictureEx*>(control);
    self->m_isPlaying = TRUE;
    AfxCallGuarded(0, [self] {
        self->RunAnimation();
        return 0;
    });
    self->m_isPlaying = FALSE;
    return 0;
}

DWORD CPictureEx::FrameTime(DWORD delay)
{
    // A frame without a control extension would otherwise wait 49 days.
    if (delay == kGifNoDelay)
        return kDefaultFrameMs;
    return delay >= 5 ? delay * 10 : kDefaultFrameMs;
}

void CPictureEx::DisposeFrame(int index)
{
    const AnimationFrame& frame = m_frames[static_cast<size_t>(index)];
    if (frame.disposal == 2) {
        RECT rect = { frame.left, frame.top, frame.left + frame.width, frame.top + frame.height };
        FillCanvas(rect, m_backgroundColor);
    } else if (frame.disposal == 3 && m_saveArea) {
        {
            CCriticalSectionLock hold(m_canvasLock);
            ::BitBlt(m_canvas.DC(), frame.left, frame.top, frame.width, frame.height, m_saveArea.DC(), 0, 0, SRCCOPY);
        }
        ReleaseSaveArea();
    }
}

void CPictureEx::ReleaseSaveArea()
{
    m_saveArea.Release();
}

void CPictureEx::RunAnimation()
{
    DisposeFrame(m_currentFrame);
    while (!m_exitRequested) {
        const AnimationFrame& frame = m_frames[static_cast<size_t>(m_currentFrame)];
        if (frame.picture) {
            if (frame.disposal == 3 && m_saveArea.Create(m_canvas.DC(), frame.width, frame.height)) {
                CCriticalSectionLock hold(m_canvasLock);
                ::BitBlt(m_saveArea.DC(), 0, 0, frame.width, frame.height, m_canvas.DC(), frame.left, frame.top,
                         SRCCOPY);
            }
            if (RenderPicture(frame.picture, frame.left, frame.top, frame.width, frame.height))
                InvalidateRect(nullptr, FALSE);
            if (m_exitRequested)
                break;
            DWORD wait = FrameTime(frame.delay);
            if (m_exitEvent) {
                ::WaitForSingleObject(m_exitEvent, wait);
            } else {
                // Without the stop event, wait in short slices so that a stop is still seen at once.
                for (DWORD waited = 0; waited < wait && !m_exitRequested; waited += kPollMs)
                    ::Sleep(kPollMs);
            }
            if (m_exitRequested)
                break;
            DisposeFrame(m_currentFrame);
        }
        if (++m_currentFrame == static_cast<int>(m_frames.size())) {
            m_currentFrame = 0;
            RECT whole = { 0, 0, m_pictureSize.cx, m_pictureSize.cy };
            FillCanvas(whole, m_backgroundColor);
        }
    }
}

void CPictureEx::StopAnimation()
{
    m_isPlaying = FALSE;
    m_exitRequested = TRUE;
    if (m_exitEvent)
        ::SetEvent(m_exitEvent);
    if (m_thread) {
        // The thread only renders and waits on the stop event, so it always ends; if it has
        // not within the usual time, keep waiting: the frames and the canvas it draws with
        // must not be released under it.
        if (::WaitForSingleObject(m_thread, kStopWaitMs) == WAIT_TIMEOUT)
            ::WaitForSingleObject(m_thread, INFINITE);
        m_thread.Close();
    }
    if (m_exitEvent)
        ::ResetEvent(m_exitEvent);
    m_exitRequested = FALSE;
}

void CPictureEx::SetBackgroundColor(COLORREF color)
{
    if (!m_isReady)
        return;
    m_backgroundColor = color;
    RECT whole = { 0, 0, m_pictureSize.cx, m_pictureSize.cy };
    FillCanvas(whole, color);
}

void CPictureEx::OnPaint()
{
    CPaintDC dc(this);
    if (!m_isReady)
        return;
    CCriticalSectionLock hold(m_canvasLock);
    if (m_paintRect.right - m_paintRect.left > 0)
        ::BitBlt(dc, 0, 0, m_paintRect.right - m_paintRect.left, m_paintRect.bottom - m_paintRect.top, m_canvas.DC(),
                 m_paintRect.left, m_paintRect.top, SRCCOPY);
    else
        ::BitBlt(dc, 0, 0, m_pictureSize.cx, m_pictureSize.cy, m_canvas.DC(), 0, 0, SRCCOPY);
}

void CPictureEx::OnDestroy()
{
    StopAnimation();
    Default();
}
