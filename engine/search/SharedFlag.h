// The stop flag and the count of keys searched are plain LONGs that the window's thread and a
// search's threads share. They are read and written through these two, with full barriers, so
// that a write is seen at once on the other side, whichever Windows compiler builds this.
#pragma once
#include <windows.h>

inline LONG SharedRead(const LONG* value)
{
    return ::InterlockedCompareExchange(const_cast<LONG*>(value), 0, 0);
}

inline void SharedWrite(LONG* target, LONG value)
{
    ::InterlockedExchange(target, value);
}
