// The keyword list of a search.
#include "Keywords.h"
#include "../registry/Constants.h"
#include "../registry/KeyNames.h"
#include <cstring>

void SplitKeywordText(const char* text, CStringArray& terms)
{
    char work[kKeywordTextChars] = "";
    strncpy(work, text, kKeywordTextChars - 1);
    work[kKeywordTextChars - 1] = '\0';
    // Where the window ends inside an entry, that entry is cut short: searching for its first
    // letters would match keys that are no leftovers. The list ends before it.
    const size_t textLength = strlen(text);
    const bool windowCutsAnEntry =
        textLength > static_cast<size_t>(kKeywordTextChars - 1) && text[kKeywordTextChars - 1] != ',';

    const char* run = work;
    for (;;) {
        const char* comma = strchr(run, ',');
        size_t length = comma ? static_cast<size_t>(comma - run) : strlen(run);
        // An empty run (end of text, leading or doubled comma) and an over-long entry end the list.
        if (length == 0 || length >= kKeywordChars - 1)
            break;
        if (!comma && windowCutsAnEntry)
            break;
        // So does an entry of spaces only: it would match every name with a space in it.
        if (strspn(run, " ") >= length)
            break;
        char entry[kKeywordChars] = "";
        memcpy(entry, run, length);
        entry[length] = '\0';
        terms.Add(CString(entry));
        if (!comma)
            break;
        run = comma + 1;
    }
}

CKeywords::CKeywords(const char* text)
{
    std::vector<char> lower(text, text + strlen(text) + 1);
    _strlwr(lower.data());
    m_lowerText = lower.data();
    CStringArray terms;
    SplitKeywordText(lower.data(), terms);
    for (int i = 0; i < terms.GetSize(); ++i) {
        m_entries.push_back(terms[i]);
        // Names are matched as Unicode text, so the keywords are too, lowercased the same way.
        std::wstring keyword = WidenAnsi(terms[i]);
        LowerInPlace(keyword);
        m_lower.push_back(keyword);
    }
}

bool CKeywords::IsDefaultList() const
{
    return m_lowerText == kDefaultKeywords;
}

int CKeywords::TrayEntries() const
{
    int count = 0;
    for (const CString& entry : m_entries)
        count += entry == kTrayKeyword;
    return count;
}

std::wstring MatchingKeyword(const std::wstring& lower, const std::vector<std::wstring>& lowerKeywords)
{
    for (const std::wstring& keyword : lowerKeywords)
        if (lower.find(keyword) != std::wstring::npos)
            return keyword;
    return std::wstring();
}

std::wstring CKeywords::Matching(const std::wstring& text) const
{
    return MatchingKeyword(Lowered(text.c_str(), text.size()), m_lower);
}
