// The console's menu met with the mouse: real key and mouse events through
// the scripted-player build, on a game whose origin is the screen's centre.
#include "scripted_player.h"

#include <gtest/gtest.h>

namespace {

// "show menu" hangs from the top right, at x 1055 to 1155 and 5 to 55 below
// the top of a 1280 x 720 screen; "hide menu" takes its place once the menu
// is shown. Clicks are given in hundredths of the window.
TEST(ConsoleMenu, ButtonsStayOnTheScreenAndTakeClicksWithTheOriginAtTheCentre) {
    ScriptedPlayer player("console_menu");
    player.play("20 key_down 96 0\n20 text `\n21 key_up 96 0\n"
                "30 mouse_move 86.3% 4.2%\n32 mouse_down 1\n33 mouse_up 1\n"
                "40 mouse_down 1\n41 mouse_up 1\n"
                "50 mouse_move 50% 50%\n52 mouse_down 1\n53 mouse_up 1\n60 quit\n");
    const std::vector<std::string> expected = {
        "menu 0 buttons  on screen: true",           // the console is closed
        "menu 1 buttons show menu on screen: true",  // it opens collapsed
        "menu 11 buttons scroll up on screen: true", // "show menu" was clicked
        "menu 1 buttons show menu on screen: true",  // "hide menu" was clicked
        "game click"};                               // a click beside the menu is the game's
    EXPECT_EQ(player.lines, expected) << player.result.out;
}

} // namespace
