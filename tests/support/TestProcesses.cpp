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
}

DWORD Run(const std::string& commandLine, std::string* output, DWORD timeoutMs, std::string* errors)
{
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE pipes[2][2] = { { nullptr, nullptr }, { nullptr, nullptr } };  // [stdout, stderr][read, write]
    std::string* targets[2] = { output, errors };
    for (int i = 0; i < 2; ++i) {
        if (!targets[i])
            continue;
        if (!CreatePipe(&pipes[i][0], &pipes[i][1], &inherit, 0))
            return static_cast<DWORD>(-1);
        SetHandleInformation(pipes[i][0], HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    const bool redirect = output || errors;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = pipes[0][1];
        startup.hStdError = pipes[1][1];
        startup.hStdInput = nullptr;
    }
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, redirect ? TRUE : FALSE, 0, nullptr, nullptr,
                                  &startup, &info);
    for (auto& pipe : pipes)
        if (pipe[1])
            CloseHandle(pipe[1]);
    HANDLE readers[2] = { nullptr, nullptr };
    PipeReader reading[2] = { { pipes[0][0], output }, { pipes[1][0], errors } };
    for (int i = 0; i < 2; ++i)
        if (started && targets[i])
            readers[i] = CreateThread(nullptr, 0, ReadPipe, &reading[i], 0, nullptr);
    DWORD code = started ? Finish(info.hProcess, timeoutMs) : static_cast<DWORD>(-1);
    for (int i = 0; i < 2; ++i) {
        if (readers[i]) {
            WaitForSingleObject(readers[i], 10000);
            CloseHandle(readers[i]);
        }
        if (pipes[i][0])
            CloseHandle(pipes[i][0]);
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
