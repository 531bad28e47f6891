// Child processes: started, run to their end with their output, or as a plain user.
#pragma once
#include <windows.h>
#include <string>

namespace kt {

// Ends the process (if it still runs) when it goes out of scope, so that a failed
// assertion leaves no instance behind that would hold the program's mutex.
struct Process
{
    Process() {}
    Process(Process&& other) noexcept : handle(other.handle), id(other.id) { other.handle = nullptr; }
    Process& operator=(Process&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle = other.handle;
            id = other.id;
            other.handle = nullptr;
        }
        return *this;
    }
    ~Process() { Close(); }
    HANDLE handle = nullptr;
    DWORD id = 0;
    bool Running() const;
    // Exit code, or STILL_ACTIVE when it has not ended within the time.
    DWORD Wait(DWORD milliseconds);
    void Close();
};
Process Start(const std::string& commandLine, const std::string& workingDir = "");
// Runs to the end and returns its exit code; standard output into `output` and standard
// error into `errors` when given (without them the program has neither).
DWORD Run(const std::string& commandLine, std::string* output = nullptr, DWORD timeoutMs = 120000,
          std::string* errors = nullptr);
// Runs as this user without the Administrators group (a restricted token); the exit code.
DWORD RunWithoutAdministrators(const std::string& commandLine, DWORD timeoutMs = 120000);

}  // namespace kt
