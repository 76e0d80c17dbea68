// SDL's virtual joysticks as stand-ins for real pads: no display or device
// needed. The fixture brings up SDL's controller subsystem and empties the
// player slots around every test.
#pragma once

#include "host/controllers.h"
#include "host/game_state.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <string>

// One attached virtual device, kept open by the test so it can be driven.
struct VirtualPad {
    SDL_Joystick *handle = nullptr;
    SDL_JoystickID id = -1;

    // A game controller (SDL's own layout) or, with GAMECONTROLLER false, a
    // joystick SDL has no mapping for.
    static VirtualPad attach(bool game_controller, const char *name = nullptr) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = game_controller ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.naxes = game_controller ? SDL_CONTROLLER_AXIS_MAX : 2;
        desc.nbuttons = game_controller ? SDL_CONTROLLER_BUTTON_MAX : 6;
        desc.nhats = game_controller ? 0 : 1;
        desc.name = name;
        VirtualPad pad;
        int device_index = SDL_JoystickAttachVirtualEx(&desc);
        pad.handle = device_index >= 0 ? SDL_JoystickOpen(device_index) : nullptr;
        pad.id = pad.handle ? SDL_JoystickInstanceID(pad.handle) : -1;
        return pad;
    }

    int device_index() const {
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) return i;
        return -1;
    }

    void axis(int which, Sint16 value) const {
        SDL_JoystickSetVirtualAxis(handle, which, value);
        SDL_JoystickUpdate();
    }

    void button(int which, bool down) const {
        SDL_JoystickSetVirtualButton(handle, which, down ? SDL_PRESSED : SDL_RELEASED);
        SDL_JoystickUpdate();
    }

    bool drives(int player) const {
        SDL_GameController *controller = player_controllers[player - 1];
        return controller && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller)) == id;
    }
};

class VirtualPadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        SDL_memset(the_game_state.player1_key_states, 0, sizeof the_game_state.player1_key_states);
        SDL_memset(the_game_state.player1_axes, 0, sizeof the_game_state.player1_axes);
    }

    void TearDown() override {
        game_controllers_close();
        SDL_Quit();
    }

    // The slots a poll marked as pressed (state 1), as text: "1 27".
    static std::string pressed_slots() {
        std::string out;
        for (int slot = 0; slot < CONTROLLER_KEY_SLOTS; ++slot)
            if (the_game_state.player1_key_states[slot] == CONTROLLER_KEY_PRESSED)
                out += (out.empty() ? "" : " ") + std::to_string(slot);
        return out;
    }

    static void forget_presses() {
        SDL_memset(the_game_state.player1_key_states, 0, sizeof the_game_state.player1_key_states);
    }
};
