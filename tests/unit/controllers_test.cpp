// The controller poll and the two player slots, driven by SDL's virtual pads.
#include "virtual_pads.h"

namespace {

using ControllerPoll = VirtualPadTest;
using PlayerSlots = VirtualPadTest;

uint32_t *player1 = the_game_state.player1_key_states;
uint32_t *player2 = the_game_state.player2_key_states;

// What the frame step does with the slots after reporting them.
void hand_off(uint32_t *states) {
    for (int slot = 0; slot < CONTROLLER_KEY_SLOTS; ++slot) {
        if (states[slot] == CONTROLLER_KEY_PRESSED) states[slot] = CONTROLLER_KEY_HELD;
        if (states[slot] == CONTROLLER_KEY_RELEASED) states[slot] = CONTROLLER_KEY_UP;
    }
}

TEST_F(ControllerPoll, SticksPressDirectionsOnlyStrictlyBeyondTheThreshold) {
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());
    ASSERT_TRUE(pad.drives(1));

    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, -25000);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "1");
    EXPECT_EQ(the_game_state.player1_axes[1], -25000);

    SDL_memset(player1, 0, sizeof the_game_state.player1_key_states);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, -20000);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "");
    EXPECT_EQ(the_game_state.player1_axes[1], -20000);

    // Every stick half and both sticks: right stick right and left stick down.
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 20001);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 32767);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, -20000);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "2 4");
    EXPECT_EQ(the_game_state.player1_axes[0], -20000);
    EXPECT_EQ(the_game_state.player1_axes[2], 32767);

    SDL_memset(player1, 0, sizeof the_game_state.player1_key_states);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 0);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTY, -32768);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, -20001);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "1 3");
    // The second player has no controller and reads all zero.
    poll_game_controller(2);
    EXPECT_EQ(pressed_slots(player2), "");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(the_game_state.player2_axes[i], 0);
}

TEST_F(ControllerPoll, ButtonsTriggersAndTheDpadFillTheirSlots) {
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());

    // The d-pad drives both its own slots and the direction slots.
    pad.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    pad.button(SDL_CONTROLLER_BUTTON_START, true);
    pad.button(SDL_CONTROLLER_BUTTON_BACK, true);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "4 13 27");

    pad.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
    pad.button(SDL_CONTROLLER_BUTTON_START, false);
    pad.button(SDL_CONTROLLER_BUTTON_BACK, false);
    SDL_memset(player1, 0, sizeof the_game_state.player1_key_states);
    const std::pair<SDL_GameControllerButton, int> buttons[] = {
        {SDL_CONTROLLER_BUTTON_GUIDE, 13},        {SDL_CONTROLLER_BUTTON_B, 14},
        {SDL_CONTROLLER_BUTTON_A, 15},            {SDL_CONTROLLER_BUTTON_X, 16},
        {SDL_CONTROLLER_BUTTON_Y, 17},            {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 18},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 19}, {SDL_CONTROLLER_BUTTON_LEFTSTICK, 20},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 21},   {SDL_CONTROLLER_BUTTON_DPAD_UP, 24},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 25},    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 26},
    };
    for (auto [button, slot] : buttons) {
        pad.button(button, true);
        poll_game_controller(1);
        EXPECT_EQ(player1[slot], CONTROLLER_KEY_PRESSED) << "button " << button;
        pad.button(button, false);
    }
    EXPECT_EQ(pressed_slots(player1), "1 2 3 13 14 15 16 17 18 19 20 21 24 25 26");

    // SDL rescales a full-range joystick axis into a trigger's 0..32767:
    // find the raw values that read exactly 20000 and 20001.
    SDL_GameController *controller = player_controllers[0];
    auto trigger_reading = [&](SDL_GameControllerAxis trigger, Sint16 raw) {
        pad.axis(trigger, raw);
        return SDL_GameControllerGetAxis(controller, trigger);
    };
    Sint16 at_threshold = 0, past_threshold = 0;
    for (int raw = 7000; raw < 7500; ++raw) {
        Sint16 reading = trigger_reading(SDL_CONTROLLER_AXIS_TRIGGERLEFT, (Sint16)raw);
        if (reading == 20000) at_threshold = (Sint16)raw;
        if (reading == 20001 && !past_threshold) past_threshold = (Sint16)raw;
    }
    ASSERT_NE(at_threshold, 0);
    ASSERT_NE(past_threshold, 0);
    SDL_memset(player1, 0, sizeof the_game_state.player1_key_states);
    EXPECT_EQ(trigger_reading(SDL_CONTROLLER_AXIS_TRIGGERLEFT, at_threshold), 20000);
    EXPECT_EQ(trigger_reading(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, past_threshold), 20001);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "23");
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(player1), "22 23");
    // Slot 5, the quit request, is never touched by a poll.
    EXPECT_EQ(player1[CONTROLLER_QUIT_SLOT], 0u);
}

TEST_F(ControllerPoll, APressIsReportedOnceThenHeldThenReleased) {
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());
    const int a = 15;

    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_PRESSED);
    hand_off(player1);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_HELD);
    hand_off(player1);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_HELD);
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_RELEASED);
    hand_off(player1);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_UP);

    // Pressed and released between two hand-offs: the press still counts.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_PRESSED);
    hand_off(player1);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_RELEASED);

    // Pressed again while a release is pending: the release is not reported.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    EXPECT_EQ(player1[a], CONTROLLER_KEY_PRESSED);
}

TEST_F(ControllerPoll, UnpluggingWhileHeldReleasesTheKeyAndZeroesTheSticks) {
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());
    pad.button(SDL_CONTROLLER_BUTTON_Y, true);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTY, 12345);
    poll_game_controller(1);
    hand_off(player1);
    EXPECT_EQ(the_game_state.player1_axes[3], 12345);

    SDL_JoystickID id = pad.id;
    pad.detach();
    game_controller_removed(id);
    EXPECT_EQ(player_controllers[0], nullptr);
    poll_game_controller(1);
    EXPECT_EQ(player1[17], CONTROLLER_KEY_RELEASED);
    EXPECT_EQ(the_game_state.player1_axes[3], 0);
}

TEST_F(PlayerSlots, AThirdPadDrivesNothingAndANewPadFillsTheEmptiedSlot) {
    VirtualPad one = VirtualPad::controller("pad one");
    VirtualPad two = VirtualPad::controller("pad two");
    VirtualPad three = VirtualPad::controller("pad three");
    for (VirtualPad *pad : {&one, &two, &three}) open_game_controller(pad->device_index());
    EXPECT_TRUE(one.drives(1));
    EXPECT_TRUE(two.drives(2));
    // The third was opened and closed at once.
    EXPECT_EQ(SDL_GameControllerFromInstanceID(three.id), nullptr);

    three.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    poll_game_controller(2);
    EXPECT_EQ(pressed_slots(player1), "");
    EXPECT_EQ(pressed_slots(player2), "");

    // Slots are never compacted: pad two stays player 2 and the next pad to
    // arrive becomes player 1.
    SDL_JoystickID gone = one.id;
    one.detach();
    game_controller_removed(gone);
    EXPECT_EQ(player_controllers[0], nullptr);
    EXPECT_TRUE(two.drives(2));
    VirtualPad four = VirtualPad::controller("pad four");
    open_game_controller(four.device_index());
    EXPECT_TRUE(four.drives(1));
    EXPECT_TRUE(two.drives(2));

    four.button(SDL_CONTROLLER_BUTTON_X, true);
    two.button(SDL_CONTROLLER_BUTTON_B, true);
    poll_game_controller(1);
    poll_game_controller(2);
    EXPECT_EQ(pressed_slots(player1), "16");
    EXPECT_EQ(pressed_slots(player2), "14");

    // Removing a controller that sits in no slot, or an unknown id, leaves
    // the slots alone.
    game_controller_removed(three.id);
    game_controller_removed(987654);
    EXPECT_TRUE(four.drives(1));
    EXPECT_TRUE(two.drives(2));
}

TEST_F(PlayerSlots, ARepeatedAddedEventDoesNotPutOnePadIntoBothSlots) {
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());
    open_game_controller(pad.device_index());
    EXPECT_TRUE(pad.drives(1));
    EXPECT_EQ(player_controllers[1], nullptr);

    // The repeat took no extra reference: one removal closes it for good.
    SDL_JoystickID id = pad.id;
    game_controller_removed(id);
    EXPECT_EQ(SDL_GameControllerFromInstanceID(id), nullptr);
    EXPECT_EQ(player_controllers[0], nullptr);

    // A device that is no game controller, or no device at all, is ignored.
    VirtualPad raw = VirtualPad::attach(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 1);
    open_game_controller(raw.device_index());
    open_game_controller(99);
    EXPECT_EQ(player_controllers[0], nullptr);
    EXPECT_EQ(player_controllers[1], nullptr);
}

} // namespace
