// Helpers shared by the test programs.
#include "TestSupport.h"
#include "../../framework/AfxCore.h"
#include <sddl.h>
#include <winternl.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kt {

std::string TestDir()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

std::string BinDir()
{
    return TestDir() + "..\\bin\\";
}

std::string KlarnerExe()
{
    return BinDir() + "klarner.exe";
}

std::string ScratchDir(const std::string& name)
{
    static std::atomic<int> counter{ 0 };
    std::string root = TestDir() + "..\\scratch\\";
    CreateDirectoryA(root.c_str(), nullptr);
    // Process ids come back in a later run; the clock makes the folder new all the same.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::string dir = root + name + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "_" +
                      std::to_string(now.QuadPart % 100000000) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void StageProgram(const std::string& dir, const std::vector<std::string>& languages)
{
    CopyFileA(KlarnerExe().c_str(), (dir + "klarner.exe").c_str(), FALSE);
    for (const std::string& language : languages) {
        CreateDirectoryA((dir + language).c_str(), nullptr);
        CopyFileA((BinDir() + language + "\\klarner.dll").c_str(), (dir + language + "\\klarner.dll").c_str(), FALSE);
    }
}

void UseLanguage(const char* language)
{
    std::string path = BinDir() + language + "\\klarner.dll";
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (library)
        AfxSetResourceHandle(library);
}

std::string UniqueName(const char* prefix)
{
    static std::atomic<int> counter{ 0 };
    return std::string(prefix) + "q" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++counter);
}

bool CreateKey(HKEY root, const std::string& path)
{
    return CreateKeyW(root, Widen(path));
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    // A key that denies reading still exists.
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

bool SetStringValue(HKEY root, const std::string& path, const char* name, const char* data)
{
    return RegSetKeyValueA(root, path.c_str(), name, REG_SZ, data, static_cast<DWORD>(strlen(data) + 1)) ==
           ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::string& path, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {
PSECURITY_DESCRIPTOR Descriptor(const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr);
    return descriptor;
}

typedef NTSTATUS(NTAPI* NtKeyProc)(HANDLE);
typedef NTSTATUS(NTAPI* NtCreateKeyProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG,
                                         PULONG);
typedef NTSTATUS(NTAPI* NtOpenKeyProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
typedef NTSTATUS(NTAPI* NtQueryKeyProc)(HANDLE, int, PVOID, ULONG, PULONG);

template <class F> F Native(const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Each key opened as itself, relative to its parent's handle (paths of any length, links and
// names that hold a NUL); keys that deny access are opened up first so that nothing stays.
bool DeleteTreeAt(HANDLE key)
{
    PSECURITY_DESCRIPTOR open = Descriptor("D:(A;;KA;;;WD)");
    for (;;) {
        BYTE buffer[1024];
        ULONG got = 0;
        // KeyBasicInformation of subkey 0: its name with the exact length, NULs included.
        if (Native<NTSTATUS(NTAPI*)(HANDLE, ULONG, int, PVOID, ULONG, PULONG)>("NtEnumerateKey")(
                key, 0, 0, buffer, sizeof buffer, &got) != 0)
            break;
        ULONG nameLength = *reinterpret_cast<ULONG*>(buffer + 12);
        UNICODE_STRING name = { static_cast<USHORT>(nameLength), static_cast<USHORT>(nameLength),
                                reinterpret_cast<PWSTR>(buffer + 16) };
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_OPENLINK, key, nullptr);
        HANDLE child = nullptr;
        if (Native<NtOpenKeyProc>("NtOpenKey")(&child, WRITE_DAC, &attributes) == 0) {
            RegSetKeySecurity(static_cast<HKEY>(child), DACL_SECURITY_INFORMATION, open);
            CloseHandle(child);
        }
        if (Native<NtOpenKeyProc>("NtOpenKey")(&child, KEY_ALL_ACCESS, &attributes) != 0)
            break;
        bool deleted = DeleteTreeAt(child);
        CloseHandle(child);
        if (!deleted)
            break;
    }
    LocalFree(open);
    return Native<NtKeyProc>("NtDeleteKey")(key) == 0;
}
}

void DeleteTreeW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, WRITE_DAC, &key) == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR open = Descriptor("D:(A;;KA;;;WD)");
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
        LocalFree(open);
        RegCloseKey(key);
    }
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    DeleteTreeAt(key);
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const std::string& path)
{
    DeleteTreeW(root, Widen(path));
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

std::string Utf8(const std::wstring& text)
{
    std::string narrow(text.size() * 4 + 1, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0],
                                     static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return narrow;
}

bool CreateKeyW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool KeyExistsW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

bool CreateLink(HKEY root, const std::wstring& path, const std::wstring& target)
{
    HKEY targetKey = nullptr;
    if (RegOpenKeyExW(root, target.c_str(), 0, KEY_READ, &targetKey) != ERROR_SUCCESS)
        return false;
    BYTE buffer[2048];
    ULONG got = 0;
    // KeyNameInformation: the target's native path, which is what a link holds.
    NTSTATUS status = Native<NtQueryKeyProc>("NtQueryKey")(targetKey, 3, buffer, sizeof buffer, &got);
    RegCloseKey(targetKey);
    if (status != 0)
        return false;
    ULONG length = *reinterpret_cast<ULONG*>(buffer);
    HKEY link = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                        nullptr, &link, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, buffer + 4, length);
    RegCloseKey(link);
    return result == ERROR_SUCCESS;
}

bool CreateNulNamedKey(HKEY root, const std::wstring& parent, const std::wstring& rest)
{
    HKEY parentKey = nullptr;
    if (RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS, &parentKey) != ERROR_SUCCESS)
        return false;
    std::wstring name = std::wstring(1, L'\0') + rest;
    UNICODE_STRING native = { static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), &name[0] };
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &native, 0, parentKey, nullptr);
    HANDLE key = nullptr;
    NTSTATUS status = Native<NtCreateKeyProc>("NtCreateKey")(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr);
    RegCloseKey(parentKey);
    if (status != 0)
        return false;
    CloseHandle(key);
    return true;
}

bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY key = nullptr;
    bool ok = RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS;
    if (ok) {
        ok = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return ok;
}

bool DenyRead(HKEY root, const std::string& path)
{
    return SetKeyDacl(root, path, "D:(D;;KR;;;WD)(A;;KA;;;WD)");
}

bool DenyWrite(HKEY root, const std::string& path)
{
    // Setting values and creating subkeys only: KEY_WRITE would also deny READ_CONTROL,
    // which reading needs too.
    return SetKeyDacl(root, path, "D:(D;;0x6;;;WD)(A;;KA;;;WD)");
}

bool AllowAll(HKEY root, const std::string& path)
{
    return SetKeyDacl(root, path, "D:(A;;KA;;;WD)");
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ReadUtf16(const std::string& path)
{
    std::string bytes = ReadFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

std::vector<std::wstring> ExportSections(const char* root)
{
    std::string file = ScratchDir("export") + "export.reg";
    Run("regedit.exe /E \"" + file + "\" " + root);
    std::wstring text = ReadUtf16(file);
    std::vector<std::wstring> sections;
    for (size_t at = 0; (at = text.find(L"\r\n[", at)) != std::wstring::npos; at += 2) {
        size_t end = text.find(L"\r\n\r\n", at + 2);
        sections.push_back(text.substr(at + 2, end == std::wstring::npos ? std::wstring::npos : end - at - 2));
    }
    return sections;
}

std::vector<std::string> BackupsOf(const std::string& reportPath)
{
    const std::string folder = reportPath.substr(0, reportPath.rfind('\\') + 1);
    const std::string stem = reportPath.substr(0, reportPath.rfind('.'));
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((stem + "-backup-*.reg").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do
            found.push_back(folder + data.cFileName);
        while (FindNextFileA(search, &data));
        FindClose(search);
    }
    std::sort(found.begin(), found.end());
    return found;
}

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

namespace {
struct WindowSearch
{
    DWORD processId;
    const char* className;
    HWND except;
    int controlId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId || hwnd == search->except || !IsWindowVisible(hwnd))
        return TRUE;
    if (search->className) {
        char cls[64] = "";
        GetClassNameA(hwnd, cls, sizeof cls);
        if (strcmp(cls, search->className) != 0)
            return TRUE;
    }
    if (search->controlId && !GetDlgItem(hwnd, search->controlId))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindWindowOf(DWORD processId, const char* className, DWORD timeoutMs, HWND except, int controlId)
{
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = { processId, className, except, controlId, nullptr };
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}
}

HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, HWND except)
{
    return FindWindowOf(processId, className, timeoutMs, except, 0);
}

HWND WaitForDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs)
{
    return FindWindowOf(processId, "#32770", timeoutMs, nullptr, controlId);
}

std::string WindowText(HWND hwnd)
{
    char text[4096] = "";
    // WM_GETTEXT crosses processes; GetWindowText would not read another process's controls.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except)
{
    MessageBoxInfo info;
    // A message box holds its text in the static control 0xFFFF.
    info.hwnd = FindWindowOf(processId, "#32770", timeoutMs, except, 0xFFFF);
    if (info.hwnd) {
        info.text = ItemText(info.hwnd, 0xFFFF);
        info.caption = WindowText(info.hwnd);
    }
    return info;
}

void PressButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

bool WaitUntilGone(HWND hwnd, DWORD timeoutMs)
{
    return WaitUntil([hwnd] { return !IsWindow(hwnd); }, timeoutMs);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

void Sync(HWND hwnd)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
}

namespace {
unsigned long Crc32(const unsigned char* data, size_t length, unsigned long crc = 0)
{
    static unsigned long table[256];
    static bool ready = false;
    if (!ready) {
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc ^= 0xFFFFFFFFUL;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFUL;
}

void PutBig32(std::string& out, unsigned long value)
{
    out += static_cast<char>((value >> 24) & 0xFF);
    out += static_cast<char>((value >> 16) & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data)
{
    PutBig32(out, static_cast<unsigned long>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBig32(out, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}
}

std::string EncodePng(int width, int height, const std::vector<unsigned char>& bgr)
{
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            raw += static_cast<char>(p[2]);
            raw += static_cast<char>(p[1]);
            raw += static_cast<char>(p[0]);
        }
    }
    // zlib stream of stored blocks.
    std::string z = "\x78\x01";
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>((n >> 8) & 0xFF);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    unsigned long a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    PutBig32(header, static_cast<unsigned long>(width));
    PutBig32(header, static_cast<unsigned long>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", "");
    return png;
}

bool SaveScreenshot(HWND hwnd, const std::string& name)
{
    RECT rect;
    if (!GetWindowRect(hwnd, &rect))
        return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;
    // Let the window finish painting before its pixels are taken from the screen.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        memcpy(&pixels[static_cast<size_t>(y) * width * 3], static_cast<unsigned char*>(bits) + y * stride,
               static_cast<size_t>(width) * 3);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::string dir = TestDir() + "..\\screenshots\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return WriteFileBytes(dir + name + ".png", EncodePng(width, height, pixels));
}

}  // namespace kt
