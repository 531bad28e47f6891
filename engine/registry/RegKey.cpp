// Registry keys that close themselves; opening and deleting without following links.
#include "RegKey.h"
#include "RootKeys.h"
#include "LoadedHives.h"
#include <winternl.h>
#include <cstring>
#include <vector>

namespace {
const NTSTATUS kStatusKeyDeleted = static_cast<NTSTATUS>(0xC000017CL);
const NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
const NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
const int kKeyNameInformation = 3;
const wchar_t kLinkValueName[] = L"SymbolicLinkValue";
typedef NTSTATUS(NTAPI* NtDeleteKeyProc)(HANDLE);
typedef NTSTATUS(NTAPI* NtQueryKeyProc)(HANDLE, int, PVOID, ULONG, PULONG);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorProc)(NTSTATUS);
}

LONG ReadValueBytes(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& bytes)
{
    // One call for what nearly every value fits into; a longer one is asked for its size.
    bytes.resize(512);
    DWORD size = static_cast<DWORD>(bytes.size());
    LONG result = ::RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
    if (result == ERROR_SUCCESS) {
        bytes.resize(size);
        return ERROR_SUCCESS;
    }
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        // Room for a terminating NUL that a string value may lack.
        bytes.resize(size + sizeof(wchar_t));
        DWORD got = static_cast<DWORD>(bytes.size());
        result = ::RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &got);
        if (result == ERROR_SUCCESS) {
            bytes.resize(got);
            return ERROR_SUCCESS;
        }
        size = got;
    }
    bytes.clear();
    return result;
}

bool ReadStringValue(HKEY key, const wchar_t* name, std::wstring& text)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(key, name, type, data) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    text = text.c_str();
    return !text.empty();
}

void ForEachValue(HKEY key, const std::function<void(const std::wstring&, DWORD, const std::vector<BYTE>&)>& visit)
{
    DWORD values = 0, nameChars = 0, dataBytes = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &nameChars, &dataBytes,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> name(nameChars + 1);
    std::vector<BYTE> data(dataBytes + sizeof(wchar_t));
    for (DWORD index = 0; index < values; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            continue;
        visit(std::wstring(name.data(), nameLength), type, std::vector<BYTE>(data.begin(), data.begin() + size));
    }
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (length > 0 && wcslen(name) == length)
            names.emplace_back(name, length);
    }
    return names;
}

bool ReadDwordValue(HKEY key, const wchar_t* name, DWORD& value)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(key, name, type, data) != ERROR_SUCCESS || type != REG_DWORD || data.size() != sizeof value)
        return false;
    memcpy(&value, data.data(), sizeof value);
    return true;
}

LONG OpenSubKey(HKEY parent, const wchar_t* name, REGSAM access, CRegKeyOwner& key)
{
    return ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, key.Receive());
}

std::wstring WithoutEmptyNames(const wchar_t* path)
{
    std::wstring result;
    for (const wchar_t* at = path; *at; ++at)
        if (*at != L'\\' || (!result.empty() && result.back() != L'\\'))
            result += *at;
    if (!result.empty() && result.back() == L'\\')
        result.pop_back();
    return result;
}

LONG OpenKeyExact(HKEY root, const wchar_t* given, REGSAM access, CRegKeyOwner& key)
{
    // Another installation's keys, while one is open: its loaded hives.
    std::wstring mapped = given;
    MapToLoaded(root, mapped);
    const wchar_t* path = mapped.c_str();
    std::vector<std::wstring> names;
    for (const wchar_t* at = path;;) {
        const wchar_t* end = wcschr(at, L'\\');
        size_t length = end ? static_cast<size_t>(end - at) : wcslen(at);
        if (length > 0)
            names.emplace_back(at, length);
        if (!end)
            break;
        at = end + 1;
    }
    if (names.empty())
        return OpenSubKey(root, nullptr, access, key);
    CRegKeyOwner current;
    HKEY parent = root;
    for (size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        CRegKeyOwner next;
        LONG result = OpenSubKey(parent, names[i].c_str(), last ? access : KEY_QUERY_VALUE, next);
        if (result != ERROR_SUCCESS)
            return result;
        // A name opened below a link's own handle can lead into the link's target (Wine does so):
        // the path would then reach keys that are not the ones it names. Only a key holding a
        // link's target value can be a link, so that is asked first.
        if (!last && ::RegQueryValueExW(next, kLinkValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            IsRegistryLink(parent, names[i].c_str(), next))
            return ERROR_ACCESS_DENIED;
        current = std::move(next);
        parent = current;
    }
    key = std::move(current);
    return ERROR_SUCCESS;
}

namespace {
FARPROC NativeFunction(const char* name)
{
    static const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? ::GetProcAddress(ntdll, name) : nullptr;
}

// The kernel's full name of an open key ("\\REGISTRY\\..."); empty when it cannot be had.
std::wstring KernelName(HKEY key)
{
    static const NtQueryKeyProc queryKey =
        reinterpret_cast<NtQueryKeyProc>(reinterpret_cast<void*>(NativeFunction("NtQueryKey")));
    if (!queryKey)
        return std::wstring();
    std::vector<BYTE> buffer(512);
    for (;;) {
        ULONG needed = 0;
        NTSTATUS status = queryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if ((status == kStatusBufferOverflow || status == kStatusBufferTooSmall) && needed > buffer.size()) {
            buffer.resize(needed);
            continue;
        }
        if (status < 0)
            return std::wstring();
        ULONG bytes = 0;
        memcpy(&bytes, buffer.data(), sizeof bytes);
        return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof(ULONG)), bytes / sizeof(wchar_t));
    }
}
}

bool IsRegistryLink(HKEY base, const wchar_t* path, HKEY opened)
{
    CRegKeyOwner followed;
    std::wstring mapped = path ? path : L"";
    MapToLoaded(base, mapped);
    if (::RegOpenKeyExW(base, mapped.c_str(), 0, KEY_QUERY_VALUE, followed.Receive()) == ERROR_SUCCESS) {
        const std::wstring own = KernelName(opened), reached = KernelName(followed);
        if (!own.empty() && !reached.empty())
            return _wcsicmp(own.c_str(), reached.c_str()) != 0;
    }
    // Its target is gone (or cannot be told): a link still holds its target value.
    DWORD type = 0;
    return ::RegQueryValueExW(opened, kLinkValueName, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

LONG DeleteOpenedKey(HKEY key)
{
    // The Win32 functions delete by name, and a name leads through a link to its target; only
    // the native call deletes the very key that is open.
    static const NtDeleteKeyProc deleteKey =
        reinterpret_cast<NtDeleteKeyProc>(reinterpret_cast<void*>(NativeFunction("NtDeleteKey")));
    static const RtlNtStatusToDosErrorProc toError =
        reinterpret_cast<RtlNtStatusToDosErrorProc>(reinterpret_cast<void*>(NativeFunction("RtlNtStatusToDosError")));
    if (!deleteKey || !toError)
        return ERROR_PROC_NOT_FOUND;
    NTSTATUS status = deleteKey(key);
    if (status >= 0 || status == kStatusKeyDeleted)
        return ERROR_SUCCESS;
    return static_cast<LONG>(toError(status));
}

namespace {
// The name a key has, as the registry keeps it.
bool StoredName(HKEY key, std::wstring& name)
{
    typedef LONG(NTAPI * QueryKey)(HANDLE, int, void*, ULONG, ULONG*);
    static const QueryKey query = reinterpret_cast<QueryKey>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    const int kKeyBasicInformation = 0;
    // LastWriteTime, TitleIndex, NameLength, then the name.
    std::vector<BYTE> buffer(sizeof(LARGE_INTEGER) + 2 * sizeof(ULONG) + 256 * sizeof(wchar_t));
    ULONG size = 0;
    if (!query || query(key, kKeyBasicInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) < 0)
        return false;
    ULONG length = 0;
    memcpy(&length, buffer.data() + sizeof(LARGE_INTEGER) + sizeof(ULONG), sizeof length);
    const size_t offset = sizeof(LARGE_INTEGER) + 2 * sizeof(ULONG);
    if (offset + length > buffer.size())
        return false;
    name.assign(reinterpret_cast<const wchar_t*>(buffer.data() + offset), length / sizeof(wchar_t));
    return true;
}
}

std::wstring RegistrySpelling(const std::wstring& fullPath)
{
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    if (below.empty() || fullPath.compare(0, 5, L"HKEY_") != 0)
        return fullPath;
    std::wstring spelled;
    CRegKeyOwner current;
    HKEY parent = root;
    bool open = true;
    for (size_t start = 0; start <= below.size();) {
        size_t end = below.find(L'\\', start);
        if (end == std::wstring::npos)
            end = below.size();
        std::wstring name = below.substr(start, end - start);
        CRegKeyOwner next;
        std::wstring stored;
        if (open && !name.empty() && OpenSubKey(parent, name.c_str(), KEY_QUERY_VALUE, next) == ERROR_SUCCESS &&
            StoredName(next, stored)) {
            const std::wstring last = stored.substr(stored.rfind(L'\\') + 1);
            if (_wcsicmp(last.c_str(), name.c_str()) == 0)
                name = last;
            current = std::move(next);
            parent = current;
        } else {
            open = false;
        }
        spelled += (spelled.empty() ? L"" : L"\\") + name;
        start = end + 1;
    }
    return FullPath(root, spelled);
}
