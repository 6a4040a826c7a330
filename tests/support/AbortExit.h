// How a process that called std::abort ends, for EXPECT_EXIT: killed by SIGABRT on POSIX systems;
// on Windows the C runtime's abort raises SIGABRT, whose default handler exits with code 3.
#pragma once

#include <gtest/gtest.h>

#if defined(_WIN32)
inline ::testing::ExitedWithCode abortedProcess()
{
    return ::testing::ExitedWithCode(3);
}
#else
#include <csignal>

inline ::testing::KilledBySignal abortedProcess()
{
    return ::testing::KilledBySignal(SIGABRT);
}
#endif
