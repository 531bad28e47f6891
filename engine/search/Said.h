// What the program says about a finding (its reason, a kept note, advice), held as the string's
// id and its parts until it is shown: the report and the window show it in the user's language,
// the JSON record in English, whichever language library the run uses. A text that is no such
// reference (a name read from the machine) is shown as it is.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>

// One part of a text: a name or path as read (shown as it is), or another text of the program's
// own (Nested), shown in the same language.
struct SaidPart
{
    SaidPart(const std::wstring& text);
    SaidPart(const wchar_t* text) : SaidPart(std::wstring(text)) {}
    std::wstring held;
};
SaidPart Nested(const std::wstring& said);

// The string `id` of the language library with %1, %2, ... standing for `parts`, in the form
// that findings, results and notes carry.
std::wstring Said(UINT id, std::initializer_list<SaidPart> parts = {});
// The text in the language of the run's library.
std::wstring Shown(const std::wstring& said);
// The text in English, for what other programs read.
std::wstring InEnglish(const std::wstring& said);
// The English library; without one the run's own library stands in.
void SetEnglishTexts(HINSTANCE library);
