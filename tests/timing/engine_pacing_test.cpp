// The simulation keeps its 60 frames a second while the main thread draws.
#include "../e2e/engine_run.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(Pacing, TheSimulationHoldsSixtyFramesWhileTheMainThreadDraws) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", R"RUBY(
def tick args
  $start ||= Time.now.to_f
  100.times do |i|
    args.outputs.sprites << { x: (i * 7 + Kernel.tick_count) % 1280, y: (i * 13) % 720, w: 32, h: 32,
                              path: "missing.png" }
  end
  if Kernel.tick_count == 150
    $qmx.write_file("rates.txt", "#{Time.now.to_f - $start} #{$qmx.current_framerate_calc} #{$qmx.current_framerate_render}")
    $qmx.request_quit
  end
end
)RUBY");
    engine_result result = sandbox.run({sandbox.game_dir}, 60);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::istringstream rates(read_file(sandbox.game_dir + "/rates.txt"));
    double seconds = 0, simulation = 0, render = 0;
    rates >> seconds >> simulation >> render;
    // 150 frames are 2.5 s at 60 a second: never early, and late only by
    // what a loaded machine costs.
    EXPECT_GE(seconds, 2.45);
    EXPECT_LT(seconds, 4.5);
    EXPECT_GE(simulation, 45);
    EXPECT_LE(simulation, 62);
    EXPECT_GE(render, 1) << "the main thread drew nothing";
}

} // namespace
