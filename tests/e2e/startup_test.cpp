// Start-up, mounts, write directory and shutdown, seen from outside the
// process the way a game author sees them.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

const std::string not_found = PHYSFS_getErrorByCode(PHYSFS_ERR_NOT_FOUND);

std::string failure_text(const std::string &message) { return "\n\nStartup failure!:\n" + message + "\n\n"; }

// The engine has finished start-up once its simulation thread exists.
engine_result run_until_started_then_signal(const EngineSandbox &sandbox, const std::vector<std::string> &args,
                                            int signal_number) {
    EngineProcess process = sandbox.start(args);
    bool started = process.wait_for_thread("simulation", 30);
    if (started) process.send_signal(signal_number);
    engine_result result = process.finish(20);
    EXPECT_TRUE(started) << result.err;
    return result;
}

TEST(Startup, AMissingGameDirectoryEndsStartUpWithItsReport) {
    EngineSandbox sandbox;
    engine_result r = sandbox.run({"/nonexistent"});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, failure_text("Couldn't mount '/nonexistent' directory: " + not_found));

    // Only the first plain argument names the game directory, and "-psn"
    // arguments are ignored without taking it.
    r = sandbox.run({"-psn_0_4242", "/nonexistent/one", "/nonexistent/two"});
    EXPECT_EQ(r.err, failure_text("Couldn't mount '/nonexistent/one' directory: " + not_found));
}

TEST(Startup, LongFailureMessagesAreCutTo255Characters) {
    EngineSandbox sandbox;
    std::string path = "/nonexistent/" + std::string(300, 'd');
    engine_result r = sandbox.run({path});
    std::string message = ("Couldn't mount '" + path + "' directory: " + not_found).substr(0, 255);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, failure_text(message));
}

TEST(Startup, ARuntimeOptionValueIsNotTakenForTheGameDirectory) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args; end\n");
    engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir, "--window_width", "800"}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    r = run_until_started_then_signal(sandbox, {"--window_width", "800", sandbox.game_dir}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("Startup failure"), std::string::npos) << r.err;
}

TEST(Startup, QuitSignalsShutDownInOrderWithStatusZero) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args; end\n");
    for (int signal_number : {SIGTERM, SIGINT}) {
        engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir}, signal_number);
        EXPECT_TRUE(r.exited) << "signal " << signal_number;
        EXPECT_EQ(r.exit_code, 0) << r.err;
    }
}

TEST(Startup, ACrashPrintsTheSignalAndABacktrace) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args; end\n");
    for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir}, signal_number);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.exit_code, 1);
        std::string headline = "Error: signal " + std::to_string(signal_number) + ":\n";
        size_t at = r.err.find(headline);
        ASSERT_NE(at, std::string::npos) << r.err;
        std::string trace = r.err.substr(at + headline.size());
        size_t lines = (size_t)std::count(trace.begin(), trace.end(), '\n');
        EXPECT_GE(lines, 1u);
        EXPECT_LE(lines, 10u);
    }
}

// Production mode moves the write directory to the user's preference folder,
// named after the game's metadata; the folder only appears in production.
class ProductionMode : public ::testing::Test {
protected:
    EngineSandbox sandbox;
    std::string pref_dir() const { return sandbox.home_dir + "/.local/share/Space Game"; }

    void SetUp() override {
        sandbox.write_game_file("app/main.rb", "def tick args; end\n");
        sandbox.write_game_file("metadata/game_metadata.txt",
                                "devid=studio\ndevtitle=Studio\ngameid=space\ngametitle=Space Game\nversion=1\n");
    }
};

TEST_F(ProductionMode, IsOffByDefaultAndTheBaseDirectoryIsWrittenTo) {
    engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(fs::exists(pref_dir()));
}

TEST_F(ProductionMode, TheOptionTurnsItOnWithAnyNumberOfDashes) {
    for (const char *option : {"--production", "-production", "---production"}) {
        fs::remove_all(sandbox.home_dir + "/.local");
        engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir, option}, SIGTERM);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(fs::is_directory(pref_dir())) << option;
    }
}

TEST_F(ProductionMode, TheMarkerFileTurnsItOn) {
    sandbox.write_game_file("metadata/VELLUMCORE_PRODUCTION_BUILD", "");
    engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(pref_dir()));
}

TEST(GameDirectory, MygameBesideTheExecutableIsMountedWhenNoneIsNamed) {
    EngineSandbox sandbox;
    // The metadata read at start-up shows which folder was mounted: production
    // mode names the preference folder after its game title.
    write_file(sandbox.base_dir + "/mygame/app/main.rb", "def tick args; end\n");
    write_file(sandbox.base_dir + "/mygame/metadata/game_metadata.txt",
               "devid=d\ndevtitle=D\ngameid=g\ngametitle=Default Game\nversion=1\n");
    engine_result r = run_until_started_then_signal(sandbox, {"--production"}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(sandbox.home_dir + "/.local/share/Default Game"));

    // With "app" already in the search path nothing more is mounted, so the
    // metadata of mygame is not seen and the defaults apply.
    fs::remove_all(sandbox.home_dir + "/.local");
    write_file(sandbox.base_dir + "/app/main.rb", "def tick args; end\n");
    r = run_until_started_then_signal(sandbox, {"--production"}, SIGTERM);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(fs::exists(sandbox.home_dir + "/.local/share/Default Game"));
    EXPECT_TRUE(fs::is_directory(sandbox.home_dir + "/.local/share/Hello SDL"));
}

} // namespace
