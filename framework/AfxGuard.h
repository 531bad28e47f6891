// Exceptions stop where Windows calls in (window and dialog procedures, thread entries): a
// C++ exception must never unwind through Windows' own frames, and an uncaught one would end
// the process with the runtime's box.
#pragma once

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
