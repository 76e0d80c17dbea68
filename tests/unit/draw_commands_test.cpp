// The render-command interpreter on the software renderer: hand-built frame
// streams in, pixels and files out.
#include "render_support.h"

#include "render/drawing.h"
#include "render/fontatlas.h"
#include "render/image.h"

#include <lodepng.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

using namespace render_support;

// Opening a browser is the one effect a test cannot observe on screen: this
// binary answers SDL_OpenURL itself and records the URLs.
std::vector<std::string> opened_urls;
extern "C" int SDL_OpenURL(const char *url) {
    opened_urls.push_back(url ? url : "(null)");
    return 0;
}

namespace {

struct png_file {
    std::vector<unsigned char> bytes;
    unsigned width = 0, height = 0;
    bool load(const std::string &name) {
        bytes.clear(); // decoding appends
        return lodepng::decode(bytes, width, height, vfs_dir() + "/" + name) == 0;
    }
    uint32_t at(unsigned x, unsigned y) const {
        const unsigned char *p = &bytes[(y * width + x) * 4];
        return rgba(p[0], p[1], p[2], p[3]);
    }
};

class DrawCommands : public RenderTest {};

TEST_F(DrawCommands, TopLevelWordsEndOrPassOverAsTheFormatSays) {
    // Before any grid is set, every rectangle maps to nothing.
    run(build().passes(1).pass(nullptr, W, H).solid(0, 0, W, H, rgba(255, 0, 0)).end_pass());
    EXPECT_EQ(screen_pixel(W / 2, H / 2), rgba(0, 0, 0));
    set_bottom_left_grid();
    // A drawing command at the top level ends the frame: the grid after it
    // is not applied.
    run(build().solid(0, 0, 10, 10, rgba(1, 2, 3)).set_grid(5, 5, 1));
    EXPECT_EQ(context->grid_origin_x, 0);
    // Zero passes consume exactly the two header fields; inside a pass a
    // stray word is passed over alone; of two screen passes the last remains.
    threadstream *f = run(build().passes(0).passes(2).pass(nullptr, W, H).word(RENDER_CMD_SET_GRID)
        .solid(0, 0, 4, 4, rgba(9, 8, 7)).end_pass().pass(nullptr, W, H, rgba(0, 0, 255)).solid(0, 0, 2, 2, rgba(9, 8, 7))
        .end_pass().set_grid(1, H, -1));
    EXPECT_EQ(f->error, 0);
    expect_pixels({{0, H - 1, rgba(9, 8, 7)}, {3, H - 4, rgba(0, 0, 255)}});
    EXPECT_EQ(context->grid_origin_x, 1);
    // Trailing bytes too short for a word mark the frame as damaged.
    frame_builder b = build().word(RENDER_CMD_NOP);
    b.s->write_pos += 2;
    EXPECT_EQ(run(b)->error, 1);
    // Cut off between commands, or inside a command's fields, the frame
    // leaves the screen bound and its origin restored.
    set_bottom_left_grid();
    for (frame_builder b : {build().passes(1).pass("cut", 16, 16).solid(0, 0, 4, 4, rgba(1, 1, 1)),
                            build().passes(1).pass("cut", 16, 16).word(RENDER_CMD_SOLID).f(0)}) {
        EXPECT_EQ(run(b)->error, 1);
        EXPECT_TRUE(SDL_GetRenderTarget(context->renderer) == nullptr && context->grid_origin_y == H);
    }
}

TEST_F(DrawCommands, RenderTargetsAreCachedByNameAndKeepACentredGrid) {
    set_bottom_left_grid();
    run(build().passes(2).pass("rt", 40, 30, rgba(0, 255, 0)).solid(0, 0, 10, 10, rgba(255, 0, 0)).end_pass()
        .pass(nullptr, W, H).sprite("rt", 100, 50, 40, 30).end_pass());
    // The target's own origin is its bottom left; the sprite shows it there.
    expect_pixels({{0, 29, rgba(255, 0, 0)}}, "rt");
    expect_pixels({{100, H - 51, rgba(255, 0, 0)}, {139, H - 80, rgba(0, 255, 0)}, {99, H - 80, rgba(0, 0, 0)}});
    // A new size makes a new texture; unloading drops it.
    run(build().passes(1).pass("rt", 20, 20, rgba(0, 0, 255)).end_pass());
    int tw = 0;
    SDL_QueryTexture(texture("rt"), nullptr, nullptr, &tw, nullptr);
    EXPECT_EQ(tw, 20);
    run(build().text_command(RENDER_CMD_UNLOAD_SPRITE, "rt"));
    EXPECT_EQ(texture("rt"), nullptr);

    // A centred grid survives passes into render targets, in this frame and
    // the next one, which sets no grid. Inside a target both axes start at
    // its bottom-left corner.
    run(build().set_grid(W / 2, H / 2, -1).passes(2).pass("rt", 20, 20).solid(0, 0, 5, 5, rgba(255, 0, 0)).end_pass()
        .pass(nullptr, W, H).solid(-10, -10, 20, 20, rgba(0, 255, 0)).end_pass());
    expect_pixels({{W / 2 - 10, H / 2 - 10, rgba(0, 255, 0)}, {W / 2 + 10, H / 2 + 10, rgba(0, 0, 0)}});
    expect_pixels({{0, 19, rgba(255, 0, 0)}, {4, 15, rgba(255, 0, 0)}, {5, 19, rgba(0, 0, 0)}, {0, 14, rgba(0, 0, 0)}},
                  "rt");
    run(build().passes(2).pass("rt", 20, 20).end_pass().pass(nullptr, W, H).solid(0, 0, 4, 4, rgba(9, 9, 9)).end_pass());
    EXPECT_EQ(screen_pixel(W / 2, H / 2 - 4), rgba(9, 9, 9));
}

TEST_F(DrawCommands, StaleFramesKeepOnlyWorkThatMustNotBeLostAndReplaysRepeatNoOneShotCommand) {
    set_bottom_left_grid();
    run(build().set_grid(2, H, -1).upload("px", 1, 1, {rgba(1, 2, 3)}).passes(3)
            .pass("kept", 8, 8, rgba(0, 255, 0)).end_pass()
            .pass("transient", 8, 8, rgba(0, 0, 255), true).end_pass()
            .pass(nullptr, W, H, rgba(255, 0, 0)).end_pass(), 1, 0);
    EXPECT_TRUE(context->grid_origin_x == 2 && texture("px"));
    expect_pixels({{1, 1, rgba(0, 255, 0)}}, "kept");
    EXPECT_NE(pixel_of(texture("transient"), 1, 1), rgba(0, 0, 255));
    EXPECT_NE(screen_pixel(1, 1), rgba(255, 0, 0));

    opened_urls.clear();
    frame_builder b = build().set_grid(3, H, -1).text_command(RENDER_CMD_OPEN_URL, "https://example.invalid/")
        .upload("px2", 1, 1, {rgba(1, 2, 3)}).passes(1).pass(nullptr, W, H, rgba(0, 0, 255)).end_pass();
    run(b, 0, 1);
    EXPECT_TRUE(context->grid_origin_x == 2 && opened_urls.empty() && !texture("px2"));
    EXPECT_EQ(screen_pixel(1, 1), rgba(0, 0, 255));
    run(b);
    EXPECT_EQ(context->grid_origin_x, 3);
    EXPECT_EQ(opened_urls, std::vector<std::string>{"https://example.invalid/"});
}

TEST_F(DrawCommands, SpriteSourceAndTileRectanglesPickThePixels) {
    set_bottom_left_grid();
    // A 64 x 64 image whose pixel (x, y) encodes its own position.
    std::vector<uint32_t> image(64 * 64);
    for (int i = 0; i < 64 * 64; ++i) image[i] = rgba(i % 64 * 4, i / 64 * 4, 100);
    const float source[4] = {0, 10, 32, 16}, tile[4] = {5, 6, 8, 8}, beyond[4] = {64, 0, 8, 8};
    run(build().upload("img", 64, 64, image).passes(1).pass(nullptr, W, H)
        .sprite("img", 0, H - 16, 32, 16, nullptr, source).sprite("img", 100, H - 8, 8, 8, tile)
        .sprite("img", 250, H - 8, 8, 8, nullptr, beyond).sprite("img", 150, H - 64, 64, 64, nullptr, nullptr, 1)
        .end_pass());
    // Source rectangles count from the bottom: 64 - 10 - 16 = 38 rows down.
    // Tile rectangles count from the top; a source starting at the image's
    // width draws nothing; the last sprite is flipped horizontally.
    expect_pixels({{0, 0, image[38 * 64 + 0]}, {31, 15, image[53 * 64 + 31]}, {100, 0, image[6 * 64 + 5]},
                   {107, 7, image[13 * 64 + 12]}, {250, 0, rgba(0, 0, 0)}, {150, 0, image[63]}});
}

// (The checkerboard's pattern is probed end to end; here: when it is used.)
TEST_F(DrawCommands, MissingImagesDrawTheFallbackAndAreTriedAgain) {
    set_bottom_left_grid();
    write_file(vfs_dir() + "/late.png", "");
    run(build().passes(1).pass("board", 256, 256).sprite(nullptr, 0, 0, 256, 256).sprite("late.png", 0, 0, 16, 16)
        .end_pass());
    expect_pixels({{100, 255, rgba(255, 0, 0)}}, "board"); // the fallback's border
    EXPECT_EQ(texture("late.png"), nullptr);

    // Once the file is a real image, the next command with its path loads it.
    const uint8_t pixel[4] = {0, 0, 255, 255};
    size_t size = 0;
    uint8_t *png = encode_png(pixel, 1, 1, 0, 0, &size);
    write_file(vfs_dir() + "/late.png", std::string((const char *)png, size));
    SDL_free(png);
    run(build().passes(1).pass("board", 256, 256).sprite("late.png", 0, 0, 16, 16).end_pass());
    expect_pixels({{8, 247, rgba(0, 0, 255)}}, "board");
}

TEST_F(DrawCommands, ScreenshotPassDrawsTheLastPassTwiceAndScreenshotsReadItButNoReplay) {
    set_bottom_left_grid();
    run(build().screenshot("never.png", 0, 0, 4, 4));
    run(build().passes(1, true).pass(nullptr, W, H).end_pass().screenshot("replayed.png", 0, 0, 4, 4), 0, 1);
    EXPECT_FALSE(PHYSFS_exists("never.png") || PHYSFS_exists("replayed.png"));
    // In a stale frame too the screenshot pass fills the texture and its
    // screenshots are taken. (Exact keying is probed end to end.) Tolerance
    // widens the match; a negative one matches nothing.
    run(build().passes(2, true).pass("rt", 8, 8, rgba(0, 255, 0)).end_pass()
        .pass(nullptr, W, H, rgba(0, 0, 255)).solid(10, 20, 100, 50, rgba(255, 0, 255)).end_pass()
        .screenshot("shots/wide.png", 0, 0, 4, 4, 255, rgba(0, 0, 0, 9))
        .screenshot("shots/none.png", 0, 0, 4, 4, -1, rgba(0, 0, 255, 9)), 1, 0);
    png_file png;
    ASSERT_TRUE(png.load("shots/wide.png"));
    EXPECT_EQ(png.at(0, 0), rgba(0, 0, 255, 9));
    ASSERT_TRUE(png.load("shots/none.png"));
    EXPECT_EQ(png.at(0, 0), rgba(0, 0, 255));
}

TEST_F(DrawCommands, ScreenshotRectanglesUseWholePixelsClippedToTheTexture) {
    set_bottom_left_grid();
    // Left of x = 5 red, right of it blue: a skewed row would mix them.
    run(build().passes(1, true).pass(nullptr, W, H, rgba(0, 0, 255)).solid(0, 0, 5, H, rgba(255, 0, 0)).end_pass()
        .screenshot("clip/fraction.png", 0, 0, 10.5f, 6.7f).screenshot("clip/partial.png", W - 4, -3, 10, 6)
        .screenshot("clip/outside.png", W + 10, 0, 10, 10).screenshot("clip/empty.png", 0, 0, 0.5f, 10)
        .screenshot("clip/huge.png", -1e9f, -1e9f, 3e9f, 3e9f));
    png_file png;
    ASSERT_TRUE(png.load("clip/fraction.png"));
    EXPECT_EQ(std::pair(png.width, png.height), std::pair(10u, 6u));
    for (unsigned y : {0u, 5u}) EXPECT_EQ(std::pair(png.at(4, y), png.at(5, y)), std::pair(rgba(255, 0, 0), rgba(0, 0, 255)));
    // Partly outside: only the part on the texture is kept; far edges beyond
    // the int range are clipped, not wrapped.
    ASSERT_TRUE(png.load("clip/partial.png"));
    EXPECT_EQ(std::pair(png.width, png.height), std::pair(4u, 3u));
    EXPECT_EQ(png.at(3, 2), rgba(0, 0, 255));
    ASSERT_TRUE(png.load("clip/huge.png"));
    EXPECT_EQ(std::pair(png.width, png.height), std::pair((unsigned)W, (unsigned)H));
    EXPECT_FALSE(PHYSFS_exists("clip/outside.png"));
    EXPECT_FALSE(PHYSFS_exists("clip/empty.png"));
}

TEST_F(DrawCommands, LinesAndBordersUseTheGridAndClampTheirColours) {
    set_bottom_left_grid();
    run(build().passes(1).pass(nullptr, W, H).line(0, H, 9, H, rgba(255, 255, 0))
        .word(RENDER_CMD_BORDER).f(20).f(0).f(10).f(10).word(300).word(-5).word(0).word(1000).end_pass());
    expect_pixels({{8, 0, rgba(255, 255, 0)}, {29, H - 10, rgba(255, 0, 0)}, {25, H - 5, rgba(0, 0, 0)}});

    // Lines and outlines reaching billions of pixels away show the same part
    // of themselves as short ones would (and are not plotted point by point).
    run(build().passes(1).pass(nullptr, W, H).line(-1e12f, H - 10, 1e12f, H - 10, rgba(0, 255, 0))
        .line(5, 1e15f, 5, -1e15f, rgba(0, 0, 255)).border(-1e12f, 20, 3e12f, 30, rgba(255, 0, 0))
        .solid(-1e30f, 60, 2e30f, 2, rgba(255, 255, 255)).end_pass());
    for (int x : {0, W / 2, W - 1})
        expect_pixels({{x, 10, rgba(0, 255, 0)}, {x, H - 50, rgba(255, 0, 0)}, {x, H - 21, rgba(255, 0, 0)},
                       {x, H - 61, rgba(255, 255, 255)}});
    expect_pixels({{5, 100, rgba(0, 0, 255)}, {W / 2, H - 30, rgba(0, 0, 0)}});
}

// Sprites far larger than their target draw exactly the part that shows,
// turned or not, without the renderer ever seeing the whole: before, one
// 30,000,000 pixels wide asked the software renderer for gigabytes and one
// 20,000 pixels square turned by 10 degrees took seconds.
TEST_F(DrawCommands, SpritesOfAnySizeDrawTheirVisiblePart) {
    set_bottom_left_grid();
    const uint32_t red = rgba(255, 0, 0), green = rgba(0, 255, 0), blue = rgba(0, 0, 255),
                   white = rgba(255, 255, 255);
    // Texel edges at x = 100 of the target: 15,000,000 and 50,000,000 to
    // the left are whole floats.
    frame_builder b = build().upload("halves", 2, 1, {red, blue}).upload("quarters", 2, 2, {red, green, blue, white})
        .passes(3).pass("wide", 200, 200).sprite("halves", 100 - 15e6f, 100, 30e6f, 100)
        .sprite("halves", 100 - 50e6f, 0, 100e6f, 100).end_pass()
        .pass("turned", 200, 200).sprite("quarters", 100 - 10000, 100 - 10000, 20000, 20000, nullptr, nullptr, 0, 10)
        .end_pass()
        .pass(nullptr, W, H)
        .sprite("quarters", W / 2 - 10000.0f, H / 2 - 10000.0f, 20000, 20000, nullptr, nullptr, 1, 10).end_pass();
    EXPECT_EQ(run(b)->error, 0);
    expect_pixels({{2, 50, red}, {97, 50, red}, {102, 50, blue}, {197, 50, blue},
                   {2, 150, red}, {97, 150, red}, {102, 150, blue}, {197, 150, blue}}, "wide");
    // Each quadrant on its diagonal; just right of the centre and a little
    // above it lies below the sprite's middle once turned counter-clockwise,
    // and just left of it and a little below lies above.
    expect_pixels({{150, 50, green}, {50, 50, red}, {50, 150, blue}, {150, 150, white},
                   {160, 98, white}, {40, 102, red}, {0, 0, red}, {199, 199, white}}, "turned");
    // On the screen, flipped: the quarters change sides.
    expect_pixels({{W / 2 + 40, H / 2 - 40, red}, {W / 2 - 40, H / 2 - 40, green}, {W / 2 + 60, H / 2 - 2, blue}});
}

// Values that must neither wrap nor crash: label sizes beyond a glyph key,
// angles that are no finite number, pixel-array sizes whose byte count only
// matches the buffer in 32-bit arithmetic, negative or plainly mismatched.
// (Alignment and exact pixel arrays are probed end to end.)
TEST_F(DrawCommands, OutOfRangeValuesAreClampedOrRefused) {
    const struct { float size_enum; uint32_t pixels; } sizes[] = {
        {0, 22}, {116, 254}, {117, 255}, {9.3e18f, 255}, {-11, 1}, {-9.3e18f, 1}, {NAN, 1}};
    for (auto c : sizes) EXPECT_EQ(label_pixel_size(c.size_enum), c.pixels) << c.size_enum;
    set_bottom_left_grid();
    frame_builder b = build().upload("wrap", 32768, 32768, {}).upload("negative", -2, -2, {1, 2, 3, 4})
        .upload("short", 2, 2, {1, 2, 3}).upload("px", 2, 1, {rgba(255, 0, 0), rgba(0, 255, 0)}).passes(1)
        .pass(nullptr, W, H).label(0, H, "Wy", -1000, 0, rgba(255, 255, 255)).label(0, H, "W", 1000, 0, rgba(9, 9, 9))
        .label(0, H, nullptr, 0, 0, rgba(255, 255, 255));
    const float angles[3] = {NAN, INFINITY, 720.0f};
    for (int i = 0; i < 3; ++i) b.sprite("px", 10 * i + 100, H - 1, 2, 1, nullptr, nullptr, 0, angles[i]);
    EXPECT_EQ(run(b.end_pass())->error, 0);
    for (const char *name : {"wrap", "negative", "short"}) EXPECT_EQ(texture(name), nullptr) << name;
    for (int x : {100, 110, 120}) expect_pixels({{x, 0, rgba(255, 0, 0)}, {x + 1, 0, rgba(0, 255, 0)}});
}

// A frame to draw steadily: a run of labels of more glyphs than the label
// buffers start with, aligned, around other drawing, beside a target. Labels
// stay on the screen, tinted and translucent: the software renderer's
// blitter remaps a texture (allocating) for each new destination and
// whenever its tint turns on or off. (Lines are left out: SDL plots them
// through scratch memory of its own.)
frame_builder &steady_frame(frame_builder &b, int w, int h) {
    b.upload("px", 2, 2, {1, 2, 3, 4}).passes(2).pass("rt", 64, 32).solid(0, 0, 8, 8, rgba(1, 2, 3)).end_pass()
        .pass(nullptr, w, h).sprite("px", 10, 10, 16, 16).sprite("rt", 40, 10, 32, 32).sprite(nullptr, 80, 10, 32, 32);
    for (int i = 0; i < 60; ++i)
        b.label((float)(i * 37 % w), (float)(h - i * 11 % h), "Steady \xC3\xA9 text", (float)(i % 3), i % 3,
                rgba(255, 250 - i, 255, 100 + i));
    return b.sprite("px", 5, 5, 4, 4).label(100, 100, "after", 2, 1, rgba(1, 1, 1, 50))
        .border(5, 5, 20, 20, rgba(9, 9, 9)).end_pass();
}

TEST_F(DrawCommands, FramesAllocateNothingOnceTheirTexturesAndGlyphsExist) {
    set_bottom_left_grid();
    frame_builder b = build();
    expect_steady_frames_allocate_nothing(steady_frame(b, W, H));
}

// A logical size larger than the virtual display: the window is fitted to
// 1024 x 576, so labels on the screen take the output-resolution path.
class ScaledOutput : public RenderTest {
protected:
    ScaledOutput() { logical_w = 1280, logical_h = 720; }
};

TEST_F(ScaledOutput, FramesAllocateNothingOnceTheirTexturesAndGlyphsExist) {
    set_bottom_left_grid();
    frame_builder b = build();
    expect_steady_frames_allocate_nothing(steady_frame(b, 1280, 720));
}

TEST_F(ScaledOutput, LabelsInsideRenderTargetsLeaveTheTargetUnscaled) {
    ASSERT_EQ(context->window_width, 1024);
    set_bottom_left_grid();
    run(build().passes(2).pass("rt", 100, 100, rgba(0, 0, 0)).label(0, 100, "x", 0, 0, rgba(255, 255, 255))
        .solid(0, 0, 100, 100, rgba(0, 255, 0)).end_pass()
        .pass(nullptr, 1280, 720).label(0, 720, "x", 0, 0, rgba(255, 255, 255)).solid(0, 0, 10, 10, rgba(0, 0, 255))
        .end_pass());
    // The solid after the label still covers the whole target.
    expect_pixels({{99, 99, rgba(0, 255, 0)}, {50, 50, rgba(0, 255, 0)}}, "rt");
    // The screen's logical size is back after the label.
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(context->renderer, &lw, &lh);
    EXPECT_EQ(std::pair(lw, lh), std::pair(1280, 720));
}

TEST_F(ScaledOutput, ScreenLabelsAreDrawnAtTheOutputResolutionInPlace) {
    set_bottom_left_grid();
    run(build().passes(1).pass(nullptr, 1280, 720).label(640, 360, "HHHH", 20, 1, rgba(255, 255, 255)).end_pass());
    // The output is 0.8 of the logical size: the line's top edge lands on
    // output row 288, centred on column 512, glyphs 0.8 of 62 pixels tall.
    int top = -1, bottom = -1, left = 1024, right = -1;
    for (int y = 270; y < 360; ++y)
        for (int x = 380; x < 650; ++x)
            if ((screen_pixel(x, y) & 0xFF) > 128) {
                if (top < 0) top = y;
                bottom = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_NEAR(top, 294, 6);
    EXPECT_NEAR((left + right) / 2.0, 512, 3);
    // The glyphs keep their size on screen: a 62-pixel line drawn with
    // 49-pixel glyphs has capitals about 31 pixels tall (39 when the size
    // is not scaled, 25 when it is scaled twice).
    EXPECT_NEAR(bottom - top, 31, 2);
}

// A logical 320 x 180 game in windows of one, two and three times its size.
// Glyphs are never rasterised larger than a glyph key holds: big labels on a
// large window were drawn at that size instead of theirs, smaller than at
// one to one, and aligned by a width they did not have.
class OutputScale : public RenderTest {
protected:
    // Top, bottom, left and right of the lit pixels, in logical units, of a
    // right-aligned "o" whose baseline lies on logical row 170.
    std::array<double, 4> label_ink(int scale, float size_enum) {
        TearDown();
        window_w = W * scale, window_h = H * scale;
        SetUp();
        set_bottom_left_grid();
        const fontatlas_font *font = context->default_font;
        const float ascent = fontatlas_get_ascent(font, fontatlas_get_scale(font, label_pixel_size(size_enum)));
        run(build().passes(1).pass(nullptr, W, H).label(300, H - 170 + ascent, "o", size_enum, 2, rgba(255, 255, 255))
                .end_pass());
        std::vector<uint32_t> pixels((size_t)window_w * window_h);
        SDL_RenderReadPixels(context->renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, pixels.data(), window_w * 4);
        std::array<double, 4> ink = {1e9, -1, 1e9, -1};
        for (int y = 0; y < window_h; ++y)
            for (int x = 0; x < window_w; ++x)
                if ((pixels[(size_t)y * window_w + x] & 0xFF) > 128)
                    ink = {std::min(ink[0], (double)y / scale), std::max(ink[1], (y + 1.0) / scale),
                           std::min(ink[2], (double)x / scale), std::max(ink[3], (x + 1.0) / scale)};
        return ink;
    }
};

TEST_F(OutputScale, LabelsKeepTheirLogicalSizeAndPlaceAtEveryScale) {
    for (float size_enum : {80.0f, 150.0f}) {
        const std::array<double, 4> one = label_ink(1, size_enum);
        ASSERT_GT(one[1] - one[0], 20) << size_enum;
        for (int scale : {2, 3}) {
            const std::array<double, 4> scaled = label_ink(scale, size_enum);
            for (int edge = 0; edge < 4; ++edge) EXPECT_NEAR(scaled[edge], one[edge], 1.5) << size_enum << " x" << scale;
        }
    }
}

} // namespace
