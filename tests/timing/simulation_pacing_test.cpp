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

TEST(SimulationPacing, HoldsSixtyFramesASecondOnAnAbsoluteSchedule) {
    SDL_AtomicSet(&engine_quit_flag, 0);
    Recorder r{{}, 121};
    int frames = simulation_run_paced(record_frame, &r);
    EXPECT_EQ(frames, 120); // the frame that answered false is not counted
    EXPECT_EQ(SDL_AtomicGet(&engine_quit_flag), 1);
    double seconds = (double)(r.starts.back() - r.starts.front()) / (double)SDL_GetPerformanceFrequency();
    // 120 periods are 2 s; a loaded machine may run late but never early.
    EXPECT_GE(seconds, 1.99);
    EXPECT_LT(seconds, 2.5);
}

TEST(SimulationPacing, CatchesUpAfterASlowFrameWithoutSkipping) {
    SDL_AtomicSet(&engine_quit_flag, 0);
    Recorder r{{}, 30, 5};
    simulation_run_paced(record_frame, &r);
    ASSERT_EQ(r.starts.size(), 30u);
    const double frequency = (double)SDL_GetPerformanceFrequency();
    // The frames after the slow one start back to back...
    double gap = (double)(r.starts[7] - r.starts[6]) / frequency;
    EXPECT_LT(gap, 0.008);
    // ...and the run as a whole stays on the 60 Hz schedule.
    double total = (double)(r.starts[29] - r.starts[0]) / frequency;
    EXPECT_NEAR(total, 29.0 / 60.0, 0.05);
}

TEST(SimulationPacing, StopsAtOnceWhenTheFlagIsAlreadySet) {
    SDL_AtomicSet(&engine_quit_flag, 1);
    Recorder r{{}, 100};
    EXPECT_EQ(simulation_run_paced(record_frame, &r), 0);
    EXPECT_TRUE(r.starts.empty());
}

} // namespace
