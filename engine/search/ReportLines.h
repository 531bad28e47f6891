// Where a search writes its part of the report: lines of text into a file someone else opened.
#pragma once
#include <windows.h>

class IReportLines
{
public:
    virtual ~IReportLines() {}
    // The report's file; INVALID_HANDLE_VALUE when it could not be opened (null when never tried).
    virtual HANDLE Handle() const = 0;
    // Writes the text and CR LF; FALSE when they could not be written whole.
    virtual BOOL WriteLine(const char* text) = 0;
};

// The lines of a report file by its handle alone, which stays its opener's.
class CHandleLines : public IReportLines
{
public:
    explicit CHandleLines(HANDLE handle) : m_handle(handle) {}
    HANDLE Handle() const override { return m_handle; }
    BOOL WriteLine(const char* text) override;

private:
    HANDLE m_handle;
};
