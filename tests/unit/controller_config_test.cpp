// Teaching the engine a joystick without a mapping: the configuration screen
// in Ruby over the real FFI::Misc methods, SDL and the base directory.
#include "bridge/controller_config_methods.h"
#include "bridge/ffi.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "virtual_pads.h"

#include <physfs.h>

#include <filesystem>
#include <fstream>

namespace {

// The screen's runtime: FFI::Misc, the platform, the logical size and a
// frame's args. Raw joystick events and keys go in, one tick per frame.
const char *const RUNTIME_DOUBLE = R"RUBY(
class ScreenRuntime
  Outputs = Struct.new(:primitives)
  Args = Struct.new(:inputs, :outputs)
  attr_reader :ffi_misc, :platform, :logical_width, :logical_height, :config

  def initialize
    @ffi_misc = FFI::Misc.new
    @platform = "Linux"
    @logical_width = 1280
    @logical_height = 720
    @args = Args.new(QMX::Inputs.new, Outputs.new([]))
    @config = QMX::Controller::Config.new(self)
    Kernel.global_tick_count = 0
  end

  def frame(key = nil)
    @args.outputs.primitives = []
    @args.inputs.keyboard.key_down.set([key]) if key
    shown = @config.tick(@args)
    @args.inputs.keyboard.key_down.clear
    Kernel.global_tick_count += 1
    shown
  end

  def prompt
    label = @args.outputs.primitives.find { |p| p[:text].to_s.start_with?("Please press") }
    label && label[:text]
  end
end
$screen = ScreenRuntime.new
)RUBY";

class ControllerConfiguration : public VirtualPadTest {
protected:
    std::string base_dir;
    mrb_state *mrb = nullptr;

    void SetUp() override {
        VirtualPadTest::SetUp();
        char pattern[] = "/tmp/vellum-pads-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_dir = pattern;
        ASSERT_TRUE(PHYSFS_init(nullptr));
        ASSERT_TRUE(PHYSFS_mount(base_dir.c_str(), nullptr, 0));
        the_game_state.base_dir = SDL_strdup(base_dir.c_str());

        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        the_game_state.mrb = mrb;
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        ASSERT_FALSE(host_log_pending_exception(mrb));
        ffi_init(&the_game_state, nullptr);
        ruby(RUNTIME_DOUBLE);
    }

    void TearDown() override {
        if (mrb) mrb_close(mrb);
        the_game_state.mrb = nullptr;
        SDL_free(the_game_state.base_dir);
        the_game_state.base_dir = nullptr;
        PHYSFS_deinit();
        std::filesystem::remove_all(base_dir);
        VirtualPadTest::TearDown();
    }

    // Evaluates Ruby; a raised exception fails the test. Answers inspect text.
    std::string ruby(const std::string &code) {
        int arena = mrb_gc_arena_save(mrb);
        mrb_value result = mrb_load_string(mrb, code.c_str());
        std::string text;
        if (mrb->exc) {
            char *message = host_exception_text(mrb, mrb_obj_value(mrb->exc));
            ADD_FAILURE() << code << "\nraised " << (message ? message : "?");
            SDL_free(message);
            mrb->exc = nullptr;
        } else {
            mrb_value shown = mrb_inspect(mrb, result);
            text.assign(RSTRING_PTR(shown), (size_t)RSTRING_LEN(shown));
        }
        mrb_gc_arena_restore(mrb, arena);
        return text;
    }

    // The raw joystick events SDL queued, handed to the screen the way the
    // frame step hands them to the runtime.
    void forward_joystick_events() {
        SDL_PumpEvents();
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            switch (event.type) {
            case SDL_JOYAXISMOTION:
                ruby("$screen.config.rawjoystick_axis(" + std::to_string(event.jaxis.which) + ", " +
                     std::to_string(event.jaxis.axis) + ", " + std::to_string(event.jaxis.value) + ")");
                break;
            case SDL_JOYHATMOTION:
                ruby("$screen.config.rawjoystick_hat(" + std::to_string(event.jhat.which) + ", " +
                     std::to_string(event.jhat.hat) + ", " + std::to_string(event.jhat.value) + ")");
                break;
            case SDL_JOYBUTTONDOWN:
            case SDL_JOYBUTTONUP:
                ruby("$screen.config.rawjoystick_button(" + std::to_string(event.jbutton.which) + ", " +
                     std::to_string(event.jbutton.button) + ", " +
                     (event.jbutton.state == SDL_PRESSED ? "true" : "false") + ")");
                break;
            default:
                break;
            }
        }
    }

    void frames(int count, const char *key = nullptr) {
        for (int i = 0; i < count; ++i) ruby(key ? std::string("$screen.frame(:") + key + ")" : "$screen.frame");
    }

    std::string prompt() { return ruby("$screen.prompt"); }

    std::string saved_mappings() {
        std::ifstream in(base_dir + "/user_controller_mappings.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

std::string guid_text(SDL_Joystick *joystick) {
    char text[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(joystick), text, sizeof text);
    return text;
}

VirtualPad attach_unmapped_pad() { return VirtualPad::attach(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 6, 1, "Test, Pad"); }

TEST_F(ControllerConfiguration, ALearnedMappingIsSavedAndMatchesAfterARestart) {
    VirtualPad pad = attach_unmapped_pad();
    ASSERT_NE(pad.handle, nullptr);
    ASSERT_FALSE(SDL_IsGameController(pad.device_index()));
    std::string guid = guid_text(pad.handle);
    ASSERT_NE(guid.substr(4, 4), "0000") << "the name's CRC should be in the GUID text";
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);

    ruby("$screen.config.rawjoystick_connected(" + std::to_string(pad.id) + ", 'Test, Pad', '" + guid + "')");
    frames(95);
    ASSERT_EQ(prompt(), "\"Please press the A button.\"");

    // Four buttons, the left stick's x both ways and y upside down.
    for (int button = 0; button < 4; ++button) {
        pad.button(button, true);
        pad.button(button, false);
    }
    forward_joystick_events();
    for (auto [axis, far] : {std::pair{0, -30000}, {0, 30000}, {1, 30000}, {1, -30000}}) {
        pad.axis(axis, (Sint16)(far / 2));
        pad.axis(axis, (Sint16)far);
        pad.axis(axis, 0);
        forward_joystick_events();
    }
    frames(1);
    ASSERT_EQ(prompt(), "\"Please press the left stick button.\"");
    frames(10, "space");
    // The hat for the d-pad; back, guide and start skipped; start on b5.
    for (Uint8 direction : {SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT}) {
        pad.hat(0, direction);
        pad.hat(0, SDL_HAT_CENTERED);
    }
    forward_joystick_events();
    frames(2, "space");
    pad.button(5, true);
    pad.button(5, false);
    forward_joystick_events();
    frames(1);

    std::string zeroed = guid.substr(0, 4) + "0000" + guid.substr(8);
    std::string mapping = ",Test  Pad,platform:Linux,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1~,"
                          "dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8,start:b5";
    EXPECT_EQ(ruby("$screen.config.build_binding_string"), "\"" + guid + mapping + "\"");
    frames(1, "space");

    EXPECT_EQ(saved_mappings(), zeroed + mapping + "\n");
    ASSERT_TRUE(SDL_IsGameController(pad.device_index()));
    EXPECT_TRUE(pad.drives(1));
    // The pad now works as player 1's controller.
    SDL_Joystick *now = SDL_GameControllerGetJoystick(player_controllers[0]);
    SDL_JoystickSetVirtualButton(now, 5, SDL_PRESSED);
    SDL_JoystickSetVirtualAxis(now, 1, 25000);
    SDL_JoystickUpdate();
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(the_game_state.player1_key_states), "1 13");

    // A fresh start knows the pad from the saved file alone.
    game_controllers_close();
    pad.handle = now;
    pad.detach();
    SDL_Quit();
    ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0);
    VirtualPad again = attach_unmapped_pad();
    EXPECT_FALSE(SDL_IsGameController(again.device_index()));
    std::string saved = saved_mappings();
    SDL_GameControllerAddMappingsFromRW(SDL_RWFromConstMem(saved.data(), (int)saved.size()), 1);
    ASSERT_TRUE(SDL_IsGameController(again.device_index()));
    open_game_controller(again.device_index());
    ASSERT_TRUE(again.drives(1));
    char *active = SDL_GameControllerMapping(player_controllers[0]);
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(std::string(active).substr(32), mapping);
    SDL_free(active);
}

TEST_F(ControllerConfiguration, SavingAppendsAndIgnoresWhatCannotBeAMapping) {
    VirtualPad pad = attach_unmapped_pad();
    std::string guid = guid_text(pad.handle);
    ruby("FFI::Misc.new.add_controller_config('" + guid + ",Test  Pad,platform:Linux,a:b0,')");
    ruby("FFI::Misc.new.add_controller_config('not a mapping')");
    std::string zeroed = guid.substr(0, 4) + "0000" + guid.substr(8);
    EXPECT_EQ(saved_mappings(), zeroed + ",Test  Pad,platform:Linux,a:b0,\nnot a mapping\n");
    EXPECT_TRUE(SDL_IsGameController(pad.device_index()));
    EXPECT_EQ(ruby("begin; FFI::Misc.new.add_controller_config(42); rescue TypeError; :type_error; end"),
              ":type_error");
}

TEST_F(ControllerConfiguration, ConvertingAndClosingLeaveControllersAlone) {
    VirtualPad raw = attach_unmapped_pad();
    // Without a mapping the raw joystick is closed and goes nowhere.
    SDL_Joystick *frame_step_handle = SDL_JoystickOpen(raw.device_index());
    SDL_JoystickClose(raw.handle);
    raw.handle = frame_step_handle;
    convert_rawjoystick_to_controller(raw.id);
    EXPECT_EQ(SDL_JoystickFromInstanceID(raw.id), nullptr);
    EXPECT_EQ(player_controllers[0], nullptr);
    convert_rawjoystick_to_controller(raw.id);
    raw.handle = nullptr;

    // A converted pad is a game controller now: closing or converting it
    // again as a raw joystick must not pull its joystick from under it.
    VirtualPad pad = VirtualPad::controller();
    open_game_controller(pad.device_index());
    ASSERT_TRUE(pad.drives(1));
    SDL_JoystickClose(pad.handle);
    pad.handle = nullptr;
    ruby("FFI::Misc.new.close_raw_joystick(" + std::to_string(pad.id) + ")");
    ruby("FFI::Misc.new.convert_rawjoystick_to_controller(" + std::to_string(pad.id) + ")");
    ruby("FFI::Misc.new.close_raw_joystick(-5)");
    ASSERT_TRUE(pad.drives(1));
    SDL_Joystick *joystick = SDL_GameControllerGetJoystick(player_controllers[0]);
    SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, SDL_PRESSED);
    SDL_JoystickUpdate();
    poll_game_controller(1);
    EXPECT_EQ(pressed_slots(the_game_state.player1_key_states), "15");
}

} // namespace
