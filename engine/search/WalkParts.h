// The walk's own parts, shared by its two files: what a thread records, the keys it has open and
// the ranges of subkeys other threads took from it.
#pragma once
#include "SearchWalk.h"
#include "../registry/Constants.h"
#include <climits>

struct CSearchWalk::Piece
{
    enum Kind { Line, Finding, Taken, Note } kind;
    std::string line;            // Line: a report line
    std::wstring path;           // Finding: the key's full path; Line: the unopened key's
    BOOL inMatch = FALSE;        // Line: the unopened key is at or below a match
    std::vector<Range*> ranges;  // Finding: its subkeys that other threads walked; Taken: the range
    WalkNote note = {};          // Note: what a kind read at one key
};

// Subkeys [next, end) of one key, taken over by another thread.
struct CSearchWalk::Range
{
    std::vector<Piece> pieces;
    BOOL allOpened = TRUE;       // every subkey of the range that was tried opened
    std::vector<Range*> taken;   // parts of the range that yet other threads took, in key order
};

struct CSearchWalk::Frame
{
    CRegKeyOwner key;
    std::wstring path;
    BOOL inherited = FALSE;      // an ancestor below the root matched
    BOOL match = FALSE;          // this key or an ancestor matched: what its subkeys inherit
    BOOL allOpened = TRUE;       // every subkey tried so far opened
    BOOL visitedOne = FALSE;     // a subkey was walked: a stop now ends the loop
    Range* range = nullptr;      // set on the bottom frame of a taken range, which records nothing
    KeyPlace place = kNoPlace;   // on the way to what the walk reads besides names, or not
    // Guarded by the worker's lock: other threads take subkeys from the end of [next, end).
    LONG next = 0;
    LONG end = LONG_MAX;         // unknown until another thread asks for the subkey count
    std::vector<Range*> taken;   // each lies before the one taken earlier
};

struct CSearchWalk::Worker
{
    CSearchWalk* walk = nullptr;
    size_t index = 0;
    std::mutex lock;                            // the stack and the frames' next, end and taken
    std::vector<std::unique_ptr<Frame>> frames; // the open keys of the branch being walked
    std::vector<Piece>* out = nullptr;          // where the current walk writes
    wchar_t name[kSearchNameChars];
};
