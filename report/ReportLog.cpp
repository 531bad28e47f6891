// Report file operations. The handle belongs to whoever opened it.
#include "ReportLog.h"
#include "ReportConstants.h"
#include "../resources/resource.h"
#include <ctime>
#include <cstdio>
#include <cstring>

namespace {
struct tm CurrentLocalTime()
{
    __time64_t now = _time64(nullptr);
    struct tm local = {};
    _localtime64_s(&local, &now);
    return local;
}

unsigned Field(int value)
{
    return static_cast<unsigned>(value);
}
}

void ExpandReportPath(CString& path)
{
    if (path == "")
        path.LoadString(IDS_DEFAULT_REPORT);
    CString strDateVar, strTimeVar;
    strDateVar.LoadString(IDS_DATE_PLACEHOLDER);
    strTimeVar.LoadString(IDS_TIME_PLACEHOLDER);
    if (!strDateVar.IsEmpty() && path.Find(strDateVar) >= 0)
        path.Replace(strDateVar, FormatReportDate());
    if (!strTimeVar.IsEmpty() && path.Find(strTimeVar) >= 0)
        path.Replace(strTimeVar, FormatReportTime());
}

HANDLE OpenReport(CString path)
{
    HANDLE hReport = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hReport == INVALID_HANDLE_VALUE)
        return hReport;
    ::SetFilePointer(hReport, 0, nullptr, FILE_END);
    return hReport;
}

void WriteReportBanner(HANDLE hReport)
{
    struct tm currentTime = CurrentLocalTime();
    char szTmp[kStampChars] = "";
    snprintf(szTmp, sizeof szTmp, "\t%.2u.%.2u.%u\t%.2u:%.2u:%.2u", Field(currentTime.tm_mday),
             Field(currentTime.tm_mon + 1), Field(currentTime.tm_year + 1900), Field(currentTime.tm_hour),
             Field(currentTime.tm_min), Field(currentTime.tm_sec));
    const char* lines[] = { "", kReportRuleLine, "", kReportTitleLine, szTmp, "", kReportRuleLine, "", "" };
    for (const char* line : lines)
        WriteReportLine(line, hReport);
}

BOOL WriteReportLine(const char* text, HANDLE hReport)
{
    if (hReport == INVALID_HANDLE_VALUE || hReport == nullptr)
        return FALSE;
    DWORD bytesWritten = 0;
    if (!::WriteFile(hReport, text, static_cast<DWORD>(strlen(text)), &bytesWritten, nullptr))
        return FALSE;
    ::WriteFile(hReport, "\r\n", 2, &bytesWritten, nullptr);
    return TRUE;
}

void CloseReport(HANDLE hReport)
{
    if (hReport != INVALID_HANDLE_VALUE && hReport != nullptr)
        ::CloseHandle(hReport);
}

CString FormatReportDate()
{
    struct tm now = CurrentLocalTime();
    char szFileName[kStampChars] = "";
    snprintf(szFileName, sizeof szFileName, "%.2u.%.2u.%u", Field(now.tm_mday), Field(now.tm_mon + 1),
             Field(now.tm_year + 1900));
    return CString(szFileName);
}

CString FormatReportTime()
{
    struct tm now = CurrentLocalTime();
    char szFileName[kStampChars] = "";
    snprintf(szFileName, sizeof szFileName, "%.2u.%.2u.%.2u", Field(now.tm_hour), Field(now.tm_min), Field(now.tm_sec));
    return CString(szFileName);
}
