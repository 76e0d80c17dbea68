// The crash report of a thread whose stack has overflowed: the handler runs
// on a stack of its own.
#include "host/engine.h"

#include <gtest/gtest.h>

namespace {

int dive(volatile int *depth) {
    volatile char frame[512];
    *depth = *depth + 1;
    frame[0] = (char)*depth;
    return *depth < 0 ? 0 : dive(depth) + frame[0];
}

TEST(CrashHandler, AStackOverflowIsStillReported) {
    EXPECT_EXIT(
        {
            crash_handler_install();
            volatile int depth = 0;
            dive(&depth);
        },
        testing::ExitedWithCode(1), "Error: signal 11:");
}

} // namespace
