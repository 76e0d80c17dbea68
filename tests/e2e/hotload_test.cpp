// Saving the game's code while it runs, as an author does: the engine loads
// each save into the running game, runs the mailbox once, and pauses on a
// save that does not load until a fixed one arrives.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Writes what the game runs every tick: its code's version, the tick and
// how often the mailbox ran.
std::string game_source(const std::string &version, const std::string &extra = "") {
    return "def tick(args)\n  $qmx.suppress_mailbox = false\n"
           "  $qmx.write_file('seen.txt', \"" + version + " #{Kernel.tick_count} #{$mail.to_i}\")\nend\n" + extra;
}

class RunningGame {
public:
    EngineSandbox sandbox;
    fs::file_time_type start_time;

    RunningGame() {
        sandbox.write_game_file("app/main.rb", game_source("v1"));
        start_time = fs::last_write_time(sandbox.game_dir + "/app/main.rb");
    }

    // Times have one-second resolution: each save is stamped seconds later.
    void save(const std::string &relative, const std::string &text, int seconds_later) {
        std::string path = sandbox.game_dir + "/" + relative;
        write_file(path, text);
        fs::last_write_time(path, start_time + std::chrono::seconds(seconds_later));
    }

    static bool wait_until(const std::function<bool()> &done, double seconds = 8) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string seen() const { return read_file(sandbox.game_dir + "/seen.txt"); }
    bool seen_version(const std::string &version) const { return seen().rfind(version + " ", 0) == 0; }

    // The game is paused when its tick count stands still.
    bool paused() const {
        std::string before = seen();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return !before.empty() && seen() == before;
    }

    std::string report() const { return read_file(sandbox.base_dir + "/exceptions/current.txt"); }
};

TEST(HotReload, SavedCodeRunsAndTheMailboxRunsOnce) {
    RunningGame game;
    EngineProcess process = game.sandbox.start({game.sandbox.game_dir});
    ASSERT_TRUE(game.wait_until([&] { return game.seen_version("v1"); }, 30));
    game.save("app/main.rb", game_source("v2"), 5);
    EXPECT_TRUE(game.wait_until([&] { return game.seen_version("v2"); }));
    // A second save soon after the first still loads.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    game.save("app/main.rb", game_source("v3"), 10);
    EXPECT_TRUE(game.wait_until([&] { return game.seen_version("v3"); }));

    const std::string mail = "$mail = $mail.to_i + 1";
    game.save("app/mailbox.rb", mail, 10);
    EXPECT_TRUE(game.wait_until([&] { return game.seen().back() == '1'; })) << game.seen();
    EXPECT_FALSE(game.paused());
    EXPECT_EQ(game.seen().back(), '1');
    EXPECT_EQ(read_file(game.sandbox.game_dir + "/app/mailbox.rb"), "");
    std::vector<std::string> processed;
    for (const auto &entry : fs::directory_iterator(game.sandbox.game_dir + "/app/mailbox-processed"))
        processed.push_back(read_file(entry.path().string()));
    EXPECT_EQ(processed, std::vector<std::string>{mail});

    process.send_signal(SIGTERM);
    engine_result result = process.finish(20);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    size_t first = result.out.find("* INFO: =app/main.rb= reloaded. (");
    ASSERT_NE(first, std::string::npos) << result.out;
    EXPECT_NE(result.out.find("* INFO: =app/main.rb= reloaded. (", first + 1), std::string::npos) << result.out;
}

TEST(HotReload, ASaveThatDoesNotLoadPausesTheGameUntilAFixedOne) {
    RunningGame game;
    EngineProcess process = game.sandbox.start({game.sandbox.game_dir});
    ASSERT_TRUE(game.wait_until([&] { return game.seen_version("v1"); }, 30));
    game.save("app/main.rb", "def tick(args)\n", 5);
    EXPECT_TRUE(game.wait_until([&] { return game.report().find("syntax error") != std::string::npos; }));
    EXPECT_TRUE(game.paused());

    fs::remove(game.sandbox.base_dir + "/exceptions/current.txt");
    game.save("app/main.rb", game_source("v2", "raise 'broken on purpose'\n"), 10);
    EXPECT_TRUE(game.wait_until([&] { return game.report().find("broken on purpose") != std::string::npos; }));
    EXPECT_TRUE(game.paused());
    EXPECT_TRUE(game.seen_version("v1")) << game.seen();

    game.save("app/main.rb", game_source("v3"), 15);
    EXPECT_TRUE(game.wait_until([&] { return game.seen_version("v3"); }));
    EXPECT_FALSE(game.paused());
    process.send_signal(SIGTERM);
    engine_result result = process.finish(20);
    EXPECT_EQ(result.out.find("=app/main.rb= reloaded. (", result.out.find("broken on purpose")),
              result.out.rfind("=app/main.rb= reloaded. (")) << result.out;
}

TEST(HotReload, DamagedBytecodeIsReportedInsteadOfLoaded) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rbc", "RITE0300\x7f\xff\xff\xff truncated");
    EngineProcess process = sandbox.start({sandbox.game_dir});
    std::string current = sandbox.base_dir + "/exceptions/current.txt";
    ASSERT_TRUE(process.wait_for_file(current, 30));
    process.send_signal(SIGTERM);
    engine_result result = process.finish(20);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(read_file(current).find("app/main.rbc cannot be loaded: its recorded size does not match the file"),
              std::string::npos);
    EXPECT_EQ(result.out.find("reloaded."), std::string::npos) << result.out;
}

} // namespace
