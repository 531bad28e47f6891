// Report file operations. The handle belongs to whoever opened it.
#include "ReportLog.h"
#include "ReportConstants.h"
#include "../framework/Handles.h"
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

bool IsDriveLetterPath(const char* p)
{
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' && p[2] == '\\';
}

// "server\share\rest": where rest begins, or null.
const char* AfterShare(const char* server)
{
    if (*server == '\\' || *server == '.' || *server == '?')
        return nullptr;
    const char* share = strchr(server, '\\');
    const char* rest = share ? strchr(share + 1, '\\') : nullptr;
    return rest && rest > share + 1 ? rest + 1 : nullptr;
}

// Where the file's own part of a full path begins, for the forms that name a file on a disk
// (C:\..., \\server\share\..., \\?\C:\..., \\?\UNC\server\share\...); null for any other form.
// The full path already spells every device name (NUL, CON, COM1, aux.txt) as \\.\NAME.
const char* FilePart(const char* full)
{
    if (strncmp(full, "\\\\?\\", 4) == 0) {
        full += 4;
        if (_strnicmp(full, "UNC\\", 4) == 0)
            return AfterShare(full + 4);
        return IsDriveLetterPath(full) ? full + 3 : nullptr;
    }
    if (IsDriveLetterPath(full))
        return full + 3;
    return full[0] == '\\' && full[1] == '\\' ? AfterShare(full + 2) : nullptr;
}

bool NamesAFileOnADiskA(const char* full)
{
    const char* file = FilePart(full);
    // A colon in the file's part opens an alternate data stream of some file.
    return file && *file && !strchr(file, ':');
}

BOOL WriteWhole(HANDLE hReport, const char* bytes, DWORD size)
{
    DWORD written = 0;
    return ::WriteFile(hReport, bytes, size, &written, nullptr) && written == size;
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
    for (const char* placeholder : kDatePlaceholders)
        if (path.Find(placeholder) >= 0)
            path.Replace(placeholder, FormatReportDate());
    if (!strTimeVar.IsEmpty() && path.Find(strTimeVar) >= 0)
        path.Replace(strTimeVar, FormatReportTime());
    for (const char* placeholder : kTimePlaceholders)
        if (path.Find(placeholder) >= 0)
            path.Replace(placeholder, FormatReportTime());
}

CString ReportFullPath(const CString& path)
{
    char full[MAX_PATH * 2] = "";
    DWORD length = ::GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return path;
    return CString(full);
}

bool NamesAFileOnADisk(const std::wstring& fullPath)
{
    const int size = ::WideCharToMultiByte(CP_ACP, 0, fullPath.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, fullPath.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    return NamesAFileOnADiskA(narrow.c_str());
}

HANDLE OpenReport(CString path)
{
    const CString full = ReportFullPath(path);
    if (path.IsEmpty() || !NamesAFileOnADiskA(full)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // Opened as itself: a link planted at the report's name is never followed to another file.
    CHandle hReport(::CreateFileA(full, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!hReport)
        return INVALID_HANDLE_VALUE;
    // What was opened decides, not only its name.
    BY_HANDLE_FILE_INFORMATION information;
    if (::GetFileType(hReport) != FILE_TYPE_DISK || !::GetFileInformationByHandle(hReport, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    ::SetFilePointer(hReport, 0, nullptr, FILE_END);
    return hReport.Release();
}

BOOL WriteReportBanner(HANDLE hReport)
{
    struct tm currentTime = CurrentLocalTime();
    char szTmp[kStampChars] = "";
    snprintf(szTmp, sizeof szTmp, "\t%.2u.%.2u.%u\t%.2u:%.2u:%.2u", Field(currentTime.tm_mday),
             Field(currentTime.tm_mon + 1), Field(currentTime.tm_year + 1900), Field(currentTime.tm_hour),
             Field(currentTime.tm_min), Field(currentTime.tm_sec));
    const char* lines[] = { "", kReportRuleLine, "", kReportTitleLine, szTmp, "", kReportRuleLine, "", "" };
    BOOL whole = TRUE;
    for (const char* line : lines)
        whole = WriteReportLine(line, hReport) && whole;
    return whole;
}

BOOL WriteReportLine(const char* text, HANDLE hReport)
{
    if (hReport == INVALID_HANDLE_VALUE || hReport == nullptr)
        return FALSE;
    return WriteWhole(hReport, text, static_cast<DWORD>(strlen(text))) && WriteWhole(hReport, "\r\n", 2);
}

void CloseReport(HANDLE hReport)
{
    if (hReport == INVALID_HANDLE_VALUE || hReport == nullptr)
        return;
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
