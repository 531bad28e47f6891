// The deletions and renames Windows carries out early in its next start, before anything can
// open the files: the session manager's PendingFileRenameOperations, pairs of a source and a
// target (an empty target deletes the source).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct PendingRename
{
    std::wstring from;  // a file's path as the file functions take it ("C:\...")
    std::wstring to;    // empty: a deletion
};

// Every operation pending now, in order.
std::vector<PendingRename> PendingRenames();
// Takes the deletions of exactly these paths (in any letter case) out of the list, and nothing
// else; how many it took out in `cancelled`. FALSE when the list could not be read or written.
bool CancelPendingDeletions(const std::vector<std::wstring>& paths, int& cancelled);
