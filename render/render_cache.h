// Two caches keyed by name live in the render context: textures (sprite
// images, render targets and uploaded pixel arrays share one namespace, so a
// render target is drawn as a sprite under its name) and fonts.
#pragma once

#include <cstdint>

struct render_context;
struct fontatlas_font;

constexpr int RENDER_CACHE_BUCKETS = 256;

struct render_cache_entry {
    char *name;    // owned copy of the key
    void *payload; // SDL_Texture* or fontatlas_font*; NULL while none is loaded
    render_cache_entry *next;
    // Texture cache: the image under this name failed to load and that was
    // reported (once per name, however often it is drawn).
    bool reported_missing;
};

struct render_cache {
    render_cache_entry *buckets[RENDER_CACHE_BUCKETS];
    // The entry found last: sprites in a row mostly share their image.
    render_cache_entry *last;
};

// Bucket of a name: djb2 with xor over the bytes taken as signed chars.
uint32_t render_cache_bucket(const char *name);

// The entry for a name, created empty on a miss; NULL for a NULL name or when
// memory runs out. Main thread only.
render_cache_entry *lookup_texture_entry(render_context *context, const char *name);

// A ready font for a file name, loading it on a miss; a NULL name, a font that
// cannot be loaded (now or earlier) and allocation failures all give the
// default font. The caller holds context->text_lock.
fontatlas_font *lookup_font(render_context *context, const char *name);

// Releases the entries of a cache; payloads are released by the caller's
// function (NULL leaves them alone).
void render_cache_free(render_cache *cache, void (*release)(void *payload));
