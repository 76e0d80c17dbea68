// The developer console as a developer meets it: the backtick key and typed
// text arrive as SDL events through the scripted-player build, and the
// game's screenshots show the panel sliding down, the prompt, the logo, and
// a tick redefined at the prompt.
#include "scripted_player.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

TEST(Console, OpensOnBacktickSlidesDownAndRunsWhatIsTyped) {
    ScriptedPlayer player("console");
    player.play("50 key_down 96 0\n50 text `\n51 key_up 96 0\n55 text 1 + 1\n70 key_down 13 0\n71 key_up 13 0\n"
                "75 text def tick args; paint args, [0, \n75 text 160, 0]; direct args; end\n"
                "80 key_down 13 0\n81 key_up 13 0\n85 key_down 96 0\n86 key_up 96 0\n");
    const std::string &out = player.result.out, game_dir = player.sandbox.game_dir;
    EXPECT_NE(out.find("-> 1 + 1\n=> 2\n"), std::string::npos) << out;

    // The notification's logo at full alpha, 40 x 40 at (10, 0), shows the
    // logo's own tile colour, not the missing-image checkerboard.
    Screenshot logo(player.sandbox.base_dir + "/console-logo.png"), notice(game_dir + "/notice.png");
    ASSERT_EQ(logo.width, 100u);
    ASSERT_EQ(notice.width, 1280u);
    EXPECT_TRUE(near(notice.colour(16, 19), logo.colour(16, 48))); // its texel (16, 51) from the top

    // 15 of 60 frames into the slide the panel is 1 - 0.75^6 down: its lower
    // edge at y 128.1, black at alpha 184 over the game's grey.
    Screenshot open(game_dir + "/open.png");
    const rgb grey{200, 200, 200}, panel{56, 56, 56};
    EXPECT_TRUE(near(open.colour(1277, 126), grey));
    for (int y : {131, 300, 700}) EXPECT_TRUE(near(open.colour(1277, y), panel)) << y;
    // The prompt "-> 1 + 1" sits on the panel's lower edge, left aligned,
    // with the red cursor right after it.
    auto white = [&](int x, int y) { return open.at(x, y)[1] > 200; };
    auto red = [&](int x, int y) { return open.at(x, y)[0] > 150 && open.at(x, y)[1] < 60; };
    int lit_first = -1, lit_last = -1, cursor = -1;
    for (int x = 0; x < 400; ++x)
        for (int y = 130; y < 160; ++y) {
            if (red(x, y) && cursor < 0) cursor = x;
            if (white(x, y)) {
                if (lit_first < 0) lit_first = x;
                lit_last = x;
                break;
            }
        }
    EXPECT_GE(lit_first, 10);
    EXPECT_LE(lit_first, 14);
    EXPECT_GT(lit_last, lit_first + 30);
    EXPECT_LT(lit_last, 120);
    EXPECT_GT(cursor, lit_last);
    EXPECT_LT(cursor, lit_last + 6);

    // The tick typed at the prompt paints green; the console has closed.
    Screenshot after(game_dir + "/after.png");
    for (auto [x, y] : {std::pair{640, 360}, std::pair{1277, 300}, std::pair{20, 20}})
        EXPECT_TRUE(near(after.colour(x, y), rgb{0, 160, 0})) << x << "," << y;
}

// A main file that does not load leaves the game without a tick, and the
// console is where the author reads why: it opens by itself with the error
// and takes commands, here one that takes a screenshot of it.
TEST(Console, OpensWithTheErrorWhenTheMainFileFailsToLoadAtStartUp) {
    ScriptedPlayer player("console");
    player.sandbox.write_game_file("app/main.rb", "def tick(args)\n  x = (\nend\n");
    // Escape first: the prompt offers the command that resets the game.
    player.play("97 key_down 27 0\n98 key_up 27 0\n100 text $args.outputs.screenshots << \n100 text { x: 0, y: 0, w: 1280, \n"
                "100 text h: 720, path: \"report.png\" }\n101 key_down 13 0\n102 key_up 13 0\n110 quit\n");
    Screenshot shot(player.sandbox.game_dir + "/report.png");
    ASSERT_EQ(shot.width, 1280u) << player.result.out;
    // The report's lines are drawn in the console's error red.
    int red = 0;
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            if (shot.at(x, y)[0] > 150 && shot.at(x, y)[1] < 90) ++red;
    EXPECT_GT(red, 200);
}

// "show menu" hangs from the top right, at x 1055 to 1155 and 5 to 55 below
// the top of a 1280 x 720 screen; "hide menu" takes its place once the menu
// is shown. In a game with its origin at the centre the buttons stay on the
// screen and take the clicks (given in hundredths of the window).
TEST(ConsoleMenu, ButtonsStayOnTheScreenAndTakeClicksWithTheOriginAtTheCentre) {
    ScriptedPlayer player("console_menu");
    player.play("20 key_down 96 0\n20 text `\n21 key_up 96 0\n30 mouse_move 86.3% 4.2%\n32 mouse_down 1\n33 mouse_up 1\n"
                "40 mouse_down 1\n41 mouse_up 1\n50 mouse_move 50% 50%\n52 mouse_down 1\n53 mouse_up 1\n60 quit\n");
    EXPECT_EQ(player.story(), "menu 0 buttons  on screen: true | menu 1 buttons show menu on screen: true"
                              " | menu 11 buttons scroll up on screen: true | menu 1 buttons show menu on screen: true"
                              " | game click")
        << player.result.out;
}

} // namespace
