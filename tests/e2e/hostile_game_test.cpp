// Games and assets made to break the engine, as a careless or hostile author
// would make them: the engine keeps running, or ends the way it says, and
// tells what went wrong.
#include "engine_run.h"
#include "audio/audio_decode.h"
#include "tests/common/hostile_fonts.h"
#include "tests/common/sound_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

namespace {

// Runs a game whose tick is `body` until it quits at `last_tick`; it must
// get there and end cleanly.
engine_result run_game(EngineSandbox &sandbox, const std::string &body, int last_tick) {
    sandbox.write_game_file("app/main.rb", "def tick(args)\n" + body + "  $qmx.request_quit if Kernel.tick_count == " +
                                    std::to_string(last_tick) + "\nend\n");
    engine_result r = sandbox.run({sandbox.game_dir}, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
}

// Loading a save that is not there wiped the state and broke every later
// frame; "Á" in the damaged font is made of itself: drawing or measuring it
// recursed until the stack ran out.
TEST(HostileGame, AMissingSaveAndADamagedFontAreReportedOnceAndTheGameRunsOn) {
    EngineSandbox sandbox;
    sandbox.write_game_file("bad.ttf", hostile_fonts::damaged(read_file(hostile_fonts::SOURCE), hostile_fonts::SELF_COMPOSITE));
    engine_result r = run_game(sandbox,
                               "  args.state.score = 42\n  $qmx.load_state if Kernel.tick_count == 3\n"
                               "  args.outputs.labels << { x: 10, y: 100, text: 'AÁV', font: 'bad.ttf' }\n"
                               "  $qmx.write_file('width.txt', $qmx.calcstringbox('AÁV', 0, 'bad.ttf')[0].to_s)\n",
                               30);
    EXPECT_NE(r.out.find("* INFO: Quit requested"), std::string::npos) << r.out;
    EXPECT_EQ(count_of(r.out, "game_state.txt=: it does not exist"), 1u) << r.out;
    EXPECT_EQ(r.out.find("method_missing"), std::string::npos) << r.out;
    EXPECT_EQ(count_of(r.err, "Font 'bad.ttf' is bogus or corrupt: a composite glyph refers to itself"), 1u) << r.err;
    EXPECT_GT(std::atof(read_file(sandbox.game_dir + "/width.txt").c_str()), 0.0);
}

// A tick that never returns cannot be interrupted, but the process ends.
TEST(HostileGame, ATickThatNeverReturnsDoesNotStopTheEngineFromQuitting) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args)\n  loop {} if Kernel.tick_count == 5\nend\n");
    EngineProcess waited = sandbox.start({sandbox.game_dir});
    EngineProcess pressed_twice = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(waited.wait_for_thread("simulation", 30));
    ASSERT_TRUE(pressed_twice.wait_for_thread("simulation", 30));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    waited.send_signal(SIGTERM);
    pressed_twice.send_signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pressed_twice.send_signal(SIGINT);
    engine_result twice = pressed_twice.finish(2);
    EXPECT_FALSE(twice.timed_out);
    EXPECT_EQ(twice.exit_code, 128 + SIGINT) << twice.err;
    engine_result r = waited.finish(10);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("the game's tick did not return within 3 seconds"), std::string::npos) << r.err;
}

TEST(HostileGame, MemoryStaysBoundedUnderAnimatedLabelsAndACorruptSoundAskedForEveryFrame) {
    std::vector<uint8_t> whole = [] {
        EngineSandbox scratch;
        std::string path = scratch.root + "/tone.ogg";
        return sound_files::write_ogg(path, sound_files::tone(440, 0.5, 44100, 1), 1, 44100)
                   ? sound_files::read_bytes(path)
                   : std::vector<uint8_t>();
    }();
    ASSERT_FALSE(whole.empty());
    // A setup header damaged where the decoder gives up after allocating.
    std::vector<uint8_t> corrupt = sound_files::damaged_ogg_setup(whole, 328);
    audio_decoded_sound sound;
    ASSERT_FALSE(audio_decode_ogg(corrupt.data(), corrupt.size(), &sound));

    const std::string done = "  $qmx.write_file('done.txt', 'done') if Kernel.tick_count == 300\nend\n";
    EngineSandbox labels, sounds;
    labels.write_game_file("app/main.rb", "def tick(args)\n"
                                          "  $text ||= ((65..126).to_a + (192..255).to_a + (913..969).to_a).map { |c| [c].pack('U') }.join\n"
                                          "  size = (Kernel.tick_count % 200) * 0.5 - 10\n"
                                          "  args.outputs.labels << { x: 10, y: 700, text: $text, size_enum: size }\n" +
                                              done);
    sound_files::write_bytes(sounds.game_dir + "/corrupt.ogg", corrupt);
    sounds.write_game_file("app/main.rb", "def tick(args)\n  args.audio[:hit] = { input: 'corrupt.ogg' }\n" + done);
    // The allocator's quarantine of freed memory would hide what is kept.
    std::map<std::string, std::string> env = {{"ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=0"}};
    EngineProcess label_run = labels.start({labels.game_dir}, env), sound_run = sounds.start({sounds.game_dir}, env);
    for (auto [sandbox, process] : {std::pair{&labels, &label_run}, std::pair{&sounds, &sound_run}}) {
        ASSERT_TRUE(process->wait_for_file(sandbox->game_dir + "/done.txt", 90));
        long mib = resident_mib(process->pid());
        EXPECT_GT(mib, 0);
        // About 170 MiB with the sanitizers; unbounded glyph pages pass 300.
        EXPECT_LT(mib, 256) << sandbox->game_dir;
        process->send_signal(SIGTERM);
        engine_result r = process->finish(20);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        if (sandbox == &sounds) {
            EXPECT_EQ(count_of(r.out, "=corrupt.ogg= of ~args.audio[:hit]~ could not be played: unsupported"), 1u)
                << r.out;
        }
    }
}

TEST(HostileGame, AGameWithoutAMainFileSaysWhatIsMissingAndWhere) {
    EngineSandbox sandbox;
    sandbox.write_game_file("sprites/readme.txt", "no code here");
    EngineProcess process = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(process.wait_for_thread("simulation", 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    engine_result r = process.stop();
    EXPECT_NE(r.out.find("The game has no =app/main.rb="), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("=" + sandbox.game_dir + "="), std::string::npos) << r.out;
}

} // namespace
