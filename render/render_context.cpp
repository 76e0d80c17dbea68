#include "render_context.h"

#include "../host/metadata.h"
#include "drawing.h"
#include "fontatlas.h"
#include "image.h"
#include "render_cache.h"

namespace {

// A window that does not fit the display shrinks with its aspect kept.
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

void set_window_icon(SDL_Window *window) {
    const char *icon = game_metadata()->icon;
    if (!icon[0]) return;
    int32_t width = 0, height = 0;
    uint8_t *pixels = load_image(icon, &width, &height);
    if (!pixels) return;
    SDL_Surface *surface =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels, width, height, 32, width * 4, SDL_PIXELFORMAT_ABGR8888);
    if (surface) {
        SDL_SetWindowIcon(window, surface);
        SDL_FreeSurface(surface);
    }
    free_image(pixels);
}

SDL_Texture *make_fallback_texture(SDL_Renderer *renderer) {
    const int size = FALLBACK_TEXTURE_SIZE;
    uint32_t *pixels = (uint32_t *)SDL_malloc((size_t)size * size * 4);
    if (!pixels) {
        SDL_OutOfMemory();
        return nullptr;
    }
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) pixels[y * size + x] = fallback_texture_pixel(x, y);
    SDL_Texture *texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, size, size);
    if (texture) {
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        if (SDL_UpdateTexture(texture, nullptr, pixels, size * 4) != 0) {
            SDL_DestroyTexture(texture);
            texture = nullptr;
        }
    }
    SDL_free(pixels);
    return texture;
}

void release_font(void *font) { fontatlas_delete((fontatlas_font *)font); }

} // namespace

uint32_t fallback_texture_pixel(int x, int y) {
    const int last = FALLBACK_TEXTURE_SIZE - 1;
    if (x == 0 || y == 0 || x == last || y == last) return 0xFF0000FFu; // red border
    return ((x / 16 + y / 16) & 1) ? 0xFFFFFFFFu : 0xFF000000u;
}

render_context *render_context_new(int fullscreen, int hidden, int logical_width, int logical_height,
                                   int window_width, int window_height, int window_x, int window_y,
                                   float /*window_scale*/) {
    render_context *context = (render_context *)SDL_calloc(1, sizeof(render_context));
    if (!context) {
        SDL_OutOfMemory();
        return nullptr;
    }
    context->frame_queue = threadstreamqueue_allocate();
    context->event_queue = context->frame_queue ? threadstreamqueue_allocate() : nullptr;
    context->text_lock = context->event_queue ? SDL_CreateMutex() : nullptr;
    context->missing_lock = context->text_lock ? SDL_CreateMutex() : nullptr;
    if (!context->missing_lock) {
        render_context_delete(context);
        return nullptr;
    }
    context->logical_width = logical_width;
    context->logical_height = logical_height;

    int w = logical_width, h = logical_height;
    fit_to_display(&w, &h);
    Uint32 flags = fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_RESIZABLE;
    if (hidden) flags |= SDL_WINDOW_HIDDEN;
    context->window = SDL_CreateWindow(game_metadata()->gametitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                       w, h, flags);
    if (!context->window) {
        render_context_delete(context);
        return nullptr;
    }
    context->window_id = SDL_GetWindowID(context->window);
    SDL_GetWindowSize(context->window, &context->window_width, &context->window_height);
    set_window_icon(context->window);

    SDL_SetHint("SDL_RENDER_BATCHING", "1");
    context->renderer = SDL_CreateRenderer(context->window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!context->renderer) context->renderer = SDL_CreateRenderer(context->window, -1, SDL_RENDERER_ACCELERATED);
    if (!context->renderer) context->renderer = SDL_CreateRenderer(context->window, -1, 0);
    if (!context->renderer) {
        render_context_delete(context);
        return nullptr;
    }
    SDL_SetRenderDrawColor(context->renderer, 0, 0, 0, 255);
    SDL_RenderClear(context->renderer);
    SDL_RenderPresent(context->renderer);
    SDL_GetRendererOutputSize(context->renderer, &context->output_width, &context->output_height);

    context->fallback_texture = make_fallback_texture(context->renderer);
    if (!context->fallback_texture) {
        render_context_delete(context);
        return nullptr;
    }
    context->default_font = fontatlas_new(context->renderer, "font.ttf");
    if (!context->default_font) {
        render_context_delete(context);
        return nullptr;
    }

    SDL_RenderSetLogicalSize(context->renderer, logical_width, logical_height);
    SDL_SetRenderDrawBlendMode(context->renderer, SDL_BLENDMODE_BLEND);
    if (window_x != -1 && window_y != -1) SDL_SetWindowPosition(context->window, window_x, window_y);
    if (window_width != -1 && window_height != -1) SDL_SetWindowSize(context->window, window_width, window_height);

    SDL_AtomicSet(&context->keyboard_focus, 1);
    SDL_AtomicSet(&context->mouse_focus, 1);
    return context;
}

render_focus render_context_track_focus(render_context *context, const SDL_WindowEvent &event, bool *gained) {
    if (!context || event.windowID != context->window_id) return RENDER_FOCUS_NONE;
    render_focus which = RENDER_FOCUS_NONE;
    switch (event.event) {
    case SDL_WINDOWEVENT_ENTER:
    case SDL_WINDOWEVENT_LEAVE: which = RENDER_FOCUS_MOUSE; break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_FOCUS_LOST: which = RENDER_FOCUS_KEYBOARD; break;
    default: return RENDER_FOCUS_NONE;
    }
    *gained = event.event == SDL_WINDOWEVENT_ENTER || event.event == SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_AtomicSet(which == RENDER_FOCUS_MOUSE ? &context->mouse_focus : &context->keyboard_focus, *gained ? 1 : 0);
    return which;
}

void render_context_delete(render_context *context) {
    if (!context) return;
    // Fonts named in the font cache are separate from the default font;
    // their page textures go before the renderer does.
    draw_labels_release(context);
    render_cache_free(context->font_cache, release_font);
    fontatlas_delete(context->default_font);
    if (context->fallback_texture) SDL_DestroyTexture(context->fallback_texture);
    if (context->screenshot_texture) SDL_DestroyTexture(context->screenshot_texture);
    // Cached sprite textures and render targets go with the renderer.
    render_cache_free(context->texture_cache, nullptr);
    if (context->renderer) SDL_DestroyRenderer(context->renderer);
    if (context->window) SDL_DestroyWindow(context->window);
    threadstream_free(context->kept_frame);
    threadstreamqueue_free(context->frame_queue);
    threadstreamqueue_free(context->event_queue);
    if (context->text_lock) SDL_DestroyMutex(context->text_lock);
    while (missing_sprite_note *note = context->missing_sprites) {
        context->missing_sprites = note->next;
        SDL_free(note);
    }
    if (context->missing_lock) SDL_DestroyMutex(context->missing_lock);
    SDL_free(context);
}

void render_context_note_missing_sprite(render_context *context, const char *path) {
    size_t length = SDL_strlen(path);
    missing_sprite_note *note = (missing_sprite_note *)SDL_malloc(sizeof(missing_sprite_note) + length);
    if (!note) return;
    SDL_memcpy(note->path, path, length + 1);
    SDL_LockMutex(context->missing_lock);
    note->next = context->missing_sprites;
    context->missing_sprites = note;
    SDL_UnlockMutex(context->missing_lock);
}

missing_sprite_note *render_context_take_missing_sprites(render_context *context) {
    SDL_LockMutex(context->missing_lock);
    missing_sprite_note *newest = context->missing_sprites;
    context->missing_sprites = nullptr;
    SDL_UnlockMutex(context->missing_lock);
    missing_sprite_note *oldest = nullptr;
    while (newest) {
        missing_sprite_note *next = newest->next;
        newest->next = oldest;
        oldest = newest;
        newest = next;
    }
    return oldest;
}
