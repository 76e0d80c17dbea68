#pragma once

#include "../host/game_state.h"

struct render_context;

// Defines the FFI module and its classes.
void ffi_init(game_state *state, render_context *context);
