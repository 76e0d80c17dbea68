#include "host/engine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Recorder {
    std::vector<Uint64> starts;
    int stop_after;
    int slow_frame = -1;
    int held_frame = -1; // waits as a frame does for a renderer that is behind
    Uint64 held_ticks = 0;
};

bool record_frame(void *data) {
    auto *r = (Recorder *)data;
    r->starts.push_back(SDL_GetPerformanceCounter());
    if ((int)r->starts.size() - 1 == r->slow_frame) SDL_Delay(100); // six periods
    if ((int)r->starts.size() - 1 == r->held_frame) {
        SDL_Delay(100);
        r->held_ticks = SDL_GetPerformanceCounter() - r->starts.back();
        simulation_held_back_ticks += r->held_ticks;
    }
    return (int)r->starts.size() < r->stop_after;
}

TEST(SimulationPacing, HoldsSixtyFramesASecondCatchingUpAfterASlowFrameButNotAfterWaitingForTheRenderer) {
    SDL_AtomicSet(&engine_quit_flag, 0);
    Recorder r{{}, 121, 5, 60};
    EXPECT_EQ(simulation_run_paced(record_frame, &r), 120); // the frame that answered false is not counted
    EXPECT_EQ(SDL_AtomicGet(&engine_quit_flag), 1);
    const double frequency = (double)SDL_GetPerformanceFrequency();
    // The frames after the slow one start back to back...
    EXPECT_LT((double)(r.starts[7] - r.starts[6]) / frequency, 0.008);
    // ...and 120 periods are 2 s, plus the time the renderer held the game
    // back: a loaded machine may run late, never early.
    double seconds = (double)(r.starts.back() - r.starts.front()) / frequency;
    double held = (double)r.held_ticks / frequency;
    EXPECT_GE(held, 0.099);
    EXPECT_GE(seconds, 1.99 + held);
    EXPECT_LT(seconds, 2.5 + held);
}

TEST(SimulationPacing, StopsAtOnceWhenTheFlagIsAlreadySet) {
    SDL_AtomicSet(&engine_quit_flag, 1);
    Recorder r{{}, 100};
    EXPECT_EQ(simulation_run_paced(record_frame, &r), 0);
    EXPECT_TRUE(r.starts.empty());
}

} // namespace
