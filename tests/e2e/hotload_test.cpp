// Saving the game's code while it runs, as an author does: the engine loads
// each save (of its main file and of a file it requires) into the running
// game, backs it up, runs the mailbox once, and pauses on a save that does
// not load until a fixed one arrives.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Writes what the game runs every tick: its code's version, the tick and
// how often the mailbox ran; and what its required helper answers.
std::string game_source(const std::string &version, const std::string &extra = "") {
    return "require 'app/helper.rb'\ndef tick(args)\n  $qmx.suppress_mailbox = false\n  $qmx.write_file('helper.txt', helper)\n"
           "  $qmx.write_file('seen.txt', \"" + version + " #{Kernel.tick_count} #{$mail.to_i}\")\nend\n" + extra;
}

TEST(HotReload, SavesLoadIntoTheRunningGameAndABrokenOnePausesIt) {
    EngineSandbox sandbox;
    const std::string dir = sandbox.game_dir + "/";
    sandbox.write_game_file("app/main.rb", game_source("v1"));
    sandbox.write_game_file("app/helper.rb", "def helper = 'h1'\n");
    const fs::file_time_type first = fs::last_write_time(dir + "app/main.rb");
    int later = 0;
    // Times have one-second resolution: each save is stamped seconds later.
    auto save = [&](const std::string &relative, const std::string &text) {
        write_file(dir + relative, text);
        fs::last_write_time(dir + relative, first + std::chrono::seconds(later += 5));
    };
    // The game rewrites the file every tick: a read that meets it just
    // emptied is taken again.
    auto seen = [&] {
        std::string text = read_file(dir + "seen.txt");
        for (int i = 0; i < 50 && text.empty(); ++i) {
            std::this_thread::sleep_for(milliseconds(5));
            text = read_file(dir + "seen.txt");
        }
        return text;
    };
    auto runs = [&](const std::string &version) {
        return wait_until([&] { return seen().rfind(version + " ", 0) == 0; }, 8);
    };
    auto reported = [&](const std::string &text) {
        const std::string current = sandbox.base_dir + "/exceptions/current.txt";
        return wait_until([&] { return read_file(current).find(text) != std::string::npos; }, 8);
    };
    // Paused: the tick count stands still.
    auto paused = [&] {
        std::string before = seen();
        std::this_thread::sleep_for(milliseconds(400));
        return seen() == before;
    };

    EngineProcess process = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(wait_until([&] { return seen().rfind("v1 ", 0) == 0; }, 30));
    save("app/main.rb", game_source("v2"));
    EXPECT_TRUE(runs("v2"));
    std::this_thread::sleep_for(milliseconds(1200));
    save("app/main.rb", game_source("v3"));
    EXPECT_TRUE(runs("v3"));
    // A required file changes too.
    save("app/helper.rb", "def helper = 'h2'\n");
    EXPECT_TRUE(wait_until([&] { return read_file(dir + "helper.txt") == "h2"; }, 8)) << read_file(dir + "helper.txt");

    const std::string mail = "$mail = $mail.to_i + 1";
    save("app/mailbox.rb", mail);
    EXPECT_TRUE(wait_until([&] { std::string s = seen(); return !s.empty() && s.back() == '1'; }, 8)) << seen();
    EXPECT_FALSE(paused());
    EXPECT_EQ(seen().back(), '1');
    EXPECT_EQ(read_file(dir + "app/mailbox.rb"), "");
    std::vector<std::string> processed;
    for (const auto &entry : fs::directory_iterator(dir + "app/mailbox-processed"))
        processed.push_back(read_file(entry.path().string()));
    EXPECT_EQ(processed, std::vector<std::string>{mail});

    save("app/main.rb", game_source("v4", "raise 'broken on purpose'\n"));
    EXPECT_TRUE(reported("broken on purpose"));
    EXPECT_TRUE(paused());
    save("app/main.rb", "def tick(args)\n");
    EXPECT_TRUE(reported("syntax error"));
    EXPECT_TRUE(paused());
    save("app/main.rb", game_source("v5"));
    EXPECT_TRUE(runs("v5"));
    EXPECT_FALSE(paused());

    engine_result result = process.stop();
    // v2, v3 and v5 were reloaded; the save that raised was not.
    const std::string reloaded = "* INFO: =app/main.rb= reloaded. (";
    size_t failure = result.out.find("broken on purpose");
    EXPECT_EQ(result.out.find(reloaded, failure), result.out.rfind(reloaded)) << result.out;
    EXPECT_NE(result.out.find(reloaded, result.out.find(reloaded) + 1), result.out.rfind(reloaded));
    EXPECT_NE(result.out.find("* INFO: =app/helper.rb= reloaded."), std::string::npos) << result.out;
    // The accepted changes were backed up.
    EXPECT_TRUE(file_exists(sandbox.base_dir + "/tmp/src_backup/src_backup_app_helper.rb"));
}

// File times may count whole seconds: saves that share a second, and a
// broken save and its fix, must all load; so must a save with a byte-order
// mark. Only "app/mailbox.rb" is the mailbox: a game file named like it is
// code like any other, loaded where it is and never emptied.
TEST(HotReload, SavesWithinOneSecondAllLoadAndOnlyTheGamesMailboxIsMail) {
    EngineSandbox sandbox;
    const std::string dir = sandbox.game_dir + "/";
    auto source = [](const std::string &version) {
        return "require 'app/ui/mailbox.rb'\ndef tick(args)\n  $qmx.write_file('seen.txt', \"" + version + " #{ui}\")\nend\n";
    };
    sandbox.write_game_file("app/main.rb", source("v1"));
    sandbox.write_game_file("app/ui/mailbox.rb", "def ui = 'u1'\n");
    // Whole seconds well apart from the real clock's, stamped on each save.
    const fs::file_time_type second = std::chrono::time_point_cast<seconds>(
        fs::last_write_time(dir + "app/main.rb") + seconds(100));
    auto save = [&](const std::string &relative, const std::string &text, fs::file_time_type at) {
        write_file(dir + relative, text);
        fs::last_write_time(dir + relative, at);
    };
    auto runs = [&](const std::string &start) {
        return wait_until([&] { return read_file(dir + "seen.txt").rfind(start, 0) == 0; }, 8);
    };

    EngineProcess process = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(runs("v1 u1"));
    save("app/main.rb", "\xEF\xBB\xBF" + source("bom"), second);
    EXPECT_TRUE(runs("bom "));
    // Twenty saves 0.15 s apart, spanning several scans, within one second.
    for (int i = 1; i <= 20; ++i) {
        save("app/main.rb", source("burst" + std::to_string(i)), second + seconds(10) + milliseconds(45 * i));
        std::this_thread::sleep_for(milliseconds(150));
    }
    EXPECT_TRUE(runs("burst20 "));
    save("app/main.rb", "def tick(args)\n", second + seconds(20) + milliseconds(100));
    EXPECT_TRUE(wait_until([&] { return read_file(sandbox.base_dir + "/exceptions/current.txt").find("syntax error") !=
                                        std::string::npos; }, 8));
    save("app/main.rb", source("fixed"), second + seconds(20) + milliseconds(600));
    EXPECT_TRUE(runs("fixed "));
    save("app/ui/mailbox.rb", "def ui = 'u2'\n", second + seconds(30));
    EXPECT_TRUE(runs("fixed u2"));
    EXPECT_EQ(read_file(dir + "app/ui/mailbox.rb"), "def ui = 'u2'\n");
    process.stop();
}

} // namespace
