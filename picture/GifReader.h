// Reading the GIF file format (GIF87a and GIF89a): the logical screen, the blocks and their
// lengths, and the frames with their delays, sizes, positions and disposal methods, each cut
// out and re-packed as a GIF of its own. Works on bytes it does not own, never reads past
// their end, and knows nothing of windows.
#pragma once
#include <windows.h>
#include <vector>

enum GifBlockKind
{
    Unrecognized = 0,
    ApplicationExtension = 1,
    CommentExtension = 2,
    GraphicControlExtension = 3,
    PlainTextExtension = 4,
    ImageDescriptor = 5,
    Trailer = 6,
};

// The delay of a frame that has no graphic control extension.
const DWORD kGifNoDelay = 0xFFFFFFFF;

struct GifFrame
{
    std::vector<BYTE> bytes;  // header, screen, global colour table, the frame's blocks, trailer
    DWORD delay = kGifNoDelay; // hundredths of a second
    int disposal = 0;         // 0 to 7
    SIZE size = { 0, 0 };     // a plain text frame keeps the logical screen's
    POINT position = { 0, 0 };
};

class CGifReader
{
public:
    CGifReader(const BYTE* data, int size);

    // "GIF87a" or "GIF89a" at the start.
    static BOOL IsGif(const BYTE* data, int size);
    // The logical screen descriptor is there: anything to read at all.
    BOOL HasScreen() const { return m_size >= kHeaderAndScreenBytes; }
    SIZE ScreenSize() const;
    int GlobalColorTableSize() const { return m_globalColorTableSize; }
    int Offset() const { return m_offset; }

    void RewindToFirstBlock();
    GifBlockKind ClassifyBlock() const;
    // Bytes of the block at the current offset: 0 when it runs past the data, -1 when unknown.
    int BlockLength() const;
    // Bytes of the sub-block chain at `offset`, its terminator included; 0 when it does not end
    // inside the data.
    int SubBlockChainLength(int offset) const;
    BOOL SkipBlock();
    // Skips one frame with the extensions before it; FALSE at the end or where the data breaks.
    BOOL SkipToNextFrame();
    // Frames from the first block on; the offset is left at the end.
    int CountFrames();
    // The next frame; FALSE at the end or where the data breaks.
    BOOL ExtractNextFrame(GifFrame& frame);

private:
    static const int kHeaderAndScreenBytes = 13;  // "GIF89a" and the logical screen descriptor

    // Skips application and comment extensions; FALSE when one of them is malformed.
    BOOL SkipNonFrameExtensions();
    // From a graphic control extension to its frame's image or plain text block, which is
    // returned; Unrecognized when the data ends or breaks first.
    GifBlockKind SkipControlToFrame();

    const BYTE* m_data;
    int m_size;
    int m_globalColorTableSize = 0;
    int m_offset = 0;
};
