// The crash report of a thread whose stack has overflowed or been smashed:
// the handler runs on a stack of its own and says which signal it caught
// before it walks a stack that may no longer be walkable.
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

#if defined(__x86_64__)
// What damaged bytecode can leave behind: stack and frame pointers aimed at
// memory that is not there, so that unwinding for the backtrace faults too.
[[noreturn]] void fault_on_a_smashed_stack() {
    asm volatile("mov $0x40, %%rsp\n\t"
                 "mov $0x40, %%rbp\n\t"
                 "movq $0, (%%rsp)\n\t" ::
                     : "memory");
    __builtin_unreachable();
}

TEST(CrashHandler, ACrashOnASmashedStackPrintsItsHeadlineAndEndsWithStatusOne) {
    EXPECT_EXIT(
        {
            crash_handler_install();
            fault_on_a_smashed_stack();
        },
        testing::ExitedWithCode(1), "^Error: signal 11:\n");
}
#endif

} // namespace
