// The controller poll, driven by SDL's virtual pads. Hot-plugging and the
// frame-by-frame reports are tested end to end (tests/e2e/input_test.cpp).
#include "virtual_pads.h"

namespace {

using ControllerPoll = VirtualPadTest;

uint32_t *player1 = the_game_state.player1_key_states;

TEST_F(ControllerPoll, EveryControlFillsItsSlotsAndTheThresholdsAreStrict) {
    VirtualPad pad = VirtualPad::attach(true);
    open_game_controller(pad.device_index());
    ASSERT_TRUE(pad.drives(1));

    // Both sticks steer; exactly 20000 is not past the threshold.
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, -20000);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 20001);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 32767);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTY, -20000);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "2 4");
    EXPECT_EQ(the_game_state.player1_axes[0], -20000);
    EXPECT_EQ(the_game_state.player1_axes[2], 32767);
    for (int axis = 0; axis < 4; ++axis) pad.axis(axis, 0);

    // The d-pad drives a direction and its own slot; three buttons share 13.
    forget_presses();
    pad.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    pad.button(SDL_CONTROLLER_BUTTON_START, true);
    pad.button(SDL_CONTROLLER_BUTTON_BACK, true);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "4 13 27");
    for (int button : {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_CONTROLLER_BUTTON_START, SDL_CONTROLLER_BUTTON_BACK})
        pad.button(button, false);

    forget_presses();
    const std::pair<SDL_GameControllerButton, int> buttons[] = {
        {SDL_CONTROLLER_BUTTON_GUIDE, 13},         {SDL_CONTROLLER_BUTTON_B, 14},
        {SDL_CONTROLLER_BUTTON_A, 15},             {SDL_CONTROLLER_BUTTON_X, 16},
        {SDL_CONTROLLER_BUTTON_Y, 17},             {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 18},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 19}, {SDL_CONTROLLER_BUTTON_LEFTSTICK, 20},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 21},    {SDL_CONTROLLER_BUTTON_DPAD_UP, 24},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 25},     {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 26},
    };
    for (auto [button, slot] : buttons) {
        pad.button(button, true);
        poll_game_controller(1);
        EXPECT_EQ(player1[slot], CONTROLLER_KEY_PRESSED) << "button " << button;
        pad.button(button, false);
    }
    EXPECT_EQ(pressed_slots(), "1 2 3 13 14 15 16 17 18 19 20 21 24 25 26");

    // SDL rescales a full-range axis into a trigger's 0..32767: find the raw
    // values that read exactly 20000 and 20001.
    SDL_GameController *controller = player_controllers[0];
    auto reading = [&](SDL_GameControllerAxis trigger, Sint16 raw) {
        pad.axis(trigger, raw);
        return SDL_GameControllerGetAxis(controller, trigger);
    };
    Sint16 at = 0, past = 0;
    for (int raw = 7000; raw < 7500; ++raw) {
        Sint16 value = reading(SDL_CONTROLLER_AXIS_TRIGGERLEFT, (Sint16)raw);
        if (value == 20000) at = (Sint16)raw;
        if (value == 20001 && !past) past = (Sint16)raw;
    }
    ASSERT_TRUE(at && past);
    forget_presses();
    reading(SDL_CONTROLLER_AXIS_TRIGGERLEFT, at);
    reading(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, past);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "23");
    // Slot 5, the quit request, is never touched by a poll.
    EXPECT_EQ(player1[CONTROLLER_QUIT_SLOT], 0u);
}

TEST_F(ControllerPoll, PressesAndReleasesSurviveUntilTheyAreReported) {
    VirtualPad pad = VirtualPad::attach(true);
    open_game_controller(pad.device_index());
    const int a = 15;

    // Pressed and released between two reports: the press still counts, and
    // the release follows on the next poll.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_PRESSED);
    player1[a] = CONTROLLER_KEY_HELD; // reported
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_RELEASED);
    // Pressed again while the release is pending: that release is dropped.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_PRESSED);

    // Unplugged while held: the key is released and the sticks read 0.
    player1[a] = CONTROLLER_KEY_HELD;
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTY, 12345);
    poll_game_controller(1);
    EXPECT_EQ(the_game_state.player1_axes[3], 12345);
    game_controller_removed(pad.id);
    EXPECT_EQ(player_controllers[0], nullptr);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_RELEASED);
    EXPECT_EQ(the_game_state.player1_axes[3], 0);
}

} // namespace
