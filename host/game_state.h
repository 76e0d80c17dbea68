// The engine's one record of the native side of a running game. Start-up and
// the runtime glue fill it; after start-up only the simulation thread touches
// it, and shutdown reads it once that thread has ended.
#pragma once

#include "mruby_api.h"

#include <cstdint>

constexpr int CONTROLLER_KEY_SLOTS = 28;
// Slot 5 of either player's key slots is the quit request, not a key.
constexpr int CONTROLLER_QUIT_SLOT = 5;

enum controller_key_state : uint32_t {
    CONTROLLER_KEY_UP = 0,
    CONTROLLER_KEY_PRESSED = 1,
    CONTROLLER_KEY_HELD = 2,
    CONTROLLER_KEY_RELEASED = 3,
};

typedef uint32_t controller_key_states[CONTROLLER_KEY_SLOTS];

struct game_state {
    controller_key_states player1_key_states;
    int32_t player1_axes[4]; // left x, left y, right x, right y
    int32_t player2_axes[4];
    controller_key_states player2_key_states;
    mrb_state *mrb;
    mrb_value runtime;
    RClass *ffi_module;
    RClass *ffi_file_class;
    RClass *ffi_misc_class;
    RClass *ffi_mrb_class;
    RClass *ffi_draw_class;
    RClass *ffi_compiler_class;
    int32_t argv_window_width;
    int32_t argv_window_height;
    int32_t argv_window_position_x;
    int32_t argv_window_position_y;
    int32_t logical_width;
    int32_t logical_height;
    float argv_window_scale;
    mrb_value argv;
    mrb_value binary_path;
    char *game_dir;
    char *base_dir;
};

extern game_state the_game_state;
