// What a game draws reaches the pixels of its screenshots exactly: solids,
// the fallback for a missing image, pixel arrays, aligned labels and render
// targets, on the software renderer.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdint>
#include <vector>

namespace {

// RGBA as a 0xAABBGGRR word, the layout pixel arrays use.
constexpr uint32_t rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}

// A logical-size screenshot addressed as the game sees it: origin at the
// bottom left.
struct Screenshot {
    std::vector<unsigned char> pixels;
    unsigned width = 0, height = 0;
    bool load(const std::string &path) { return lodepng::decode(pixels, width, height, path) == 0; }
    uint32_t at(int x, int y) const {
        size_t i = ((size_t)(height - 1 - y) * width + x) * 4;
        return pixels[i] | pixels[i + 1] << 8 | pixels[i + 2] << 16 | (uint32_t)pixels[i + 3] << 24;
    }
    // First and last column in [x0, x1) with a lit pixel in rows [y0, y1).
    void lit_columns(int x0, int x1, int y0, int y1, int *first, int *last) const {
        *first = *last = -1;
        for (int x = x0; x < x1; ++x)
            for (int y = y0; y < y1; ++y)
                if ((at(x, y) & 0xFF) > 128) {
                    if (*first < 0) *first = x;
                    *last = x;
                    break;
                }
    }
};

const uint32_t keyed_background = rgba(40, 50, 60, 0);

// One run of the engine serves every probe.
TEST(RenderProbes, EveryKindOfDrawingLandsOnItsPixels) {
    EngineSandbox sandbox;
    sandbox.use_fixture("render_probes");
    engine_result result = sandbox.run({sandbox.game_dir}, 40, {{"SDL_RENDER_DRIVER", "software"}});
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    Screenshot shot;
    ASSERT_TRUE(shot.load(sandbox.game_dir + "/probe.png")) << result.out << result.err;
    ASSERT_EQ(shot.width, 1280u);
    ASSERT_EQ(shot.height, 720u);

    {
        SCOPED_TRACE("a solid has its colour exactly inside its rectangle");
        for (int y = 20; y < 70; ++y)
            for (int x = 10; x < 110; ++x) ASSERT_EQ(shot.at(x, y), rgba(10, 20, 30)) << x << "," << y;
        // The background around it took the key colour's alpha.
        EXPECT_EQ(shot.at(9, 20), keyed_background);
        EXPECT_EQ(shot.at(110, 69), keyed_background);
        EXPECT_EQ(shot.at(10, 19), keyed_background);
        EXPECT_EQ(shot.at(109, 70), keyed_background);
        EXPECT_EQ(shot.at(640, 700), keyed_background);
    }
    {
        SCOPED_TRACE("a missing image draws the checkerboard with its red border");
        // Texture pixel (tx, ty) of the 256 x 256 sprite at (200, 100).
        auto texel = [&](int tx, int ty) { return shot.at(200 + tx, 100 + 255 - ty); };
        const uint32_t red = rgba(255, 0, 0), white = rgba(255, 255, 255), black = rgba(0, 0, 0);
        for (int i = 0; i < 256; i += 15) {
            EXPECT_EQ(texel(0, i), red) << i;
            EXPECT_EQ(texel(255, i), red) << i;
            EXPECT_EQ(texel(i, 0), red) << i;
            EXPECT_EQ(texel(i, 255), red) << i;
        }
        EXPECT_EQ(texel(1, 1), black);
        EXPECT_EQ(texel(15, 15), black);
        EXPECT_EQ(texel(16, 1), white);
        EXPECT_EQ(texel(1, 16), white);
        EXPECT_EQ(texel(16, 16), black);
        EXPECT_EQ(texel(200, 50), white);
    }
    {
        SCOPED_TRACE("a pixel array comes back pixel for pixel, rows from the top");
        EXPECT_EQ(shot.at(500, 101), 0xFF0000FFu);
        EXPECT_EQ(shot.at(501, 101), 0xFF00FF00u);
        EXPECT_EQ(shot.at(500, 100), 0xFFFF0000u);
        EXPECT_EQ(shot.at(501, 100), 0xFFFFFFFFu);
        EXPECT_EQ(shot.at(502, 100), keyed_background);
        EXPECT_EQ(shot.at(500, 102), keyed_background);
    }
    {
        SCOPED_TRACE("labels sit where their alignment puts them");
        int first[3], last[3];
        const int anchors[3] = {700, 800, 1000};
        for (int i = 0; i < 3; ++i) {
            shot.lit_columns(anchors[i] - 60, anchors[i] + 60, 540, 601, &first[i], &last[i]);
            ASSERT_GE(first[i], 0) << "label " << i << " drew nothing";
        }
        // Left: the ink starts just right of x. Right: it ends just left of x.
        EXPECT_GE(first[0], 700);
        EXPECT_LE(first[0], 710);
        EXPECT_LT(last[2], 1000);
        EXPECT_GE(last[2], 990);
        // Centred: the pen starts half an advance left of x. The advance and
        // the glyph's left bearing follow from the other two placements.
        const double bearing = first[0] - 700, advance = 1000 + bearing - first[2];
        EXPECT_GT(advance, 5.0);
        EXPECT_NEAR(first[1], 800 - advance / 2 + bearing, 1.0);
        EXPECT_EQ(last[1] - first[1], last[0] - first[0]);
        // Nothing of the text line lies above its top edge.
        int above_first, above_last;
        shot.lit_columns(640, 1060, 601, 640, &above_first, &above_last);
        EXPECT_EQ(above_first, -1);
    }
    {
        SCOPED_TRACE("a render target shows its contents through its sprite");
        for (int y = 100; y < 120; ++y) {
            EXPECT_EQ(shot.at(900, y), rgba(200, 0, 0)) << y;
            EXPECT_EQ(shot.at(909, y), rgba(200, 0, 0)) << y;
            // The right half of the target is transparent.
            EXPECT_EQ(shot.at(910, y), keyed_background) << y;
        }
        EXPECT_EQ(shot.at(899, 110), keyed_background);
    }
}

} // namespace
