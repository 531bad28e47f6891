// The keyword list of a search, parsed once: the keyword text lowercased and split by the
// program's rules, the lowercase Unicode forms that names are matched with, and how many of its
// entries name the tray program.
#pragma once
#include "../../framework/CString.h"
#include "../../framework/CStringArray.h"
#include <string>
#include <vector>

// Appends one entry per keyword of `text` to `terms`: at most the entries that fit the first 255
// characters, each 1 to 30 characters; an empty, over-long, cut or blank entry ends the list.
void SplitKeywordText(const char* text, CStringArray& terms);

// The one rule every name, value and file path is matched by: the first of `lowerKeywords` that
// `lower` (already lowercased) holds anywhere; empty when none does.
std::wstring MatchingKeyword(const std::wstring& lower, const std::vector<std::wstring>& lowerKeywords);

class CKeywords
{
public:
    explicit CKeywords(const char* text);

    // The whole text lowercased (not cut to 255 characters), as the report shows it.
    const CString& LowerText() const { return m_lowerText; }
    // The entries as split from the lowercased text.
    const std::vector<CString>& Entries() const { return m_entries; }
    // The same as lowercase Unicode text, as names are matched.
    const std::vector<std::wstring>& Lower() const { return m_lower; }
    bool Empty() const { return m_entries.empty(); }
    // Whether this is the default keyword list (the maker's own names), not one of the user's.
    bool IsDefaultList() const;
    // How many entries are exactly the tray program's name.
    int TrayEntries() const;
    // The first keyword that `text` holds, in any letter case; empty when none does.
    std::wstring Matching(const std::wstring& text) const;

private:
    CString m_lowerText;
    std::vector<CString> m_entries;
    std::vector<std::wstring> m_lower;
};
