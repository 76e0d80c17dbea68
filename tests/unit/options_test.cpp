// Host options (runtime option values and "-psn" are checked end to end)
// and the logical size a window gets.
#include "host/options.h"
#include "host/runtime_glue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// flags: fullscreen, production, hidden window; then the game directory.
std::string parse(std::vector<std::string> words) {
    std::vector<char *> argv = {(char *)"vellumcore"};
    for (std::string &w : words) argv.push_back(w.data());
    host_options o = parse_host_options((int)argv.size(), argv.data());
    return std::to_string(o.fullscreen) + std::to_string(o.production) + std::to_string(o.hidden_window) + " " +
           (o.game_dir_argument ? o.game_dir_argument : "-");
}

TEST(HostOptions, DashesAreStrippedLaterOptionsWinAndOnlyValueOptionsTakeTheNextWord) {
    const struct { std::vector<std::string> words; const char *parsed; } cases[] = {
        {{"-fullscreen", "---production", "--no-tick"}, "111 -"},
        {{"--fullscreen", "--windowed"}, "000 -"},
        {{"--windowed", "--fullscreen", "games/one", "games/two"}, "100 games/one"},
        {{"--Production", "--productions"}, "000 -"}, // exact and case-sensitive
        {{"--production", "games/one"}, "010 games/one"},
        {{"games/one", "--window_width", "800"}, "000 games/one"},
        {{"--window_width", "800", "games/one"}, "000 games/one"},
        {{"--test", "app/tests.rb"}, "001 -"}, // test's value names the test file
    };
    for (auto c : cases) EXPECT_EQ(parse(c.words), c.parsed) << c.words[0];
}

TEST(RuntimeGlue, LogicalSizeKeepsPhoneWindowsOnTheWideScreenGrid) {
    const struct { int w, h, lw, lh; } cases[] = {
        {375, 667, 720, 1280}, {667, 375, 1280, 720}, {896, 896, 1280, 720}, {500, 1000, 500, 1000}};
    for (auto c : cases) {
        int32_t lw = 0, lh = 0;
        logical_size_for_window(c.w, c.h, &lw, &lh);
        EXPECT_EQ(std::pair(lw, lh), std::pair(c.lw, c.lh)) << c.w << "x" << c.h;
    }
}

} // namespace
