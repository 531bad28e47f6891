// A report file with an owner: opened with its banner, closed when its owner is done with it, and
// aware whether a line could not be written whole (a run without a whole report removes nothing).
#pragma once
#include "../engine/search/ReportLines.h"
#include <windows.h>
#include "../framework/CString.h"

class CReport : public IReportLines
{
public:
    CReport() {}
    // The lines of a report someone else opened and closes (a handle as the report functions
    // take it); it is never closed here.
    static CReport Borrowed(HANDLE handle);
    ~CReport();
    CReport(CReport&& other) noexcept;
    CReport& operator=(CReport&& other) noexcept;
    CReport(const CReport&) = delete;
    CReport& operator=(const CReport&) = delete;

    // Opens `path` for appending (an open report is closed first) and writes the banner; FALSE
    // when it could not be opened.
    BOOL Open(const CString& path);
    BOOL IsOpen() const;
    // The handle, INVALID_HANDLE_VALUE when the report could not be opened (null when never tried).
    HANDLE Handle() const override { return m_handle; }
    // Writes the text and CR LF; FALSE, remembered, when they could not be written whole.
    BOOL WriteLine(const char* text) override;
    BOOL WriteFailed() const { return m_writeFailed; }
    void Close();

private:
    HANDLE m_handle = nullptr;
    bool m_owned = false;
    BOOL m_writeFailed = FALSE;
};
