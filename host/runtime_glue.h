// The three native functions that connect the host to the Ruby runtime object.
#pragma once

#include "game_state.h"

void game_pre_init(game_state *state, int argc, char **argv);
void game_init(game_state *state);
void game_tick(game_state *state);

// The logical size the game gets for a window of w x h: phone-sized windows
// keep the 16:9 logical space.
void logical_size_for_window(int32_t w, int32_t h, int32_t *logical_width, int32_t *logical_height);
// Joins argv into the ARGV text (at most 254 characters, one space after each
// kept argument). Over-long arguments are skipped with a warning; they do not
// use up the room of the ones after them.
void join_argv_text(int argc, char **argv, char *out, size_t out_size);
