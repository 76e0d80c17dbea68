// Input as a player gives it: SDL events pushed into SDL's own queue and
// virtual game pads and joysticks, through the engine's main-thread event
// polling, the frame step and the runtime into a game that writes down what
// args.inputs shows it. The scripted-player build of the engine plays the
// input at fixed frames.
#include "scripted_player.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {

// "" when a replay wrote what its recording did, line for line; otherwise
// where the two part.
std::string where_they_differ(const std::string &recorded, const std::string &replayed) {
    if (replayed == recorded) return "";
    auto split = std::mismatch(recorded.begin(), recorded.end(), replayed.begin(), replayed.end());
    size_t at = recorded.rfind('\n', (size_t)(split.first - recorded.begin()));
    return "from line " + std::to_string(std::count(recorded.begin(), split.first, '\n') + 1) + ": " +
           recorded.substr(at == std::string::npos ? 0 : at + 1, 40);
}

// A game run wrote its recording as live_1.txt and that recording's in-game
// replay as live_2.txt; the recording is replayed again with --replay, which
// writes live_1.txt anew. Both replays must match the recording.
void expect_replays_match(EngineSandbox &sandbox, const std::string &recorded, const std::string &in_game,
                          const char *in_game_how, const char *recording_file, int timeout) {
    const std::string dir = sandbox.game_dir + "/";
    std::filesystem::remove(dir + "live_1.txt");
    engine_result replay = sandbox.run({sandbox.game_dir, "--replay", recording_file}, timeout);
    EXPECT_EQ(replay.exit_code, 0) << replay.err;
    const struct {
        std::string replayed;
        const char *how;
    } cases[] = {
        {in_game, in_game_how},
        {read_file(dir + "live_1.txt"), "replayed with --replay"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        EXPECT_EQ(where_they_differ(recorded, c.replayed), "");
    }
}

TEST(PlayerInput, KeysArriveWithNamesCharactersAndTheirStatesAcrossFrames) {
    ScriptedPlayer player;
    // Shift+1, then "a", then Shift+1 with Num Lock on (modifier 0x1001).
    player.play("20 key_down 49 1\n23 key_up 49 1\n30 key_down 97 0\n31 key_up 97 0\n"
                "40 key_down 49 4097\n41 key_up 49 4097\n45 text é\n60 quit\n");
    EXPECT_EQ(player.from("down=exclamation_point", 4), "down=exclamation_point,shift char=!\n"
                                                       "held=exclamation_point,shift\n"
                                                       "held=exclamation_point,shift\n"
                                                       "up=exclamation_point,shift\n");
    // A "!" read consumes the key for the rest of the frame.
    EXPECT_EQ(player.from("down=a", 2), "down=a char=a a!=set then a=unset\nup=a\n");
    // Num Lock being on does not stop Shift from applying.
    EXPECT_EQ(player.saw("down=exclamation_point,shift char=!"), 2);
    EXPECT_EQ(player.saw("text=é"), 1);
}

// A key's release releases it alone, under every name it went down as (Left
// Shift is 1073742049, its events carry the Shift bit 1 while it is down):
// Shift stays held when W is let go, and "1" and Shift+1 let go in either
// order leave nothing held. Then a tap within one frame; keys the game
// presses and lets go itself (V presses X, Z lets it go); and the console's
// key, opening it with a tap and closing it unseen by the game.
TEST(PlayerInput, KeysAreReleasedAloneAndATapOrAReleaseFromTheGameShowsOnTheNextTick) {
    ScriptedPlayer player;
    player.play("20 key_down 1073742049 1\n30 key_down 119 1\n40 key_up 119 1\n50 key_up 1073742049 0\n"
                "60 key_down 49 0\n65 key_down 1073742049 1\n70 key_up 49 1\n75 key_up 1073742049 0\n"
                "85 key_down 1073742049 1\n90 key_down 49 1\n95 key_up 1073742049 0\n100 key_up 49 0\n"
                "120 key_down 98 0\n120 key_up 98 0\n130 key_down 118 0\n131 key_up 118 0\n140 key_down 122 0\n"
                "141 key_up 122 0\n150 key_down 118 0\n151 key_up 118 0\n155 key_down 122 0\n156 key_up 122 0\n"
                "160 key_down 96 0\n160 text `\n160 key_up 96 0\n170 key_down 96 0\n170 text `\n171 key_up 96 0\n"
                "180 key_down 98 0\n181 key_up 98 0\n190 quit\n");
    EXPECT_EQ(player.story(),
              // W let go under Shift.
              "ticking | down=shift,shift_left | held=shift,shift_left | down=w char=W held=shift,shift_left"
              " | held=w,shift,shift_left | held=shift,shift_left up=w | held=shift,shift_left | up=shift,shift_left"
              // "1", then Shift: "1" let go as the "1" it went down as.
              " | down=one char=1 | held=one | down=shift,shift_left held=one | held=one,shift,shift_left"
              " | held=shift,shift_left up=one | held=shift,shift_left | up=shift,shift_left"
              // Shift+1 with Shift let go first: "!" let go after it.
              " | down=shift,shift_left | held=shift,shift_left | down=exclamation_point char=! held=shift,shift_left"
              " | held=exclamation_point,shift,shift_left | held=exclamation_point up=shift,shift_left"
              " | held=exclamation_point | up=exclamation_point"
              // The tap; V and Z twice; the console opened and closed; a tap.
              " | down=b char=b | up=b | down=v char=v | held=x up=v | held=x | down=z char=z held=x | up=x,z"
              " | down=v char=v | held=x up=v | held=x | down=z char=z held=x | up=x,z | up=backtick"
              " | down=b char=b | up=b");
}

// The character and raw key of a typed key are held while it is, a key
// without a name (F1) included. The console's key opens and closes the
// console with its character arriving a frame late, as an input method
// sends it: neither the prompt nor the game gets it.
TEST(PlayerInput, ATypedKeyAndTheConsoleKeyLeaveNothingBehindThem) {
    ScriptedPlayer player;
    player.sandbox.write_game_file("app/main.rb",
                                   "def tick args\n  held = args.inputs.keyboard.key_held.truthy_keys\n"
                                   "  seen = (held.empty? ? [] : [\"held=#{held.join(',')}\"]) + args.inputs.text.map { |t| \"text=#{t}\" }\n"
                                   "  $qmx.append_file('observed.txt', \"#{Kernel.tick_count} #{seen.join(' ')}\\n\") unless seen.empty?\nend\n");
    player.play("20 key_down 97 0\n24 key_up 97 0\n30 key_down 1073741882 0\n32 key_up 1073741882 0\n"
                "40 key_down 96 0\n41 text `\n41 key_up 96 0\n50 text $qmx.write_file('t.txt','ok')\n"
                "55 key_down 13 0\n56 key_up 13 0\n60 key_down 96 0\n61 text `\n61 key_up 96 0\n70 quit\n");
    EXPECT_EQ(player.story(), "held=a,char,raw_key | held=raw_key");
    EXPECT_EQ(read_file(player.sandbox.game_dir + "/t.txt"), "ok") << player.result.out;
}

// Each press of the console's key takes away one of its characters, also
// when the key is pressed again before the first arrives and when one comes
// five frames late under --speed 3 (15 ticks): neither the game nor the
// prompt gets one. The game sees only the text typed between.
TEST(PlayerInput, QuickPressesOfTheConsoleKeyLeaveNoCharacterBehind) {
    ScriptedPlayer player;
    player.sandbox.write_game_file("app/main.rb", "def tick args\n  args.inputs.text.each { |t| $qmx.append_file('observed.txt', "
                                                  "\"#{Kernel.tick_count} text=#{t}\\n\") }\nend\n");
    const std::string tap = " key_down 96 0\n", lift = " key_up 96 0\n", late = " text `\n";
    const std::string script =
        // Opened and closed again before either character arrives.
        "20" + tap + "21" + lift + "22" + tap + "23" + lift + "23" + late + "25" + late + "30 text a\n" +
        // Three presses leave the console open, with an empty prompt.
        "40" + tap + "41" + lift + "42" + tap + "43" + lift + "44" + tap + "45" + lift + "46" + late + "47" + late +
        "48" + late + "60 text $qmx.write_file('3.txt','ok')\n62 key_down 13 0\n63 key_up 13 0\n" +
        "70" + tap + "70" + late + "71" + lift +
        // A character five frames late.
        "80" + tap + "81" + lift + "85" + late + "90 text $qmx.write_file('5.txt','ok')\n" +
        "92 key_down 13 0\n93 key_up 13 0\n100" + tap + "100" + late + "101" + lift + "110 text b\n120 quit\n";
    for (const char *speed : {"1", "3"}) {
        SCOPED_TRACE(std::string("--speed ") + speed);
        for (const char *file : {"3.txt", "5.txt"}) std::filesystem::remove(player.sandbox.game_dir + "/" + file);
        player.play(script, {"--speed", speed});
        EXPECT_EQ(player.story(), "text=a | text=b");
        EXPECT_EQ(read_file(player.sandbox.game_dir + "/3.txt"), "ok") << player.result.out;
        EXPECT_EQ(read_file(player.sandbox.game_dir + "/5.txt"), "ok") << player.result.out;
    }
}

TEST(PlayerInput, TheMouseIsSeenInGameCoordinates) {
    ScriptedPlayer player;
    player.play("20 mouse_move 50% 50%\n22 mouse_down 1\n23 mouse_up 1\n25 touch_mouse_move 5 5\n"
                "27 mouse_move 25% 75%\n28 mouse_down 3\n30 wheel 0 1\n30 wheel 0 1\n32 wheel 1 2 flipped\n"
                "35 mouse_down 200\n36 mouse_up 200\n40 quit\n");
    // The window may be smaller than the game's 1280 x 720; the game sees
    // its own coordinates with y going up. Mouse events that SDL makes from
    // touches are not the mouse's.
    EXPECT_EQ(player.from("move=", 7), "move=640.0,360.0\n"
                                      "click=640.0,360.0 inside=true buttons=1\n"
                                      "release=640.0,360.0 buttons=0\n"
                                      "move=320.0,180.0\n"
                                      "click=320.0,180.0 inside=false buttons=4\n"
                                      "wheel=0,2\n"
                                      "wheel=-1,-2\n");
    // A button with no place among the button bits is ignored.
    EXPECT_EQ(player.saw("click="), 2);
    EXPECT_EQ((player.result.out + player.result.err).find("RangeError"), std::string::npos) << player.result.err;
}

TEST(PlayerInput, GamePadsFillThePlayerSlots) {
    ScriptedPlayer player;
    player.play("10 pad_attach pad one\n12 controller_added 0\n"
                "20 axis 0 1 -25000\n24 axis 0 1 -20000\n28 axis 0 1 0\n30 button 0 0 1\n33 button 0 0 0\n"
                "40 pad_attach pad two\n41 pad_attach pad three\n45 button 2 0 1\n46 button 2 0 0\n"
                "50 detach 0\n52 pad_attach pad four\n"
                "55 button 3 1 1\n55 button 1 2 1\n58 button 3 1 0\n58 button 1 2 0\n62 quit\n");
    // The stick at -25000 presses up from the next frame on; at -20000 it
    // does not. Its value is cut to thousands, turned upwards and in quarters.
    EXPECT_EQ(player.from("one.ly=", 7), "one.ly=25000,0.75\n"
                                        "one.down=up one.ly=25000,0.75\n"
                                        "one.held=up one.ly=25000,0.75\n"
                                        "one.held=up one.ly=25000,0.75\n"
                                        "one.held=up one.ly=20000,0.5\n"
                                        "one.up=up one.ly=20000,0.5\n"
                                        "one.ly=20000,0.5\n");
    // A held for three polls: down, held, held, up on the frame after.
    EXPECT_EQ(player.from("one.down=a", 4), "one.down=a\none.held=a\none.held=a\none.up=a\n");
    // The repeated added event for pad one and the third pad drive nothing
    // for player two; after pad one leaves, pad four is player one and pad
    // two is still player two.
    EXPECT_EQ(player.saw("two.down=a"), 0);
    EXPECT_EQ(player.from("one.down=b", 4),
              "one.down=b two.down=x\none.held=b two.held=x\none.held=b two.held=x\none.up=b two.up=x\n");
}

// The configuration screen, played like a person would: every control of
// the joystick in turn, Space for the ones it lacks, Space again to save.
std::string configuration_script() {
    std::ostringstream script;
    int frame = 125; // the screen has faded in and its highlight shows by then
    // Controls are let go on the next frame; keys are held for a few frames.
    auto press = [&](const char *control, int which, int value) {
        script << frame << " " << control << " 0 " << which << " " << value << "\n"
               << frame + 1 << " " << control << " 0 " << which << " 0\n";
        frame += 2;
    };
    auto axis = [&](int which, std::initializer_list<int> values) {
        for (int value : values) script << frame++ << " axis 0 " << which << " " << value << "\n";
    };
    auto space = [&] {
        script << frame << " key_down 32 0\n" << frame + 3 << " key_up 32 0\n";
        frame += 5;
    };
    script << "10 joystick_attach 2 6 1 Test, Pad\n";
    for (int b = 0; b < 4; ++b) press("button", b, 1);
    axis(0, {-1000, -30000, 0, 30000, 0});
    axis(1, {1000, 30000, 0, -30000, 0});
    for (int skip = 0; skip < 10; ++skip) space();
    for (int direction : {SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT}) press("hat", 0, direction);
    space();
    space();
    press("button", 5, 1);
    frame += 3;
    press("button", 1, 1); // trying it out changes nothing
    space();
    // The screen fades out for 90 frames before the game ticks again.
    script << frame + 105 << " button 0 5 1\n" << frame + 108 << " button 0 5 0\n" << frame + 115 << " quit\n";
    return script.str();
}

TEST(PlayerInput, AnUnknownJoystickIsTaughtOnceAndKnownAfterARestart) {
    ScriptedPlayer player;
    player.play(configuration_script());
    // The GUID is SDL's for the virtual joystick, with the name's CRC zeroed.
    std::string saved = read_file(player.sandbox.base_dir + "/user_controller_mappings.txt");
    EXPECT_EQ(saved, "ff000000546573742c20506164007600,Test  Pad,platform:Linux,a:b0,b:b1,x:b2,y:b3,leftx:a0,"
                     "lefty:a1~,dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8,start:b5\n");
    // The screen shows the engine's controller picture with the first
    // control highlighted (pixels addressed from the bottom left).
    Screenshot shot(player.sandbox.game_dir + "/configuration.png");
    ASSERT_EQ(shot.width * shot.height, 1280u * 720u);
    EXPECT_EQ(shot.colour(5, 5), (rgb{255, 255, 255}));
    EXPECT_EQ(shot.colour(640, 360), (rgb{232, 234, 240})) << "the pad's body";
    EXPECT_EQ(shot.colour(640, 492), (rgb{40, 42, 52})) << "the pad's outline";
    rgb highlight = shot.colour(919, 300);
    EXPECT_TRUE(highlight[0] > 120 && highlight[1] < 60 && highlight[2] < 60) << "the A button's red highlight";
    // The game did not tick while the screen showed; afterwards the joystick
    // is player one's controller.
    EXPECT_EQ(player.from("ticking", 2), "ticking\none.down=start\n");
    EXPECT_EQ(player.saw("one.up=start"), 1);

    // Next start: SDL knows the joystick from the saved file; no screen.
    player.play("10 joystick_attach 2 6 1 Test, Pad\n20 axis 0 1 30000\n22 axis 0 1 0\n"
                "30 button 0 0 1\n31 button 0 0 0\n40 quit\n");
    EXPECT_EQ(player.from("one.down=up", 1), "one.down=up one.ly=30000,0.75\n");
    EXPECT_EQ(player.saw("one.down=a"), 1);
    EXPECT_EQ(read_file(player.sandbox.base_dir + "/user_controller_mappings.txt"), saved);
}

// A recorded session replayed in a fresh run gives the game the same input
// in the same ticks: its state matches tick for tick, and the replay ends
// where the recording did.
TEST(PlayerInput, ARecordedSessionReplaysTickForTick) {
    ScriptedPlayer player("replay_digest");
    player.play("5 pad_attach replay pad\n20 key_down 32 0\n23 key_up 32 0\n30 mouse_move 50% 50%\n"
                "32 mouse_down 1\n33 mouse_up 1\n40 button 0 0 1\n44 button 0 0 0\n50 axis 0 1 -25000\n"
                "56 axis 0 1 0\n60 key_down 32 0\n61 key_up 32 0\n70 mouse_move 25% 75%\n90 quit\n",
                {"--record", "--seed", "100"});
    std::string replay_name;
    for (const auto &entry : std::filesystem::directory_iterator(player.sandbox.game_dir))
        if (entry.path().filename().string().rfind("replay_", 0) == 0) replay_name = entry.path().filename().string();
    ASSERT_FALSE(replay_name.empty()) << player.result.out;
    // Key codes and stick values are written, and read back, as Integers.
    std::string replay = read_file(player.sandbox.game_dir + "/" + replay_name);
    EXPECT_NE(replay.find("\n[:left_analog_y_player_1, -25000, 0, 1, "), std::string::npos) << replay;
    std::string recorded = read_file(player.sandbox.game_dir + "/digest.txt");
    EXPECT_GT(std::count(recorded.begin(), recorded.end(), '\n'), 80) << recorded;

    std::filesystem::remove(player.sandbox.game_dir + "/digest.txt");
    player.play("200 quit\n", {"--replay", replay_name});
    EXPECT_EQ(read_file(player.sandbox.game_dir + "/digest.txt"), recorded);
    EXPECT_NE(player.result.out.find("Replay completed [" + replay_name + "]"), std::string::npos) << player.result.out;
}

// A recording started from the console in the middle of a game, with the
// mouse away from the origin, entities already made and keys held, replays
// in a fresh run with the same state tick for tick, entity ids included.
TEST(PlayerInput, ARecordingStartedFromTheConsoleMidGameReplaysTickForTick) {
    ScriptedPlayer player("replay_digest");
    player.play("5 mouse_move 50% 50%\n20 key_down 96 0\n20 text `\n21 key_up 96 0\n25 text $recording.start 7\n"
                "30 key_down 13 0\n45 key_down 32 0\n48 key_up 32 0\n50 key_up 13 0\n60 mouse_move 25% 75%\n"
                "62 mouse_down 1\n63 mouse_up 1\n70 key_down 32 0\n71 key_up 32 0\n90 key_down 115 0\n"
                "91 key_up 115 0\n100 quit\n");
    std::string recorded = read_file(player.sandbox.game_dir + "/digest.txt");
    ASSERT_GT(std::count(recorded.begin(), recorded.end(), '\n'), 50) << player.result.out;
    ASSERT_TRUE(file_exists(player.sandbox.game_dir + "/mid_replay.txt")) << player.result.out;

    std::filesystem::remove(player.sandbox.game_dir + "/digest.txt");
    player.play("150 quit\n", {"--replay", "mid_replay.txt"});
    EXPECT_EQ(read_file(player.sandbox.game_dir + "/digest.txt"), recorded);
    EXPECT_NE(player.result.out.find("Replay completed [mid_replay.txt]"), std::string::npos) << player.result.out;
}

// Past the engine's 1,000th tick a reset also loads app/main.rb again, in a
// frame in which the game does not tick. Recordings and replays begun on
// either side of it, with Space pressed all along, still match tick for
// tick and end where they should, and so does a recording cut short by
// hand (its stopped_at before its last input); --speed 20 gets there
// within seconds.
TEST(PlayerInput, RecordingsAndReplaysBegunPastTheThousandthTickMatchTickForTick) {
    ScriptedPlayer player("late_replay");
    std::string script;
    // A press or a release in every frame, so also in the frames that load
    // the file.
    for (int frame = 4; frame < 200; ++frame) script += std::to_string(frame) + (frame % 2 ? " key_up" : " key_down") + " 32 0\n";
    const std::string dir = player.sandbox.game_dir + "/";
    player.play(script, {"--speed", "20"});
    player.play(script, {"--replay", "late_recording.txt", "--speed", "20"});
    std::filesystem::rename(dir + "replayed.txt", dir + "late_replayed.txt");
    std::string trimmed = read_file(dir + "late_recording.txt");
    ASSERT_NE(trimmed.find("\nstopped_at 601\n"), std::string::npos) << trimmed.substr(0, 40);
    write_file(dir + "trimmed_recording.txt", trimmed.replace(trimmed.find("stopped_at 601"), 14, "stopped_at 300"));
    player.play(script, {"--replay", "trimmed_recording.txt", "--speed", "20"});
    EXPECT_NE(player.result.out.find("Replay completed [trimmed_recording.txt]"), std::string::npos) << player.result.out;
    const struct {
        const char *recorded, *replayed, *recording;
        long ticks;
    } cases[] = {
        {"early.txt", "early_replayed.txt", "early_recording.txt", 601}, // at tick 30; replayed from tick 1800
        {"late.txt", "late_replayed.txt", "late_recording.txt", 601},    // from tick 1010; replayed at start-up
        {"late.txt", "replayed.txt", "trimmed_recording.txt", 300},      // the same, cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.recording);
        std::string recorded = read_file(dir + c.recorded), recording = read_file(dir + c.recording);
        ASSERT_GE(std::count(recorded.begin(), recorded.end(), '\n'), c.ticks) << player.result.out;
        size_t end = 0;
        for (long line = 0; line < c.ticks; ++line) end = recorded.find('\n', end) + 1;
        recorded.resize(end);
        EXPECT_EQ(where_they_differ(recorded, read_file(dir + c.replayed)), "");
        EXPECT_NE(recording.find("\nstopped_at " + std::to_string(c.ticks) + "\n"), std::string::npos)
            << recording.substr(0, 40);
        EXPECT_GE(count_of(recording, "[:key_down_raw, 32, 0, 2, "), 5u);
    }
}

// A recording started inside the game's tick, before the game draws random
// numbers, replays with the same state tick for tick, entity ids included.
// Before it, an entity kept in a global across a reset keeps an id no new
// entity gets, and replay files that cannot be replayed (one stopping at a
// negative tick, two whose first line is damaged) are refused without
// touching the game's state: the game ticks on.
TEST(PlayerInput, ARecordingStartedInsideTheTickReplaysTickForTick) {
    EngineSandbox sandbox;
    sandbox.use_fixture("recorded_inside_tick");
    const std::string header = "replay_version 2.0\nseed 1\nrecorded_at now\n";
    sandbox.write_game_file("negative.txt", header + "stopped_at -300\n");
    sandbox.write_game_file("versoin.txt", "replay_versoin 2.0\nseed 1\nstopped_at 3\n");
    sandbox.write_game_file("binary.txt", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\n", 17) + header);
    engine_result recording = sandbox.run({sandbox.game_dir}, 40);
    EXPECT_EQ(recording.exit_code, 0) << recording.err;
    EXPECT_EQ(count_of(recording.out, "cannot be replayed"), 3u) << recording.out;
    EXPECT_FALSE(file_exists(sandbox.base_dir + "/exceptions/current.txt")) << recording.out;
    EXPECT_EQ(read_file(sandbox.game_dir + "/kept.txt"), "7");
    EXPECT_EQ(read_file(sandbox.game_dir + "/ids.txt"), "false");
    const std::string digest = sandbox.game_dir + "/digest.txt";
    std::string recorded = read_file(digest);
    ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 61) << recording.out;

    std::filesystem::remove(digest);
    engine_result replay = sandbox.run({sandbox.game_dir, "--replay", "inside.txt"}, 40);
    EXPECT_EQ(replay.exit_code, 0) << replay.err;
    EXPECT_EQ(read_file(digest), recorded);
}

// A game that draws random numbers and makes entities at its top level and
// in boot, and feeds itself keys, clicks and a tap from its tick, replays
// tick for tick, what it reads before it feeds itself included (a key it
// is about to press is not down yet, and key_held reads as it did),
// however the recording began and however it is replayed:
// recorded with --record and in the game's tick, replayed with --replay, in
// the game's tick, and in the game past the 1,000th tick, whose reset loads
// app/main.rb again (at --speed 20, several ticks a frame).
TEST(PlayerInput, ARecordingReplaysTickForTickWhereverItBeganAndWhateverTheGameDoesAtStart) {
    EngineSandbox sandbox;
    sandbox.use_fixture("replay_anywhere");
    const std::string dir = sandbox.game_dir + "/";
    engine_result recording =
        sandbox.run({sandbox.game_dir, "--record", "--seed", "5", "--plan", "cli.txt,record:in_game.txt,quit"}, 60);
    ASSERT_EQ(recording.exit_code, 0) << recording.err;
    for (const char *phase : {"live_1.txt", "live_2.txt"})
        std::filesystem::rename(dir + phase, dir + "recorded_" + phase);
    engine_result replay = sandbox.run({sandbox.game_dir, "--replay", "in_game.txt", "--speed", "20", "--plan",
                                        "in_game.txt,replay:cli.txt,late:in_game.txt,quit"},
                                       60);
    ASSERT_EQ(replay.exit_code, 0) << replay.err;
    const struct {
        const char *recorded, *replayed, *how;
    } cases[] = {
        {"recorded_live_2.txt", "live_1.txt", "recorded in the game, replayed with --replay"},
        {"recorded_live_1.txt", "live_2.txt", "recorded with --record, replayed in the game"},
        {"recorded_live_2.txt", "live_3.txt", "recorded in the game, replayed in the game past the 1,000th tick"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        std::string recorded = read_file(dir + c.recorded);
        ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 61) << recording.out;
        EXPECT_EQ(where_they_differ(recorded, read_file(dir + c.replayed)), "");
    }
    // The key the game pressed in its tick 10 is filed under that tick.
    std::string file = read_file(dir + "cli.txt");
    size_t event = file.find("\n[:key_down_raw, 97, 0, 2, ");
    ASSERT_NE(event, std::string::npos) << file;
    EXPECT_EQ(file.substr(file.find(',', event + 27), 16), ", 10, :in_tick]\n");
}

// A game that draws a random number and sets a global at its top level,
// sets that global again in boot and resets itself inside every recording
// replays tick for tick on both sides of the engine's 1,000th tick, past
// which a reset loads app/main.rb again: a recording begun early, one
// whose reset falls past that tick and one begun past it, each replayed
// early (in the game, or with --replay) and late (at --speed 20).
TEST(PlayerInput, RecordingsWithAResetReplayTickForTickOnBothSidesOfTheThousandthTick) {
    EngineSandbox sandbox;
    sandbox.use_fixture("replay_reset");
    const std::string dir = sandbox.game_dir + "/";
    engine_result recording = sandbox.run({sandbox.game_dir, "--speed", "20", "--plan",
                                           "record:early.txt@30,record:crossing.txt@960,record:late.txt@1500,"
                                           "replay:early.txt@1700,replay:crossing.txt@1900,quit"},
                                          60);
    ASSERT_EQ(recording.exit_code, 0) << recording.err;
    for (int phase = 1; phase <= 5; ++phase)
        std::filesystem::rename(dir + "live_" + std::to_string(phase) + ".txt",
                                dir + "first_" + std::to_string(phase) + ".txt");
    engine_result replay = sandbox.run(
        {sandbox.game_dir, "--replay", "late.txt", "--plan", "late.txt,replay:crossing.txt@0,quit"}, 60);
    ASSERT_EQ(replay.exit_code, 0) << replay.err;
    const struct {
        const char *recorded, *replayed, *how;
    } cases[] = {
        {"first_1.txt", "first_4.txt", "recorded at tick 30, replayed past tick 1,000"},
        {"first_2.txt", "live_2.txt", "reset past tick 1,000, replayed before it"},
        {"first_2.txt", "first_5.txt", "reset past tick 1,000, replayed past it"},
        {"first_3.txt", "live_1.txt", "recorded past tick 1,000, replayed with --replay"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        std::string recorded = read_file(dir + c.recorded);
        ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 100) << recording.out;
        EXPECT_EQ(where_they_differ(recorded, read_file(dir + c.replayed)), "");
    }
    // Begun past tick 1,000, the recording has boot's value, as at start-up,
    // also after its reset.
    std::string late = read_file(dir + "first_3.txt");
    size_t line = late.find("\n51 {");
    ASSERT_NE(line, std::string::npos) << late;
    std::string after_reset = late.substr(line + 1, late.find('\n', line + 1) - line - 1);
    EXPECT_NE(after_reset.find(", :hp=>30, "), std::string::npos) << after_reset;
    EXPECT_EQ(after_reset.substr(after_reset.size() - 2), " 3") << after_reset;
}

// The README's example of a callback scheduled at the game's top level,
// one scheduled in boot and one from the game's tick all run again at
// their ticks after the file is saved again and after a reset past the
// engine's 1,000th tick, where app/main.rb loads again, and a callback
// scheduled twice from the game's
// own code still raises; a recording begun there, where the file loads
// and boot runs again first, runs them as at start-up.
TEST(PlayerInput, CallbacksOfTheTopLevelBootAndTickRunAgainAfterARestartPastTheThousandthTick) {
    EngineSandbox sandbox;
    sandbox.use_fixture("restarts");
    engine_result run = sandbox.run({sandbox.game_dir, "--speed", "20"}, 30);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_file(sandbox.game_dir + "/restart.txt"),
              "called [[], 3, 2] loads 3\nbooted 4\n"
              "twice Callback has already been scheduled for tick 3. If you meant to do this, execute "
              "$qmx.scheduled_callbacks.clear first.\nlater 60\n")
        << run.out;
    EXPECT_FALSE(file_exists(sandbox.base_dir + "/exceptions/current.txt")) << run.out;
    std::string recorded = read_file(sandbox.game_dir + "/recorded.txt");
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 11) << run.out;
    size_t last = recorded.rfind("\n10 {");
    ASSERT_NE(last, std::string::npos) << recorded;
    for (const char *field : {":called=>[[], 3, 2]", ":booted=>4"})
        EXPECT_NE(recorded.find(field, last), std::string::npos) << field;
}

// A recording begun past the engine's 1,000th tick, whose game has a level
// of 99 in its state and has changed a global its top level sets, loads
// app/main.rb and runs boot again on an empty state first, as at start-up;
// a callback it schedules from its tick is scheduled again in its replay.
// It replays tick for tick in the game and with --replay.
TEST(PlayerInput, ARecordingBegunPastTheThousandthTickBootsAsAtStartUpAndReplaysItsCallbacks) {
    EngineSandbox sandbox;
    sandbox.use_fixture("late_boot");
    const std::string dir = sandbox.game_dir + "/";
    engine_result run = sandbox.run({sandbox.game_dir, "--speed", "20"}, 30);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::string recorded = read_file(dir + "live_1.txt");
    ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 41) << run.out;
    expect_replays_match(sandbox, recorded, read_file(dir + "live_2.txt"), "replayed in the game, past tick 1,000",
                         "late.txt", 30);
    // Boot saw no level; $lives is the top level's; the callback ran.
    EXPECT_EQ(recorded.substr(recorded.size() - 6), " 10 3\n");
    EXPECT_NE(recorded.find(":twenty=>20", recorded.rfind("\n40 {")), std::string::npos) << recorded;
}

// A chain of callbacks begun at the top level (the callback of tick 30
// schedules one for 90, which schedules one for 150) runs again, whole,
// after a reset and in a recording on both sides of the engine's 1,000th
// tick; and each of two resets 31 ticks apart past that tick runs the top
// level again.
TEST(PlayerInput, CallbackChainsRunAgainAfterEveryRestartAndEachResetRunsTheTopLevelAgain) {
    EngineSandbox sandbox;
    sandbox.use_fixture("callback_chains");
    engine_result run = sandbox.run({sandbox.game_dir, "--speed", "20"}, 60);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const char *phases[] = {
        "1 [30, 90, 150] runs=1\n",  // at start-up
        "2 [30, 90, 150] runs=1\n",  // after a reset before tick 1,000
        "3 [30, 90, 150] runs=1\n",  // recorded before tick 1,000
        "4 [30, 90, 150] runs=1\n",  // after the recording
        "5 [nil, nil, nil] runs=2\n", // after a reset past tick 1,000
        "6 [30, 90, 150] runs=3\n",  // after a second reset 31 ticks later
        "7 [30, 90, 150] runs=4\n",  // recorded past tick 1,000
    };
    std::string noted = read_file(sandbox.game_dir + "/chains.txt");
    for (const char *phase : phases) EXPECT_NE(noted.find(phase), std::string::npos) << phase << noted << run.out;
    EXPECT_EQ(std::count(noted.begin(), noted.end(), '\n'), 7) << noted;
    EXPECT_EQ(count_of(run.out, "already been scheduled"), 0u) << run.out;
}

// A game whose top level schedules a callback 60 ticks after the tick count
// it sees, saved (and so loaded again) while it plays before the engine's
// 1,000th tick, then recorded: the recording sees the callback where its
// replays do, in the game and with --replay.
TEST(PlayerInput, ARecordingBegunAfterMainRbWasSavedReplaysItsTopLevelsCallback) {
    EngineSandbox sandbox;
    sandbox.use_fixture("saved_then_recorded");
    const std::string dir = sandbox.game_dir + "/";
    engine_result run = sandbox.run({sandbox.game_dir}, 60);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::string recorded = read_file(dir + "live_1.txt"), in_game = read_file(dir + "live_2.txt");
    ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 100) << run.out;
    EXPECT_NE(recorded.find("\n59 59\n"), std::string::npos) << recorded;
    expect_replays_match(sandbox, recorded, in_game, "replayed in the game", "saved.txt", 60);
}

// A recording whose first tick holds a key press and a release (the game
// starts it on R; Space goes down and R up in the next frame) replays with
// them from the console's prompt (cleared with Escape of the command it
// offers) and from the console menu's button.
TEST(PlayerInput, AReplayStartedFromTheConsoleGivesTheInputOfItsFirstTick) {
    ScriptedPlayer player("replay_anywhere");
    const std::string open = " key_down 96 0\n", typed = " text `\n", shut = " key_up 96 0\n";
    player.play("20 key_down 114 0\n21 key_up 114 0\n21 key_down 32 0\n25 key_up 32 0\n40 key_down 32 0\n"
                "41 key_up 32 0\n90" + open + "90" + typed + "91" + shut + "93 key_down 27 0\n94 key_up 27 0\n"
                "95 text $replay.start 'replay.txt'\n"
                "100 key_down 13 0\n101 key_up 13 0\n170" + open + "170" + typed + "171" + shut +
                "180 mouse_move 86.3% 4.2%\n182 mouse_down 1\n183 mouse_up 1\n190 mouse_move 69.9% 11.8%\n"
                "192 mouse_down 1\n193 mouse_up 1\n300 quit\n",
                {"--plan", "key:replay.txt,wait,wait,quit"});
    const std::string dir = player.sandbox.game_dir + "/";
    std::string recorded = read_file(dir + "live_1.txt");
    ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 61) << player.result.out;
    std::string saved = read_file(dir + "replay.txt");
    size_t press = saved.find("[:key_down_raw, 32, ");
    ASSERT_NE(press, std::string::npos) << saved;
    EXPECT_EQ(saved.substr(saved.find('\n', press) - 4, 4), ", 0]") << "Space went down in the first tick";
    for (const char *replayed : {"live_2.txt", "live_3.txt"}) {
        SCOPED_TRACE(replayed);
        EXPECT_EQ(where_they_differ(recorded, read_file(dir + replayed)), "");
    }
}

// What the recorder refuses while recording, asked by the game's tick (a
// second start, a replay, the end of a replay, a save it cannot write), it
// refuses alike in the recording and in its replay: the same answers, log
// lines and command in the prompt, and the replay neither restarts nor
// ends early. Neither opens the console, so keys pressed afterwards reach
// the game in both. Text typed during the replay is dropped, as other live
// input is.
TEST(PlayerInput, RefusalsActAlikeInARecordingAndItsReplayAndTextTypedDuringAReplayIsDropped) {
    ScriptedPlayer player("refused_in_replay");
    player.play("25 key_down 97 0\n26 key_up 97 0\n35 key_down 98 0\n36 key_up 98 0\n150 quit\n", {"--record"});
    const std::string recording_out = player.result.out, dir = player.sandbox.game_dir + "/";
    player.play("25 text hello\n26 key_down 99 0\n27 key_up 99 0\n35 text again\n150 quit\n", {"--replay", "typed.txt"});
    for (const char *refusal : {"* ERROR:\nYou are already recording, first cancel (or stop) the current recording.\n",
                                "* ERROR:\nYou are currently recording, first stop (or cancel) the recording.\n",
                                "* ERROR:\nNo replay is currently running. Call $replay.start FILE_NAME to start a replay.\n",
                                "* ERROR:\nThe recording could not be saved to ../typed.txt.\n"}) {
        EXPECT_EQ(count_of(recording_out, refusal), 1u) << refusal << recording_out;
        EXPECT_EQ(count_of(player.result.out, refusal), 1u) << refusal << player.result.out;
    }
    EXPECT_EQ(count_of(player.result.out, "Replay has been started."), 1u) << player.result.out;
    EXPECT_EQ(count_of(player.result.out, "Replay completed [typed.txt]"), 1u) << player.result.out;
    std::string recorded = read_file(dir + "recorded.txt");
    ASSERT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 61) << player.result.out;
    EXPECT_EQ(where_they_differ(recorded, read_file(dir + "replayed.txt")), "");
    const struct {
        const char *seen;
        size_t times;
    } cases[] = {{"down=[:a, :char, :raw_key]", 1},
                 {"down=[:b, :char, :raw_key]", 1},
                 {"console=true", 0},
                 {"text=[]", 61},
                 {"answers=[nil, nil] ", 2},
                 {"prompt=$recording.cancel\n", 4},
                 {"prompt=$replay.start 'replay.txt'\n", 6},
                 {"answers=[nil, nil, nil, false] ", 41},
                 {"prompt=$recording.stop 'replay.txt'\n", 41}};
    for (const auto &c : cases) EXPECT_EQ(count_of(recorded, c.seen), c.times) << c.seen << "\n" << recorded;
}

// Saving a recording where nothing can be written says so and keeps the
// recording for the save the console then offers; a replay file with a
// value no device gives, or with a damaged first line, is refused before it
// starts.
TEST(PlayerInput, AFailedRecordingSaveKeepsTheRecordingAndADamagedReplayIsRefused) {
    ScriptedPlayer player("replay_digest");
    player.play("20 key_down 96 0\n20 text `\n21 key_up 96 0\n25 text $recording.start 7\n30 key_down 13 0\n"
                "31 key_up 13 0\n40 key_down 96 0\n40 text `\n41 key_up 96 0\n42 key_down 27 0\n43 key_up 27 0\n"
                "45 text $recording.stop '../escape.txt'\n"
                "50 key_down 13 0\n51 key_up 13 0\n60 key_down 13 0\n61 key_up 13 0\n70 quit\n");
    const std::string &out = player.result.out;
    EXPECT_NE(out.find("The recording could not be saved to ../escape.txt."), std::string::npos) << out;
    EXPECT_EQ(out.find("saved successfully at ../escape.txt"), std::string::npos) << out;
    EXPECT_FALSE(file_exists(player.sandbox.root + "/escape.txt"));
    // Enter on the offered command saved it, with what came before the
    // failed save.
    std::string saved = read_file(player.sandbox.game_dir + "/replay.txt");
    EXPECT_EQ(saved.rfind("replay_version 2.0\n", 0), 0u) << out;
    EXPECT_NE(saved.find("[:key_down_raw, 96, 0, 2, "), std::string::npos) << saved;

    const std::string header = "stopped_at 300\nseed 1\nrecorded_at now\n";
    player.sandbox.write_game_file("bad.txt", "replay_version 2.0\n" + header + "[:key_down_player_one, 99, 0, 1, 1, 5]\n");
    player.sandbox.write_game_file("versoin.txt", "replay_versoin 2.0\n" + header);
    for (const char *file : {"bad.txt", "versoin.txt"}) {
        player.play("40 quit\n", {"--replay", file});
        const std::string refusal = std::string("* ERROR:\nThe replay file ") + file + " cannot be replayed.\n";
        EXPECT_NE(player.result.out.find(refusal), std::string::npos) << player.result.out;
        EXPECT_EQ((player.result.out + player.result.err).find("Key not found"), std::string::npos) << player.result.err;
        EXPECT_FALSE(file_exists(player.sandbox.base_dir + "/exceptions/current.txt")) << file;
    }
}

} // namespace
