// Files as a removal takes them and a restore gives them back: a folder's tree listed without
// entering a link, a file copied and hashed (SHA-256) in one read, and the manifest that a
// backup's files folder keeps of what it holds.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct FileItem
{
    std::wstring path;
    DWORD attributes = 0;
    unsigned long long size = 0;
    bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // A junction or symbolic link: removed as the link, never entered.
    bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

// The form the file functions take without cutting at MAX_PATH: "\\?\C:\...".
std::wstring LongPath(const std::wstring& path);
// Makes every folder on the way to `path` (a file's or a folder's), not `path` itself.
void MakeFoldersTo(const std::wstring& path);
// Whether the file system says that nothing is at `path` (not merely that it could not tell).
bool NothingAt(const std::wstring& path);
// `path` itself first, then everything below it, each folder before what it holds. A link is
// listed and never entered. FALSE when `path` or a folder below it cannot be read.
bool ListFileTree(const std::wstring& path, std::vector<FileItem>& items);
// What a link points to, as its reparse data says; empty when that cannot be read.
std::wstring LinkTarget(const std::wstring& path);

// SHA-256 through Windows' own cryptography (CNG).
class CSha256
{
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;
    bool Add(const BYTE* data, size_t size);
    // 64 lowercase hexadecimal digits; empty when hashing failed.
    std::string Hex();

private:
    void* m_algorithm = nullptr;
    void* m_hash = nullptr;
    bool m_failed = false;
};

// Reads the file at `from` whole, hashing it and writing it to the new file `to` (none when `to`
// is empty), which is on disk when this returns TRUE. Files in use are read as far as their
// owner shares them; FALSE when the file could not be read or written whole.
bool CopyAndHash(const std::wstring& from, const std::wstring& to, unsigned long long& size, std::string& sha256);

// One line of the manifest.
struct ManifestEntry
{
    enum Type
    {
        File,       // a file's copy: where it was, its copy (below the files folder), size, hash
        Folder,     // a folder that was removed (restored empty before its files)
        Link,       // a link that was removed as the link; its target was never entered
        Scheduled,  // a deletion the removal left to the next restart
    } type = File;
    std::wstring path;
    std::wstring copy;
    unsigned long long size = 0;
    std::string sha256;
    DWORD attributes = 0;
    std::wstring target;
};

// The entry as one JSON object, without the line's end.
std::string ManifestLine(const ManifestEntry& entry);
// Every entry of a manifest file; FALSE when it cannot be read or a line is no entry.
bool ReadManifest(const std::wstring& path, std::vector<ManifestEntry>& entries);
