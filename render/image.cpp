#include "image.h"

#include "../host/fileio.h"

#include <SDL2/SDL.h>
#include <lodepng.h>
#include <physfs.h>

#include <cstdlib>
#include <cstring>

#define STBI_MALLOC(size) SDL_malloc(size)
#define STBI_REALLOC(pointer, size) SDL_realloc(pointer, size)
#define STBI_FREE(pointer) SDL_free(pointer)
#define STBI_NO_STDIO
#define STBI_ASSERT(x) SDL_assert(x)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

int stbi_physfs_read(void *user, char *data, int size) {
    PHYSFS_sint64 got = PHYSFS_readBytes((PHYSFS_File *)user, data, (PHYSFS_uint64)(size > 0 ? size : 0));
    return got < 0 ? 0 : (int)got;
}

void stbi_physfs_skip(void *user, int n) {
    PHYSFS_File *file = (PHYSFS_File *)user;
    PHYSFS_sint64 at = PHYSFS_tell(file);
    if (at < 0) return;
    PHYSFS_sint64 target = at + n;
    PHYSFS_seek(file, (PHYSFS_uint64)(target < 0 ? 0 : target));
}

int stbi_physfs_eof(void *user) { return PHYSFS_eof((PHYSFS_File *)user); }

const stbi_io_callbacks physfs_callbacks = {stbi_physfs_read, stbi_physfs_skip, stbi_physfs_eof};

} // namespace

uint8_t *load_image(const char *path, int32_t *width_out, int32_t *height_out) {
    if (!path || vfs_name_refusal(path)) return nullptr;
    PHYSFS_File *file = PHYSFS_openRead(path);
    if (!file) return nullptr;
    int width = 0, height = 0, channels = 0;
    stbi_uc *pixels = stbi_load_from_callbacks(&physfs_callbacks, file, &width, &height, &channels, 4);
    PHYSFS_close(file);
    if (!pixels) return nullptr;
    if (width_out) *width_out = width;
    if (height_out) *height_out = height;
    return pixels;
}

void free_image(void *pixels) { SDL_free(pixels); }

uint8_t *encode_png(const uint8_t *pixels, int32_t width, int32_t height, int32_t out_width, int32_t out_height,
                    size_t *out_size) {
    if (out_size) *out_size = 0;
    if (!pixels || width < 1 || height < 1 || width > INT32_MAX / 4) return nullptr;
    SDL_Surface *source = SDL_CreateRGBSurfaceWithFormatFrom((void *)pixels, width, height, 32, width * 4,
                                                             SDL_PIXELFORMAT_ABGR8888);
    if (!source) return nullptr;
    SDL_Surface *surface = source;
    if (out_width != 0 && out_height != 0 && out_width != width && out_height != height) {
        surface = SDL_CreateRGBSurfaceWithFormat(0, out_width, out_height, 32, SDL_PIXELFORMAT_ABGR8888);
        if (!surface) {
            SDL_FreeSurface(source);
            return nullptr;
        }
        SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
        SDL_BlitScaled(source, nullptr, surface, nullptr);
    }

    // The encoder needs tightly packed rows.
    unsigned char *png = nullptr;
    size_t png_size = 0;
    LodePNGState state;
    lodepng_state_init(&state);
    unsigned error = 1;
    const uint8_t *rows = (const uint8_t *)surface->pixels;
    uint8_t *packed = nullptr;
    if (surface->pitch != surface->w * 4) {
        packed = (uint8_t *)SDL_malloc((size_t)surface->w * 4 * (size_t)surface->h);
        if (packed)
            for (int y = 0; y < surface->h; ++y)
                std::memcpy(packed + (size_t)y * surface->w * 4, rows + (size_t)y * surface->pitch,
                            (size_t)surface->w * 4);
        rows = packed;
    }
    if (rows) error = lodepng_encode(&png, &png_size, rows, (unsigned)surface->w, (unsigned)surface->h, &state);
    lodepng_state_cleanup(&state);
    SDL_free(packed);
    if (surface != source) SDL_FreeSurface(surface);
    SDL_FreeSurface(source);

    // lodepng allocates with malloc; the caller releases with SDL_free.
    uint8_t *result = nullptr;
    if (!error && png) {
        result = (uint8_t *)SDL_malloc(png_size ? png_size : 1);
        if (result) {
            std::memcpy(result, png, png_size);
            if (out_size) *out_size = png_size;
        }
    }
    std::free(png);
    return result;
}
