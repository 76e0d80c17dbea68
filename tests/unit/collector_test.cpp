// The collector paced by the frame, driven frame by frame against an
// interpreter of its own: a frame end takes a slice of a big collection, the
// frames that follow finish it and the next ones while Ruby keeps pushing
// fresh objects into a long-lived Array (with time to spare or none), what
// stays reachable survives, and a game that turns collection off or back to
// generations is left alone.
#include "host/collector.h"
#include "tests/common/ruby_eval.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

namespace {

class Collector : public ::testing::Test {
protected:
    mrb_state *mrb = mrb_open();

    void SetUp() override {
        ASSERT_NE(mrb, nullptr);
        collector_init(mrb);
    }
    void TearDown() override { mrb_close(mrb); }

    uint64_t from_now(double seconds) {
        return SDL_GetPerformanceCounter() + (uint64_t)(seconds * (double)SDL_GetPerformanceFrequency());
    }
    // Ends the cycle under way, so that the next starts where the test says.
    void finish_cycle() {
        while (mrb->gc.state != MRB_GC_STATE_ROOT) mrb_incremental_gc(mrb);
    }
    // The heap has reached the point where the coming frame would start a
    // cycle.
    void cycle_due() { mrb->gc.threshold = mrb->gc.live; }
};

TEST_F(Collector, ABigCollectionIsSlicedOverFramesThatFinishItAsRubyKeepsAllocating) {
    ASSERT_EQ(ruby_eval(mrb, "GC.generational_mode"), "false");
    ASSERT_EQ(ruby_eval(mrb, "$world = Array.new(300_000) { |i| { x: i, hp: 100 } }; $out = []; nil"), "nil");
    finish_cycle();
    collector_frame_end(mrb, from_now(0)); // counts the allocations so far as past
    cycle_due();

    // A frame with no time left takes a slice: marking 300,000 Hashes waits
    // for the frames to come.
    collector_frame_end(mrb, from_now(0));
    EXPECT_EQ(mrb->gc.state, MRB_GC_STATE_MARK);
    size_t live_at_start = mrb->gc.live;

    // Each frame makes 2,000 Hashes with a String each, pushed into an
    // Array that survives the frame (as the output collections do) and is
    // emptied at the next. Unmarked, they would pile up by about 8,000
    // objects a frame. Cycles keep ending whether the frames leave time to
    // spare or are all late.
    for (double spare : {1.0 / 60, 0.0}) {
        SCOPED_TRACE(spare);
        int cycles = 0;
        size_t most_live = 0;
        for (int frame = 0; frame < 240; ++frame) {
            ASSERT_EQ(ruby_eval(mrb, "$out.clear; 2_000.times { |i| $out << { x: i, path: 'p' + i.to_s } }; nil"),
                      "nil");
            bool collecting = mrb->gc.state != MRB_GC_STATE_ROOT;
            collector_frame_end(mrb, from_now(spare));
            if (collecting && mrb->gc.state == MRB_GC_STATE_ROOT) ++cycles;
            if (mrb->gc.live > most_live) most_live = mrb->gc.live;
        }
        EXPECT_GE(cycles, 2);
        EXPECT_LT(most_live, live_at_start * 3);
    }
    EXPECT_EQ(ruby_eval(mrb, "$world.inject(0) { |s, h| s + h[:x] + h[:hp] } - 300_000 * 100"), "44999850000");
    EXPECT_EQ(ruby_eval(mrb, "$out.size.to_s + $out.last[:path]"), "\"2000p1999\"");
}

TEST_F(Collector, AGameThatTurnsCollectionOffOrBackToGenerationsIsLeftToIt) {
    struct Case {
        const char *setting;
        const char *undo;
    };
    const Case cases[] = {{"GC.disable", "GC.enable"}, {"GC.generational_mode = true", "nil"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        ASSERT_EQ(ruby_eval(mrb, "$garbage = Array.new(50_000) { {} }; $garbage = nil"), "nil");
        finish_cycle();
        ruby_eval(mrb, c.setting);
        cycle_due();
        collector_frame_end(mrb, from_now(1.0 / 60));
        EXPECT_EQ(mrb->gc.state, MRB_GC_STATE_ROOT);
        ruby_eval(mrb, c.undo);
    }
}

} // namespace
