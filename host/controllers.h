// The two player slots for game controllers, and the per-frame poll that turns
// each player's controller into key slots and stick values in the_game_state.
// Everything here runs on the simulation thread (start-up and shutdown run
// while that thread does not exist).
#pragma once

#include <SDL2/SDL.h>

extern SDL_GameController *player_controllers[2];

// Opens the device as a game controller and puts it into player 1's slot when
// empty, else player 2's, else closes it again. A device already sitting in a
// slot (SDL repeats the added event, e.g. after a new mapping) stays where it
// is and takes no second slot.
void open_game_controller(int device_index);

// A controller went away: empties the slot that holds it and closes it. A
// controller in no slot is simply closed; an unknown instance id does nothing.
void game_controller_removed(SDL_JoystickID instance_id);

// One poll of player 1's or player 2's controller into that player's key
// slots (1 pressed since the last hand-off, 3 released since it; a held slot
// stays 2) and four stick values. A player without a controller reads as all
// keys released and all sticks at 0.
void poll_game_controller(int player);

// Closes both players' controllers and empties their slots (shutdown).
void game_controllers_close();
