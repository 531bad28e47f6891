// Where a restore may write a file back, and how it gets there. A backup's manifest names paths;
// a restore runs as an administrator. So it writes only where the program removes files from
// (below a root, in the product's place; a driver file right in System32\drivers; a task file below
// System32\Tasks), by plain drive-letter paths, and never through a link on the way.
#pragma once
#include <windows.h>
#include "../../framework/Handles.h"
#include <string>
#include <vector>

class CInstallation;

// Why `path` is no place a restore may put a file (or, with `folder`, a folder) back; empty when
// it is one.
std::wstring NotARestorePlace(const std::wstring& path, bool folder, const CInstallation& installation);

// The folders from a drive's root down to a folder, each opened as itself and held so that none
// of them can be renamed, deleted or swapped for a link while something is written below them;
// the missing ones are made on the way.
class CHeldFolders
{
public:
    // Holds every folder on the way to `folder` and `folder` itself, making those that are
    // missing; FALSE (with why) when one of them is a link, leads elsewhere or cannot be made.
    bool Hold(const std::wstring& folder, std::wstring& why);
    // The held folder itself (the last one on the way).
    HANDLE Last() const { return m_held.empty() ? nullptr : static_cast<HANDLE>(m_held.back()); }

private:
    std::vector<CHandle> m_held;
};

// Makes the new file `path` (nothing may be there) below folders that are held, as a copy of the
// open `copy`; FALSE with why when it could not be written whole where it was asked for.
bool WriteNewFile(const std::wstring& path, HANDLE copy, unsigned long long& size, std::string& sha256, std::wstring& why);
