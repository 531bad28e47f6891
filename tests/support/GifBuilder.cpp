// Builds GIF data in the tests.
#include "GifBuilder.h"

namespace kt {

namespace {
void Put16(std::string& out, int value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
}

std::string GifBuilder::Header(int width, int height, int sizeField, bool table, const char* version)
{
    std::string out = version;
    Put16(out, width);
    Put16(out, height);
    out += static_cast<char>((table ? 0x80 : 0) | 0x70 | (sizeField & 7));
    out += '\0';
    out += '\0';
    if (table)
        out += std::string(static_cast<size_t>(3 * (1 << (sizeField + 1))), '\0');
    return out;
}

GifBuilder::GifBuilder(int width, int height, std::vector<Rgb> palette, const char* version)
{
    palette.resize(4, Rgb{ 0, 0, 0 });
    m_data = Header(width, height, 1, false, version);
    m_data[10] = static_cast<char>(0x80 | 0x70 | 1);
    for (const Rgb& c : palette) {
        m_data += static_cast<char>(c.r);
        m_data += static_cast<char>(c.g);
        m_data += static_cast<char>(c.b);
    }
}

std::string GifBuilder::SubBlocks(const std::string& payload)
{
    std::string out;
    for (size_t at = 0; at < payload.size(); at += 255) {
        size_t n = std::min<size_t>(255, payload.size() - at);
        out += static_cast<char>(n);
        out.append(payload, at, n);
    }
    out += '\0';
    return out;
}

std::string GifBuilder::ControlBlock(int delay, int disposal, int transparentIndex)
{
    std::string out = "\x21\xF9\x04";
    out += static_cast<char>(((disposal & 7) << 2) | (transparentIndex >= 0 ? 1 : 0));
    Put16(out, delay);
    out += static_cast<char>(transparentIndex >= 0 ? transparentIndex : 0);
    out += '\0';
    return out;
}

std::string GifBuilder::ImageBlock(int left, int top, int width, int height, const std::vector<int>& pixels)
{
    std::string out = "\x2C";
    Put16(out, left);
    Put16(out, top);
    Put16(out, width);
    Put16(out, height);
    out += '\0';  // no local table, not interlaced
    // Minimum code size 2: codes of 3 bits, clear 4, end 5. A clear code before every two
    // pixels keeps the table from growing, so the code size never changes.
    out += '\x02';
    std::string bytes;
    unsigned long bits = 0;
    int count = 0;
    auto emit = [&](int code) {
        bits |= static_cast<unsigned long>(code) << count;
        count += 3;
        while (count >= 8) {
            bytes += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0)
            emit(4);
        emit(pixels[i] & 3);
    }
    emit(5);
    if (count > 0)
        bytes += static_cast<char>(bits & 0xFF);
    out += SubBlocks(bytes);
    return out;
}

GifBuilder& GifBuilder::Control(int delay, int disposal, int transparentIndex)
{
    m_data += ControlBlock(delay, disposal, transparentIndex);
    return *this;
}

GifBuilder& GifBuilder::Comment(const std::string& text)
{
    m_data += "\x21\xFE" + SubBlocks(text);
    return *this;
}

GifBuilder& GifBuilder::Application(const std::string& identifier, const std::string& data)
{
    m_data += "\x21\xFF\x0B" + identifier.substr(0, 11) + SubBlocks(data);
    return *this;
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height, int index)
{
    return Image(left, top, width, height, std::vector<int>(static_cast<size_t>(width * height), index));
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height, const std::vector<int>& pixels)
{
    m_data += ImageBlock(left, top, width, height, pixels);
    return *this;
}

GifBuilder& GifBuilder::Raw(const std::string& bytes)
{
    m_data += bytes;
    return *this;
}

}  // namespace kt
