// The bunnymark workload written straight against SDL2's 2D renderer: the
// floor that any engine on this renderer is measured against. It sets the
// renderer up the way the engine does (same window fit, logical size, batching
// and blending), moves N sprites at a fixed 60 Hz and draws each with one
// SDL_RenderCopyF. The measurement window and its report are shared by the
// three benchmark programs (see bench/driver.py for the protocol).
#include <SDL2/SDL.h>
#include <lodepng.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

constexpr int WORLD_W = 1280;
constexpr int WORLD_H = 720;
constexpr float SPRITE = 32.0f;

struct options {
    long n = 1000;
    long warmup = 60;
    double warmup_time = 3.0;
    long frames = 240;
    double time_limit = 10.0;
    std::string image = "bunny.png";
    std::string out;
};

struct bunny {
    float x, y, dx, dy;
};

bool parse_options(int argc, char **argv, options *o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const char *key = argv[i], *value = argv[i + 1];
        if (!std::strcmp(key, "--n")) o->n = std::atol(value);
        else if (!std::strcmp(key, "--warmup")) o->warmup = std::atol(value);
        else if (!std::strcmp(key, "--warmup-time")) o->warmup_time = std::atof(value);
        else if (!std::strcmp(key, "--frames")) o->frames = std::atol(value);
        else if (!std::strcmp(key, "--time-limit")) o->time_limit = std::atof(value);
        else if (!std::strcmp(key, "--image")) o->image = value;
        else if (!std::strcmp(key, "--out")) o->out = value;
        else {
            std::fprintf(stderr, "bunnymark: unknown option %s\n", key);
            return false;
        }
    }
    if ((argc - 1) % 2 != 0) {
        std::fprintf(stderr, "bunnymark: options come in --name value pairs\n");
        return false;
    }
    return o->n >= 0 && o->frames > 0 && !o->out.empty();
}

// User plus system time of the whole process, every thread included, as the
// kernel accounts it; the same source the Lua and Ruby programs read.
double process_cpu_seconds() {
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

double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

void sleep_until(double deadline) {
    timespec t;
    t.tv_sec = (time_t)deadline;
    t.tv_nsec = (long)((deadline - (double)t.tv_sec) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// The engine shrinks a window that does not fit the display the same way.
void fit_to_display(int *w, int *h) {
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

SDL_Texture *load_texture(SDL_Renderer *renderer, const std::string &path) {
    unsigned char *pixels = nullptr;
    unsigned w = 0, h = 0;
    if (lodepng_decode32_file(&pixels, &w, &h, path.c_str()) != 0) return nullptr;
    SDL_Texture *texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, (int)w, (int)h);
    if (texture) {
        SDL_UpdateTexture(texture, nullptr, pixels, (int)w * 4);
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    }
    std::free(pixels);
    return texture;
}

// Deterministic start positions and speeds, the same formula in all three
// programs, so every program moves the same sprites along the same paths.
bunny make_bunny(long i) {
    bunny b;
    b.x = (float)((i * 7919) % (WORLD_W - 32));
    b.y = (float)((i * 104729) % (WORLD_H - 32));
    b.dx = (float)((i % 11) - 5) * 0.5f + 0.25f;
    b.dy = (float)((i % 13) - 6) * 0.5f + 0.25f;
    return b;
}

void move_bunny(bunny *b) {
    b->x += b->dx;
    b->y += b->dy;
    if (b->x < 0 || b->x > WORLD_W - SPRITE) b->dx = -b->dx;
    if (b->y < 0 || b->y > WORLD_H - SPRITE) b->dy = -b->dy;
}

} // namespace

int main(int argc, char **argv) {
    options o;
    if (!parse_options(argc, argv, &o)) return 2;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "bunnymark: %s\n", SDL_GetError());
        return 1;
    }
    int w = WORLD_W, h = WORLD_H;
    fit_to_display(&w, &h);
    SDL_Window *window =
        SDL_CreateWindow("bunnymark", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_RESIZABLE);
    SDL_SetHint("SDL_RENDER_BATCHING", "1");
    SDL_Renderer *renderer =
        window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC) : nullptr;
    if (!renderer) {
        std::fprintf(stderr, "bunnymark: %s\n", SDL_GetError());
        return 1;
    }
    SDL_RenderSetLogicalSize(renderer, WORLD_W, WORLD_H);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_Texture *texture = load_texture(renderer, o.image);
    if (!texture) {
        std::fprintf(stderr, "bunnymark: cannot load %s\n", o.image.c_str());
        return 1;
    }

    std::vector<bunny> bunnies((size_t)o.n);
    for (long i = 0; i < o.n; ++i) bunnies[(size_t)i] = make_bunny(i);

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

        for (bunny &b : bunnies) move_bunny(&b);
        SDL_SetRenderDrawColor(renderer, 230, 230, 230, 255);
        SDL_RenderClear(renderer);
        for (const bunny &b : bunnies) {
            SDL_FRect dst = {b.x, b.y, SPRITE, SPRITE};
            SDL_RenderCopyF(renderer, texture, nullptr, &dst);
        }
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
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
