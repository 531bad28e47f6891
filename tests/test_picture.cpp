// The GIF reader on bytes built here, robustness against mutated data read from memory that
// faults past its end, and the picture control's loading, rendering and animation on a real
// control on the Xvfb display.
#include "picture/PictureFixture.h"

namespace {

class ParserTest : public ::testing::Test
{
protected:
    void Attach(const std::string& bytes)
    {
        data = bytes;
        reader.reset(new CGifReader(reinterpret_cast<const BYTE*>(data.data()), static_cast<int>(data.size())));
    }
    std::unique_ptr<CGifReader> reader;
    std::string data;
};

TEST_F(ParserTest, ColourTableSizeFieldSevenGives768BytesAndTheFirstBlockAt781)
{
    Attach(GifBuilder::Header(10, 10, 7, true) + ";");
    EXPECT_EQ(reader->GlobalColorTableSize(), 768);
    EXPECT_EQ(reader->Offset(), 781);
    EXPECT_EQ(reader->ClassifyBlock(), Trailer);
    Attach(GifBuilder::Header(10, 10, 7, false) + ";");
    EXPECT_EQ(reader->Offset(), 13);
}

TEST_F(ParserTest, BlockKindsAndLengths)
{
    std::string header = GifBuilder::Header(4, 4, 0, false);
    auto lengthOf = [&](const std::string& block, GifBlockKind expected) {
        Attach(header + block + ";");
        EXPECT_EQ(reader->ClassifyBlock(), expected);
        return reader->BlockLength();
    };
    EXPECT_EQ(lengthOf(";", Trailer), 1);
    EXPECT_EQ(lengthOf(GifBuilder::ControlBlock(10, 2), GraphicControlExtension), 8);
    EXPECT_EQ(lengthOf("\x21\xFE" + GifBuilder::SubBlocks("hello"), CommentExtension), 2 + 1 + 5 + 1);
    EXPECT_EQ(lengthOf("\x21\xFF\x0BNETSCAPE2.0" + GifBuilder::SubBlocks(std::string("\x01\x00\x00", 3)),
                       ApplicationExtension), 14 + 1 + 3 + 1);
    EXPECT_EQ(lengthOf(std::string("\x21\x01\x0C", 3) + std::string(12, 'p') + GifBuilder::SubBlocks("text"),
                       PlainTextExtension), 15 + 1 + 4 + 1);
    std::string image = GifBuilder::ImageBlock(0, 0, 2, 2, { 1, 1, 1, 1 });
    EXPECT_EQ(lengthOf(image, ImageDescriptor), static_cast<int>(image.size()));
    // A local colour table (size field 1: 12 bytes) lies between the descriptor and the code size.
    std::string local = image;
    local[9] = static_cast<char>(0x81);
    local.insert(10, std::string(12, 'c'));
    EXPECT_EQ(lengthOf(local, ImageDescriptor), static_cast<int>(local.size()));
    EXPECT_EQ(lengthOf(std::string("\x21\x99\x00", 3), Unrecognized), -1);
    EXPECT_EQ(lengthOf("X", Unrecognized), -1);
}

TEST_F(ParserTest, SubBlockChainCutOffByTheEndOfTheData)
{
    std::string header = GifBuilder::Header(4, 4, 0, false);
    Attach(header + "\x21\xFE\x05" + "abc");
    EXPECT_EQ(reader->SubBlockChainLength(15), 0);
    EXPECT_EQ(reader->BlockLength(), 0);
    EXPECT_FALSE(reader->SkipBlock());
    EXPECT_EQ(reader->CountFrames(), 0);
    // An extension byte at the very end classifies as nothing.
    Attach(header + "\x21");
    EXPECT_EQ(reader->ClassifyBlock(), Unrecognized);
    // A block that ends exactly at the end of the data may be skipped.
    Attach(header + GifBuilder::ControlBlock(1, 0));
    EXPECT_TRUE(reader->SkipBlock());
    EXPECT_EQ(reader->Offset(), static_cast<int>(data.size()));
}

TEST_F(ParserTest, ApplicationAndCommentExtensionsAreSkippedAndFramesCounted)
{
    GifBuilder gif(8, 8, { kRed, kGreen });
    gif.Application("NETSCAPE2.0", std::string("\x01\x00\x00", 3)).Comment("made in a test");
    gif.Control(10, 1).Image(0, 0, 8, 8, 0);
    gif.Comment("between").Image(0, 0, 4, 4, 1);
    gif.Control(20, 2).Comment("inside").Image(2, 2, 4, 4, 1);
    Attach(gif.Finish());
    EXPECT_EQ(reader->CountFrames(), 3);
}

TEST_F(ParserTest, FrameIsRepackedWithItsExtensionsInOrder)
{
    GifBuilder gif(8, 8, { kRed, kGreen });
    std::string header = gif.Unfinished();
    std::string control = GifBuilder::ControlBlock(0x1234, 3);
    std::string comment = "\x21\xFE" + GifBuilder::SubBlocks("note");
    std::string image = GifBuilder::ImageBlock(1, 2, 3, 4, std::vector<int>(12, 1));
    gif.Raw(control + comment + image).Image(0, 0, 8, 8, 0);
    Attach(gif.Finish());
    GifFrame frame;
    ASSERT_TRUE(reader->ExtractNextFrame(frame));
    EXPECT_EQ(std::string(frame.bytes.begin(), frame.bytes.end()), header + control + comment + image + ";");
    EXPECT_EQ(frame.delay, 0x1234u);
    EXPECT_EQ(frame.disposal, 3);
    EXPECT_EQ(frame.size.cx, 3);
    EXPECT_EQ(frame.size.cy, 4);
    EXPECT_EQ(frame.position.x, 1);
    EXPECT_EQ(frame.position.y, 2);

    // The second frame has no control extension: delay all bits set, disposal 0.
    ASSERT_TRUE(reader->ExtractNextFrame(frame));
    EXPECT_EQ(frame.delay, 0xFFFFFFFFu);
    EXPECT_EQ(frame.disposal, 0);
    EXPECT_FALSE(reader->ExtractNextFrame(frame));
}

TEST(PictureLoad, VersionsAndFrameCounts)
{
    PictureProbe picture;
    GifBuilder one(6, 5, { kRed });
    one.Image(0, 0, 6, 5, 0);
    ASSERT_TRUE(LoadBytes(picture, one.Finish()));
    EXPECT_TRUE(picture.IsGifData());
    EXPECT_FALSE(picture.IsAnimated());
    EXPECT_EQ(picture.GetFrameCount(), 0);
    EXPECT_TRUE(picture.m_frames.empty());
    EXPECT_NE(picture.m_stillPicture, nullptr);
    EXPECT_EQ(picture.GetPictureSize().cx, 6);
    EXPECT_EQ(picture.GetPictureSize().cy, 5);

    GifBuilder older(6, 5, { kRed }, "GIF87a");
    older.Image(0, 0, 6, 5, 0);
    EXPECT_TRUE(LoadBytes(picture, older.Finish()));
    EXPECT_TRUE(picture.IsGifData());

    GifBuilder other(6, 5, { kRed }, "GIF90a");
    other.Image(0, 0, 6, 5, 0);
    LoadBytes(picture, other.Finish());
    EXPECT_FALSE(picture.IsGifData()) << "another version goes to the general loader";

    GifBuilder none(6, 5, { kRed });
    none.Comment("no image at all");
    EXPECT_FALSE(LoadBytes(picture, none.Finish()));

    GifBuilder three(6, 5, { kRed, kGreen, kBlue });
    three.Control(10, 0).Image(0, 0, 6, 5, 0).Control(10, 0).Image(0, 0, 6, 5, 1).Control(10, 0).Image(0, 0, 6, 5, 2);
    ASSERT_TRUE(LoadBytes(picture, three.Finish()));
    EXPECT_TRUE(picture.IsAnimated());
    EXPECT_EQ(picture.GetFrameCount(), 3);
    EXPECT_EQ(picture.m_stillPicture, nullptr);
}

TEST(PictureLoad, BitmapIsSizedFromItsHimetricExtent)
{
    // A 96 x 48 bitmap at the screen's 96 pixels per inch keeps its size.
    const int w = 96, h = 48;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biXPelsPerMeter = info.biYPelsPerMeter = 3780;
    std::string pixels(static_cast<size_t>(w * 3 * h), '\x40');
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes += std::string(reinterpret_cast<const char*>(&info), sizeof info) + pixels;
    CPictureEx picture;
    ASSERT_TRUE(LoadBytes(picture, bytes));
    EXPECT_FALSE(picture.IsGifData());
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(picture.GetPictureSize().cx, MulDiv(MulDiv(w, 2540, 96), dpi, 2540));
}

TEST(PictureLoad, ProgramsOwnPicturesLoadFromTheLanguageLibrary)
{
    kt::UseLanguage("en-us");
    CPictureEx picture;
    ASSERT_TRUE(picture.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_SEARCHING), "GIF"));
    EXPECT_TRUE(picture.IsAnimated());
    EXPECT_GE(picture.GetFrameCount(), 8);
    ASSERT_TRUE(picture.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_IDLE), "GIF"));
    EXPECT_FALSE(picture.IsAnimated());
    EXPECT_FALSE(picture.LoadFromResource(MAKEINTRESOURCEA(999), "GIF"));
}

TEST(PictureLoad, FromAFile)
{
    std::string path = kt::ScratchDir("gif") + "still.gif";
    GifBuilder gif(7, 3, { kBlue });
    gif.Image(0, 0, 7, 3, 0);
    kt::WriteFileBytes(path, gif.Finish());
    CPictureEx picture;
    EXPECT_TRUE(picture.LoadFromFile(path.c_str()));
    EXPECT_EQ(picture.GetPictureSize().cx, 7);
    EXPECT_FALSE(picture.LoadFromFile((path + ".missing").c_str()));
}

// ---- Robustness -----------------------------------------------------------------------

// Data placed at the very end of a committed region, followed by a page that may not be
// touched: any read past the data faults.
class GuardedBytes
{
public:
    GuardedBytes()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_page = info.dwPageSize;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, m_capacity + m_page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(m_base + m_capacity, m_page, PAGE_NOACCESS, &old);
    }
    ~GuardedBytes() { VirtualFree(m_base, 0, MEM_RELEASE); }
    const BYTE* Place(const std::string& bytes)
    {
        BYTE* at = m_base + m_capacity - bytes.size();
        memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    const size_t m_capacity = 64 * 1024;
    size_t m_page = 4096;
    BYTE* m_base = nullptr;
};

std::string SampleAnimation()
{
    GifBuilder gif(16, 12, { kRed, kGreen, kBlue, kYellow });
    gif.Application("NETSCAPE2.0", std::string("\x01\x00\x00", 3)).Comment("sample");
    gif.Control(5, 2, 3).Image(0, 0, 16, 12, 0);
    gif.Control(7, 3).Comment("x").Image(3, 2, 5, 4, 1);
    gif.Image(8, 6, 4, 4, 2);
    return gif.Finish();
}

TEST(PictureRobustness, MutatedDataIsNeverReadPastItsEnd)
{
    GuardedBytes guarded;
    std::mt19937 random(20261207);
    std::vector<std::string> seeds = { SampleAnimation() };
    std::string local = SampleAnimation();
    std::string program;
    {
        kt::UseLanguage("en-us");
        HRSRC found = FindResourceA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_GIF_SEARCHING), "GIF");
        ASSERT_NE(found, nullptr);
        program.assign(static_cast<const char*>(LockResource(LoadResource(AfxGetResourceHandle(), found))),
                       SizeofResource(AfxGetResourceHandle(), found));
        seeds.push_back(program);
    }
    int parsed = 0;
    for (int round = 0; round < 6000; ++round) {
        std::string bytes = seeds[static_cast<size_t>(round) % seeds.size()];
        switch (round % 4) {
        case 0:  // bit flips
            for (int i = 0; i < 1 + round % 7; ++i)
                bytes[random() % bytes.size()] ^= static_cast<char>(1 << (random() % 8));
            break;
        case 1:  // truncation
            bytes.resize(random() % bytes.size());
            break;
        case 2:  // lengths at the edges
            for (int i = 0; i < 3; ++i)
                bytes[13 + random() % (bytes.size() - 13)] = (random() % 2) ? '\xFF' : '\0';
            break;
        default:  // both
            bytes[random() % bytes.size()] = static_cast<char>(random());
            bytes.resize(bytes.size() - random() % (bytes.size() / 2));
            break;
        }
        CGifReader reader(guarded.Place(bytes), static_cast<int>(bytes.size()));
        int frames = reader.HasScreen() ? reader.CountFrames() : 0;
        reader.RewindToFirstBlock();
        GifFrame frame;
        int extracted = 0;
        while (reader.HasScreen() && reader.ExtractNextFrame(frame)) {
            ASSERT_GT(frame.bytes.size(), 0u);
            ++extracted;
        }
        EXPECT_LE(extracted, frames + 1);
        parsed += frames;
    }
    EXPECT_GT(parsed, 0);
}

TEST(PictureRobustness, MutatedDataThroughTheWholeLoader)
{
    std::mt19937 random(7);
    std::string seed = SampleAnimation();
    for (int round = 0; round < 400; ++round) {
        std::string bytes = seed;
        if (round % 2)
            bytes.resize(random() % bytes.size());
        else
            bytes[6 + random() % (bytes.size() - 6)] ^= static_cast<char>(1 << (random() % 8));
        PictureProbe picture;
        LoadBytes(picture, bytes);
        const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
        const int size = static_cast<int>(bytes.size());
        CGifReader reader(data, size);
        const int counted = CGifReader::IsGif(data, size) && reader.HasScreen() ? reader.CountFrames() : 0;
        // Never more frames than the reader counts, and each one can show on the canvas.
        EXPECT_LE(static_cast<int>(picture.m_frames.size()), counted) << "round " << round;
        const SIZE canvas = picture.GetPictureSize();
        for (const AnimationFrame& frame : picture.m_frames) {
            EXPECT_LT(frame.left, canvas.cx) << "round " << round;
            EXPECT_LT(frame.top, canvas.cy) << "round " << round;
            EXPECT_GT(frame.left + frame.width, 0) << "round " << round;
            EXPECT_GT(frame.top + frame.height, 0) << "round " << round;
        }
    }
}

// ---- Rendering on a real control ------------------------------------------------------

}  // namespace
