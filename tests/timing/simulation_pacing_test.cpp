#include "host/engine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Recorder {
    std::vector<Uint64> starts;
    int stop_after;
    int slow_frame = -1;
};

bool record_frame(void *data) {
    auto *r = (Recorder *)data;
    r->starts.push_back(SDL_GetPerformanceCounter());
    if ((int)r->starts.size() - 1 == r->slow_frame) SDL_Delay(100); // six periods
    return (int)r->starts.size() < r->stop_after;
}

TEST(SimulationPacing, HoldsSixtyFramesASecondOnAnAbsoluteScheduleAndCatchesUpWithoutSkipping) {
    SDL_AtomicSet(&engine_quit_flag, 0);
    Recorder r{{}, 121, 5};
    EXPECT_EQ(simulation_run_paced(record_frame, &r), 120); // the frame that answered false is not counted
    EXPECT_EQ(SDL_AtomicGet(&engine_quit_flag), 1);
    const double frequency = (double)SDL_GetPerformanceFrequency();
    // The frames after the slow one start back to back...
    EXPECT_LT((double)(r.starts[7] - r.starts[6]) / frequency, 0.008);
    // ...and 120 periods are 2 s: a loaded machine may run late, never early.
    double seconds = (double)(r.starts.back() - r.starts.front()) / frequency;
    EXPECT_GE(seconds, 1.99);
    EXPECT_LT(seconds, 2.5);
}

TEST(SimulationPacing, StopsAtOnceWhenTheFlagIsAlreadySet) {
    SDL_AtomicSet(&engine_quit_flag, 1);
    Recorder r{{}, 100};
    EXPECT_EQ(simulation_run_paced(record_frame, &r), 0);
    EXPECT_TRUE(r.starts.empty());
}

} // namespace
