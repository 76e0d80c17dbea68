#include "render_cache.h"

#include "fontatlas.h"
#include "render_context.h"

#include <SDL2/SDL.h>

namespace {

render_cache *cache_table(render_cache **slot) {
    if (!*slot) *slot = (render_cache *)SDL_calloc(1, sizeof(render_cache));
    return *slot;
}

render_cache_entry *find(render_cache *cache, uint32_t bucket, const char *name) {
    for (render_cache_entry *entry = cache->buckets[bucket]; entry; entry = entry->next)
        if (SDL_strcmp(entry->name, name) == 0) return entry;
    return nullptr;
}

render_cache_entry *new_entry(const char *name) {
    render_cache_entry *entry = (render_cache_entry *)SDL_calloc(1, sizeof(render_cache_entry));
    if (!entry) return nullptr;
    entry->name = SDL_strdup(name);
    if (!entry->name) {
        SDL_free(entry);
        return nullptr;
    }
    return entry;
}

} // namespace

uint32_t render_cache_bucket(const char *name) {
    uint32_t h = 5381;
    for (const char *p = name; *p; ++p) h = (h * 33u) ^ (uint32_t)(int32_t)(signed char)*p;
    return h & (RENDER_CACHE_BUCKETS - 1);
}

render_cache_entry *lookup_texture_entry(render_context *context, const char *name) {
    if (!context || !name) return nullptr;
    render_cache *cache = cache_table(&context->texture_cache);
    if (!cache) return nullptr;
    // Entries live as long as the cache, so the last one found may be kept.
    if (cache->last && SDL_strcmp(cache->last->name, name) == 0) return cache->last;
    uint32_t bucket = render_cache_bucket(name);
    render_cache_entry *entry = find(cache, bucket, name);
    if (!entry) {
        entry = new_entry(name);
        if (!entry) return nullptr;
        entry->next = cache->buckets[bucket];
        cache->buckets[bucket] = entry;
    }
    cache->last = entry;
    return entry;
}

fontatlas_font *lookup_font(render_context *context, const char *name) {
    if (!context) return nullptr;
    fontatlas_font *fallback = context->default_font;
    if (!name) return fallback;
    render_cache *cache = cache_table(&context->font_cache);
    if (!cache) return fallback;
    uint32_t bucket = render_cache_bucket(name);
    if (render_cache_entry *hit = find(cache, bucket, name))
        return hit->payload ? (fontatlas_font *)hit->payload : fallback;
    render_cache_entry *entry = new_entry(name);
    if (!entry) return fallback;
    // A font that fails to load is remembered as failed and not tried again.
    entry->payload = fontatlas_new(context->renderer, name);
    if (!entry->payload) SDL_Log("font: %s; the default font is used instead.", SDL_GetError());
    entry->next = cache->buckets[bucket];
    cache->buckets[bucket] = entry;
    return entry->payload ? (fontatlas_font *)entry->payload : fallback;
}

void render_cache_free(render_cache *cache, void (*release)(void *payload)) {
    if (!cache) return;
    for (render_cache_entry *&head : cache->buckets) {
        while (render_cache_entry *entry = head) {
            head = entry->next;
            if (release && entry->payload) release(entry->payload);
            SDL_free(entry->name);
            SDL_free(entry);
        }
    }
    SDL_free(cache);
}
