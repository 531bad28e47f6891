// What this program writes itself, recognised wherever it lies.
#include "OwnOutput.h"
#include "../registry/KeyNames.h"
#include "../system/FileHandles.h"
#include "../../framework/Handles.h"
#include <cwchar>

namespace {
std::wstring Leaf(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

std::wstring Parent(const std::wstring& path)
{
    const size_t at = path.rfind(L'\\');
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
}

// A file's first and last bytes (of a text file: the first megabyte and the last 64 KB, where a
// report's or a record's marks lie however often it was appended to); empty for a binary file.
std::string TextOf(const std::wstring& path, std::string& first)
{
    CHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // The first 4 KB tell a binary file (a NUL in it), which is read no further.
    std::string head(4096, '\0'), rest((1 << 20) - 4096, '\0'), tail(64 * 1024, '\0');
    DWORD got = 0;
    LARGE_INTEGER size = {}, at = {};
    if (!file || !::ReadFile(file, &head[0], static_cast<DWORD>(head.size()), &got, nullptr) || !::GetFileSizeEx(file, &size))
        return std::string();
    head.resize(got);
    first = head.substr(0, 64);
    if (head.find('\0') != std::string::npos)
        return std::string();
    if (got == 4096 && ::ReadFile(file, &rest[0], static_cast<DWORD>(rest.size()), &got, nullptr))
        head += rest.substr(0, got);
    if (size.QuadPart > static_cast<LONGLONG>(head.size())) {
        at.QuadPart = size.QuadPart - static_cast<LONGLONG>(tail.size());
        if (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::ReadFile(file, &tail[0], static_cast<DWORD>(tail.size()), &got, nullptr))
            head += tail.substr(0, got);
    }
    return head;
}

bool EndsWith(const std::wstring& text, const wchar_t* tail)
{
    const size_t length = wcslen(tail);
    return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, tail) == 0;
}

// Whether this program's reports, JSON records or backups lie among the items: every earlier
// backup goes with the folder that holds it, and a restore could never be done again.
}

bool HoldsOwnOutput(const std::vector<FileItem>& items)
{
    static const std::string backup("\xFF\xFEW\0i\0n\0d\0o\0w\0s\0 \0R\0e\0g\0i\0s\0t\0r\0y\0", 22);
    const std::string report = std::string("\r\n") + kReportRuleLine + "\r\n\r\n" + kReportTitleLine + "\r\n";
    for (const FileItem& item : items) {
        if (item.IsFolder() || item.IsLink())
            continue;
        if (_wcsicmp(Leaf(item.path).c_str(), L"manifest.jsonl") == 0 && EndsWith(Parent(item.path), L"-files"))
            return true;
        std::string first;
        const std::string text = TextOf(item.path, first);
        if ((Leaf(item.path).find(L"-backup-") != std::wstring::npos && first.compare(0, backup.size(), backup) == 0) ||
            text.find(report) != std::string::npos ||
            text.find("\"program\": \"Velmora Klarner\"") != std::string::npos)
            return true;
    }
    return false;
}
