// A game's tick seen from outside: an exception in it is written out while
// the engine keeps running, and it gets its command line and logical size.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <string>
#include <thread>

namespace {

// A tick that raises, one that replaces its state with a Hash, and a
// primitive it hands over that cannot be drawn.
TEST(GameTick, AnExceptionIsExportedAndPausesTheGameWhileTheEngineRuns) {
    const struct { const char *fixture, *tick, *said, *where, *printed; } cases[] = {
        {"tick_raises", "5", "boom", "app/main.rb:4",
         "Game state and exception will be written to exceptions/game_state_5.txt"},
        {"state_replaced", "3", "~args.state~ can only be set to an entity", "app/main.rb:4",
         "Game state and exception will be written to exceptions/game_state_3.txt"},
        {"bad_primitive", "2", "I don't know how to use the above Hash with SDL's FFI.", "{:x=>20, :y=>20, :w=>10, :h=>10}",
         "I don't know how to use the above Hash"}};
    for (const auto &c : cases) {
        EngineSandbox sandbox;
        sandbox.use_fixture(c.fixture);
        EngineProcess process = sandbox.start({sandbox.game_dir});
        std::string current = sandbox.base_dir + "/exceptions/current.txt";
        std::string saved = "exceptions/game_state_" + std::string(c.tick) + ".txt";
        ASSERT_TRUE(process.wait_for_file(current, 30)) << c.fixture;
        // Paused: a second later the game has not ticked again.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(read_file(sandbox.game_dir + "/ticks.txt"), c.tick);
        engine_result result = process.stop();
        std::string report = read_file(current);
        EXPECT_EQ(read_file(sandbox.base_dir + "/" + saved), report);
        for (const char *part : {c.said, c.where, "\n\nGame State:\n{:state=>{"})
            EXPECT_NE(report.find(part), std::string::npos) << report;
        EXPECT_NE(result.out.find(c.printed), std::string::npos) << result.out;
    }
}

// The window size reaches the game as its logical size (how a window's size
// becomes a logical size is in tests/unit/options_test.cpp); the argument
// after which ARGV would run too long is dropped, not the ones that follow.
TEST(GameTick, WindowSizesGiveTheLogicalSizeAndAnOverlongArgumentIsDropped) {
    EngineSandbox sandbox;
    std::string huge(300, 'q');
    engine_result result =
        sandbox.run_fixture("report_size", {"--note", huge, "--window_width", "1000", "--window_height", "500"});
    EXPECT_NE(result.err.find("WARNING: ARGV is too long. The following argument will not be sent over: " + huge + "."),
              std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(sandbox.game_dir + "/argv.txt"),
              sandbox.executable() + " " + sandbox.game_dir + " --note --window_width 1000 --window_height 500");
    EXPECT_EQ(read_file(sandbox.game_dir + "/size.txt"), "1000x500 1000x500");

    // The game directory after the options is no part of the last one's value.
    EngineSandbox after;
    after.use_fixture("report_size");
    result = after.run({"--window_width", "800", "--window_height", "600", after.game_dir}, 40);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(after.game_dir + "/size.txt"), "800x600 800x600");
    EXPECT_EQ(read_file(after.game_dir + "/game_directory.txt"), after.game_dir);
    EXPECT_EQ(result.out.find("WARNING: --window"), std::string::npos) << result.out;
}

} // namespace
