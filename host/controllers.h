// The two player slots for game controllers.
#pragma once

#include <SDL2/SDL.h>

extern SDL_GameController *player_controllers[2];

// Closes both players' controllers and empties their slots (shutdown).
void game_controllers_close();
