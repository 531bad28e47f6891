// How the walk's threads share work: a thread that runs out takes the last untaken subkeys of
// the deepest key another thread still walks.
#include "SearchWalk.h"

bool CSearchWalk::StealInto(Worker& thief)
{
    for (size_t step = 1; step < m_workers.size(); ++step) {
        Worker& victim = *m_workers[(thief.index + step) % m_workers.size()];
        if (!StealFrom(victim, thief))
            continue;
        WalkStack(thief);
        --m_openRanges;
        return true;
    }
    return false;
}

bool CSearchWalk::StealFrom(Worker& victim, Worker& thief)
{
    std::unique_ptr<Frame> bottom;
    {
        std::lock_guard<std::mutex> hold(victim.lock);
        // The shallowest key first: its subkeys hold the most work.
        for (const std::unique_ptr<Frame>& candidate : victim.frames) {
            Frame& frame = *candidate;
            if (frame.end == LONG_MAX) {
                DWORD subkeys = 0;
                if (::RegQueryInfoKeyW(frame.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    continue;
                frame.end = static_cast<LONG>(subkeys) > frame.next ? static_cast<LONG>(subkeys) : frame.next;
            }
            const LONG remaining = frame.end - frame.next;
            if (remaining < 2)
                continue;
            // A handle of the thief's own: the owner closes its handle when its loop ends.
            CRegKeyOwner own;
            if (OpenSubKey(frame.key, nullptr, KEY_READ, own) != ERROR_SUCCESS)
                continue;
            Range* range = new Range;
            {
                std::lock_guard<std::mutex> holdRanges(m_rangeLock);
                m_ranges.push_back(std::unique_ptr<Range>(range));
            }
            const LONG middle = frame.next + remaining / 2;
            bottom.reset(new Frame);
            bottom->key = std::move(own);
            bottom->path = frame.path;
            bottom->inherited = frame.inherited;
            bottom->match = frame.match;
            bottom->visitedOne = TRUE;  // the owner walked the subkeys before these
            bottom->range = range;
            bottom->place = frame.place;
            bottom->next = middle;
            bottom->end = frame.end;
            frame.end = middle;
            frame.taken.push_back(range);
            // Counted before the owner can finish this key, so that the walk cannot look done.
            ++m_openRanges;
            break;
        }
    }
    if (!bottom)
        return false;
    thief.out = &bottom->range->pieces;
    std::lock_guard<std::mutex> hold(thief.lock);
    thief.frames.push_back(std::move(bottom));
    return true;
}
