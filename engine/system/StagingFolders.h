// Where a file in use waits for the restart that deletes it. Windows deletes what is pending by its
// path, early in the next start; a path that runs through a folder anybody can write could be
// turned into a link to System32 by then. So the file is first moved, through its open handle,
// into a folder of the pass's own on its volume that only administrators can write, and its
// deletion is asked for there; the folder itself goes after the files in it.
#pragma once
#include <windows.h>
#include <map>
#include <string>

class CStagingFolders
{
public:
    CStagingFolders() {}
    // Asks for the folders' own deletion at the restart, after the files waiting in them.
    ~CStagingFolders();
    CStagingFolders(const CStagingFolders&) = delete;
    CStagingFolders& operator=(const CStagingFolders&) = delete;

    // Moves the open file (DELETE access) whose path is `path` into the pass's folder on its
    // volume and asks for its deletion at the next restart. The path it waits at, or empty (with
    // the error) when it could not be moved or the deletion could not be asked for; the file is
    // then where it was.
    std::wstring Stage(HANDLE file, const std::wstring& path, DWORD& error);
    // The pass's folder on the volume of `path`, made now when there is none yet (a name nobody
    // can guess, with an access list of its own); empty when none could be made.
    std::wstring FolderFor(const std::wstring& path, DWORD& error);

private:

    std::map<std::wstring, std::wstring> m_folders;  // volume root (lowercase) to the pass's folder
    unsigned m_staged = 0;
};
