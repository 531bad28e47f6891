// What the walk of a search hands on: the keys it could not open, the top-most keys whose names
// match, and what the kinds of leftover read where it passed their places, all in walk order.
#pragma once
#include <windows.h>
#include "../registry/KeyPlaces.h"
#include <string>
#include <vector>

// A key that could not be opened (or whose path is too long to be recorded).
struct UnreadableKey
{
    std::wstring path;   // its full path
    BOOL inMatch;        // it, or a key above it, matches: what it holds may be a leftover
};

// What a kind read at one key: a value that names something, or a list and its entries.
struct WalkNote
{
    KeyPlace place;
    std::wstring key;                   // the full path of the key it speaks for
    std::wstring name;                  // the subkey or value that named it (InprocServer32, UpperFilters)
    std::wstring data;                  // what it named
    std::vector<std::wstring> entries;  // a list's entries
    DWORD type = 0;                     // the value's type
};

struct WalkResult
{
    std::vector<std::string> lines;          // one per key that could not be opened, in walk order
    std::vector<UnreadableKey> unreadable;   // the same keys
    std::vector<std::wstring> findings;      // top-most matching keys, in the order they are recorded
    std::vector<WalkNote> notes;             // what the kinds read on the way, in walk order
};
