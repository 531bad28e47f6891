// Texts held as a string id and its parts, made words only when shown.
#include "Said.h"
#include "../../framework/AfxResource.h"
#include <cwchar>

namespace {
// Characters of Unicode's private use area mark a text and its parts; a text inside another
// carries them shifted by two for each level. A name read from the machine never carries them.
const wchar_t kSaidMark = L'\xE000';
const wchar_t kPartMark = L'\xE001';
const wchar_t kLastMark = L'\xE00F';
HINSTANCE g_english = nullptr;

bool IsMark(wchar_t c)
{
    return c >= kSaidMark && c <= kLastMark;
}

std::wstring Spoken(const std::wstring& said, HINSTANCE library)
{
    if (said.empty() || said[0] != kSaidMark)
        return said;
    wchar_t* end = nullptr;
    const UINT id = static_cast<UINT>(wcstoul(said.c_str() + 1, &end, 10));
    std::wstring parts[9];
    size_t count = 0;
    for (size_t at = said.find(kPartMark); at != std::wstring::npos && count < 9;) {
        const size_t next = said.find(kPartMark, at + 1);
        std::wstring part = said.substr(at + 1, next == std::wstring::npos ? std::wstring::npos : next - at - 1);
        if (!part.empty() && part[0] == kSaidMark + 2) {
            for (wchar_t& c : part)
                if (IsMark(c))
                    c = static_cast<wchar_t>(c - 2);
            part = Spoken(part, library);
        }
        parts[count++] = part;
        at = next;
    }
    const wchar_t* text = nullptr;
    const int length = library ? ::LoadStringW(library, id, reinterpret_cast<LPWSTR>(&text), 0) : 0;
    if (length <= 0 || !text) {
        // No library holds it: its parts at least, never a private character.
        std::wstring joined;
        for (size_t i = 0; i < count; ++i)
            joined += (i ? L" " : L"") + parts[i];
        return joined;
    }
    std::wstring shown;
    for (int i = 0; i < length; ++i) {
        if (text[i] == L'%' && i + 1 < length && text[i + 1] >= L'1' && text[i + 1] <= L'9') {
            const size_t part = static_cast<size_t>(text[i + 1] - L'1');
            if (part < count)
                shown += parts[part];
            ++i;
            continue;
        }
        shown += text[i];
    }
    return shown;
}
}

SaidPart::SaidPart(const std::wstring& text) : held(text)
{
    // A name that carries a mark would be read as a text of ours.
    for (wchar_t& c : held)
        if (IsMark(c))
            c = L'\xFFFD';
}

SaidPart Nested(const std::wstring& said)
{
    if (said.empty() || said[0] != kSaidMark)
        return SaidPart(said);
    SaidPart part(std::wstring{});
    part.held = said;
    for (wchar_t& c : part.held)
            if (IsMark(c) && c + 2 <= kLastMark)
                c = static_cast<wchar_t>(c + 2);
    return part;
}

std::wstring Said(UINT id, std::initializer_list<SaidPart> parts)
{
    std::wstring said(1, kSaidMark);
    said += std::to_wstring(id);
    for (const SaidPart& part : parts) {
        said += kPartMark;
        said += part.held;
    }
    return said;
}

std::wstring Shown(const std::wstring& said)
{
    return Spoken(said, AfxGetResourceHandle());
}

std::wstring InEnglish(const std::wstring& said)
{
    return Spoken(said, g_english ? g_english : AfxGetResourceHandle());
}

void SetEnglishTexts(HINSTANCE library)
{
    g_english = library;
}
