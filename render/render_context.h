// The record that owns everything on the renderer's side: window, renderer,
// the two queues between the threads, the kept frame, the caches, the grid
// transform and the render frame-rate meter.
#pragma once

#include "../host/fps_meter.h"
#include "../host/threadstream.h"

#include <SDL2/SDL.h>
#include <cstdint>

struct render_cache;
struct fontatlas_font;
struct label_run;
struct missing_sprite_note;

// Side of the checkerboard drawn for sprites whose image is missing.
constexpr int FALLBACK_TEXTURE_SIZE = 256;

// Made before the simulation thread starts and deleted after it ends. The
// two threads share only the queues (each guarded by its own mutex), the
// font cache and atlases (text_lock), the focus flags and render_fps
// (atomic); every other field is the main thread's alone or fixed at start.
struct render_context {
    threadstreamqueue *frame_queue; // frame streams, simulation -> main
    threadstreamqueue *event_queue; // event batches, main -> simulation
    threadstream *kept_frame;       // last frame drawn normally, for replay
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *fallback_texture;   // checkerboard for missing sprite images
    SDL_Texture *screenshot_texture; // logical-size target; NULL until first needed
    render_cache *texture_cache;     // main thread only
    fontatlas_font *default_font;    // "font.ttf"; its atlas guarded by text_lock
    render_cache *font_cache;        // guarded by text_lock
    uint32_t window_id;
    int32_t output_width, output_height;
    int32_t logical_width, logical_height;
    int32_t window_width, window_height;
    // Written by the simulation thread as window events arrive, read by the
    // main thread (which slows down without keyboard focus): atomic, no lock.
    SDL_atomic_t keyboard_focus;
    SDL_atomic_t mouse_focus;
    int32_t screen_not_cleared;
    uint8_t last_screen_background[3];
    int32_t grid_origin_x, grid_origin_y, grid_y_direction, grid_set;
    fps_meter render_fps_meter;
    SDL_atomic_t render_fps;

    // The font cache and every font's glyph atlas are used by label drawing
    // on the main thread and by text measuring on the simulation thread:
    // both hold this lock for the whole lookup-and-use.
    SDL_mutex *text_lock;
    // The origin that the last set-grid command gave for the screen. Passes
    // into render targets move the origin to the target's own corner; going
    // back to the screen restores this one.
    int32_t grid_screen_origin_x, grid_screen_origin_y;
    // Performance-counter time of the last present: a turn with nothing new
    // waits for a frame until one frame period has passed since then.
    uint64_t last_present;
    // The labels being drawn (drawing.cpp); NULL until the first label.
    label_run *labels;
    // Sprite images that failed to load and wait to be reported, newest
    // first: written by the main thread, taken by the simulation thread,
    // both under missing_lock.
    SDL_mutex *missing_lock;
    missing_sprite_note *missing_sprites;
};

// A sprite image that could not be loaded, noted by the main thread for the
// simulation thread to report.
struct missing_sprite_note {
    missing_sprite_note *next;
    char path[1]; // NUL-terminated, allocated to its length
};

enum render_focus { RENDER_FOCUS_NONE, RENDER_FOCUS_MOUSE, RENDER_FOCUS_KEYBOARD };
// Simulation thread: a window event that enters, leaves, gains or loses
// focus of the context's window updates the matching focus flag. Answers
// which flag changed (none for other events), and sets *gained to its value.
render_focus render_context_track_focus(render_context *context, const SDL_WindowEvent &event, bool *gained);

render_context *render_context_new(int fullscreen, int hidden, int logical_width, int logical_height,
                                   int window_width, int window_height, int window_x, int window_y,
                                   float window_scale);
void render_context_delete(render_context *context);

// Main thread: notes a sprite image that could not be loaded.
void render_context_note_missing_sprite(render_context *context, const char *path);
// Simulation thread: the notes waiting, oldest first, now the caller's (each
// freed with SDL_free).
missing_sprite_note *render_context_take_missing_sprites(render_context *context);

// The fallback texture's pixel (x, y) as an ABGR8888 value.
uint32_t fallback_texture_pixel(int x, int y);
