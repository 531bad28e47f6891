// The registry walk of a search: every key below a root key, on one or several threads,
// with the same results, in the same order, whatever the number of threads.
//
// Each thread walks depth first with an explicit stack of open keys. A thread that has
// nothing to do takes the upper half of the subkeys that another thread has not reached yet,
// at the shallowest key where there are any (a "range"), and walks them with a key handle of
// its own. What a walk writes (report lines, findings, and the place of every range taken from
// it) goes into pieces in walk order; joined in that order, they are exactly what one thread
// walking alone would have written. A key whose recording depends on subkeys that another
// thread opened is decided when the walk is joined.
#pragma once
#include <windows.h>
#include "../registry/Constants.h"
#include "../registry/KeyPlaces.h"
#include "../registry/RegKey.h"
#include "WalkReader.h"
#include "WalkResult.h"
#include <array>
#include <climits>
#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


class CSearchWalk
{
public:
    // `keywords` are lowercased; `openFailedLeadIn` begins the report line of a key that could
    // not be opened; `stopFlag` (nonzero: stop) and `keysSearched` may be null.
    CSearchWalk(const std::vector<std::wstring>& keywords, const std::string& openFailedLeadIn, const LONG* stopFlag,
                LONG* keysSearched);
    ~CSearchWalk();
    CSearchWalk(const CSearchWalk&) = delete;
    CSearchWalk& operator=(const CSearchWalk&) = delete;

    // Lets `kinds` read where the walk passes a key in one of their places (KeyPlaces.h): the
    // walk has the key open anyway. `currentSet` names the control set the system runs on.
    void ReadFor(const std::vector<const IWalkReader*>& kinds, const std::wstring& currentSet);
    // Measures how long each kind reads (for the benchmark); the ticks of QueryPerformanceCounter.
    void TimeReading() { m_timing = true; }
    long long ReadingTicks(const IWalkReader* kind) const;

    // Walks one root key, whose full name begins every path, and appends to `result`. An
    // exception on any of the walk's threads (out of memory) ends the walk on every thread and
    // is thrown again here, on the caller's thread.
    // `place` is where the root stands (another installation's loaded hive stands for its SYSTEM
    // key, say); by default the root key's own place.
    void WalkRoot(HKEY root, const std::wstring& rootName, int threads, WalkResult& result, KeyPlace place = kPlaceCount);

    // One thread per core, at most kMaxSearchThreads, at least one.
    static int DefaultThreadCount();

private:
    struct Range;
    struct Piece;
    struct Frame;
    struct Worker;

    void RunWorker(Worker& self, bool walksRoot, HKEY root, const std::wstring& rootName, KeyPlace place = kPlaceCount);
    // Records the first failure of any thread; every thread then ends its walk.
    void Fail(std::exception_ptr failure);
    void WalkStack(Worker& self);
    bool StealInto(Worker& thief);
    bool StealFrom(Worker& victim, Worker& thief);
    // Searches subkey `index` of the key `parent` holds: judges its name, opens it as itself
    // and puts it on the stack to be walked; `endLoop` when the parent's loop is over.
    void SearchKey(Worker& self, Frame& parent, DWORD index, BOOL& endLoop);
    void FinishFrame(Worker& self);
    bool Matches(const std::wstring& lowerName) const;
    // A subkey `name` of the key at `parentPath` that could not be opened (null `name`: that
    // key itself, a root); `inMatch` when it or a key above it matches.
    void ReportUnopened(Worker& self, const std::wstring& parentPath, const wchar_t* name, size_t length,
                        BOOL inMatch);
    bool StopRequested() const;
    void CountKey();
    static bool AllOpened(const std::vector<Range*>& ranges);
    void Join(const std::vector<Piece>& pieces, WalkResult& result) const;

    const std::vector<std::wstring>& m_keywords;
    const std::string m_openFailedLeadIn;
    const LONG* m_stopFlag;
    LONG* m_keysSearched;
    // The kinds that read at each place; places are followed only when some kind reads.
    std::array<std::vector<const IWalkReader*>, kPlaceCount> m_readers;
    bool m_followsPlaces = false;
    bool m_timing = false;
    std::map<const IWalkReader*, std::atomic<long long>> m_readingTicks;
    std::wstring m_currentSet;

    // Per root walk.
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::mutex m_rangeLock;
    std::vector<std::unique_ptr<Range>> m_ranges;
    std::atomic<LONG> m_openRanges{ 0 };   // ranges taken and not walked to their end yet
    std::atomic<bool> m_rootDone{ false };
    std::atomic<bool> m_allDone{ false };
    std::atomic<bool> m_failed{ false };
    std::exception_ptr m_failure;  // guarded by m_rangeLock
};

// The walk's own parts: what a thread records, the keys it has open and the ranges of subkeys
// other threads took from it.
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
