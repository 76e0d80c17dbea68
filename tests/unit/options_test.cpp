#include "host/options.h"
#include "host/runtime_glue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

host_options parse(std::vector<std::string> words) {
    std::vector<char *> argv;
    static std::string program = "vellumcore";
    argv.push_back(program.data());
    for (std::string &w : words) argv.push_back(w.data());
    host_options options = parse_host_options((int)argv.size(), argv.data());
    // The game directory points into argv: copy it out before words go.
    static std::string game_dir;
    if (options.game_dir_argument) {
        game_dir = options.game_dir_argument;
        options.game_dir_argument = game_dir.c_str();
    }
    return options;
}

TEST(HostOptions, DashesAreStrippedAndLaterOptionsWin) {
    host_options o = parse({"-fullscreen", "---production", "--no-tick"});
    EXPECT_EQ(o.fullscreen, 1);
    EXPECT_EQ(o.production, 1);
    EXPECT_EQ(o.hidden_window, 1);
    EXPECT_EQ(o.game_dir_argument, nullptr);

    EXPECT_EQ(parse({"--fullscreen", "--windowed"}).fullscreen, 0);
    EXPECT_EQ(parse({"--windowed", "--fullscreen"}).fullscreen, 1);
    // Matching is exact and case-sensitive.
    EXPECT_EQ(parse({"--Production"}).production, 0);
    EXPECT_EQ(parse({"--productions"}).production, 0);
}

TEST(HostOptions, GameDirectoryIsTheFirstPlainArgumentThatIsNoOptionValue) {
    EXPECT_STREQ(parse({"games/one", "games/two"}).game_dir_argument, "games/one");
    // "-psn..." is ignored entirely and takes no value.
    host_options psn = parse({"-psn_0_12345", "games/one"});
    EXPECT_STREQ(psn.game_dir_argument, "games/one");
    EXPECT_EQ(parse({"-psn_0_12345"}).game_dir_argument, nullptr);
    // A runtime option's value is not the game directory.
    EXPECT_EQ(parse({"--window_width", "800"}).game_dir_argument, nullptr);
    EXPECT_STREQ(parse({"--window_width", "800", "games/one"}).game_dir_argument, "games/one");
    EXPECT_STREQ(parse({"games/one", "--window_width", "800"}).game_dir_argument, "games/one");
    // Host flags take no value...
    EXPECT_STREQ(parse({"--production", "games/one"}).game_dir_argument, "games/one");
    // ...except "test", whose value names the test file.
    host_options test = parse({"--test", "app/tests.rb"});
    EXPECT_EQ(test.hidden_window, 1);
    EXPECT_EQ(test.game_dir_argument, nullptr);
}

TEST(RuntimeGlue, LogicalSizeKeepsPhoneWindowsOnTheWideScreenGrid) {
    struct {
        int w, h, lw, lh;
    } cases[] = {{1280, 720, 1280, 720}, {667, 375, 1280, 720}, {375, 667, 720, 1280},
                 {1000, 500, 1000, 500}, {896, 896, 1280, 720}, {500, 1000, 500, 1000}};
    for (auto c : cases) {
        int32_t lw = 0, lh = 0;
        logical_size_for_window(c.w, c.h, &lw, &lh);
        EXPECT_EQ(lw, c.lw) << c.w << "x" << c.h;
        EXPECT_EQ(lh, c.lh) << c.w << "x" << c.h;
    }
}

} // namespace
