// A report file with an owner.
#include "Report.h"
#include "ReportLog.h"
#include <utility>

CReport CReport::Borrowed(HANDLE handle)
{
    CReport report;
    report.m_handle = handle;
    return report;
}

CReport::~CReport()
{
    Close();
}

CReport::CReport(CReport&& other) noexcept
    : m_handle(other.m_handle), m_owned(other.m_owned), m_writeFailed(other.m_writeFailed)
{
    other.m_handle = nullptr;
    other.m_owned = false;
}

CReport& CReport::operator=(CReport&& other) noexcept
{
    if (this != &other) {
        Close();
        std::swap(m_handle, other.m_handle);
        std::swap(m_owned, other.m_owned);
        m_writeFailed = other.m_writeFailed;
    }
    return *this;
}

BOOL CReport::Open(const CString& path)
{
    Close();
    m_handle = OpenReport(path);
    m_owned = true;
    m_writeFailed = FALSE;
    if (m_handle == INVALID_HANDLE_VALUE)
        return FALSE;
    m_writeFailed = !WriteReportBanner(m_handle);
    return TRUE;
}

BOOL CReport::IsOpen() const
{
    return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
}

BOOL CReport::WriteLine(const char* text)
{
    if (WriteReportLine(text, m_handle))
        return TRUE;
    if (IsOpen())
        m_writeFailed = TRUE;
    return FALSE;
}

void CReport::Close()
{
    if (m_owned)
        CloseReport(m_handle);
    m_handle = nullptr;
    m_owned = false;
}
