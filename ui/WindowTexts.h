// The window's own texts, and its format texts from the language library, checked before
// they are used.
#pragma once
#include "../framework/CString.h"

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
