// Helpers shared by the test programs: folders, files, the staged program and its language.
#include "TestSupport.h"
#include <aclapi.h>
#include <sddl.h>
#include "../../framework/AfxCore.h"
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

std::string EnglishProgram()
{
    static std::string dir;
    if (dir.empty()) {
        dir = ScratchDir("english");
        StageProgram(dir, { "en-us" });
    }
    return dir + "klarner.exe";
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

}  // namespace kt

namespace kt {

bool AllowEveryone(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD set = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                            dacl, nullptr);
    LocalFree(descriptor);
    return set == ERROR_SUCCESS;
}

}  // namespace kt
