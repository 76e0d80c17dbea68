// The parts of one simulation frame, in the order simulation_frame runs
// them. Each takes the game state (and the render context where it needs
// one), so tests can drive a frame piece by piece against a runtime object
// of their own.
#pragma once

#include "game_state.h"

#include <SDL2/SDL.h>

struct render_context;

// Loads every Ruby file the runtime asks for (bytecode for ".rbc", source
// otherwise); a file that raises, fails to parse or is not usable bytecode is
// reported to the runtime's reload_failed(path, exception). Answers how many
// paths the list held when it was handed over.
int frame_load_reload_list(game_state *state);
// Reports controller key transitions to the runtime and moves each slot to
// its next state.
void frame_report_controller_keys(game_state *state);
// Hands one window-system event to the runtime (or acts on it natively).
void frame_dispatch_event(game_state *state, render_context *context, const SDL_Event &event);
// Before a frame starts: waits while FRAMES_QUEUED_MAX frames are still to be
// drawn, so that the frame reads the input of when it runs. Answers the
// performance-counter ticks it waited.
uint64_t frame_wait_for_renderer(render_context *context);
// Dispatches every queued event batch, oldest first, and frees the batches.
void frame_dispatch_event_batches(game_state *state, render_context *context);
// The eight stick positions of both players, every frame.
void frame_report_analog_sticks(game_state *state);
// Logs, once per path, each sprite image the renderer could not load.
void frame_report_missing_sprites(game_state *state, render_context *context);
// Appends to current_frame_stream the frame's pixel arrays, the frame
// header and every pass with its commands and end marker, then the
// screenshot commands.
void frame_write_render_passes(game_state *state);
// True when the runtime or either player's quit slot asks to stop.
bool frame_quit_requested(game_state *state);
