// SDL's virtual joysticks as stand-ins for real pads: no display or device
// needed. A fixture brings up SDL's controller subsystem and empties the
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

    static VirtualPad attach(SDL_JoystickType type, int axes, int buttons, int hats, const char *name = nullptr) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = (Uint16)type;
        desc.naxes = (Uint16)axes;
        desc.nbuttons = (Uint16)buttons;
        desc.nhats = (Uint16)hats;
        desc.name = name;
        VirtualPad pad;
        int device_index = SDL_JoystickAttachVirtualEx(&desc);
        if (device_index < 0) return pad;
        pad.handle = SDL_JoystickOpen(device_index);
        pad.id = pad.handle ? SDL_JoystickInstanceID(pad.handle) : -1;
        return pad;
    }

    // A pad SDL knows as a game controller: buttons and axes in SDL's order.
    static VirtualPad controller(const char *name = nullptr) {
        return attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0, name);
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
    void hat(int which, Uint8 value) const {
        SDL_JoystickSetVirtualHat(handle, which, value);
        SDL_JoystickUpdate();
    }

    void detach() {
        int index = device_index();
        if (handle) SDL_JoystickClose(handle);
        handle = nullptr;
        if (index >= 0) SDL_JoystickDetachVirtual(index);
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
        reset_player_state();
    }

    void TearDown() override {
        game_controllers_close();
        reset_player_state();
        SDL_Quit();
    }

    static void reset_player_state() {
        SDL_memset(the_game_state.player1_key_states, 0, sizeof the_game_state.player1_key_states);
        SDL_memset(the_game_state.player2_key_states, 0, sizeof the_game_state.player2_key_states);
        SDL_memset(the_game_state.player1_axes, 0, sizeof the_game_state.player1_axes);
        SDL_memset(the_game_state.player2_axes, 0, sizeof the_game_state.player2_axes);
    }

    // The slots that a poll marked as pressed (state 1), as text: "1 27".
    static std::string pressed_slots(const uint32_t *states) {
        std::string out;
        for (int slot = 0; slot < CONTROLLER_KEY_SLOTS; ++slot)
            if (states[slot] == CONTROLLER_KEY_PRESSED) out += (out.empty() ? "" : " ") + std::to_string(slot);
        return out;
    }
};
