// Registry names as text.
#include "KeyNames.h"
#include <cstdio>
#include <vector>

void LowerInPlace(std::wstring& text)
{
    bool ascii = true;
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        else if (c >= 0x80)
            ascii = false;
    }
    if (ascii || text.empty())
        return;
    // Simple case mapping keeps the length, so the text can be mapped into a copy of itself.
    std::vector<wchar_t> lower(text.size());
    int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()),
                                 lower.data(), static_cast<int>(lower.size()), nullptr, nullptr, 0);
    if (length == static_cast<int>(text.size()))
        text.assign(lower.data(), lower.size());
}

std::wstring Lowered(const wchar_t* text, size_t length)
{
    std::wstring lower(text, length);
    LowerInPlace(lower);
    return lower;
}

std::wstring WidenAnsi(const char* text)
{
    int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::vector<wchar_t> wide(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    return std::wstring(wide.data(), static_cast<size_t>(length - 1));
}

namespace {
void AppendEscape(std::string& out, unsigned codePoint)
{
    char escape[16];
    snprintf(escape, sizeof escape, "<U+%04X>", codePoint);
    out += escape;
}

// The code page's bytes for one character (one or two UTF-16 units), or 0 when the code
// page has no such character (a best-fit look-alike does not count: it names another key).
int AnsiBytes(const wchar_t* c, int units, char* bytes, int capacity)
{
    static const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8)
        return ::WideCharToMultiByte(CP_UTF8, 0, c, units, bytes, capacity, nullptr, nullptr);
    BOOL usedDefault = FALSE;
    int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, c, units, bytes, capacity, nullptr, &usedDefault);
    return usedDefault ? 0 : length;
}
}

std::string ReportSpelling(const wchar_t* text, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        // Control characters (NUL, line breaks, ESC and the others below 0x20, DEL) would break the
        // line or let a name steer a terminal that shows the report.
        if (c < 0x20 || c == 0x7F) {
            AppendEscape(out, c);
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const bool pair = IS_HIGH_SURROGATE(c) && i + 1 < length && IS_LOW_SURROGATE(text[i + 1]);
        char bytes[8];
        // A lone surrogate is no character at all.
        int count = (pair || !(IS_HIGH_SURROGATE(c) || IS_LOW_SURROGATE(c))) ? AnsiBytes(text + i, pair ? 2 : 1, bytes, sizeof bytes) : 0;
        if (count > 0)
            out.append(bytes, static_cast<size_t>(count));
        else if (pair)
            AppendEscape(out, 0x10000u + ((static_cast<unsigned>(c) - 0xD800u) << 10) +
                                  (static_cast<unsigned>(text[i + 1]) - 0xDC00u));
        else
            AppendEscape(out, c);
        if (pair)
            ++i;
    }
    return out;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

bool PathBelow(const std::wstring& path, const std::wstring& folder)
{
    return !folder.empty() && path.size() > folder.size() && _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           path[folder.size()] == L'\\';
}

bool PathAtOrBelow(const std::wstring& path, const std::wstring& folder)
{
    return !folder.empty() && (_wcsicmp(path.c_str(), folder.c_str()) == 0 || PathBelow(path, folder));
}
