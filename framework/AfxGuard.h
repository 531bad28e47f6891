// Exceptions stop where Windows calls in (window and dialog procedures, thread entries): a
// C++ exception must never unwind through Windows' own frames, and an uncaught one would end
// the process with the runtime's box.
#pragma once
#include <new>

// Runs `body` and returns its result; when it throws, returns `fallback` instead. A caller
// that must tell a failure from a result chooses a fallback that says so.
template <class R, class F> R AfxCallGuarded(R fallback, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

// Who is told when an exception stops in a window's handler (`noMemory` for out of memory), so
// that the user learns that the command ended early. None until the program sets one.
typedef void (*AfxGuardReporter)(bool noMemory);
void AfxSetGuardReporter(AfxGuardReporter reporter);
// Tells the reporter, unless it is still busy telling of an earlier one (its message box runs
// the window's messages meanwhile): one message per failure, never a box over a box.
void AfxReportGuarded(bool noMemory) noexcept;

// The same as AfxCallGuarded, for the handlers of windows: the failure is reported.
template <class R, class F> R AfxCallGuardedAndReport(R fallback, F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        AfxReportGuarded(true);
    } catch (...) {
        AfxReportGuarded(false);
    }
    return fallback;
}
