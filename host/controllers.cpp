#include "controllers.h"

#include "game_state.h"

SDL_GameController *player_controllers[2] = {nullptr, nullptr};

namespace {

// A stick or trigger counts as pressed strictly beyond this reading.
constexpr int AXIS_PRESS_THRESHOLD = 20000;

enum controller_slot {
    SLOT_UP = 1,
    SLOT_DOWN = 2,
    SLOT_LEFT = 3,
    SLOT_RIGHT = 4,
    SLOT_START = 13,
    SLOT_B = 14,
    SLOT_A = 15,
    SLOT_X = 16,
    SLOT_Y = 17,
    SLOT_L1 = 18,
    SLOT_R1 = 19,
    SLOT_L3 = 20,
    SLOT_R3 = 21,
    SLOT_L2 = 22,
    SLOT_R2 = 23,
    SLOT_DIRECTIONAL_UP = 24,
    SLOT_DIRECTIONAL_DOWN = 25,
    SLOT_DIRECTIONAL_LEFT = 26,
    SLOT_DIRECTIONAL_RIGHT = 27,
};

SDL_JoystickID controller_instance_id(SDL_GameController *controller) {
    SDL_Joystick *joystick = SDL_GameControllerGetJoystick(controller);
    return joystick ? SDL_JoystickInstanceID(joystick) : -1;
}

bool in_a_slot(SDL_GameController *controller, SDL_JoystickID instance_id) {
    for (SDL_GameController *slot : player_controllers) {
        if (!slot) continue;
        if (slot == controller) return true;
        if (instance_id >= 0 && controller_instance_id(slot) == instance_id) return true;
    }
    return false;
}

bool button(SDL_GameController *controller, SDL_GameControllerButton which) {
    return SDL_GameControllerGetButton(controller, which) != 0;
}

bool beyond_threshold(int reading) { return reading > AXIS_PRESS_THRESHOLD || reading < -AXIS_PRESS_THRESHOLD; }

void read_pressed_slots(SDL_GameController *controller, const int32_t axes[4], bool pressed[CONTROLLER_KEY_SLOTS]) {
    const int32_t left_x = axes[0], left_y = axes[1], right_x = axes[2], right_y = axes[3];
    bool pad_up = button(controller, SDL_CONTROLLER_BUTTON_DPAD_UP);
    bool pad_down = button(controller, SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    bool pad_left = button(controller, SDL_CONTROLLER_BUTTON_DPAD_LEFT);
    bool pad_right = button(controller, SDL_CONTROLLER_BUTTON_DPAD_RIGHT);

    // Both sticks and the d-pad steer; y grows downward.
    pressed[SLOT_UP] = left_y < -AXIS_PRESS_THRESHOLD || right_y < -AXIS_PRESS_THRESHOLD || pad_up;
    pressed[SLOT_DOWN] = left_y > AXIS_PRESS_THRESHOLD || right_y > AXIS_PRESS_THRESHOLD || pad_down;
    pressed[SLOT_LEFT] = left_x < -AXIS_PRESS_THRESHOLD || right_x < -AXIS_PRESS_THRESHOLD || pad_left;
    pressed[SLOT_RIGHT] = left_x > AXIS_PRESS_THRESHOLD || right_x > AXIS_PRESS_THRESHOLD || pad_right;

    pressed[SLOT_START] = button(controller, SDL_CONTROLLER_BUTTON_START) ||
                          button(controller, SDL_CONTROLLER_BUTTON_BACK) ||
                          button(controller, SDL_CONTROLLER_BUTTON_GUIDE);
    pressed[SLOT_B] = button(controller, SDL_CONTROLLER_BUTTON_B);
    pressed[SLOT_A] = button(controller, SDL_CONTROLLER_BUTTON_A);
    pressed[SLOT_X] = button(controller, SDL_CONTROLLER_BUTTON_X);
    pressed[SLOT_Y] = button(controller, SDL_CONTROLLER_BUTTON_Y);
    pressed[SLOT_L1] = button(controller, SDL_CONTROLLER_BUTTON_LEFTSHOULDER);
    pressed[SLOT_R1] = button(controller, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER);
    pressed[SLOT_L3] = button(controller, SDL_CONTROLLER_BUTTON_LEFTSTICK);
    pressed[SLOT_R3] = button(controller, SDL_CONTROLLER_BUTTON_RIGHTSTICK);
    pressed[SLOT_L2] = beyond_threshold(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    pressed[SLOT_R2] = beyond_threshold(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    pressed[SLOT_DIRECTIONAL_UP] = pad_up;
    pressed[SLOT_DIRECTIONAL_DOWN] = pad_down;
    pressed[SLOT_DIRECTIONAL_LEFT] = pad_left;
    pressed[SLOT_DIRECTIONAL_RIGHT] = pad_right;
}

} // namespace

void open_game_controller(int device_index) {
    // Opening a device that is already open hands back the same controller
    // with one more reference; it must not take the second slot as well.
    if (in_a_slot(nullptr, SDL_JoystickGetDeviceInstanceID(device_index))) return;
    SDL_GameController *controller = SDL_GameControllerOpen(device_index);
    if (!controller) return;
    if (in_a_slot(controller, controller_instance_id(controller))) {
        SDL_GameControllerClose(controller);
        return;
    }
    for (SDL_GameController *&slot : player_controllers) {
        if (!slot) {
            slot = controller;
            return;
        }
    }
    SDL_GameControllerClose(controller);
}

void game_controller_removed(SDL_JoystickID instance_id) {
    SDL_GameController *controller = SDL_GameControllerFromInstanceID(instance_id);
    if (!controller) return;
    for (SDL_GameController *&slot : player_controllers) {
        if (slot == controller) {
            slot = nullptr;
            break;
        }
    }
    SDL_GameControllerClose(controller);
}

void poll_game_controller(int player) {
    if (player != 1 && player != 2) return;
    game_state *state = &the_game_state;
    uint32_t *key_states = player == 1 ? state->player1_key_states : state->player2_key_states;
    int32_t *axes = player == 1 ? state->player1_axes : state->player2_axes;

    bool pressed[CONTROLLER_KEY_SLOTS] = {};
    for (int i = 0; i < 4; ++i) axes[i] = 0;
    if (SDL_GameController *controller = player_controllers[player - 1]) {
        axes[0] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTX);
        axes[1] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTY);
        axes[2] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTX);
        axes[3] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTY);
        read_pressed_slots(controller, axes, pressed);
    }

    // Only 1 and 3 are written here; the frame step turns 1 into 2 and 3 into
    // 0 as it reports them. A press not yet reported survives a release, and a
    // new press cancels a release not yet reported.
    for (int slot = 0; slot < CONTROLLER_KEY_SLOTS; ++slot) {
        if (pressed[slot] && key_states[slot] != CONTROLLER_KEY_HELD)
            key_states[slot] = CONTROLLER_KEY_PRESSED;
        else if (!pressed[slot] && key_states[slot] == CONTROLLER_KEY_HELD)
            key_states[slot] = CONTROLLER_KEY_RELEASED;
    }
}

void game_controllers_close() {
    for (SDL_GameController *&slot : player_controllers) {
        if (slot) SDL_GameControllerClose(slot);
        slot = nullptr;
    }
}
