// A game's outputs reach the screen: a scene written as hashes, arrays,
// attr_sprite objects, mixed and static collections and a render target is
// screenshotted and probed pixel by pixel.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

// Pixels in the rectangle within `tolerance` of the colour.
int count(const Screenshot &shot, int x, int y, int w, int h, rgb c, int tolerance = 8) {
    int n = 0;
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx) n += near(shot.colour(xx, yy), c, tolerance);
    return n;
}

::testing::AssertionResult looks(const Screenshot &shot, int x, int y, rgb want, int tolerance = 4) {
    rgb got = shot.colour(x, y);
    if (near(got, want, tolerance)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << x << ", " << y << ") got " << got[0] << "," << got[1] << "," << got[2];
}

const rgb background{40, 40, 40};

TEST(Scene, EveryWayOfWritingPrimitivesLandsAtItsPixelsInOrder) {
    EngineSandbox sandbox;
    engine_result r = sandbox.run_fixture("scene", {}, {{"SDL_RENDER_DRIVER", "software"}});
    Screenshot shot(sandbox.game_dir + "/shot.png");
    ASSERT_TRUE(shot.width == 1280 && shot.height == 720) << r.err;

    EXPECT_TRUE(looks(shot, 640, 20, background));
    // Solids: a hash, an array inside an array beside a nil, a static one
    // pushed on the first tick only.
    EXPECT_TRUE(looks(shot, 150, 150, {200, 30, 30}));
    EXPECT_TRUE(looks(shot, 300, 150, {30, 200, 30}));
    EXPECT_TRUE(looks(shot, 450, 150, {30, 30, 200}));
    // Sprites draw over solids, lines over sprites.
    EXPECT_TRUE(looks(shot, 575, 150, {220, 220, 30}));
    EXPECT_TRUE(looks(shot, 650, 150, {30, 220, 220}));
    EXPECT_GE(count(shot, 600, 128, 90, 5, {0, 0, 255}, 2), 80);
    // An attr_sprite object and a sprite array, both tinted.
    EXPECT_TRUE(looks(shot, 140, 340, {30, 110, 220}, 6));
    EXPECT_TRUE(looks(shot, 290, 340, {30, 220, 110}, 6));
    // Mixed primitives: a marked hash, a marked array, a hash naming its kind.
    EXPECT_TRUE(looks(shot, 440, 340, {200, 100, 0}));
    EXPECT_TRUE(looks(shot, 590, 340, {100, 0, 200}));
    EXPECT_GE(count(shot, 698, 300, 4, 80, {250, 250, 250}), 70);
    EXPECT_TRUE(looks(shot, 740, 340, background));
    // Lines as a hash and as an array; a border array leaves its inside alone.
    EXPECT_GE(count(shot, 110, 498, 180, 5, {250, 120, 200}, 2), 170);
    EXPECT_GE(count(shot, 110, 538, 180, 5, {120, 250, 200}, 2), 170);
    EXPECT_GE(count(shot, 398, 450, 4, 100, {250, 250, 60}), 90);
    EXPECT_TRUE(looks(shot, 450, 500, background));
    // Labels as a hash and as an array with enums: white text in its box.
    EXPECT_GE(count(shot, 590, 480, 250, 100, {255, 255, 255}, 40), 150);
    EXPECT_GE(count(shot, 890, 480, 250, 100, {255, 255, 255}, 40), 150);
    EXPECT_EQ(count(shot, 590, 380, 250, 90, {255, 255, 255}, 40), 0);
    // The render target filled this frame shows through its sprite: its
    // left half magenta, its right half transparent.
    EXPECT_TRUE(looks(shot, 925, 150, {250, 0, 250}));
    EXPECT_TRUE(looks(shot, 975, 150, background));
}

TEST(SavedState, LoadsBackWhatWasSavedAndRefusesCode) {
    EngineSandbox sandbox;
    sandbox.run_fixture("saved_state");
    EXPECT_EQ(read_file(sandbox.game_dir + "/result.txt"),
              "[true, true, 3, \"quote \\\" and \\#{interpolation}\", true]\nFailed to eval: \n");
    for (const auto &entry : std::filesystem::recursive_directory_iterator(sandbox.root))
        EXPECT_EQ(entry.path().filename().string().find("pwned"), std::string::npos) << entry.path();
}

} // namespace
