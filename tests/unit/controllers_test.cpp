// Game controllers on SDL's virtual joysticks (no display or device needed):
// the per-frame poll into the player slots, and turning raw joysticks into
// game controllers for the configuration screen. Hot-plugging, the
// frame-by-frame reports, the screen itself and the mapping it saves (read
// back after a restart) are tested end to end (tests/e2e/input_test.cpp).
#include "bridge/controller_config_methods.h"
#include "host/controllers.h"
#include "host/game_state.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <string>

namespace {

uint32_t *player1 = the_game_state.player1_key_states;

// One attached virtual device, kept open by the test so it can be driven:
// a game controller (SDL's own layout) or a joystick SDL has no mapping for.
struct VirtualPad {
    SDL_Joystick *handle = nullptr;
    SDL_JoystickID id = -1;

    explicit VirtualPad(bool game_controller, const char *name = nullptr) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = game_controller ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.naxes = game_controller ? SDL_CONTROLLER_AXIS_MAX : 2;
        desc.nbuttons = game_controller ? SDL_CONTROLLER_BUTTON_MAX : 6;
        desc.nhats = game_controller ? 0 : 1;
        desc.name = name;
        handle = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
        id = handle ? SDL_JoystickInstanceID(handle) : -1;
    }
    int device_index() const {
        int i = SDL_NumJoysticks() - 1;
        while (i >= 0 && SDL_JoystickGetDeviceInstanceID(i) != id) --i;
        return i;
    }
    void axis(int which, Sint16 value) const { SDL_JoystickSetVirtualAxis(handle, which, value), SDL_JoystickUpdate(); }
    void button(int which, bool down) const { SDL_JoystickSetVirtualButton(handle, which, down), SDL_JoystickUpdate(); }
    bool drives(int player) const {
        SDL_GameController *controller = player_controllers[player - 1];
        return controller && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller)) == id;
    }
};

// SDL's controller subsystem and empty player slots around every test.
class Controllers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        forget_presses();
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
            if (player1[slot] == CONTROLLER_KEY_PRESSED) out += (out.empty() ? "" : " ") + std::to_string(slot);
        return out;
    }
    static VirtualPad player_one() {
        VirtualPad pad(true);
        open_game_controller(pad.device_index());
        return pad;
    }
    static void forget_presses() { SDL_memset(player1, 0, sizeof the_game_state.player1_key_states); }
};

TEST_F(Controllers, EveryControlFillsItsSlotsTheThresholdsAreStrictAndPressesSurviveUntilReported) {
    VirtualPad pad = player_one();
    ASSERT_TRUE(pad.drives(1));
    // Both sticks steer; exactly 20000 is not past the threshold.
    const Sint16 sticks[] = {-20000, 20001, 32767, -20000}; // left x and y, right x and y
    for (int axis = 0; axis < 4; ++axis) pad.axis(axis, sticks[axis]);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "2 4");
    for (int axis = 0; axis < 4; ++axis) pad.axis(axis, 0);
    // One button at a time, in SDL's order (A, B, X, Y, back, guide, start,
    // the sticks, the shoulders, the d-pad): the d-pad drives a direction and
    // its own slot; three buttons share 13.
    const char *const slots[] = {"15", "14", "16", "17", "13", "13", "13", "20", "21", "18", "19",
                                 "1 24", "2 25", "3 26", "4 27"};
    for (int button = 0; button < 15; ++button) {
        forget_presses();
        pad.button(button, true);
        poll_game_controller(1);
        EXPECT_EQ(pressed_slots(), slots[button]) << "button " << button;
        pad.button(button, false);
    }
    // A trigger half way in (raw 0 reads 16384) is not pressed; a press not
    // yet reported stays; the quit slot is never touched by a poll.
    forget_presses();
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "22");
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0);
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "22 23");
    EXPECT_EQ(player1[CONTROLLER_QUIT_SLOT], 0u);

    forget_presses();
    uint32_t &a = player1[15];
    // Pressed and released between two reports: the press still counts, and
    // the release follows on the next poll.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    poll_game_controller(1);
    EXPECT_EQ(a, CONTROLLER_KEY_PRESSED);
    a = CONTROLLER_KEY_HELD; // reported
    poll_game_controller(1);
    EXPECT_EQ(a, CONTROLLER_KEY_RELEASED);
    // Pressed again while the release is pending: that release is dropped.
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    poll_game_controller(1);
    EXPECT_EQ(a, CONTROLLER_KEY_PRESSED);
    // Unplugged while held: the key is released and the sticks read 0.
    a = CONTROLLER_KEY_HELD;
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTY, 12345);
    poll_game_controller(1);
    EXPECT_EQ(the_game_state.player1_axes[3], 12345);
    game_controller_removed(pad.id);
    poll_game_controller(1);
    EXPECT_TRUE(player_controllers[0] == nullptr && a == CONTROLLER_KEY_RELEASED && the_game_state.player1_axes[3] == 0);
}

TEST_F(Controllers, ConvertingAndClosingLeaveControllersAlone) {
    // Without a mapping the raw joystick is closed and goes nowhere.
    VirtualPad raw(false);
    convert_rawjoystick_to_controller(raw.id);
    EXPECT_EQ(SDL_JoystickFromInstanceID(raw.id), nullptr);
    EXPECT_EQ(player_controllers[0], nullptr);

    // Once a pad is a game controller, closing or converting it again as a
    // raw joystick must not pull its joystick from under the player slot.
    VirtualPad pad = player_one();
    SDL_JoystickClose(pad.handle);
    // Called the way Ruby calls them.
    mrb_state *mrb = mrb_open();
    RClass *misc = mrb_define_class(mrb, "Misc", mrb->object_class);
    controller_config_methods_define(mrb, misc);
    mrb_load_string(mrb, ("m = Misc.new; m.close_raw_joystick(" + std::to_string(pad.id) + "); m.convert_rawjoystick_to_controller(" +
                          std::to_string(pad.id) + "); m.close_raw_joystick(-5)").c_str());
    EXPECT_EQ(mrb->exc, nullptr);
    mrb_close(mrb);
    ASSERT_TRUE(pad.drives(1));
    SDL_JoystickSetVirtualButton(SDL_GameControllerGetJoystick(player_controllers[0]), SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickUpdate();
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "15");
}

} // namespace
