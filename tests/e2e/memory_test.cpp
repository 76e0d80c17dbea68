// A game that makes what it draws anew every frame, as the README shows, or
// parses its level every frame, runs in the same memory however long it runs;
// a long replay takes memory in proportion to its file.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>

namespace {

// Runs the game until it writes "warm.txt" and then "done.txt": its resident
// memory must grow by less than limit_mib in between, and the run must then
// stop cleanly.
void expect_growth_below(EngineSandbox &sandbox, long limit_mib) {
    // The allocator's quarantine of freed memory would look like growth.
    std::map<std::string, std::string> env = {{"ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=0"}};
    EngineProcess process = sandbox.start({sandbox.game_dir}, env);
    ASSERT_TRUE(process.wait_for_file(sandbox.game_dir + "/warm.txt", 60));
    const long warm = resident_mib(process.pid());
    ASSERT_TRUE(process.wait_for_file(sandbox.game_dir + "/done.txt", 90));
    const long done = resident_mib(process.pid());
    ASSERT_GT(warm, 0);
    EXPECT_LT(done - warm, limit_mib) << "from " << warm << " MiB to " << done << " MiB";
    engine_result r = process.stop();
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(Memory, SpritesMadeAnewEveryFrameAreGivenBack) {
    EngineSandbox sandbox;
    // Hashes with a String path take the native sprite walk, which allocates
    // nothing: only the collector's own pace decides whether they go.
    sandbox.write_game_file("app/main.rb",
                            "def tick(args)\n"
                            "  500.times do |i|\n"
                            "    args.outputs.sprites << { x: (i * 37) % 1280, y: (i * 53) % 720, w: 16, h: 16,\n"
                            "                              path: 'sprites/red.png' }\n"
                            "  end\n"
                            "  $qmx.write_file('warm.txt', 'warm') if Kernel.tick_count == 300\n"
                            "  $qmx.write_file('done.txt', 'done') if Kernel.tick_count == 1200\n"
                            "end\n");
    // 900 frames of 500 sprites that are never given back come to over
    // 120 MiB; given back, the memory stays within a few.
    expect_growth_below(sandbox, 24);
}

// The collector keeps pace with the trees the game drops, as it does for
// JSON, though no Ruby runs while a tree is built.
TEST(Memory, ALevelParsedEveryFrameIsGivenBack) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb",
                            "def tick(args)\n"
                            "  $level ||= '<map>' + (0...10000).map { |i| \"<tile gid='#{i % 97}'/>\" }.join +\n"
                            "    '</map>'\n"
                            "  args.state.tiles = $qmx.parse_xml($level)[:children][0][:children].size\n"
                            "  $qmx.write_file('warm.txt', 'warm') if Kernel.tick_count == 30\n"
                            "  $qmx.write_file('done.txt', 'done') if Kernel.tick_count == 90\n"
                            "end\n");
    // Trees kept until a collection that never comes take about 6 MiB a frame.
    expect_growth_below(sandbox, 48);
}

// A replay of 120,000 events (a file of 4.9 MB, most of it past the tick
// its recording stopped at) started in the game holds, with what starting
// it took, a few times its file.
TEST(Memory, ALongReplayTakesMemoryInProportionToItsFile) {
    EngineSandbox sandbox;
    std::string text = "replay_version 2.0\nstopped_at 300\nseed 7\nrecorded_at 2024-01-01 00:00:00 +0000\n";
    for (int i = 0; i < 120000; ++i)
        text += "[:mouse_move, " + std::to_string(i % 1280) + ", " + std::to_string(i % 720) + ", 2, " +
                std::to_string(i + 1) + ", " + std::to_string(i) + "]\n";
    sandbox.write_game_file("long.txt", text);
    // The text of the replay's notification would take memory of its own
    // while it is drawn: it is replaced at once by one without text.
    sandbox.write_game_file("app/main.rb",
                            "def tick(args)\n"
                            "  if $recording.is_replaying?\n"
                            "    GC.start\n"
                            "    $qmx.write_file('done.txt', 'done') if Kernel.tick_count == 10\n"
                            "    return\n"
                            "  end\n"
                            "  $step = $step.to_i + 1\n"
                            "  $qmx.write_file('warm.txt', 'warm') if $step == 150\n"
                            "  return unless $step == 180\n"
                            "  $replay.start('long.txt')\n"
                            "  $qmx.notify_subdued!\n"
                            "end\n");
    // Each event kept as a Hash took about 900 bytes, 110 MiB in all.
    expect_growth_below(sandbox, (long)(4 * text.size() >> 20));
}

} // namespace
