// Shared set-up for the renderer's tests: SDL video with the software
// renderer (pixels read back are exact), and a virtual file system whose one
// directory holds "font.ttf" and is also the write directory.
#pragma once

#include "frame_builder.h"
#include "host/fps_meter.h"
#include "render/draw_commands.h"
#include "render/render_cache.h"
#include "render/render_context.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

// Allocations made through SDL's allocator (the engine's native allocator,
// on every thread) while work runs.
inline std::atomic<long> sdl_allocation_count{0};
inline long sdl_allocations_during(const std::function<void()> &work) {
    static SDL_malloc_func real_malloc;
    static SDL_calloc_func real_calloc;
    static SDL_realloc_func real_realloc;
    static SDL_free_func real_free;
    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions([](size_t n) { ++sdl_allocation_count; return real_malloc(n); },
                           [](size_t n, size_t size) { ++sdl_allocation_count; return real_calloc(n, size); },
                           [](void *p, size_t n) { ++sdl_allocation_count; return real_realloc(p, n); }, real_free);
    sdl_allocation_count = 0;
    work();
    long counted = sdl_allocation_count.load();
    SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free);
    return counted;
}

// A render context on a hidden window (W x H fits the virtual display, so the
// output size equals the logical size), plus the stream pool.
class RenderTest : public ::testing::Test {
protected:
    static constexpr int W = 320, H = 180;
    int logical_w = W, logical_h = H;
    int window_w = -1, window_h = -1; // the window's size when not the logical one
    render_context *context = nullptr;
    std::vector<threadstream *> frames;

    void SetUp() override {
        vfs_dir();
        ASSERT_TRUE(threadstream_init());
        context = render_context_new(0, 1, logical_w, logical_h, window_w, window_h, -1, -1, 1.0f);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        // As the main thread does when the window's size changes.
        SDL_GetRendererOutputSize(context->renderer, &context->output_width, &context->output_height);
        draw_init(context, vfs_dir().c_str());
    }
    void TearDown() override {
        for (threadstream *f : frames) threadstream_free(f);
        frames.clear();
        render_context_delete(context);
        context = nullptr;
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
    // Once a frame's textures, glyphs and buffers exist, drawing it again
    // allocates nothing.
    void expect_steady_frames_allocate_nothing(frame_builder b) {
        auto frames = [&](int count) {
            for (int i = 0; i < count; ++i) {
                run(b);
                SDL_RenderPresent(context->renderer);
            }
        };
        frames(3);
        EXPECT_EQ(sdl_allocations_during([&] { frames(5); }), 0);
        EXPECT_EQ(b.s->error, 0);
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
