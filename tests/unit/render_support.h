// Shared set-up for the renderer's tests: SDL video with the software
// renderer (pixels read back are exact), a virtual file system whose one
// directory holds "font.ttf" and is also the write directory, and helpers
// that build frame streams by hand.
#pragma once

#include "host/fps_meter.h"
#include "host/threadstream.h"
#include "render/draw_commands.h"
#include "render/frame_stream.h"
#include "render/render_cache.h"
#include "render/render_context.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace render_support {

constexpr const char *SYSTEM_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void write_file(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// A plain buffer: it must outlive every static object, for the exit handler.
inline char vfs_dir_buffer[64];

// The one directory of the test's virtual file system (process-wide),
// removed when the test process ends.
inline const std::string &vfs_dir() {
    static std::string dir = [] {
        char templ[] = "/tmp/vellum-render-XXXXXX";
        std::string path = mkdtemp(templ) ? templ : "/tmp";
        SDL_strlcpy(vfs_dir_buffer, templ, sizeof(vfs_dir_buffer));
        std::atexit([] { std::error_code ignored; std::filesystem::remove_all(vfs_dir_buffer, ignored); });
        write_file(path + "/font.ttf", read_file(SYSTEM_FONT));
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
        SDL_Init(SDL_INIT_VIDEO);
        if (!PHYSFS_isInit()) PHYSFS_init(nullptr);
        PHYSFS_mount(path.c_str(), nullptr, 1);
        PHYSFS_setWriteDir(path.c_str());
        return path;
    }();
    return dir;
}

// Little-endian ABGR8888 as SDL reads it back: 0xAABBGGRR.
constexpr uint32_t rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}

// Hand-built frame streams, in the field layouts the interpreter reads.
struct frame_builder {
    threadstream *s;
    explicit frame_builder(threadstream *stream) : s(stream) {}
    frame_builder &word(int32_t v) { threadstream_pack_int(s, v); return *this; }
    frame_builder &f(float v) { threadstream_pack_float(s, v); return *this; }
    frame_builder &str(const char *v) { threadstream_pack_string(s, v); return *this; }
    frame_builder &colour(uint32_t c) { return word(c & 255).word(c >> 8 & 255).word(c >> 16 & 255).word(c >> 24); }
    frame_builder &set_grid(float x, float y, int32_t d) { return word(RENDER_CMD_SET_GRID).f(x).f(y).word(d); }
    frame_builder &passes(int32_t count, bool shot = false) { return word(RENDER_CMD_PASSES).word(count).word(shot); }
    frame_builder &pass(const char *target, int32_t w, int32_t h, uint32_t bg = rgba(0, 0, 0), bool transient = false) {
        return colour(bg).str(target).word(w).word(h).word(transient);
    }
    frame_builder &end_pass() { return word(RENDER_CMD_END_PASS); }
    frame_builder &rect(int32_t opcode, float x, float y, float w, float h, uint32_t c) {
        return word(opcode).f(x).f(y).f(w).f(h).colour(c);
    }
    frame_builder &solid(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_SOLID, x, y, w, h, c); }
    frame_builder &border(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_BORDER, x, y, w, h, c); }
    frame_builder &line(float x, float y, float x2, float y2, uint32_t c) { return rect(RENDER_CMD_LINE, x, y, x2, y2, c); }
    // A sprite with every field; tile and source default to "whole image".
    frame_builder &sprite(const char *path, float x, float y, float w, float h, const float *tile = nullptr,
                          const float *source = nullptr, int flip_h = 0, float angle = 0) {
        static const float none[4] = {0, 0, -1, -1};
        word(RENDER_CMD_SPRITE).str(path).f(x).f(y).f(w).f(h).f(angle).colour(rgba(255, 255, 255));
        for (const float *r : {tile ? tile : none, source ? source : none})
            for (int i = 0; i < 4; ++i) f(r[i]);
        return word(flip_h).word(0).f(0.5f).f(0.5f);
    }
    frame_builder &label(float x, float y, const char *text, float size_enum, int32_t align, uint32_t c) {
        return word(RENDER_CMD_LABEL).f(x).f(y).str(text).str(nullptr).f(size_enum).word(align).colour(c);
    }
    // The key's alpha is the alpha that pixels of the key's colour take.
    frame_builder &screenshot(const char *path, float x, float y, float w, float h, int32_t tolerance = 0,
                              uint32_t key = 0) {
        return word(RENDER_CMD_SCREENSHOT).str(path).f(x).f(y).f(w).f(h).word(tolerance).colour(key);
    }
    frame_builder &upload(const char *name, int32_t w, int32_t h, const std::vector<uint32_t> &pixels) {
        word(RENDER_CMD_UPLOAD_PIXEL_ARRAY).str(name).word(w).word(h);
        static const uint32_t none = 0; // present, even when empty
        threadstream_pack_buffer(s, pixels.empty() ? &none : pixels.data(), pixels.size() * 4);
        return *this;
    }
};

// A render context on a hidden window (W x H fits the virtual display, so the
// output size equals the logical size), plus the stream pool.
class RenderTest : public ::testing::Test {
protected:
    static constexpr int W = 320, H = 180;
    int logical_w = W, logical_h = H;
    render_context *context = nullptr;
    std::vector<threadstream *> frames;

    void SetUp() override {
        vfs_dir();
        ASSERT_TRUE(threadstream_init());
        context = render_context_new(0, 1, logical_w, logical_h, -1, -1, -1, -1, 1.0f);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        draw_init(context, vfs_dir().c_str());
    }
    void TearDown() override {
        for (threadstream *f : frames) threadstream_free(f);
        render_context_delete(context);
        threadstream_quit();
    }

    // A stream freed with the test; build() starts one.
    frame_builder build() {
        frames.push_back(threadstream_allocate());
        return frame_builder(frames.back());
    }
    // Interprets a frame as the main thread draws its newest frame.
    threadstream *run(frame_builder b, int stale = 0, int replay = 0) {
        b.s->read_pos = 0;
        context->screen_not_cleared = 1;
        draw_commands_execute(context, b.s, stale, replay);
        return b.s;
    }
    // The default grid: origin at the bottom left, y upwards.
    void set_bottom_left_grid() { run(build().set_grid(0, (float)logical_h, -1)); }

    uint32_t pixel_of(SDL_Texture *texture, int x, int y) {
        uint32_t value = 0;
        SDL_Texture *previous = SDL_GetRenderTarget(context->renderer);
        SDL_SetRenderTarget(context->renderer, texture);
        SDL_Rect rect = {x, y, 1, 1};
        SDL_RenderReadPixels(context->renderer, &rect, SDL_PIXELFORMAT_ABGR8888, &value, 4);
        SDL_SetRenderTarget(context->renderer, previous);
        return value;
    }
    uint32_t screen_pixel(int x, int y) { return pixel_of(nullptr, x, y); }
    // Pixels probed on the screen (or on the named texture) at output positions.
    struct probe { int x, y; uint32_t colour; };
    void expect_pixels(std::initializer_list<probe> probes, const char *name = nullptr) {
        for (const probe &p : probes)
            EXPECT_EQ(pixel_of(name ? texture(name) : nullptr, p.x, p.y), p.colour) << p.x << "," << p.y;
    }
    SDL_Texture *texture(const char *name) { return (SDL_Texture *)lookup_texture_entry(context, name)->payload; }
};

} // namespace render_support
