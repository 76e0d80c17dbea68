// Input as a player gives it: SDL events pushed into SDL's own queue and
// virtual game pads and joysticks, through the engine's main-thread event
// polling, the frame step and the runtime into a game that writes down what
// args.inputs shows it. The scripted-player build of the engine plays the
// input at fixed frames.
#include "engine_run.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const int SPACE = 32;

struct observed_run {
    engine_result result;
    std::vector<std::string> lines; // what the game saw, tick numbers dropped
};

class ScriptedPlayer {
public:
    EngineSandbox sandbox;

    ScriptedPlayer() {
        sandbox.use_fixture("input_observer");
        fs::copy_file(VELLUM_INPUT_DRIVER, sandbox.executable(), fs::copy_options::overwrite_existing);
    }

    observed_run play(const std::string &script) {
        std::string script_path = sandbox.root + "/script.txt";
        write_file(script_path, script);
        fs::remove(sandbox.game_dir + "/observed.txt");
        observed_run run;
        // Joystick input reaches a window without keyboard focus only with
        // this hint; the headless window never gets focus. SDL's software
        // renderer keeps these long runs light on a shared machine.
        run.result = sandbox.run({sandbox.game_dir}, 60,
                                 {{"VELLUM_INPUT_SCRIPT", script_path},
                                  {"SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1"},
                                  {"SDL_VIDEODRIVER", "dummy"}});
        std::istringstream observed(read_file(sandbox.game_dir + "/observed.txt"));
        for (std::string line; std::getline(observed, line);) {
            size_t space = line.find(' ');
            run.lines.push_back(space == std::string::npos ? "" : line.substr(space + 1));
        }
        return run;
    }
};

// The lines from the first one that begins with `first`, as many as given.
std::vector<std::string> from(const observed_run &run, const std::string &first, size_t count) {
    for (size_t i = 0; i < run.lines.size(); ++i)
        if (run.lines[i].rfind(first, 0) == 0)
            return std::vector<std::string>(run.lines.begin() + (long)i,
                                            run.lines.begin() + (long)std::min(run.lines.size(), i + count));
    return {};
}

std::string joined(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &line : lines) out += line + "\n";
    return out;
}

bool saw(const observed_run &run, const std::string &text) {
    for (const std::string &line : run.lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

TEST(PlayerInput, KeysArriveWithNamesCharactersAndTheirStatesAcrossFrames) {
    ScriptedPlayer player;
    // Shift+1, then "a", then Shift+1 with Num Lock on (modifier 0x1001).
    observed_run run = player.play("20 key_down 49 1\n"
                                   "23 key_up 49 1\n"
                                   "30 key_down 97 0\n"
                                   "31 key_up 97 0\n"
                                   "40 key_down 49 4097\n"
                                   "41 key_up 49 4097\n"
                                   "45 text é\n"
                                   "60 quit\n");
    ASSERT_EQ(run.result.exit_code, 0) << run.result.err;
    EXPECT_EQ(joined(from(run, "down=exclamation_point", 4)),
              "down=exclamation_point,shift char=!\n"
              "held=exclamation_point,shift\n"
              "held=exclamation_point,shift\n"
              "up=exclamation_point,shift\n");
    // A "!" read consumes the key for the rest of the frame.
    EXPECT_EQ(joined(from(run, "down=a", 1)), "down=a char=a a!=set then a=unset\n");
    EXPECT_TRUE(saw(run, "up=a"));
    // Num Lock being on does not stop Shift from applying.
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "down=exclamation_point,shift char=!"), 2);
    EXPECT_TRUE(saw(run, "text=é"));
}

TEST(PlayerInput, TheMouseIsSeenInGameCoordinates) {
    ScriptedPlayer player;
    observed_run run = player.play("20 mouse_move 50% 50%\n"
                                   "22 mouse_down 1\n"
                                   "23 mouse_up 1\n"
                                   "25 touch_mouse_move 5 5\n"
                                   "27 mouse_move 25% 75%\n"
                                   "28 mouse_down 3\n"
                                   "30 wheel 0 1\n"
                                   "30 wheel 0 1\n"
                                   "32 wheel 1 2 flipped\n"
                                   "40 quit\n");
    ASSERT_EQ(run.result.exit_code, 0) << run.result.err;
    // The window may be smaller than the game's 1280 x 720; the game sees
    // its own coordinates with y going up.
    EXPECT_EQ(joined(from(run, "move=", 6)),
              "move=640.0,360.0\n"
              "click=640.0,360.0 inside=true buttons=1\n"
              "release=640.0,360.0 buttons=0\n"
              "move=320.0,180.0\n"
              "click=320.0,180.0 inside=false buttons=4\n"
              "wheel=0,2\n");
    EXPECT_TRUE(saw(run, "wheel=-1,-2"));
    // Mouse events that SDL makes from touches are not the mouse's.
    EXPECT_FALSE(saw(run, "move=5"));
}

TEST(PlayerInput, GamePadsFillThePlayerSlots) {
    ScriptedPlayer player;
    observed_run run = player.play("10 pad_attach pad one\n"
                                   "12 controller_added 0\n"
                                   "20 axis 0 1 -25000\n"
                                   "24 axis 0 1 -20000\n"
                                   "28 axis 0 1 0\n"
                                   "30 button 0 0 1\n"
                                   "33 button 0 0 0\n"
                                   "40 pad_attach pad two\n"
                                   "41 pad_attach pad three\n"
                                   "45 button 2 0 1\n"
                                   "46 button 2 0 0\n"
                                   "50 detach 0\n"
                                   "52 pad_attach pad four\n"
                                   "55 button 3 1 1\n"
                                   "55 button 1 2 1\n"
                                   "58 button 3 1 0\n"
                                   "58 button 1 2 0\n"
                                   "62 quit\n");
    ASSERT_EQ(run.result.exit_code, 0) << run.result.err;
    // The stick at -25000 presses up from the next frame on; at -20000 it
    // does not. Its value is cut to thousands, turned upwards and in quarters.
    EXPECT_EQ(joined(from(run, "one.ly=", 7)),
              "one.ly=25000,0.75\n"
              "one.down=up one.ly=25000,0.75\n"
              "one.held=up one.ly=25000,0.75\n"
              "one.held=up one.ly=25000,0.75\n"
              "one.held=up one.ly=20000,0.5\n"
              "one.up=up one.ly=20000,0.5\n"
              "one.ly=20000,0.5\n");
    // A held for three polls: down, held, held, up on the frame after.
    EXPECT_EQ(joined(from(run, "one.down=a", 4)), "one.down=a\none.held=a\none.held=a\none.up=a\n");
    // The repeated added event for pad one and the third pad drive nothing
    // for player two; after pad one leaves, pad four is player one and pad
    // two is still player two.
    EXPECT_FALSE(saw(run, "two.down=a"));
    EXPECT_EQ(joined(from(run, "one.down=b", 4)),
              "one.down=b two.down=x\none.held=b two.held=x\none.held=b two.held=x\none.up=b two.up=x\n");
}

// The GUID text SDL gives the scripted joystick, with the name's CRC zeroed.
std::string scripted_joystick_guid() {
    SDL_Init(SDL_INIT_JOYSTICK);
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;
    desc.naxes = 2;
    desc.nbuttons = 6;
    desc.nhats = 1;
    desc.name = "Test, Pad";
    int index = SDL_JoystickAttachVirtualEx(&desc);
    char text[33] = "";
    SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), text, sizeof text);
    SDL_JoystickDetachVirtual(index);
    SDL_Quit();
    std::string guid = text;
    return guid.size() == 32 ? guid.substr(0, 4) + "0000" + guid.substr(8) : guid;
}

// The configuration screen, played like a person would: every control of
// the joystick in turn, Space for the ones it lacks, Space again to save.
std::string configuration_script() {
    std::ostringstream script;
    int frame = 125; // the screen has faded in and its highlight shows by then
    auto button = [&](int which) {
        script << frame << " button 0 " << which << " 1\n" << frame + 1 << " button 0 " << which << " 0\n";
        frame += 2;
    };
    auto axis = [&](int which, std::initializer_list<int> values) {
        for (int value : values) script << frame++ << " axis 0 " << which << " " << value << "\n";
    };
    auto hat = [&](int value) {
        script << frame << " hat 0 0 " << value << "\n" << frame + 1 << " hat 0 0 0\n";
        frame += 2;
    };
    // Keys are held for a few frames, as a person holds them.
    auto key = [&](int code) {
        script << frame << " key_down " << code << " 0\n" << frame + 3 << " key_up " << code << " 0\n";
        frame += 5;
    };
    script << "10 joystick_attach 2 6 1 Test, Pad\n";
    for (int b = 0; b < 4; ++b) button(b);
    axis(0, {-1000, -30000, 0, 30000, 0});
    axis(1, {1000, 30000, 0, -30000, 0});
    for (int skip = 0; skip < 10; ++skip) key(SPACE);
    for (int direction : {SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT}) hat(direction);
    key(SPACE);
    key(SPACE);
    button(5);
    frame += 3;
    button(1); // trying it out changes nothing
    key(SPACE);
    // The screen fades out for 90 frames before the game ticks again.
    script << frame + 105 << " button 0 5 1\n" << frame + 108 << " button 0 5 0\n" << frame + 115 << " quit\n";
    return script.str();
}

TEST(PlayerInput, AnUnknownJoystickIsTaughtOnceAndKnownAfterARestart) {
    ScriptedPlayer player;
    observed_run run = player.play(configuration_script());
    ASSERT_EQ(run.result.exit_code, 0) << run.result.err;
    std::string mapping = ",Test  Pad,platform:Linux,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1~,"
                          "dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8,start:b5\n";
    std::string saved = read_file(player.sandbox.base_dir + "/user_controller_mappings.txt");
    EXPECT_EQ(saved, scripted_joystick_guid() + mapping);
    // The screen shows the engine's controller picture with the first
    // control highlighted (pixels addressed from the bottom left).
    std::vector<unsigned char> shot;
    unsigned width = 0, height = 0;
    ASSERT_EQ(lodepng::decode(shot, width, height, player.sandbox.game_dir + "/configuration.png"), 0u);
    ASSERT_EQ(width * height, 1280u * 720u);
    auto pixel = [&](unsigned x, unsigned y) {
        const unsigned char *p = &shot[((height - 1 - y) * width + x) * 4];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(5, 5), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(pixel(640, 360), (std::vector<int>{232, 234, 240})) << "the pad's body";
    EXPECT_EQ(pixel(640, 492), (std::vector<int>{40, 42, 52})) << "the pad's outline";
    std::vector<int> highlight = pixel(919, 300);
    EXPECT_TRUE(highlight[0] > 120 && highlight[1] < 60 && highlight[2] < 60) << "the A button's red highlight";

    // The game did not tick while the screen showed; afterwards the joystick
    // is player one's controller.
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], "ticking");
    EXPECT_EQ(run.lines[1], "one.down=start") << joined(run.lines);
    EXPECT_TRUE(saw(run, "one.up=start"));

    // Next start: SDL knows the joystick from the saved file; no screen.
    run = player.play("10 joystick_attach 2 6 1 Test, Pad\n"
                      "20 axis 0 1 30000\n"
                      "22 axis 0 1 0\n"
                      "30 button 0 0 1\n"
                      "31 button 0 0 0\n"
                      "40 quit\n");
    ASSERT_EQ(run.result.exit_code, 0) << run.result.err;
    EXPECT_EQ(joined(from(run, "one.down=up", 1)), "one.down=up one.ly=30000,0.75\n");
    EXPECT_TRUE(saw(run, "one.down=a"));
    EXPECT_EQ(read_file(player.sandbox.base_dir + "/user_controller_mappings.txt"), saved);
}

} // namespace
