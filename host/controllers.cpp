#include "controllers.h"

SDL_GameController *player_controllers[2] = {nullptr, nullptr};

void game_controllers_close() {
    for (SDL_GameController *&slot : player_controllers) {
        if (slot) SDL_GameControllerClose(slot);
        slot = nullptr;
    }
}
