// Standard output and error of an unattended run.
#include "StandardStreams.h"
#include "AppConstants.h"
#include "../framework/CString.h"
#include "../resources/resource.h"
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {
void WriteLine(DWORD standardHandle, const char* text)
{
    HANDLE handle = ::GetStdHandle(standardHandle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(handle, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    ::WriteFile(handle, "\r\n", 2, &written, nullptr);
}
}

void WriteStandardError(const char* text)
{
    WriteLine(STD_ERROR_HANDLE, text);
}

void WriteStandardOutput(const char* text)
{
    WriteLine(STD_OUTPUT_HANDLE, text);
}

void WriteUsageRefusal(UINT reasonId, const char* what)
{
    CString reason, usage;
    reason.LoadString(reasonId);
    usage.LoadString(IDS_USAGE);
    WriteStandardError(reason + what);
    WriteStandardError(usage);
}

void EnterUnattendedMode()
{
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    _set_error_mode(_OUT_TO_STDERR);
    std::set_terminate([] {
        WriteStandardError("Velmora Klarner: internal error");
        ::ExitProcess(kExitInternalError);
    });
}
