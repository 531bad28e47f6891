// The session manager's list of pending renames.
#include "PendingRenames.h"
#include "../registry/RegKey.h"

namespace {
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// "\??\C:\x" (with "!" in front for a target that may be replaced) as "C:\x".
std::wstring PlainPath(std::wstring path)
{
    if (!path.empty() && (path[0] == L'!' || path[0] == L'*'))
        path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0)
        path.erase(0, 4);
    return path;
}

// The list's strings as they are, empty ones included: a deletion's target is an empty string.
std::vector<std::wstring> Strings(const std::vector<BYTE>& data)
{
    std::vector<std::wstring> strings;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    size_t count = data.size() / sizeof(wchar_t);
    while (count > 0 && text[count - 1] == L'\0')
        --count;  // the list's closing NULs
    size_t start = 0;
    for (size_t at = 0; at <= count; ++at)
        if (at == count || text[at] == L'\0') {
            strings.emplace_back(text + start, at - start);
            start = at + 1;
        }
    if (count == 0)
        strings.clear();
    return strings;
}
}

std::vector<PendingRename> PendingRenames()
{
    std::vector<PendingRename> renames;
    CRegKeyOwner key;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
        ReadValueBytes(key, kPendingValue, type, data) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return renames;
    const std::vector<std::wstring> strings = Strings(data);
    for (size_t at = 0; at < strings.size(); at += 2)
        renames.push_back({ PlainPath(strings[at]), at + 1 < strings.size() ? PlainPath(strings[at + 1]) : std::wstring() });
    return renames;
}

bool CancelPendingDeletions(const std::vector<std::wstring>& paths, int& cancelled)
{
    cancelled = 0;
    CRegKeyOwner key;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS)
        return false;
    const LONG read = ReadValueBytes(key, kPendingValue, type, data);
    if (read == ERROR_FILE_NOT_FOUND)
        return true;
    if (read != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    const std::vector<std::wstring> strings = Strings(data);
    std::vector<BYTE> kept;
    auto append = [&kept](const std::wstring& text) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        kept.insert(kept.end(), bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    };
    for (size_t at = 0; at < strings.size(); at += 2) {
        const std::wstring target = at + 1 < strings.size() ? strings[at + 1] : std::wstring();
        bool ours = false;
        for (const std::wstring& path : paths)
            ours = ours || (target.empty() && _wcsicmp(PlainPath(strings[at]).c_str(), path.c_str()) == 0);
        if (ours) {
            ++cancelled;
            continue;
        }
        append(strings[at]);
        append(target);
    }
    if (cancelled == 0)
        return true;
    if (kept.empty())
        return ::RegDeleteValueW(key, kPendingValue) == ERROR_SUCCESS;
    kept.push_back(0);
    kept.push_back(0);
    return ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, kept.data(), static_cast<DWORD>(kept.size())) == ERROR_SUCCESS;
}
