// Registry names as text: lowercasing for matching, the ANSI text of the keywords, and the
// report's spelling of names that the ANSI code page cannot hold.
#pragma once
#include <windows.h>
#include <string>

// Lowercases Unicode text the same way whatever the user's language (invariant rules).
void LowerInPlace(std::wstring& text);
std::wstring Lowered(const wchar_t* text, size_t length);
inline std::wstring Lowered(const std::wstring& text) { return Lowered(text.c_str(), text.size()); }

// Whether a path (a key's or a file's) lies below `folder`, or is it or lies below it, in any
// letter case; never for an empty folder.
bool PathBelow(const std::wstring& path, const std::wstring& folder);
bool PathAtOrBelow(const std::wstring& path, const std::wstring& folder);

// ANSI code page text to UTF-16, and back for texts known to fit (root key names).
std::wstring WidenAnsi(const char* text);

// UTF-16 to UTF-8 and back (the JSON record, the backup's manifest).
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The report is ANSI text. A character that the ANSI code page holds is written as that
// code page writes it (exactly what the ANSI registry functions give); any other character,
// and the control characters (below 0x20 and DEL), which would break the line or steer a
// terminal, are written as <U+XXXX> with at least four upper-case hexadecimal digits (a
// surrogate pair as one code point, <U+1F600>).
std::string ReportSpelling(const wchar_t* text, size_t length);
inline std::string ReportSpelling(const std::wstring& text) { return ReportSpelling(text.c_str(), text.size()); }
