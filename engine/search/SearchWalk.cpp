// The registry walk of a search, on one or several threads.
#include "SearchWalk.h"
#include "../registry/Constants.h"
#include "../registry/FloorKeys.h"
#include "../registry/KeyNames.h"
#include "Keywords.h"
#include "SharedFlag.h"
#include "../../framework/Handles.h"
#include <climits>

namespace {
const int kSpinsBeforeSleep = 64;
}

CSearchWalk::CSearchWalk(const std::vector<std::wstring>& keywords, const std::string& openFailedLeadIn,
                         const LONG* stopFlag, LONG* keysSearched)
    : m_keywords(keywords), m_openFailedLeadIn(openFailedLeadIn), m_stopFlag(stopFlag), m_keysSearched(keysSearched)
{
}

CSearchWalk::~CSearchWalk() {}

void CSearchWalk::ReadFor(const std::vector<const IWalkReader*>& kinds, const std::wstring& currentSet)
{
    m_currentSet = currentSet;
    m_followsPlaces = false;
    for (const IWalkReader* kind : kinds)
        m_readingTicks[kind] = 0;
    for (size_t place = 0; place < m_readers.size(); ++place) {
        m_readers[place].clear();
        for (const IWalkReader* kind : kinds)
            if (kind->ReadsAt(static_cast<KeyPlace>(place)))
                m_readers[place].push_back(kind);
        m_followsPlaces = m_followsPlaces || !m_readers[place].empty();
    }
}

long long CSearchWalk::ReadingTicks(const IWalkReader* kind) const
{
    const auto found = m_readingTicks.find(kind);
    return found == m_readingTicks.end() ? 0 : found->second.load();
}

int CSearchWalk::DefaultThreadCount()
{
    DWORD cores = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (cores < 1)
        return 1;
    return cores > static_cast<DWORD>(kMaxSearchThreads) ? kMaxSearchThreads : static_cast<int>(cores);
}

bool CSearchWalk::StopRequested() const
{
    // Written by the window's thread: read afresh every time.
    return m_failed || (m_stopFlag && SharedRead(m_stopFlag) != 0);
}

void CSearchWalk::CountKey()
{
    if (m_keysSearched)
        ::InterlockedIncrement(m_keysSearched);
}

bool CSearchWalk::Matches(const std::wstring& lowerName) const
{
    return MatchingKeyword(lowerName, m_keywords).empty() ? FALSE : TRUE;
}

void CSearchWalk::ReportUnopened(Worker& self, const std::wstring& parentPath, const wchar_t* name, size_t length,
                                 BOOL inMatch)
{
    std::string line = m_openFailedLeadIn + (name ? ReportSpelling(name, length) : std::string());
    if (line.size() > static_cast<size_t>(kPathChars - 1))
        line.resize(kPathChars - 1);
    Piece piece = { Piece::Line, line, parentPath, inMatch, {} };
    if (name)
        piece.path.append(1, L'\\').append(name, length);
    self.out->push_back(std::move(piece));
}

namespace {
struct HelperStart
{
    CSearchWalk* walk;
    size_t index;
};
}

void CSearchWalk::WalkRoot(HKEY root, const std::wstring& rootName, int threads, WalkResult& result, KeyPlace place)
{
    if (threads < 1)
        threads = 1;
    m_workers.clear();
    m_ranges.clear();
    m_openRanges = 0;
    m_rootDone = false;
    m_allDone = false;
    for (int i = 0; i < threads; ++i) {
        m_workers.push_back(std::unique_ptr<Worker>(new Worker));
        m_workers.back()->walk = this;
        m_workers.back()->index = static_cast<size_t>(i);
    }
    std::vector<Piece> rootPieces;
    m_workers[0]->out = &rootPieces;

    std::vector<CHandle> helpers;
    for (size_t i = 1; i < m_workers.size(); ++i) {
        // A helper that cannot be started only means fewer hands; the results stay the same.
        HANDLE thread = ::CreateThread(
            nullptr, 0,
            [](LPVOID parameter) -> DWORD {
                // Nothing may be thrown across the thread's start.
                Worker* worker = static_cast<Worker*>(parameter);
                try {
                    worker->walk->RunWorker(*worker, false, nullptr, std::wstring());
                } catch (...) {
                    worker->walk->Fail(std::current_exception());
                }
                return 0;
            },
            m_workers[i].get(), 0, nullptr);
        if (thread)
            helpers.emplace_back(thread);
    }
    try {
        RunWorker(*m_workers[0], true, root, rootName, place);
    } catch (...) {
        Fail(std::current_exception());
    }
    // The helpers use this walk's state until they end, whatever happened.
    for (const CHandle& thread : helpers)
        ::WaitForSingleObject(thread, INFINITE);
    helpers.clear();
    if (m_failed.load()) {
        std::exception_ptr failure = m_failure;
        m_failure = nullptr;
        m_failed = false;
        m_workers.clear();
        m_ranges.clear();
        std::rethrow_exception(failure);
    }
    Join(rootPieces, result);
    m_workers.clear();
    m_ranges.clear();
}

void CSearchWalk::Fail(std::exception_ptr failure)
{
    std::lock_guard<std::mutex> hold(m_rangeLock);
    if (!m_failure)
        m_failure = failure;
    m_failed = true;
}

void CSearchWalk::RunWorker(Worker& self, bool walksRoot, HKEY root, const std::wstring& rootName, KeyPlace place)
{
    if (walksRoot) {
        // A root key's walk begins like any key's: stop first, then open it (as itself).
        if (!StopRequested()) {
            CRegKeyOwner key;
            LONG result = OpenSubKey(root, nullptr, KEY_READ, key);
            if (result == ERROR_SUCCESS) {
                CountKey();
                std::unique_ptr<Frame> frame(new Frame);
                frame->key = std::move(key);
                frame->path = rootName;
                frame->place = !m_followsPlaces ? kNoPlace : place == kPlaceCount ? RootPlace(root) : place;
                {
                    std::lock_guard<std::mutex> hold(self.lock);
                    self.frames.push_back(std::move(frame));
                }
                WalkStack(self);
            } else if (result != ERROR_FILE_NOT_FOUND) {
                ReportUnopened(self, rootName, nullptr, 0, FALSE);
            }
        }
        m_rootDone = true;
    }
    // Then help the others until every range taken from this root's walk is walked.
    int idle = 0;
    for (;;) {
        if (m_allDone || m_failed)
            return;
        if (m_rootDone && m_openRanges == 0) {
            m_allDone = true;
            return;
        }
        if (m_workers.size() > 1 && StealInto(self)) {
            idle = 0;
            continue;
        }
        if (++idle < kSpinsBeforeSleep)
            ::SwitchToThread();
        else
            ::Sleep(1);
    }
}

void CSearchWalk::WalkStack(Worker& self)
{
    for (;;) {
        Frame* frame = nullptr;
        LONG index = -1;
        {
            std::lock_guard<std::mutex> hold(self.lock);
            if (self.frames.empty())
                return;
            frame = self.frames.back().get();
            // After a subkey's walk the loop goes on only while no stop was requested.
            if (!(frame->visitedOne && StopRequested()) && frame->next < frame->end)
                index = frame->next++;
        }
        if (index < 0) {
            FinishFrame(self);
            continue;
        }
        frame->visitedOne = TRUE;
        BOOL endLoop = FALSE;
        SearchKey(self, *frame, static_cast<DWORD>(index), endLoop);
        if (endLoop)
            FinishFrame(self);
    }
}

void CSearchWalk::SearchKey(Worker& self, Frame& parent, DWORD index, BOOL& endLoop)
{
    DWORD length = kSearchNameChars;
    if (::RegEnumKeyExW(parent.key, index, self.name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        endLoop = TRUE;
        return;
    }
    const wchar_t* name = self.name;
    // Whether a key that cannot be walked may hold a leftover: it or a key above it matches.
    auto inMatch = [&]() -> BOOL {
        if (parent.match)
            return TRUE;
        std::wstring path = parent.path + L"\\" + std::wstring(name, length);
        return Matches(Lowered(name, length)) && !IsFloorKey(path.c_str());
    };
    // A path that does not fit could only be recorded cut short, naming another key.
    if (parent.path.size() + 1 + length > static_cast<size_t>(kPathChars - 1)) {
        ReportUnopened(self, parent.path, name, length, inMatch());
        parent.allOpened = FALSE;
        return;
    }
    // The subkey's walk would begin with the stop test, and end there.
    if (StopRequested()) {
        parent.allOpened = FALSE;
        endLoop = TRUE;
        return;
    }
    // An empty name, or one with a NUL in it, would open another key (the parent itself, or
    // the name before the NUL): such a key cannot be opened by name.
    if (length == 0 || wcslen(name) != length) {
        ReportUnopened(self, parent.path, name, length, inMatch());
        parent.allOpened = FALSE;
        return;
    }
    std::wstring path;
    path.reserve(parent.path.size() + 1 + length);
    path.append(parent.path).append(1, L'\\').append(name, length);
    BOOL match = parent.match;
    if (!match && Matches(Lowered(name, length)) && !IsFloorKey(path.c_str()))
        match = TRUE;

    CRegKeyOwner key;
    LONG result = OpenSubKey(parent.key, name, KEY_READ, key);
    if (result != ERROR_SUCCESS) {
        if (result != ERROR_FILE_NOT_FOUND)
            ReportUnopened(self, parent.path, name, length, match);
        parent.allOpened = FALSE;
        return;
    }
    CountKey();
    std::unique_ptr<Frame> child(new Frame);
    child->key = std::move(key);
    child->path = std::move(path);
    child->inherited = parent.match;
    child->match = match;
    if (parent.place != kNoPlace) {
        child->place = NextPlace(parent.place, std::wstring(name, length), m_currentSet);
        for (const IWalkReader* kind : m_readers[child->place]) {
            LARGE_INTEGER started = {}, ended = {};
            if (m_timing)
                ::QueryPerformanceCounter(&started);
            kind->ReadAt(child->key, child->path, child->place, [&self](WalkNote&& note) {
                Piece piece = { Piece::Note, std::string(), std::wstring(), FALSE, {} };
                piece.note = std::move(note);
                self.out->push_back(std::move(piece));
            });
            if (m_timing) {
                ::QueryPerformanceCounter(&ended);
                m_readingTicks.find(kind)->second += ended.QuadPart - started.QuadPart;
            }
        }
    }
    std::lock_guard<std::mutex> hold(self.lock);
    self.frames.push_back(std::move(child));
}

void CSearchWalk::FinishFrame(Worker& self)
{
    std::unique_ptr<Frame> frame;
    std::vector<Range*> taken;
    {
        std::lock_guard<std::mutex> hold(self.lock);
        frame = std::move(self.frames.back());
        self.frames.pop_back();
        taken.assign(frame->taken.rbegin(), frame->taken.rend());
    }
    // The subkeys other threads walked come after the ones walked here, in key order.
    for (Range* range : taken) {
        Piece piece = { Piece::Taken, std::string(), std::wstring(), FALSE, { range } };
        self.out->push_back(std::move(piece));
    }
    if (frame->range) {
        frame->range->allOpened = frame->allOpened;
        frame->range->taken = taken;
        return;
    }
    if (!frame->match || frame->inherited || !frame->allOpened)
        return;
    if (IsProtectedPath(frame->path))
        return;
    // Recorded once the subkeys walked elsewhere are known to have opened too.
    Piece piece = { Piece::Finding, std::string(), frame->path, FALSE, taken };
    self.out->push_back(std::move(piece));
}

bool CSearchWalk::AllOpened(const std::vector<Range*>& ranges)
{
    for (const Range* range : ranges)
        if (!range->allOpened || !AllOpened(range->taken))
            return FALSE;
    return TRUE;
}

void CSearchWalk::Join(const std::vector<Piece>& pieces, WalkResult& result) const
{
    for (const Piece& piece : pieces) {
        switch (piece.kind) {
        case Piece::Line:
            result.lines.push_back(piece.line);
            result.unreadable.push_back({ piece.path, piece.inMatch });
            break;
        case Piece::Finding:
            if (AllOpened(piece.ranges))
                result.findings.push_back(piece.path);
            break;
        case Piece::Taken:
            Join(piece.ranges[0]->pieces, result);
            break;
        case Piece::Note:
            result.notes.push_back(piece.note);
            break;
        }
    }
}
