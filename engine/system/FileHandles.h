// Files as a removal meets them: anything a user can write may change between the listing and
// the removal (a folder swapped for a link to System32, a file for another one). So a file or
// folder is listed through its folder's own handle, and later opened without following the link
// it may have become and used only while it is the very object that was listed: the same volume
// and file id, and the same final path.
#pragma once
#include <windows.h>
#include "../../framework/Handles.h"
#include <string>
#include <vector>

// The form the file functions take without cutting at MAX_PATH: "\\?\C:\...".
std::wstring LongPath(const std::wstring& path);
// `path` as a full path, "." and ".." resolved, as the file functions would take it.
std::wstring FullPathName(const std::wstring& path);
// Whether the file system says that nothing is at `path` (not merely that it could not tell).
bool NothingAt(const std::wstring& path);

// What a file is, whatever its name says: the volume it lies on and its file id there.
struct FileIdentity
{
    DWORD volume = 0;
    ULONGLONG index = 0;
    bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

struct FileItem
{
    std::wstring path;
    DWORD attributes = 0;
    unsigned long long size = 0;
    FileIdentity identity;
    bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // A junction or symbolic link: removed as the link, never entered.
    bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

enum class Listing
{
    Listed,
    Unreadable,  // the path or a folder below it could not be read
    Elsewhere,   // the path leads somewhere else: a link on the way to it, or it changed while listed
};
// `path` itself first, then everything below it, each folder before what it holds, each with its
// identity. A link is listed and never entered.
Listing ListFiles(const std::wstring& path, std::vector<FileItem>& items);
// The same, TRUE only when listed.
bool ListFileTree(const std::wstring& path, std::vector<FileItem>& items);

enum class Opening
{
    Opened,
    Gone,      // nothing is there now
    Changed,   // something else is there now: another file, or a link
    InUse,     // a program holds it and does not share what was asked for
    Failed,    // it could not be opened (no rights, a busy device)
};
// Opens the item as it was listed: the last name as itself (a link opens as the link), and only
// while identity, kind and final path are still the listed ones. `error` holds the open's error.
Opening OpenAsListed(const FileItem& item, DWORD access, DWORD share, CHandle& handle, DWORD* error = nullptr);

// The identity and attributes of an open file; FALSE when they cannot be read.
bool IdentityOf(HANDLE file, FileIdentity& identity, DWORD* attributes = nullptr);
// The file id of an open file and its attributes, without its volume (cheaper: Wine reads the
// volume serial from the volume each time).
bool IndexOf(HANDLE file, ULONGLONG& index, DWORD& attributes);
// The full path an open file has now ("C:\...", "\\server\share\..."); empty when it cannot be told.
std::wstring FinalPathOf(HANDLE file);
// Marks an open file (or empty folder) for deletion when its last handle closes; the error when
// it cannot be (a program that runs from it, a folder that is not empty).
DWORD DeleteThrough(HANDLE file);
// Gives an open file the full path `target` (on the same volume; never over an existing file).
DWORD RenameThrough(HANDLE file, const std::wstring& target);
// Sets an open file's attributes (FILE_WRITE_ATTRIBUTES needed).
bool SetAttributesThrough(HANDLE file, DWORD attributes);
// The path without its file name's extension, which names the files written beside the report.
// A dot in a folder's name is no extension, and neither is the last dot of a date
// ("report-07.12.2026"): an "extension" of digits only stays.
std::wstring PathWithoutExtension(const std::wstring& path);
