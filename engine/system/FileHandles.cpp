// Files listed and opened through handles, never through a link they may have become.
#include "FileHandles.h"
#include "../registry/KeyNames.h"

namespace {
const DWORD kListChunk = 64 * 1024;
// Opening a folder or a link as itself, whatever it is now.
const DWORD kAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The subfolders and files right in an open folder, from the folder's own handle: what is listed is
// what this very folder holds, whatever its name leads to meanwhile.
bool ListFolder(HANDLE folder, const std::wstring& path, DWORD volume, std::vector<FileItem>& items)
{
    std::vector<BYTE> buffer(kListChunk);
    for (bool first = true;; first = false) {
        if (!::GetFileInformationByHandleEx(folder, first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                            buffer.data(), static_cast<DWORD>(buffer.size())))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        for (size_t at = 0;;) {
            const FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                FileItem item;
                item.path = path + L"\\" + name;
                item.attributes = entry->FileAttributes;
                item.size = static_cast<unsigned long long>(entry->EndOfFile.QuadPart);
                item.identity.volume = volume;
                item.identity.index = static_cast<ULONGLONG>(entry->FileId.QuadPart);
                items.push_back(item);
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}
}

std::wstring FullPathName(const std::wstring& path)
{
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::vector<wchar_t> buffer(size + 1);
    const DWORD length = ::GetFullPathNameW(path.c_str(), size + 1, buffer.data(), nullptr);
    return length > 0 && length <= size ? std::wstring(buffer.data(), length) : path;
}

std::wstring LongPath(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    // The long form takes every name as it is: ".." and "." must be resolved first.
    const std::wstring full = FullPathName(path);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool NothingAt(const std::wstring& path)
{
    if (::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The file's id alone and its attributes: cheaper than the whole identity, whose volume serial
// Wine reads from the volume each time.
bool IndexOf(HANDLE file, ULONGLONG& index, DWORD& attributes)
{
    typedef LONG(NTAPI * QueryInformationFile)(HANDLE, void*, void*, ULONG, ULONG);
    static const QueryInformationFile query =
        reinterpret_cast<QueryInformationFile>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile"));
    const ULONG kFileInternalInformation = 6;
    ULONG_PTR status[2] = {};
    LARGE_INTEGER id = {};
    FILE_BASIC_INFO basic = {};
    if (!query || query(file, status, &id, sizeof id, kFileInternalInformation) < 0 ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    index = static_cast<ULONGLONG>(id.QuadPart);
    attributes = basic.FileAttributes;
    return true;
}

bool IdentityOf(HANDLE file, FileIdentity& identity, DWORD* attributes)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info))
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    if (attributes)
        *attributes = info.dwFileAttributes;
    return true;
}

std::wstring FinalPathOf(HANDLE file)
{
    std::vector<wchar_t> path(32768);
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= path.size())
        return std::wstring();
    const std::wstring text(path.data(), length);
    if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + text.substr(8);
    return text.compare(0, 4, L"\\\\?\\") == 0 ? text.substr(4) : text;
}

Listing ListFiles(const std::wstring& path, std::vector<FileItem>& items)
{
    // The top as itself: a folder that has become a link is listed as the link, never entered.
    CHandle top(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll,
                              nullptr, OPEN_EXISTING, kAsItself, nullptr));
    FileItem first;
    first.path = path;
    if (!top || !IdentityOf(top, first.identity, &first.attributes))
        return Listing::Unreadable;
    // A link on the way (a parent that is a junction) would make the path name another place.
    if (!SamePath(FinalPathOf(top), path))
        return Listing::Elsewhere;
    LARGE_INTEGER size = {};
    if (!first.IsFolder() && ::GetFileSizeEx(top, &size))
        first.size = static_cast<unsigned long long>(size.QuadPart);
    items.push_back(first);
    if (!first.IsFolder() || first.IsLink())
        return Listing::Listed;
    // Depth first, each folder's entries right behind it.
    struct Open
    {
        size_t item;
        CHandle handle;
    };
    std::vector<Open> folders;
    folders.push_back({ items.size() - 1, std::move(top) });
    while (!folders.empty()) {
        Open folder = std::move(folders.back());
        folders.pop_back();
        const std::wstring folderPath = items[folder.item].path;
        const size_t begin = items.size();
        if (!ListFolder(folder.handle, folderPath, items[folder.item].identity.volume, items))
            return Listing::Unreadable;
        std::vector<Open> below;
        for (size_t at = begin; at < items.size(); ++at) {
            if (!items[at].IsFolder() || items[at].IsLink())
                continue;
            CHandle sub(::CreateFileW(LongPath(items[at].path).c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                      kShareAll, nullptr, OPEN_EXISTING, kAsItself, nullptr));
            FileIdentity identity;
            DWORD attributes = 0;
            if (!sub || !IdentityOf(sub, identity, &attributes))
                return Listing::Unreadable;
            // Swapped for something else between the folder's listing and this open.
            if (identity != items[at].identity || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return Listing::Elsewhere;
            below.push_back({ at, std::move(sub) });
        }
        for (auto sub = below.rbegin(); sub != below.rend(); ++sub)
            folders.push_back(std::move(*sub));
    }
    return Listing::Listed;
}

bool ListFileTree(const std::wstring& path, std::vector<FileItem>& items)
{
    return ListFiles(path, items) == Listing::Listed;
}

Opening OpenAsListed(const FileItem& item, DWORD access, DWORD share, CHandle& handle, DWORD* error)
{
    handle.Reset(::CreateFileW(LongPath(item.path).c_str(), access, share, nullptr, OPEN_EXISTING, kAsItself, nullptr));
    const DWORD opened = handle ? ERROR_SUCCESS : ::GetLastError();
    if (error)
        *error = opened;
    if (!handle) {
        if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
            return Opening::Gone;
        return opened == ERROR_SHARING_VIOLATION ? Opening::InUse : Opening::Failed;
    }
    // A folder's identity whole; a file's id within a folder that was checked so (the final path
    // tells the volume too).
    FileIdentity identity;
    DWORD attributes = 0;
    identity.volume = item.identity.volume;
    if (item.IsFolder() && !item.IsLink() ? !IdentityOf(handle, identity, &attributes) : !IndexOf(handle, identity.index, attributes)) {
        handle.Close();
        return Opening::Failed;
    }
    // A link opened as itself tells its target as its final path (and Wine its target's
    // attributes): its identity alone says it is the listed link, in a folder that was checked.
    const bool same = item.IsLink()
                          ? identity == item.identity && (attributes & FILE_ATTRIBUTE_DIRECTORY) == (item.attributes & FILE_ATTRIBUTE_DIRECTORY)
                          : identity == item.identity && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                                (attributes & FILE_ATTRIBUTE_DIRECTORY) == (item.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                SamePath(FinalPathOf(handle), item.path);
    if (!same) {
        handle.Close();
        return Opening::Changed;
    }
    return Opening::Opened;
}

DWORD DeleteThrough(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = { TRUE };
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) ? ERROR_SUCCESS
                                                                                                      : ::GetLastError();
}

DWORD RenameThrough(HANDLE file, const std::wstring& target)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(wchar_t));
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) ? ERROR_SUCCESS
                                                                                                          : ::GetLastError();
}

bool SetAttributesThrough(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

std::wstring PathWithoutExtension(const std::wstring& path)
{
    size_t nameStart = path.find_last_of(L"\\/");
    nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
    const size_t dot = path.rfind(L'.');
    const bool isExtension = dot != std::wstring::npos && dot > nameStart && dot + 1 < path.size() &&
                             path.find_first_not_of(L"0123456789", dot + 1) != std::wstring::npos;
    return isExtension ? path.substr(0, dot) : path;
}
