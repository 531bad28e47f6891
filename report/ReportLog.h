// Report file: a plain-text log that every search appends a section to.
#pragma once
#include <windows.h>
#include "../framework/CString.h"
#include <string>

// Empty path -> default path; date and time placeholders -> current date and time.
void ExpandReportPath(CString& path);
// Opens for appending (created when missing); INVALID_HANDLE_VALUE on failure. Only a file on
// a disk is a report: a device (NUL, CON, COM1, \\.\...), a pipe or an alternate data stream
// is refused like a path that cannot be opened.
HANDLE OpenReport(CString path);
// Whether a full path names a file on a disk the way a report must (C:\..., \\server\share\...,
// \\?\...): no device, no pipe, no alternate data stream.
bool NamesAFileOnADisk(const std::wstring& fullPath);
// The report's full path (its folder is where the backups go); the path itself when it has none.
CString ReportFullPath(const CString& path);
// Writes the banner; FALSE when a line of it could not be written whole.
BOOL WriteReportBanner(HANDLE hReport);
// Writes the text and CR LF; FALSE when either could not be written whole.
BOOL WriteReportLine(const char* text, HANDLE hReport);
void CloseReport(HANDLE hReport);
CString FormatReportDate();
CString FormatReportTime();
