// Child processes: started, run to their end with their output, or as a plain user.
#include "TestSupport.h"

namespace kt {

bool Process::Running() const
{
    return handle && WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
}

DWORD Process::Wait(DWORD milliseconds)
{
    if (!handle || WaitForSingleObject(handle, milliseconds) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    return code;
}

void Process::Close()
{
    if (handle) {
        if (Running())
            TerminateProcess(handle, 99);
        CloseHandle(handle);
        handle = nullptr;
    }
}

Process Start(const std::string& commandLine, const std::string& workingDir)
{
    Process process;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                       workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        process.handle = info.hProcess;
        process.id = info.dwProcessId;
    }
    return process;
}

namespace {
struct PipeReader
{
    HANDLE pipe;
    std::string* text;
};

DWORD WINAPI ReadPipe(LPVOID parameter)
{
    PipeReader* reader = static_cast<PipeReader*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        reader->text->append(buffer, got);
    return 0;
}

DWORD Finish(HANDLE process, DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 99);
    return code;
}

// A file that takes a child's standard error and goes once the last handle to it closes. Not
// a pipe: Wine starts the desktop process, when a child is the first to need it, with the
// child's standard error, and a pipe would then stay open (and its reader waiting) long after
// the child ended. A file is read back whole once the child is gone, whoever still holds it.
HANDLE ErrorFile()
{
    char folder[MAX_PATH] = "", name[MAX_PATH] = "";
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "klt", 0, name))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadBack(HANDLE file)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    // The child wrote through the same file object, so its position is the end of what it wrote.
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}
}

DWORD Run(const std::string& commandLine, std::string* output, DWORD timeoutMs, std::string* errors)
{
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE pipe[2] = { nullptr, nullptr };  // standard output: [read, write]
    if (output) {
        if (!CreatePipe(&pipe[0], &pipe[1], &inherit, 0))
            return static_cast<DWORD>(-1);
        SetHandleInformation(pipe[0], HANDLE_FLAG_INHERIT, 0);
    }
    HANDLE errorFile = errors ? ErrorFile() : nullptr;
    if (errorFile == INVALID_HANDLE_VALUE) {
        if (pipe[0])
            CloseHandle(pipe[0]), CloseHandle(pipe[1]);
        return static_cast<DWORD>(-1);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    const bool redirect = output || errors;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = pipe[1];
        startup.hStdError = errorFile;
        startup.hStdInput = nullptr;
    }
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, redirect ? TRUE : FALSE, 0, nullptr, nullptr,
                                  &startup, &info);
    if (pipe[1])
        CloseHandle(pipe[1]);
    PipeReader reading = { pipe[0], output };
    HANDLE reader = started && output ? CreateThread(nullptr, 0, ReadPipe, &reading, 0, nullptr) : nullptr;
    DWORD code = started ? Finish(info.hProcess, timeoutMs) : static_cast<DWORD>(-1);
    if (reader) {
        WaitForSingleObject(reader, 10000);
        CloseHandle(reader);
    }
    if (pipe[0])
        CloseHandle(pipe[0]);
    if (errorFile) {
        errors->append(ReadBack(errorFile));
        CloseHandle(errorFile);
    }
    if (started) {
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    return code;
}

DWORD RunWithoutAdministrators(const std::string& commandLine, DWORD timeoutMs)
{
    HANDLE token = nullptr, restricted = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
        return static_cast<DWORD>(-1);
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    SID_AND_ATTRIBUTES denyOnly = { administrators, 0 };
    BOOL made = CreateRestrictedToken(token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted);
    FreeSid(administrators);
    CloseHandle(token);
    if (!made)
        return static_cast<DWORD>(-1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    BOOL started = CreateProcessAsUserA(restricted, nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &info);
    CloseHandle(restricted);
    if (!started)
        return static_cast<DWORD>(-1);
    DWORD code = Finish(info.hProcess, timeoutMs);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return code;
}

}  // namespace kt
