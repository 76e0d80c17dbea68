// The native side of the controller-configuration screen: saving a learned
// mapping and turning raw joysticks into game controllers. The screen itself
// is tested end to end (tests/e2e/input_test.cpp).
#include "bridge/controller_config_methods.h"
#include "virtual_pads.h"

#include <physfs.h>

#include <filesystem>
#include <fstream>

namespace {

class ControllerConfiguration : public VirtualPadTest {
protected:
    std::string base_dir;

    void SetUp() override {
        VirtualPadTest::SetUp();
        char pattern[] = "/tmp/vellum-pads-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_dir = pattern;
        ASSERT_TRUE(PHYSFS_init(nullptr));
        the_game_state.base_dir = SDL_strdup(base_dir.c_str());
    }

    void TearDown() override {
        SDL_free(the_game_state.base_dir);
        the_game_state.base_dir = nullptr;
        PHYSFS_deinit();
        std::filesystem::remove_all(base_dir);
        VirtualPadTest::TearDown();
    }

    std::string saved_mappings() {
        std::ifstream in(base_dir + "/user_controller_mappings.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Calls an FFI::Misc method with a joystick id the way Ruby does.
    static void misc(const char *method, mrb_int id) {
        mrb_state *mrb = mrb_open();
        RClass *misc_class = mrb_define_class(mrb, "Misc", mrb->object_class);
        controller_config_methods_init(mrb, misc_class);
        mrb_value object = mrb_obj_new(mrb, misc_class, 0, nullptr);
        mrb_value argument = mrb_int_value(mrb, id);
        mrb_funcall_argv(mrb, object, mrb_intern_cstr(mrb, method), 1, &argument);
        EXPECT_EQ(mrb->exc, nullptr);
        mrb_close(mrb);
    }
};

TEST_F(ControllerConfiguration, ASavedMappingMatchesTheJoystickItWasLearnedFrom) {
    VirtualPad pad = VirtualPad::attach(false, "Test, Pad");
    char text[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(pad.handle), text, sizeof text);
    std::string guid = text;
    ASSERT_NE(guid.substr(4, 4), "0000") << "the name's CRC is part of the GUID text";
    std::string line = guid + ",Test  Pad,platform:Linux,a:b0,";
    add_controller_config(line.data(), line.size());
    add_controller_config("not a mapping", 13);

    std::string zeroed = guid.substr(0, 4) + "0000" + guid.substr(8);
    EXPECT_EQ(saved_mappings(), zeroed + ",Test  Pad,platform:Linux,a:b0,\nnot a mapping\n");
    EXPECT_TRUE(SDL_IsGameController(pad.device_index()));
}

TEST_F(ControllerConfiguration, ConvertingAndClosingLeaveControllersAlone) {
    // Without a mapping the raw joystick is closed and goes nowhere.
    VirtualPad raw = VirtualPad::attach(false);
    convert_rawjoystick_to_controller(raw.id);
    EXPECT_EQ(SDL_JoystickFromInstanceID(raw.id), nullptr);
    EXPECT_EQ(player_controllers[0], nullptr);

    // Once a pad is a game controller, closing or converting it again as a
    // raw joystick must not pull its joystick from under the player slot.
    VirtualPad pad = VirtualPad::attach(true);
    open_game_controller(pad.device_index());
    SDL_JoystickClose(pad.handle);
    misc("close_raw_joystick", pad.id);
    misc("convert_rawjoystick_to_controller", pad.id);
    misc("close_raw_joystick", -5);
    ASSERT_TRUE(pad.drives(1));
    SDL_Joystick *joystick = SDL_GameControllerGetJoystick(player_controllers[0]);
    SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, SDL_PRESSED);
    SDL_JoystickUpdate();
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(), "15");
}

} // namespace
