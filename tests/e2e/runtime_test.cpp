// A game's tick seen from outside: an exception in it is written out while
// the engine keeps running, it gets its command line and logical size, and
// the files it requires load with it and reload when they change.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <string>
#include <thread>

namespace {

// A tick that raises, and a primitive it hands over that cannot be drawn.
TEST(GameTick, AnExceptionIsExportedAndPausesTheGameWhileTheEngineRuns) {
    const struct { const char *fixture, *tick, *said, *where, *printed; } cases[] = {
        {"tick_raises", "5", "boom", "app/main.rb:4", "Game state and exception will be written to exceptions/game_state_5.txt"},
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
    engine_result result = sandbox.run_fixture("report_size", {"--note", huge, "--window_width", "1000", "--window_height", "500"});
    EXPECT_NE(result.err.find("WARNING: ARGV is too long. The following argument will not be sent over: " + huge + "."),
              std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(sandbox.game_dir + "/argv.txt"),
              sandbox.executable() + " " + sandbox.game_dir + " --note --window_width 1000 --window_height 500");
    EXPECT_EQ(read_file(sandbox.game_dir + "/size.txt"), "1000x500 1000x500");
}

TEST(GameTick, RequiredFilesLoadWithTheGameAndReloadWhenTheyChange) {
    EngineSandbox sandbox;
    sandbox.use_fixture("reloads");
    EngineProcess process = sandbox.start({sandbox.game_dir});
    std::string version = sandbox.game_dir + "/version.txt";
    ASSERT_TRUE(process.wait_for_file(version, 30));
    // The game rewrites the file every frame: read until a whole one is seen.
    auto wait_for_version = [&](const std::string &expected) {
        return wait_until([&] { return read_file(version) == expected; }, 10);
    };
    ASSERT_TRUE(wait_for_version("v1"));

    std::string helper = sandbox.game_dir + "/app/helper.rb";
    write_file(helper, "def helper_version\n  \"v2\"\nend\n");
    // Times have one-second resolution: make the change visible at once.
    std::filesystem::last_write_time(helper, std::filesystem::last_write_time(helper) + std::chrono::seconds(5));
    bool reloaded = wait_for_version("v2");
    engine_result result = process.stop();
    EXPECT_TRUE(reloaded) << result.out;
    EXPECT_NE(result.out.find("* INFO: =app/helper.rb= reloaded."), std::string::npos) << result.out;
    // The accepted change was backed up.
    EXPECT_TRUE(file_exists(sandbox.base_dir + "/tmp/src_backup/src_backup_app_helper.rb"));
}

} // namespace
