// What the plain SDL2 benchmark programs share: their options, the window and
// renderer set up the way the engine sets up its own, the fixed 60 Hz loop
// and the measurement window with its report (bench/driver.py describes the
// protocol). Each program supplies its per-frame work.
#pragma once

#include <SDL2/SDL.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <unistd.h>

namespace harness {

constexpr int WORLD_W = 1280;
constexpr int WORLD_H = 720;

struct options {
    long n = 1000;
    long warmup = 60;
    double warmup_time = 3.0;
    long frames = 240;
    double time_limit = 10.0;
    std::string out;
    std::string image = "bunny.png"; // the bunnymark's sprite
    std::string font;                // the text mark's font file
    std::string mode = "changing";   // the text mark: changing or unchanging
    long size = 22;                  // the text mark: glyph pixel size at 1280x720
};

inline bool parse_options(int argc, char **argv, options *o) {
    if ((argc - 1) % 2 != 0) {
        std::fprintf(stderr, "%s: options come in --name value pairs\n", argv[0]);
        return false;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const char *key = argv[i], *value = argv[i + 1];
        if (!std::strcmp(key, "--n")) o->n = std::atol(value);
        else if (!std::strcmp(key, "--warmup")) o->warmup = std::atol(value);
        else if (!std::strcmp(key, "--warmup-time")) o->warmup_time = std::atof(value);
        else if (!std::strcmp(key, "--frames")) o->frames = std::atol(value);
        else if (!std::strcmp(key, "--time-limit")) o->time_limit = std::atof(value);
        else if (!std::strcmp(key, "--image")) o->image = value;
        else if (!std::strcmp(key, "--font")) o->font = value;
        else if (!std::strcmp(key, "--mode")) o->mode = value;
        else if (!std::strcmp(key, "--size")) o->size = std::atol(value);
        else if (!std::strcmp(key, "--out")) o->out = value;
        else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], key);
            return false;
        }
    }
    return o->n >= 0 && o->frames > 0 && !o->out.empty();
}

// User plus system time of the whole process, every thread included, as the
// kernel accounts it; the same source the Lua and Ruby programs read.
inline double process_cpu_seconds() {
    FILE *f = std::fopen("/proc/self/stat", "r");
    if (!f) return -1;
    char text[1024];
    size_t length = std::fread(text, 1, sizeof(text) - 1, f);
    std::fclose(f);
    text[length] = 0;
    const char *rest = std::strrchr(text, ')');
    if (!rest) return -1;
    // After the command name: state is field 3, utime 14, stime 15.
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
}

inline double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

inline void sleep_until(double deadline) {
    timespec t;
    t.tv_sec = (time_t)deadline;
    t.tv_nsec = (long)((deadline - (double)t.tv_sec) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// The engine shrinks a window that does not fit the display the same way.
inline void fit_to_display(int *w, int *h) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(0, &bounds) != 0) return;
    float width = (float)*w, height = (float)*h;
    if ((float)bounds.w <= width) {
        height = (float)(int)((float)bounds.w / (width / height));
        width = (float)bounds.w;
    }
    if ((float)bounds.h <= height) {
        width = (float)(int)((float)bounds.h / (height / width));
        height = (float)bounds.h;
    }
    *w = (int)width;
    *h = (int)height;
}

// A window of the world's size fitted to the display, and its renderer with
// the engine's batching and blending; NULL (after a message) on failure.
inline SDL_Renderer *open_renderer(const char *title) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "%s: %s\n", title, SDL_GetError());
        return nullptr;
    }
    int w = WORLD_W, h = WORLD_H;
    fit_to_display(&w, &h);
    SDL_Window *window =
        SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_RESIZABLE);
    SDL_SetHint("SDL_RENDER_BATCHING", "1");
    SDL_Renderer *renderer =
        window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC) : nullptr;
    if (!renderer) {
        std::fprintf(stderr, "%s: %s\n", title, SDL_GetError());
        return nullptr;
    }
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    return renderer;
}

// Runs draw(frame) at a fixed 60 Hz until the measurement window is over,
// then writes the report; the exit status.
inline int run(SDL_Renderer *renderer, const options &o, const std::function<void(long)> &draw) {
    const double period = 1.0 / 60.0;
    double deadline = now_seconds();
    const double first_frame = now_seconds();
    double cpu_start = 0, wall_start = 0;
    long frame = 0, measured = 0;
    bool quit = false, measuring = false;
    while (!quit) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            if (event.type == SDL_QUIT) quit = true;

        draw(frame);
        SDL_RenderPresent(renderer);
        ++frame;

        // The window opens after the warm-up frames, or sooner when they take
        // too long (a program far below 60 fps).
        if (!measuring) {
            if (frame >= o.warmup || now_seconds() - first_frame >= o.warmup_time) {
                measuring = true;
                cpu_start = process_cpu_seconds();
                wall_start = now_seconds();
            }
        } else {
            ++measured;
            if (measured >= o.frames || now_seconds() - wall_start >= o.time_limit) break;
        }

        // A fixed 60 Hz schedule; a late frame makes the next ones run back
        // to back, as the engine's simulation thread does.
        deadline += period;
        if (deadline > now_seconds()) sleep_until(deadline);
    }
    double cpu = process_cpu_seconds() - cpu_start;
    double wall = now_seconds() - wall_start;

    SDL_RendererInfo info;
    SDL_GetRendererInfo(renderer, &info);
    int out_w = 0, out_h = 0;
    SDL_GetRendererOutputSize(renderer, &out_w, &out_h);
    FILE *out = std::fopen(o.out.c_str(), "w");
    if (!out) return 1;
    std::fprintf(out, "n=%ld\nframes=%ld\ncpu_seconds=%.4f\nwall_seconds=%.4f\nfps=%.3f\nrenderer=%s\noutput=%dx%d\n", o.n,
                 measured, cpu, wall, wall > 0 ? (double)measured / wall : 0.0, info.name, out_w, out_h);
    std::fclose(out);
    SDL_Window *window = SDL_RenderGetWindow(renderer);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

} // namespace harness
