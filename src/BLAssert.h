// Precondition check of the dynamics library. Unlike <cassert> it stays on in every build
// (NDEBUG has no effect): a bad time constant or sample rate would otherwise turn into silent
// NaN coefficients. On failure it writes one line "file:line: failed assertion `expr'" to
// stderr, flushes it and aborts; nothing after the check runs.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace VAZiro
{

[[noreturn]] inline void blAssertFailed(const char* file, unsigned line, const char* expr) noexcept
{
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, expr);
    std::fflush(stderr);
    std::abort();
}

} // namespace VAZiro

#define BL_ASSERT(expr) \
    ((expr) ? static_cast<void>(0) \
            : ::VAZiro::blAssertFailed(__FILE__, static_cast<unsigned>(__LINE__), #expr))
