// Report file: a plain-text log that every search appends a section to.
#pragma once
#include <windows.h>
#include "../framework/CString.h"

// Empty path -> default path; date and time placeholders -> current date and time.
void ExpandReportPath(CString& path);
// Opens for appending (created when missing); INVALID_HANDLE_VALUE on failure.
HANDLE OpenReport(CString path);
void WriteReportBanner(HANDLE hReport);
// Writes the text and CR LF; FALSE (and no CR LF) when the text could not be written.
BOOL WriteReportLine(const char* text, HANDLE hReport);
void CloseReport(HANDLE hReport);
CString FormatReportDate();
CString FormatReportTime();
