#include "game_state.h"

// Zero-filled before main runs; never freed.
game_state the_game_state;
