// The bunnymark workload written straight against SDL2's 2D renderer: the
// floor that any engine on this renderer is measured against. It sets the
// renderer up the way the engine does (same window fit, logical size, batching
// and blending), moves N sprites at a fixed 60 Hz and draws each with one
// SDL_RenderCopyF. The measurement window and its report are shared with the
// other benchmark programs (harness.h; bench/driver.py has the protocol).
#include "harness.h"

#include <lodepng.h>

#include <vector>

namespace {

using harness::WORLD_H;
using harness::WORLD_W;
constexpr float SPRITE = 32.0f;

struct bunny {
    float x, y, dx, dy;
};

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
    harness::options o;
    if (!harness::parse_options(argc, argv, &o)) return 2;
    SDL_Renderer *renderer = harness::open_renderer("bunnymark");
    if (!renderer) return 1;
    SDL_RenderSetLogicalSize(renderer, WORLD_W, WORLD_H);
    SDL_Texture *texture = load_texture(renderer, o.image);
    if (!texture) {
        std::fprintf(stderr, "bunnymark: cannot load %s\n", o.image.c_str());
        return 1;
    }

    std::vector<bunny> bunnies((size_t)o.n);
    for (long i = 0; i < o.n; ++i) bunnies[(size_t)i] = make_bunny(i);
    return harness::run(renderer, o, [&](long) {
        for (bunny &b : bunnies) move_bunny(&b);
        SDL_SetRenderDrawColor(renderer, 230, 230, 230, 255);
        SDL_RenderClear(renderer);
        for (const bunny &b : bunnies) {
            SDL_FRect dst = {b.x, b.y, SPRITE, SPRITE};
            SDL_RenderCopyF(renderer, texture, nullptr, &dst);
        }
    });
}
