// Reading the GIF file format.
#include "GifReader.h"
#include <cstring>

namespace {
const int kGraphicControlBytes = 8;

// 3 x 2^(N+1) bytes when bit 7 of a packed field says a colour table follows.
int ColorTableBytes(BYTE packed)
{
    return (packed & 0x80) ? 3 * (1 << ((packed & 0x07) + 1)) : 0;
}
}

CGifReader::CGifReader(const BYTE* data, int size)
    : m_data(data), m_size(data ? size : 0)
{
    if (HasScreen())
        m_globalColorTableSize = ColorTableBytes(m_data[10]);
    RewindToFirstBlock();
}

BOOL CGifReader::IsGif(const BYTE* data, int size)
{
    return data && size >= 6 && memcmp(data, "GIF", 3) == 0 &&
           (memcmp(data + 3, "87a", 3) == 0 || memcmp(data + 3, "89a", 3) == 0);
}

SIZE CGifReader::ScreenSize() const
{
    if (!HasScreen())
        return SIZE{ 0, 0 };
    return SIZE{ m_data[6] | (m_data[7] << 8), m_data[8] | (m_data[9] << 8) };
}

void CGifReader::RewindToFirstBlock()
{
    m_offset = kHeaderAndScreenBytes + m_globalColorTableSize;
}

GifBlockKind CGifReader::ClassifyBlock() const
{
    if (m_offset < 0 || m_offset >= m_size)
        return Unrecognized;
    switch (m_data[m_offset]) {
    case 0x2C:
        return ImageDescriptor;
    case 0x3B:
        return Trailer;
    case 0x21:
        if (m_offset + 1 >= m_size)
            return Unrecognized;
        switch (m_data[m_offset + 1]) {
        case 0xFF:
            return ApplicationExtension;
        case 0xFE:
            return CommentExtension;
        case 0xF9:
            return GraphicControlExtension;
        case 0x01:
            return PlainTextExtension;
        default:
            return Unrecognized;
        }
    default:
        return Unrecognized;
    }
}

int CGifReader::SubBlockChainLength(int offset) const
{
    long long total = 0;
    long long position = offset;
    for (;;) {
        if (position < 0 || position >= m_size)
            return 0;  // the chain does not end inside the data
        BYTE length = m_data[position];
        if (length == 0)
            return static_cast<int>(total + 1);
        total += length + 1;
        position += length + 1;
    }
}

int CGifReader::BlockLength() const
{
    auto withChain = [this](int fixed, long long chainOffset) {
        if (chainOffset > m_size)
            return 0;
        int chain = SubBlockChainLength(static_cast<int>(chainOffset));
        return chain <= 0 ? 0 : fixed + chain;
    };
    switch (ClassifyBlock()) {
    case Trailer:
        return 1;
    case ApplicationExtension:
        return withChain(14, m_offset + 14LL);
    case CommentExtension:
        return withChain(2, m_offset + 2LL);
    case GraphicControlExtension:
        return kGraphicControlBytes;
    case PlainTextExtension:
        return withChain(15, m_offset + 15LL);
    case ImageDescriptor: {
        if (m_offset + 9 >= m_size)
            return 0;
        int localTable = ColorTableBytes(m_data[m_offset + 9]);
        return withChain(11 + localTable, m_offset + 11LL + localTable);
    }
    default:
        return -1;
    }
}

BOOL CGifReader::SkipBlock()
{
    int length = BlockLength();
    if (length <= 0 || static_cast<long long>(m_offset) + length > m_size)
        return FALSE;
    m_offset += length;
    return TRUE;
}

BOOL CGifReader::SkipNonFrameExtensions()
{
    while (ClassifyBlock() == ApplicationExtension || ClassifyBlock() == CommentExtension)
        if (!SkipBlock())
            return FALSE;
    return TRUE;
}

GifBlockKind CGifReader::SkipControlToFrame()
{
    if (!SkipBlock())
        return Unrecognized;
    for (;;) {
        GifBlockKind kind = ClassifyBlock();
        if (kind == ImageDescriptor || kind == PlainTextExtension)
            return kind;
        if (kind == Unrecognized || kind == Trailer || !SkipBlock())
            return Unrecognized;
    }
}

BOOL CGifReader::SkipToNextFrame()
{
    if (!SkipNonFrameExtensions())
        return FALSE;
    GifBlockKind kind = ClassifyBlock();
    if (kind == Unrecognized || kind == Trailer || BlockLength() <= 0)
        return FALSE;
    if (kind == GraphicControlExtension && SkipControlToFrame() == Unrecognized)
        return FALSE;
    return SkipBlock();
}

int CGifReader::CountFrames()
{
    RewindToFirstBlock();
    int count = 0;
    while (SkipToNextFrame())
        ++count;
    return count;
}

BOOL CGifReader::ExtractNextFrame(GifFrame& frame)
{
    frame = GifFrame();
    frame.size = ScreenSize();
    if (!SkipNonFrameExtensions())
        return FALSE;
    GifBlockKind kind = ClassifyBlock();
    if (kind == Unrecognized || kind == Trailer)
        return FALSE;
    const int start = m_offset;
    if (BlockLength() <= 0)
        return FALSE;

    if (kind == GraphicControlExtension) {
        if (start + kGraphicControlBytes > m_size)
            return FALSE;
        frame.delay = static_cast<DWORD>(m_data[start + 4] | (m_data[start + 5] << 8));
        frame.disposal = (m_data[start + 3] >> 2) & 7;
        kind = SkipControlToFrame();
        if (kind == Unrecognized)
            return FALSE;
    }

    // A plain text frame carries no image descriptor: it keeps the screen's size at (0, 0).
    if (kind == ImageDescriptor) {
        if (m_offset + 9 >= m_size)
            return FALSE;
        const BYTE* d = m_data + m_offset;
        frame.position.x = d[1] | (d[2] << 8);
        frame.position.y = d[3] | (d[4] << 8);
        frame.size.cx = d[5] | (d[6] << 8);
        frame.size.cy = d[7] | (d[8] << 8);
    }
    if (!SkipBlock())
        return FALSE;

    const int span = m_offset - start;
    const int header = kHeaderAndScreenBytes + m_globalColorTableSize;
    if (header > m_size)
        return FALSE;
    frame.bytes.reserve(static_cast<size_t>(header + span + 1));
    frame.bytes.assign(m_data, m_data + header);
    frame.bytes.insert(frame.bytes.end(), m_data + start, m_data + start + span);
    frame.bytes.push_back(0x3B);
    return TRUE;
}
