// Files as a removal takes them and a restore gives them back: a folder's tree listed without
// entering a link, a file copied and hashed (SHA-256) in one read, and the manifest that a
// backup's files folder keeps of what it holds.
#pragma once
#include <windows.h>
#include "../system/FileHandles.h"
#include <string>
#include <vector>

// Makes every folder on the way to `path` (a file's or a folder's), not `path` itself.
void MakeFoldersTo(const std::wstring& path);
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
// Reads the open file `source` from its start, hashing it and writing it to the open file
// `destination` (none when null).
bool CopyAndHashInto(HANDLE source, HANDLE destination, unsigned long long& size, std::string& sha256);
// The same from an open file, read from its start (GENERIC_READ needed).
bool CopyAndHashFrom(HANDLE source, const std::wstring& to, unsigned long long& size, std::string& sha256);

// One line of the manifest.
struct ManifestEntry
{
    enum Type
    {
        File,       // a file's copy: where it was, its copy (below the files folder), size, hash
        Folder,     // a folder that was removed (restored empty before its files)
        Link,       // a link that was removed as the link; its target was never entered
        Scheduled,  // a file in use that the removal left to the next restart, moved out of the way first
    } type = File;
    std::wstring path;
    std::wstring staged;  // Scheduled: where it waits for the restart (a folder only administrators can write)
    std::wstring access;  // Folder: who could change it, as its access list said (SDDL)
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
// The same from an open manifest, read from its start.
bool ReadManifest(HANDLE file, std::vector<ManifestEntry>& entries);
