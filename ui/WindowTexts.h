// The window's own texts, and its format texts from the language library, checked before
// they are used.
#pragma once
#include "../framework/CString.h"
#include "../engine/search/CmdList.h"
#include <string>

// Texts the window holds itself; everything else comes from the language library.
const char kTextEventFailed[] = "Error: Event failed!";
const char kColumnKey[] = "Key";
const char kColumnType[] = "Typ";
const char kColumnRootKey[] = "HKey";
// The result list's column of reasons, right of the paths (pixels).
const int kReasonColumnWidth = 400;

// Whether `format` holds exactly `integers` integer conversions (%d, %i, %u, with flags and a
// width at most) and no other conversion: "%%" is a percent sign.
BOOL FormatTakes(const char* format, int integers);
// The format text of string `id` from the language library. A text whose conversions do not
// match what the program passes (a "%s" where an integer comes) would read what was never
// passed, so then the built-in English text stands in.
CString LoadFormatText(UINT id);

// A string of the language library as it is, in Unicode (the ANSI code page may lack letters
// of another language's texts).
std::wstring LoadWideText(UINT id);
// The name of a finding's kind, from the string table ("Service", "Dienst"); its letter for an
// entry of no known kind.
std::wstring KindName(const CmdListEntry& entry);
// A group's header: the kind's name and how many findings it holds.
std::wstring GroupHeader(const std::wstring& kindName, int count);
// Everything about one finding, for the details line and the row's tip: its kind and path as
// shown, why it was found, the readable name of an entry whose path is only a number or a GUID,
// a folder's or file's size and file count, and what to do about one that stayed. One line each.
std::wstring FindingDetails(const CmdListEntry& entry, const std::wstring& shownPath, const std::wstring& advice);
