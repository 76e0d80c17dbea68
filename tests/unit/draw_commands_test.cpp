// The render-command interpreter on the software renderer: hand-built frame
// streams in, pixels and files out.
#include "render_support.h"

#include "render/drawing.h"
#include "render/image.h"
#include "render/render_cache.h"
#include "render/text_measure.h"

#include <lodepng.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

using namespace render_support;

// Opening a browser is the one effect a test cannot observe on screen: this
// binary answers SDL_OpenURL itself and records the URLs.
std::vector<std::string> opened_urls;
extern "C" int SDL_OpenURL(const char *url) {
    opened_urls.push_back(url ? url : "(null)");
    return 0;
}

namespace {

struct decoded_png {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> rgba;
    uint32_t at(unsigned x, unsigned y) const {
        uint32_t v;
        std::memcpy(&v, &rgba[(y * width + x) * 4], 4);
        return v;
    }
};

bool decode_png_file(const std::string &path, decoded_png *out) {
    std::string bytes = read_file(path);
    if (bytes.empty()) return false;
    unsigned char *pixels = nullptr;
    if (lodepng_decode32(&pixels, &out->width, &out->height, (const unsigned char *)bytes.data(), bytes.size()))
        return false;
    out->rgba.assign(pixels, pixels + (size_t)out->width * out->height * 4);
    free(pixels);
    return true;
}

class DrawCommands : public RenderTest {};

TEST_F(DrawCommands, GridMapsLogicalRectanglesOntoTheTarget) {
    // Before any grid is set, every rectangle maps to nothing.
    threadstream *f = new_frame();
    frame_builder(f).passes(1).pass(nullptr, W, H).solid(0, 0, W, H, rgba(255, 0, 0)).end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(W / 2, H / 2), rgba(0, 0, 0));

    grid_rect unset = grid_map_rect(context, 10, 20, 100, 50);
    EXPECT_EQ(unset.w, 0.0f);

    set_bottom_left_grid();
    grid_rect r = grid_map_rect(context, 10, 20, 100, 50);
    EXPECT_EQ(r.x, 10.0f);
    EXPECT_EQ(r.y, H - 70.0f);
    EXPECT_EQ(r.w, 100.0f);
    EXPECT_EQ(r.h, 50.0f);
    grid_rect flipped = grid_map_rect(context, 10, 20, -100, 50);
    EXPECT_EQ(flipped.x, -90.0f);
    EXPECT_EQ(flipped.w, 100.0f);

    f = new_frame();
    frame_builder(f).passes(1).pass(nullptr, W, H, rgba(0, 0, 255)).solid(10, 20, 100, 50, rgba(10, 20, 30)).end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(10, H - 70), rgba(10, 20, 30));
    EXPECT_EQ(screen_pixel(109, H - 21), rgba(10, 20, 30));
    EXPECT_EQ(screen_pixel(9, H - 70), rgba(0, 0, 255));
    EXPECT_EQ(screen_pixel(110, H - 21), rgba(0, 0, 255));
    EXPECT_EQ(screen_pixel(10, H - 20), rgba(0, 0, 255));
    EXPECT_EQ(context->screen_not_cleared, 0);
    EXPECT_EQ(context->last_screen_background[2], 255);
}

TEST_F(DrawCommands, TopLevelWordsEndOrPassOverAsTheFormatSays) {
    set_bottom_left_grid();
    // Only no-ops: nothing drawn, the frame read to its end without error.
    threadstream *f = new_frame();
    frame_builder(f).word(RENDER_CMD_NOP).word(RENDER_CMD_NOP);
    run(f);
    EXPECT_EQ(f->read_pos, f->write_pos);
    EXPECT_EQ(f->error, 0);

    // A drawing command at the top level ends the frame: the grid after it
    // is not applied.
    f = new_frame();
    frame_builder(f).solid(0, 0, 10, 10, rgba(1, 2, 3)).set_grid(5, 5, 1);
    run(f);
    EXPECT_EQ(context->grid_origin_x, 0);

    // Zero passes consume exactly the two header fields; inside a pass a
    // stray word is passed over alone.
    f = new_frame();
    frame_builder(f).passes(0).passes(1).pass(nullptr, W, H).word(RENDER_CMD_SET_GRID)
        .solid(0, 0, 4, 4, rgba(9, 8, 7)).end_pass().set_grid(1, H, -1);
    run(f);
    EXPECT_EQ(f->error, 0);
    EXPECT_EQ(screen_pixel(0, H - 1), rgba(9, 8, 7));
    EXPECT_EQ(context->grid_origin_x, 1);

    // Trailing bytes too short for a word mark the frame as damaged.
    f = new_frame();
    frame_builder(f).word(RENDER_CMD_NOP);
    f->write_pos += 2;
    run(f);
    EXPECT_EQ(f->error, 1);
}

TEST_F(DrawCommands, FrameCutOffInsideAPassLeavesTheScreenBound) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f).passes(1).pass("cut", 16, 16).solid(0, 0, 4, 4, rgba(1, 1, 1));
    run(f);
    EXPECT_EQ(f->error, 1);
    EXPECT_EQ(SDL_GetRenderTarget(context->renderer), nullptr);
    // The grid is back to the screen's too.
    EXPECT_EQ(context->grid_origin_y, H);

    // A field cut off in the middle of a drawing command: the command still
    // runs with zeros, and the frame ends on the screen.
    f = new_frame();
    frame_builder(f).passes(1).pass("cut", 16, 16).word(RENDER_CMD_SOLID).f(0);
    run(f);
    EXPECT_EQ(f->error, 1);
    EXPECT_EQ(SDL_GetRenderTarget(context->renderer), nullptr);
}

TEST_F(DrawCommands, RenderTargetsAreCachedByNameAndDrawnAsSprites) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(2)
        .pass("rt", 40, 30, rgba(0, 255, 0))
        .solid(0, 0, 10, 10, rgba(255, 0, 0))
        .end_pass()
        .pass(nullptr, W, H, rgba(0, 0, 0))
        .sprite("rt", 100, 50, 40, 30)
        .end_pass();
    run(f);
    // The target's own origin is its bottom left: the red square sits in its
    // bottom-left corner, and the sprite shows it there.
    render_cache_entry *entry = lookup_texture_entry(context, "rt");
    ASSERT_NE(entry->payload, nullptr);
    SDL_Texture *first = (SDL_Texture *)entry->payload;
    EXPECT_EQ(pixel_of(first, 0, 29), rgba(255, 0, 0));
    EXPECT_EQ(pixel_of(first, 39, 0), rgba(0, 255, 0));
    int sprite_top = H - 50 - 30;
    EXPECT_EQ(screen_pixel(100, sprite_top + 29), rgba(255, 0, 0));
    EXPECT_EQ(screen_pixel(139, sprite_top), rgba(0, 255, 0));
    EXPECT_EQ(screen_pixel(99, sprite_top), rgba(0, 0, 0));

    // A new size makes a new texture; contents of a same-size target survive
    // frames in which it is not drawn.
    f = new_frame();
    frame_builder(f).passes(1).pass("rt", 20, 20, rgba(0, 0, 255)).end_pass();
    run(f);
    int tw = 0, th = 0;
    SDL_QueryTexture((SDL_Texture *)entry->payload, nullptr, nullptr, &tw, &th);
    EXPECT_EQ(tw, 20);
    EXPECT_EQ(th, 20);
    EXPECT_EQ(pixel_of((SDL_Texture *)entry->payload, 5, 5), rgba(0, 0, 255));

    // Unloading drops the texture: the name then draws the fallback.
    f = new_frame();
    frame_builder(f).word(RENDER_CMD_UNLOAD_SPRITE).str("rt");
    run(f);
    EXPECT_EQ(entry->payload, nullptr);
}

TEST_F(DrawCommands, OnlyTheLastOfTwoScreenPassesRemains) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(2)
        .pass(nullptr, W, H, rgba(255, 0, 0))
        .solid(0, 0, 10, 10, rgba(0, 255, 0))
        .end_pass()
        .pass(nullptr, W, H, rgba(0, 0, 255))
        .end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(1, H - 2), rgba(0, 0, 255));
    EXPECT_EQ(context->last_screen_background[0], 0);
    EXPECT_EQ(context->last_screen_background[2], 255);
}

TEST_F(DrawCommands, CentredGridSurvivesPassesIntoRenderTargets) {
    // Centre mode: the logical origin in the middle of the screen.
    threadstream *f = new_frame();
    frame_builder(f)
        .set_grid(W / 2, H / 2, -1)
        .passes(2)
        .pass("rt", 20, 20)
        .solid(0, 0, 5, 5, rgba(255, 0, 0))
        .end_pass()
        .pass(nullptr, W, H)
        .solid(-10, -10, 20, 20, rgba(0, 255, 0))
        .end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(W / 2, H / 2), rgba(0, 255, 0));
    EXPECT_EQ(screen_pixel(W / 2 - 10, H / 2 - 10), rgba(0, 255, 0));
    EXPECT_EQ(screen_pixel(W / 2 + 10, H / 2 + 10), rgba(0, 0, 0));
    EXPECT_EQ(context->grid_origin_y, H / 2);

    // The next frame, without a new set-grid, still draws around the centre.
    f = new_frame();
    frame_builder(f).passes(2).pass("rt", 20, 20).end_pass().pass(nullptr, W, H).solid(0, 0, 4, 4, rgba(9, 9, 9)).end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(W / 2, H / 2 - 4), rgba(9, 9, 9));
}

TEST_F(DrawCommands, StaleFramesKeepOnlyWorkThatMustNotBeLost) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .set_grid(2, H, -1)
        .upload("px", 1, 1, {rgba(1, 2, 3)})
        .passes(3)
        .pass("kept", 8, 8, rgba(0, 255, 0))
        .end_pass()
        .pass("transient", 8, 8, rgba(0, 0, 255), true)
        .end_pass()
        .pass(nullptr, W, H, rgba(255, 0, 0))
        .end_pass();
    run(f, 1, 0);
    EXPECT_EQ(context->grid_origin_x, 2);
    EXPECT_NE(lookup_texture_entry(context, "px")->payload, nullptr);
    EXPECT_EQ(pixel_of((SDL_Texture *)lookup_texture_entry(context, "kept")->payload, 1, 1), rgba(0, 255, 0));
    SDL_Texture *transient = (SDL_Texture *)lookup_texture_entry(context, "transient")->payload;
    ASSERT_NE(transient, nullptr);
    EXPECT_NE(pixel_of(transient, 1, 1), rgba(0, 0, 255));
    EXPECT_EQ(context->screen_not_cleared, 1);
    EXPECT_NE(screen_pixel(1, 1), rgba(255, 0, 0));
}

TEST_F(DrawCommands, ReplayDrawsPassesButRepeatsNoOneShotCommand) {
    set_bottom_left_grid();
    opened_urls.clear();
    threadstream *f = new_frame();
    frame_builder(f)
        .set_grid(3, H, -1)
        .word(RENDER_CMD_OPEN_URL).str("https://example.invalid/")
        .upload("px", 1, 1, {rgba(1, 2, 3)})
        .passes(1)
        .pass(nullptr, W, H, rgba(0, 0, 255))
        .end_pass();
    run(f, 0, 1);
    EXPECT_EQ(context->grid_origin_x, 0);
    EXPECT_TRUE(opened_urls.empty());
    EXPECT_EQ(lookup_texture_entry(context, "px")->payload, nullptr);
    EXPECT_EQ(screen_pixel(1, 1), rgba(0, 0, 255));

    run(f);
    EXPECT_EQ(context->grid_origin_x, 3);
    ASSERT_EQ(opened_urls.size(), 1u);
    EXPECT_EQ(opened_urls[0], "https://example.invalid/");
}

TEST_F(DrawCommands, PixelArraysUploadExactlyAndRejectSizesThatDoNotMatch) {
    set_bottom_left_grid();
    const std::vector<uint32_t> pixels = {rgba(255, 0, 0), rgba(0, 255, 0), rgba(0, 0, 255), rgba(255, 255, 255)};
    threadstream *f = new_frame();
    frame_builder(f).upload("px", 2, 2, pixels).passes(1).pass(nullptr, W, H).sprite("px", 0, H - 2, 2, 2).end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(0, 0), pixels[0]);
    EXPECT_EQ(screen_pixel(1, 0), pixels[1]);
    EXPECT_EQ(screen_pixel(0, 1), pixels[2]);
    EXPECT_EQ(screen_pixel(1, 1), pixels[3]);

    // Sizes whose byte count only matches the buffer in 32-bit arithmetic, a
    // negative width, and a plain mismatch are all ignored.
    f = new_frame();
    frame_builder(f)
        .upload("wrap", 32768, 32768, {})
        .upload("negative", -2, -2, {1, 2, 3, 4})
        .upload("short", 2, 2, {1, 2, 3})
        .upload("", 1, 1, {1});
    run(f);
    EXPECT_EQ(f->error, 0);
    for (const char *name : {"wrap", "negative", "short"}) EXPECT_EQ(lookup_texture_entry(context, name)->payload, nullptr) << name;

    // A new size replaces the texture.
    f = new_frame();
    frame_builder(f).upload("px", 1, 1, {rgba(7, 7, 7)});
    run(f);
    int tw = 0;
    SDL_QueryTexture((SDL_Texture *)lookup_texture_entry(context, "px")->payload, nullptr, nullptr, &tw, nullptr);
    EXPECT_EQ(tw, 1);
}

TEST_F(DrawCommands, SpriteSourceAndTileRectanglesPickThePixels) {
    set_bottom_left_grid();
    // A 64 x 64 image whose pixel (x, y) encodes its own position.
    std::vector<uint32_t> image(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) image[y * 64 + x] = rgba(x * 4, y * 4, 100);
    threadstream *f = new_frame();
    float source[4] = {0, 10, 32, 16};
    float tile[4] = {5, 6, 8, 8};
    float beyond[4] = {64, 0, 8, 8};
    frame_builder(f)
        .upload("img", 64, 64, image)
        .passes(1)
        .pass(nullptr, W, H, rgba(0, 0, 0))
        .sprite("img", 0, H - 16, 32, 16, nullptr, source)
        .sprite("img", 100, H - 8, 8, 8, tile)
        .sprite("img", 250, H - 8, 8, 8, nullptr, beyond)
        .sprite("img", 150, H - 64, 64, 64, nullptr, nullptr, 1)
        .end_pass();
    run(f);
    // Source rectangles count from the bottom: 64 - 10 - 16 = 38 rows down.
    EXPECT_EQ(screen_pixel(0, 0), image[38 * 64 + 0]);
    EXPECT_EQ(screen_pixel(31, 15), image[53 * 64 + 31]);
    // Tile rectangles count from the top.
    EXPECT_EQ(screen_pixel(100, 0), image[6 * 64 + 5]);
    EXPECT_EQ(screen_pixel(107, 7), image[13 * 64 + 12]);
    // A source starting at the image's width draws nothing.
    EXPECT_EQ(screen_pixel(250, 0), rgba(0, 0, 0));
    // Flipped horizontally.
    EXPECT_EQ(screen_pixel(150, 0), image[63]);
}

// (The checkerboard's pattern is probed end to end; here: when it is used.)
TEST_F(DrawCommands, MissingImagesDrawTheFallbackAndAreTriedAgain) {
    set_bottom_left_grid();
    write_file(vfs_dir() + "/late.png", "");
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(1)
        .pass("board", 256, 256)
        .sprite(nullptr, 0, 0, 256, 256)
        .sprite("late.png", 0, 0, 16, 16)
        .end_pass();
    run(f);
    SDL_Texture *board = (SDL_Texture *)lookup_texture_entry(context, "board")->payload;
    for (int y = 0; y < 256; y += 37)
        for (int x = 0; x < 256; x += 29) ASSERT_EQ(fallback_texture_pixel(x, y), pixel_of(board, x, y)) << x << "," << y;
    EXPECT_EQ(pixel_of(board, 100, 255), rgba(255, 0, 0));
    EXPECT_EQ(lookup_texture_entry(context, "late.png")->payload, nullptr);

    // Once the file is a real image, the next command with its path loads it.
    const uint8_t pixel[4] = {0, 0, 255, 255};
    size_t size = 0;
    uint8_t *png = encode_png(pixel, 1, 1, 0, 0, &size);
    write_file(vfs_dir() + "/late.png", std::string((const char *)png, size));
    SDL_free(png);
    f = new_frame();
    frame_builder(f).passes(1).pass("board", 256, 256).sprite("late.png", 0, 0, 16, 16).end_pass();
    run(f);
    EXPECT_NE(lookup_texture_entry(context, "late.png")->payload, nullptr);
    EXPECT_EQ(pixel_of(board, 8, 247), rgba(0, 0, 255));
}

TEST_F(DrawCommands, ScreenshotPassDrawsTheLastPassTwiceAndScreenshotsReadIt) {
    set_bottom_left_grid();
    std::remove((vfs_dir() + "/shots/a.png").c_str());
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(2, true)
        .pass("rt", 8, 8, rgba(0, 255, 0))
        .end_pass()
        .pass(nullptr, W, H, rgba(0, 0, 255))
        .solid(10, 20, 100, 50, rgba(255, 0, 255))
        .end_pass()
        .screenshot("shots/a.png", 0, 0, W, H, 0, rgba(255, 0, 255), 7);
    run(f);
    ASSERT_NE(context->screenshot_texture, nullptr);
    // The screen got the pass too.
    EXPECT_EQ(screen_pixel(10, H - 70), rgba(255, 0, 255));
    EXPECT_EQ(context->screen_not_cleared, 0);

    decoded_png png;
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/shots/a.png", &png));
    EXPECT_EQ(png.width, (unsigned)W);
    EXPECT_EQ(png.height, (unsigned)H);
    // Exactly the magenta pixels take the key alpha.
    EXPECT_EQ(png.at(10, H - 70), rgba(255, 0, 255, 7));
    EXPECT_EQ(png.at(109, H - 21), rgba(255, 0, 255, 7));
    EXPECT_EQ(png.at(9, H - 70), rgba(0, 0, 255));
    EXPECT_EQ(png.at(110, H - 21), rgba(0, 0, 255));

    // Tolerance widens the match; a negative one matches nothing.
    f = new_frame();
    frame_builder(f)
        .screenshot("shots/b.png", 0, 0, 4, 4, 255, rgba(0, 0, 0), 9)
        .screenshot("shots/c.png", 0, 0, 4, 4, -1, rgba(0, 0, 255), 9);
    run(f);
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/shots/b.png", &png));
    EXPECT_EQ(png.at(0, 0), rgba(0, 0, 255, 9));
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/shots/c.png", &png));
    EXPECT_EQ(png.at(0, 0), rgba(0, 0, 255));
}

TEST_F(DrawCommands, ScreenshotRectanglesUseWholePixelsClippedToTheTexture) {
    set_bottom_left_grid();
    // Left of x = 5 red, right of it blue: a skewed row would mix them.
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(1, true)
        .pass(nullptr, W, H, rgba(0, 0, 255))
        .solid(0, 0, 5, H, rgba(255, 0, 0))
        .end_pass()
        .screenshot("clip/fraction.png", 0, 0, 10.5f, 6.7f)
        .screenshot("clip/partial.png", W - 4, -3, 10, 6)
        .screenshot("clip/outside.png", W + 10, 0, 10, 10)
        .screenshot("clip/empty.png", 0, 0, 0.5f, 10)
        .screenshot("clip/huge.png", -1e9f, -1e9f, 3e9f, 3e9f);
    run(f);
    decoded_png png;
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/clip/fraction.png", &png));
    EXPECT_EQ(png.width, 10u);
    EXPECT_EQ(png.height, 6u);
    for (unsigned y = 0; y < png.height; ++y) {
        EXPECT_EQ(png.at(4, y), rgba(255, 0, 0)) << y;
        EXPECT_EQ(png.at(5, y), rgba(0, 0, 255)) << y;
    }
    // Partly outside: only the part on the texture is kept.
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/clip/partial.png", &png));
    EXPECT_EQ(png.width, 4u);
    EXPECT_EQ(png.height, 3u);
    EXPECT_EQ(png.at(3, 2), rgba(0, 0, 255));
    // Far edges beyond the int range are clipped, not wrapped.
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/clip/huge.png", &png));
    EXPECT_EQ(png.width, (unsigned)W);
    EXPECT_EQ(png.height, (unsigned)H);
    EXPECT_FALSE(PHYSFS_exists("clip/outside.png"));
    EXPECT_FALSE(PHYSFS_exists("clip/empty.png"));
}

TEST_F(DrawCommands, ScreenshotsWaitForAScreenshotPassAndSkipReplays) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f).screenshot("never.png", 0, 0, 4, 4);
    run(f);
    EXPECT_FALSE(PHYSFS_exists("never.png"));
    f = new_frame();
    frame_builder(f).passes(1, true).pass(nullptr, W, H).end_pass().screenshot("replayed.png", 0, 0, 4, 4);
    run(f, 0, 1);
    EXPECT_FALSE(PHYSFS_exists("replayed.png"));
    // In a stale frame the screenshot pass still fills the texture, and its
    // screenshots are taken.
    f = new_frame();
    frame_builder(f).passes(1, true).pass(nullptr, W, H, rgba(0, 255, 0)).end_pass().screenshot("stale.png", 0, 0, 4, 4);
    run(f, 1, 0);
    decoded_png png;
    ASSERT_TRUE(decode_png_file(vfs_dir() + "/stale.png", &png));
    EXPECT_EQ(png.at(0, 0), rgba(0, 255, 0));
    EXPECT_EQ(context->screen_not_cleared, 1);
}

TEST_F(DrawCommands, LabelsAlignOnTheirWidthAndClampTheirSize) {
    set_bottom_left_grid();
    auto lit_columns = [&](int *first, int *last) {
        *first = -1;
        *last = -1;
        for (int x = 0; x < W; ++x)
            for (int y = 0; y < 40; ++y)
                if (screen_pixel(x, y) != rgba(0, 0, 0)) {
                    if (*first < 0) *first = x;
                    *last = x;
                    break;
                }
    };
    int first[3], last[3];
    for (int align = 0; align < 3; ++align) {
        threadstream *f = new_frame();
        frame_builder(f).passes(1).pass(nullptr, W, H).label(160, H, "HH", 0, align, rgba(255, 255, 255)).end_pass();
        run(f);
        lit_columns(&first[align], &last[align]);
        ASSERT_GE(first[align], 0) << "nothing drawn for alignment " << align;
    }
    float width = 0, height = 0;
    measure_text(context, "HH", 0, nullptr, &width, &height);
    ASSERT_GT(width, 20.0f);
    EXPECT_GE(first[0], 160);
    EXPECT_NEAR(first[1], first[0] - width / 2.0, 1.0);
    EXPECT_NEAR(first[2], first[0] - width, 1.0);
    EXPECT_LT(last[2], 160);

    EXPECT_EQ(label_pixel_size(0), 22u);
    EXPECT_EQ(label_pixel_size(1), 24u);
    EXPECT_EQ(label_pixel_size(-3), 16u);
    EXPECT_EQ(label_pixel_size(116), 254u);
    EXPECT_EQ(label_pixel_size(117), 255u);
    EXPECT_EQ(label_pixel_size(1e9f), 255u);
    EXPECT_EQ(label_pixel_size(-12), 1u);
    EXPECT_EQ(label_pixel_size(-1e9f), 1u);
    EXPECT_EQ(label_pixel_size(NAN), 1u);

    // Extreme sizes draw without wrapping into huge glyphs, and a label
    // without text draws nothing.
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(1)
        .pass(nullptr, W, H)
        .label(0, H, "Wy", -1000, 0, rgba(255, 255, 255))
        .label(0, H, "W", 1000, 0, rgba(255, 255, 255))
        .label(0, H, nullptr, 0, 0, rgba(255, 255, 255))
        .end_pass();
    run(f);
    EXPECT_EQ(f->error, 0);
}

TEST_F(DrawCommands, LinesAndBordersUseTheGridAndClampTheirColours) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(1)
        .pass(nullptr, W, H)
        .line(0, H, 9, H, rgba(255, 255, 0))
        .word(RENDER_CMD_BORDER).f(20).f(0).f(10).f(10).word(300).word(-5).word(0).word(1000)
        .end_pass();
    run(f);
    EXPECT_EQ(screen_pixel(0, 0), rgba(255, 255, 0));
    EXPECT_EQ(screen_pixel(8, 0), rgba(255, 255, 0));
    EXPECT_EQ(screen_pixel(20, H - 1), rgba(255, 0, 0));
    EXPECT_EQ(screen_pixel(29, H - 10), rgba(255, 0, 0));
    EXPECT_EQ(screen_pixel(25, H - 5), rgba(0, 0, 0));

    // Lines and outlines reaching billions of pixels away show the same part
    // of themselves as short ones would (and are not plotted point by point).
    f = new_frame();
    frame_builder(f)
        .passes(1)
        .pass(nullptr, W, H)
        .line(-1e12f, H - 10, 1e12f, H - 10, rgba(0, 255, 0))
        .line(5, 1e15f, 5, -1e15f, rgba(0, 0, 255))
        .border(-1e12f, 20, 3e12f, 30, rgba(255, 0, 0))
        .solid(-1e30f, 60, 2e30f, 2, rgba(255, 255, 255))
        .end_pass();
    run(f);
    for (int x : {0, W / 2, W - 1}) {
        EXPECT_EQ(screen_pixel(x, 10), x == 5 ? rgba(0, 0, 255) : rgba(0, 255, 0)) << x;
        EXPECT_EQ(screen_pixel(x, H - 50), rgba(255, 0, 0)) << x;
        EXPECT_EQ(screen_pixel(x, H - 21), rgba(255, 0, 0)) << x;
        EXPECT_EQ(screen_pixel(x, H - 61), rgba(255, 255, 255)) << x;
    }
    EXPECT_EQ(screen_pixel(5, 100), rgba(0, 0, 255));
    EXPECT_EQ(screen_pixel(W / 2, H - 30), rgba(0, 0, 0));
}

TEST_F(DrawCommands, SpritesWithoutAFiniteAngleDrawUnturned) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .upload("px", 2, 1, {rgba(255, 0, 0), rgba(0, 255, 0)})
        .passes(1)
        .pass(nullptr, W, H)
        .sprite("px", 0, H - 1, 2, 1, nullptr, nullptr, 0, NAN)
        .sprite("px", 10, H - 1, 2, 1, nullptr, nullptr, 0, INFINITY)
        .sprite("px", 20, H - 1, 2, 1, nullptr, nullptr, 0, 720.0f)
        .end_pass();
    run(f);
    for (int x : {0, 10, 20}) {
        EXPECT_EQ(screen_pixel(x, 0), rgba(255, 0, 0)) << x;
        EXPECT_EQ(screen_pixel(x + 1, 0), rgba(0, 255, 0)) << x;
    }
}

std::atomic<long> sdl_allocations{0};
SDL_malloc_func real_malloc;
SDL_calloc_func real_calloc;
SDL_realloc_func real_realloc;
SDL_free_func real_free;
void *counting_malloc(size_t size) {
    ++sdl_allocations;
    return real_malloc(size);
}
void *counting_calloc(size_t n, size_t size) {
    ++sdl_allocations;
    return real_calloc(n, size);
}
void *counting_realloc(void *p, size_t size) {
    ++sdl_allocations;
    return real_realloc(p, size);
}

// (Lines are left out: SDL plots them through scratch memory of its own.)
TEST_F(DrawCommands, FramesAllocateNothingOnceTheirTexturesAndGlyphsExist) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .upload("px", 2, 2, {1, 2, 3, 4})
        .passes(2)
        .pass("rt", 32, 32)
        .solid(0, 0, 8, 8, rgba(1, 2, 3))
        .end_pass()
        .pass(nullptr, W, H)
        .sprite("px", 10, 10, 16, 16)
        .sprite("rt", 40, 10, 32, 32)
        .sprite(nullptr, 80, 10, 32, 32)
        .label(100, 100, "Steady \xC3\xA9", 2, 1, rgba(255, 255, 255))
        .border(5, 5, 20, 20, rgba(9, 9, 9))
        .end_pass();
    for (int i = 0; i < 3; ++i) {
        run(f);
        SDL_RenderPresent(context->renderer);
    }
    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions(counting_malloc, counting_calloc, counting_realloc, real_free);
    sdl_allocations = 0;
    for (int i = 0; i < 5; ++i) {
        run(f);
        SDL_RenderPresent(context->renderer);
    }
    long counted = sdl_allocations.load();
    SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free);
    EXPECT_EQ(f->error, 0);
    EXPECT_EQ(counted, 0);
}

// A logical size larger than the virtual display: the window is fitted to
// 1024 x 576, so labels on the screen take the output-resolution path.
class ScaledOutput : public RenderTest {
protected:
    int logical_width() const override { return 1280; }
    int logical_height() const override { return 720; }
};

TEST_F(ScaledOutput, WindowIsFittedToTheDisplayWithItsAspectKept) {
    EXPECT_EQ(context->window_width, 1024);
    EXPECT_EQ(context->window_height, 576);
    EXPECT_EQ(context->output_width, 1024);
    EXPECT_EQ(context->logical_width, 1280);
    EXPECT_EQ(context->keyboard_focus, 1);
    EXPECT_EQ(context->mouse_focus, 1);
    EXPECT_NE(context->fallback_texture, nullptr);
    EXPECT_NE(context->default_font, nullptr);
}

TEST_F(ScaledOutput, LabelsInsideRenderTargetsLeaveTheTargetUnscaled) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(2)
        .pass("rt", 100, 100, rgba(0, 0, 0))
        .label(0, 100, "x", 0, 0, rgba(255, 255, 255))
        .solid(0, 0, 100, 100, rgba(0, 255, 0))
        .end_pass()
        .pass(nullptr, 1280, 720)
        .label(0, 720, "x", 0, 0, rgba(255, 255, 255))
        .solid(0, 0, 10, 10, rgba(0, 0, 255))
        .end_pass();
    run(f);
    SDL_Texture *rt = (SDL_Texture *)lookup_texture_entry(context, "rt")->payload;
    // The solid after the label still covers the whole target.
    EXPECT_EQ(pixel_of(rt, 99, 99), rgba(0, 255, 0));
    EXPECT_EQ(pixel_of(rt, 50, 50), rgba(0, 255, 0));
    // The screen's logical size is back after the label.
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(context->renderer, &lw, &lh);
    EXPECT_EQ(lw, 1280);
    EXPECT_EQ(lh, 720);
    SDL_Rect clip;
    SDL_RenderGetClipRect(context->renderer, &clip);
    EXPECT_TRUE(SDL_RectEmpty(&clip));
}

TEST_F(ScaledOutput, ScreenLabelsAreDrawnAtTheOutputResolutionInPlace) {
    set_bottom_left_grid();
    threadstream *f = new_frame();
    frame_builder(f)
        .passes(1)
        .pass(nullptr, 1280, 720)
        .label(640, 360, "HHHH", 20, 1, rgba(255, 255, 255))
        .end_pass();
    run(f);
    // The output is 0.8 of the logical size: the line's top edge lands on
    // output row 288, centred on column 512, glyphs 0.8 of 62 pixels tall.
    int top = -1, bottom = -1, left = 1024, right = -1;
    for (int y = 270; y < 360; ++y)
        for (int x = 380; x < 650; x += 1)
            if ((screen_pixel(x, y) & 0xFF) > 128) {
                if (top < 0) top = y;
                bottom = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(top, 0) << "nothing drawn";
    EXPECT_GE(top, 288);
    EXPECT_LE(top, 300);
    EXPECT_NEAR((left + right) / 2.0, 512, 3);
    // The glyphs keep their size on screen: a 62-pixel line drawn with
    // 49-pixel glyphs has capitals about 31 pixels tall (39 when the size
    // is not scaled, 25 when it is scaled twice).
    EXPECT_NEAR(bottom - top, 31, 2);
}

} // namespace
