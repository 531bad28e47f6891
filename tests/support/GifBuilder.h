// Builds GIF data in the tests: header, screen, colour tables, extensions and images whose
// pixels are LZW-coded with a clear code every two pixels, so that any decoder reads them.
#pragma once
#include <string>
#include <vector>

namespace kt {

struct Rgb
{
    unsigned char r, g, b;
};

class GifBuilder
{
public:
    // A palette of up to 4 colours (padded), used as the global colour table.
    GifBuilder(int width, int height, std::vector<Rgb> palette, const char* version = "GIF89a");
    // Without a global colour table, with a table of size field `sizeField`, as given.
    static std::string Header(int width, int height, int sizeField, bool table, const char* version = "GIF89a");

    GifBuilder& Control(int delay, int disposal, int transparentIndex = -1);
    GifBuilder& Comment(const std::string& text);
    GifBuilder& Application(const std::string& identifier, const std::string& data);
    // A frame filled with one palette index.
    GifBuilder& Image(int left, int top, int width, int height, int index);
    // A frame with its own pixels (palette indexes, rows top-down).
    GifBuilder& Image(int left, int top, int width, int height, const std::vector<int>& pixels);
    GifBuilder& Raw(const std::string& bytes);
    std::string Finish() const { return m_data + ";"; }
    std::string Unfinished() const { return m_data; }

    static std::string ImageBlock(int left, int top, int width, int height, const std::vector<int>& pixels);
    static std::string ControlBlock(int delay, int disposal, int transparentIndex = -1);
    static std::string SubBlocks(const std::string& payload);

private:
    std::string m_data;
};

}  // namespace kt
