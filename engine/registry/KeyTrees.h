// A key tree read whole before anything of it is deleted: its text for the backup, and every key
// open (as itself) for deleting, parents before children. Only the keys that were read are
// deleted, and a registry link is deleted as the link, never followed. Also one value alone, as
// the backup holds it.
#pragma once
#include <windows.h>
#include "RegKey.h"
#include <string>
#include <vector>

struct KeyTree
{
    std::wstring rootPrefix;          // the root key's name and a backslash
    std::wstring text;                // the sections of the backup
    std::vector<CRegKeyOwner> keys;   // parents before children
};

// Reads the tree of the key at `path` below `root` (kDeletePathChars at most, a trailing
// backslash dropped). false unless all of it could be read and written in the backup's format:
// a value or subkey that cannot be read, a name the format cannot carry, a link with subkeys, a
// subkey path longer than the working buffer.
bool ReadKeyTree(HKEY root, const std::wstring& path, KeyTree& tree);
// Deletes the keys that were read, children before their parents. A subkey added meanwhile makes
// its parent's deletion fail, and the removal with it.
bool DeleteKeyTreeKeys(KeyTree& tree);

// One value as the backup holds it: its key's section with that value's line only.
bool ValueSection(const std::wstring& fullKey, const std::wstring& valueName, DWORD type, const std::vector<BYTE>& data,
                  std::wstring& text);
