// Helpers shared by the test programs.
#include "TestSupport.h"
#include "../../framework/AfxCore.h"
#include <sddl.h>
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
    std::string dir = root + name + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "\\";
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
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
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

// Relative to the parent's handle, so that paths of any length can be removed; keys that
// deny access are opened up first so that nothing stays behind.
bool DeleteTreeAt(HKEY parent, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR open = Descriptor("D:(A;;KA;;;WD)");
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
        LocalFree(open);
        RegCloseKey(key);
    }
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char child[260];
        for (;;) {
            DWORD length = sizeof child;
            if (RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (!DeleteTreeAt(key, child))
                break;
        }
        RegCloseKey(key);
    }
    return RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
}
}

void DeleteTree(HKEY root, const std::string& path)
{
    DeleteTreeAt(root, path.c_str());
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

DWORD Run(const std::string& commandLine, std::string* output, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (output && !CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return static_cast<DWORD>(-1);
    if (readEnd)
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, nullptr,
                                  &startup, &info);
    if (writeEnd)
        CloseHandle(writeEnd);
    if (!started) {
        if (readEnd)
            CloseHandle(readEnd);
        return static_cast<DWORD>(-1);
    }
    if (output) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
            output->append(buffer, got);
        CloseHandle(readEnd);
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 99);
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
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
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
