#include "render_context.h"

#include "../host/metadata.h"

namespace {

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

} // namespace

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
    if (!context->event_queue) {
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

    SDL_RenderSetLogicalSize(context->renderer, logical_width, logical_height);
    SDL_SetRenderDrawBlendMode(context->renderer, SDL_BLENDMODE_BLEND);
    if (window_x != -1 && window_y != -1) SDL_SetWindowPosition(context->window, window_x, window_y);
    if (window_width != -1 && window_height != -1) SDL_SetWindowSize(context->window, window_width, window_height);

    context->keyboard_focus = 1;
    context->mouse_focus = 1;
    return context;
}

void render_context_delete(render_context *context) {
    if (!context) return;
    if (context->renderer) SDL_DestroyRenderer(context->renderer);
    if (context->window) SDL_DestroyWindow(context->window);
    threadstream_free(context->kept_frame);
    threadstreamqueue_free(context->frame_queue);
    threadstreamqueue_free(context->event_queue);
    SDL_free(context);
}
