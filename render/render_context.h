// The record that owns everything on the renderer's side: window, renderer,
// the two queues between the threads, the kept frame and the caches.
#pragma once

#include "../host/threadstream.h"

#include <SDL2/SDL.h>
#include <cstdint>

struct render_context {
    threadstreamqueue *frame_queue; // frame streams, simulation -> main
    threadstreamqueue *event_queue; // event batches, main -> simulation
    threadstream *kept_frame;       // last frame drawn normally, for replay
    SDL_Window *window;
    SDL_Renderer *renderer;
    uint32_t window_id;
    int32_t output_width, output_height;
    int32_t logical_width, logical_height;
    int32_t window_width, window_height;
    int32_t keyboard_focus; // written by the simulation thread, read by main
    int32_t mouse_focus;
    int32_t screen_not_cleared;
    uint8_t last_screen_background[3];
    SDL_atomic_t render_fps;
};

render_context *render_context_new(int fullscreen, int hidden, int logical_width, int logical_height,
                                   int window_width, int window_height, int window_x, int window_y,
                                   float window_scale);
void render_context_delete(render_context *context);
