// Helpers shared by the test programs: paths, processes, the real registry of the test
// prefix, files, and finding and answering the program's windows.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace kt {

// Folder of the running test program, with a trailing backslash.
std::string TestDir();
// The built program and its language libraries (build\bin).
std::string BinDir();
std::string KlarnerExe();
// A fresh folder under the build tree's scratch folder, removed by nobody: the build tree is throwaway.
std::string ScratchDir(const std::string& name);
// Copies klarner.exe and the given language libraries into `dir` (a staged installation).
void StageProgram(const std::string& dir, const std::vector<std::string>& languages);

// Loads a language library as the resource module, as start-up does.
void UseLanguage(const char* language);

// A name no other key of the prefix contains: prefix + process id + counter.
std::string UniqueName(const char* prefix);

// Registry of the test prefix.
bool CreateKey(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
bool SetStringValue(HKEY root, const std::string& path, const char* name, const char* data);
bool ValueExists(HKEY root, const std::string& path, const char* name);
void DeleteTree(HKEY root, const std::string& path);
// Applies an SDDL security descriptor's DACL to a key (for example "D:(D;;KR;;;WD)(A;;KA;;;WD)").
bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl);
bool DenyRead(HKEY root, const std::string& path);
bool DenyWrite(HKEY root, const std::string& path);
bool AllowAll(HKEY root, const std::string& path);

// Names beyond the ANSI code page, links and hidden names.
std::wstring Widen(const std::string& text);
// UTF-8, for messages of failed checks.
std::string Utf8(const std::wstring& text);
bool CreateKeyW(HKEY root, const std::wstring& path);
// Opened as itself: a link is found as the link, never as its target.
bool KeyExistsW(HKEY root, const std::wstring& path);
// A registry link at `path` whose target is the key at `target` (which must exist).
bool CreateLink(HKEY root, const std::wstring& path, const std::wstring& target);
// A subkey of `parent` whose name is a NUL followed by `rest`, made through the native API.
bool CreateNulNamedKey(HKEY root, const std::wstring& parent, const std::wstring& rest);
void DeleteTreeW(HKEY root, const std::wstring& path);

// Files.
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// A UTF-16LE text file as it is, byte-order mark included.
std::wstring ReadUtf16(const std::string& path);
// The registry editor's export of a whole root key (regedit /E), as its "[key]" sections.
std::vector<std::wstring> ExportSections(const char* root);
// The backups written beside a report ("<report without extension>-backup-*.reg"), by name.
std::vector<std::string> BackupsOf(const std::string& reportPath);

// Processes.
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

// Windows.
// A visible top-level window of the process with the given class (null: any), waiting up to the time.
HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, HWND except = nullptr);
HWND WaitForDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs);
std::string WindowText(HWND hwnd);
std::string ItemText(HWND dialog, int id);
// A message box of the process: its text, caption and the window itself.
struct MessageBoxInfo
{
    HWND hwnd = nullptr;
    std::string text;
    std::string caption;
};
MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except = nullptr);
// Presses a button of a dialog or message box as a click would.
void PressButton(HWND dialog, int id);
bool WaitUntilGone(HWND hwnd, DWORD timeoutMs);
// Checks the condition until it holds or the time is up; whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
// Returns once the window's thread has handled every message sent to it before (or is
// waiting in a modal loop, such as a message box's).
void Sync(HWND hwnd);
// Saves the window's pixels as a PNG under build\screenshots.
bool SaveScreenshot(HWND hwnd, const std::string& name);
// PNG encoder for 24-bit pixels (rows top-down, BGR), uncompressed deflate.
std::string EncodePng(int width, int height, const std::vector<unsigned char>& bgr);

}  // namespace kt
