// What a game draws reaches the pixels of its screenshots exactly: solids,
// the fallback for a missing image, pixel arrays and aligned labels, on the
// software renderer. (Render targets drawn as sprites are probed by the
// scene test.)
#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

// RGBA as a 0xAABBGGRR word, the layout pixel arrays use.
constexpr uint32_t rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}
const uint32_t keyed_background = rgba(40, 50, 60, 0), red = rgba(255, 0, 0), white = rgba(255, 255, 255),
               black = rgba(0, 0, 0);

// One run of the engine serves every probe.
TEST(RenderProbes, EveryKindOfDrawingLandsOnItsPixels) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_fixture("render_probes", {}, {{"SDL_RENDER_DRIVER", "software"}});
    Screenshot shot(sandbox.game_dir + "/probe.png");
    ASSERT_EQ(std::pair(shot.width, shot.height), std::pair(1280u, 720u)) << result.out << result.err;
    auto at = [&](int x, int y) { return rgba(shot.at(x, y)[0], shot.at(x, y)[1], shot.at(x, y)[2], shot.at(x, y)[3]); };

    // The missing image, drawn every frame, is reported once: to the log
    // file, standard output and the console.
    const std::string report = "* WARNING: The sprite =sprites/none.png= could not be loaded";
    EXPECT_EQ(count_of(read_file(sandbox.base_dir + "/logs/log.txt"), report), 1u);
    EXPECT_EQ(count_of(result.out, report), 1u) << result.out;
    EXPECT_NE(result.out.find("console reports: 1\n"), std::string::npos);

    // A solid has its colour exactly inside its rectangle; the background
    // around it took the key colour's alpha.
    for (int y = 20; y < 70; ++y)
        for (int x = 10; x < 110; ++x) ASSERT_EQ(at(x, y), rgba(10, 20, 30)) << x << "," << y;
    for (auto [x, y] : {std::pair{9, 20}, std::pair{110, 69}, std::pair{10, 19}, std::pair{109, 70}})
        EXPECT_EQ(at(x, y), keyed_background) << x << "," << y;

    // A missing image draws the checkerboard with its red border; texel
    // (tx, ty) of the 256 x 256 sprite at (200, 100).
    auto texel = [&](int tx, int ty) { return at(200 + tx, 100 + 255 - ty); };
    for (int i = 0; i < 256; i += 15) {
        EXPECT_EQ(texel(0, i), red) << i;
        EXPECT_EQ(texel(255, i), red) << i;
        EXPECT_EQ(texel(i, 0), red) << i;
        EXPECT_EQ(texel(i, 255), red) << i;
    }
    const struct { int tx, ty; uint32_t colour; } board[] = {
        {1, 1, black}, {15, 15, black}, {16, 1, white}, {1, 16, white}, {16, 16, black}, {200, 50, white}};
    for (auto b : board) EXPECT_EQ(texel(b.tx, b.ty), b.colour) << b.tx << "," << b.ty;

    // A pixel array comes back pixel for pixel, rows from the top.
    const uint32_t array[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(at(500 + i % 2, 101 - i / 2), array[i]) << i;
    EXPECT_EQ(at(502, 100), keyed_background);

    // Labels sit where their alignment puts them: first and last lit column
    // in [x0, x1) within rows [y0, y1).
    auto lit = [&](int x0, int x1, int y0, int y1) {
        std::pair<int, int> columns{-1, -1};
        for (int x = x0; x < x1; ++x)
            for (int y = y0; y < y1; ++y)
                if ((at(x, y) & 0xFF) > 128) {
                    if (columns.first < 0) columns.first = x;
                    columns.second = x;
                    break;
                }
        return columns;
    };
    auto [left_first, left_last] = lit(640, 760, 540, 601);
    auto [centre_first, centre_last] = lit(740, 860, 540, 601);
    auto [right_first, right_last] = lit(940, 1060, 540, 601);
    ASSERT_GE(std::min({left_first, centre_first, right_first}), 0) << "a label drew nothing";
    // Left: the ink starts just right of x. Right: it ends just left of x.
    EXPECT_GE(left_first, 700);
    EXPECT_LE(left_first, 710);
    EXPECT_LT(right_last, 1000);
    EXPECT_GE(right_last, 990);
    // Centred: the pen starts half an advance left of x. The advance and the
    // glyph's left bearing follow from the other two placements.
    const double bearing = left_first - 700, advance = 1000 + bearing - right_first;
    EXPECT_GT(advance, 5.0);
    EXPECT_NEAR(centre_first, 800 - advance / 2 + bearing, 1.0);
    EXPECT_EQ(centre_last - centre_first, left_last - left_first);
    // Nothing of the text line lies above its top edge.
    EXPECT_EQ(lit(640, 1060, 601, 640).first, -1);
}

// calcstringbox answers the box of the label that the same text, size and
// font draw: a label right-aligned at x + width lands where one left-aligned
// at x does, and the text's ink lies within the height. Before, sizes past
// the largest were measured at a size never drawn, a missing size or one
// below the smallest gave boxes of nothing or less, and a missing font
// raised.
TEST(TextBoxes, MeasuredBoxesAreTheBoxesOfTheLabelsDrawn) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_fixture("text_boxes", {}, {{"SDL_RENDER_DRIVER", "software"}});
    std::istringstream lines(read_file(sandbox.game_dir + "/boxes.txt"));
    std::vector<std::pair<int, int>> boxes;
    for (int w, h; lines >> w >> h;) boxes.emplace_back(w, h);
    ASSERT_EQ(boxes.size(), 6u) << result.out << result.err;
    // Below the smallest size a text measures as at the smallest.
    EXPECT_EQ(boxes[4], boxes[5]);
    EXPECT_TRUE(boxes[4].first >= 0 && boxes[4].second >= 1) << boxes[4].first << " " << boxes[4].second;
    Screenshot shot(sandbox.game_dir + "/boxes.png");
    ASSERT_EQ(shot.width, 1280u);
    for (int i = 0, top = 710; i < 4; top -= boxes[i++].second + 10) {
        // Lit columns of each half, and lit rows, in the case's band.
        const int h = boxes[i].second;
        int first[2] = {1280, 1280}, last[2] = {-1, -1}, low = 720, high = -1;
        for (int y = std::max(0, top - h - 9); y < std::min(720, top + 9); ++y)
            for (int x = 0; x < 1280; ++x)
                if (shot.at(x, y)[0] > 128) {
                    first[x >= 640] = std::min(first[x >= 640], x), last[x >= 640] = std::max(last[x >= 640], x);
                    low = std::min(low, y), high = std::max(high, y);
                }
        EXPECT_TRUE(first[1] - first[0] >= 600 && first[1] - first[0] <= 601) << i << ": " << first[0] << " " << first[1];
        EXPECT_TRUE(last[1] - last[0] >= 600 && last[1] - last[0] <= 601) << i << ": " << last[0] << " " << last[1];
        // The line hangs from its top.
        EXPECT_TRUE(high <= top && low >= top - h && high - low >= h * 6 / 10) << i << ": " << low << ".." << high;
    }
}

} // namespace
