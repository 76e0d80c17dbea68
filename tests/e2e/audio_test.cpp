// Sound as a game hears it: fixture games fill args.audio, the engine runs
// headless with OpenAL's wave backend writing the mix to a file, and the
// file is measured (length, pitch by zero crossings, left/right level).
#include "engine_run.h"
#include "tests/common/sound_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace sound_files;
using span = std::pair<size_t, size_t>;

struct audio_run {
    engine_result result;
    mix heard;
    std::vector<span> sounds; // ignoring silences as short as a tone's zero crossings
    std::istringstream notes; // what the game wrote down in notes.txt
    std::string log;          // logs/log.txt
};

// Runs the fixture game with the mix written to a file; `sounds` writes the
// game's sound files into the folder it is given.
template <typename Sounds> void run_with_wave_output(const char *fixture, Sounds sounds, audio_run *run) {
    EngineSandbox sandbox;
    sandbox.use_fixture(fixture);
    std::filesystem::create_directories(sandbox.game_dir + "/sounds");
    sounds(sandbox.game_dir + "/sounds/");
    std::string wav = sandbox.root + "/mix.wav", conf = sandbox.root + "/alsoft.conf";
    write_file(conf, "[general]\ndrivers=wave\n[wave]\nfile=" + wav + "\n");
    run->result = sandbox.run({sandbox.game_dir}, 30, {{"ALSOFT_DRIVERS", "wave"}, {"ALSOFT_CONF", conf}});
    EXPECT_TRUE(run->result.exited && run->result.exit_code == 0) << run->result.err;
    EXPECT_TRUE(read_float_wav(wav, &run->heard));
    run->sounds = audible_segments(run->heard, 0.05f, run->heard.rate / 50);
    run->notes.str(read_file(sandbox.game_dir + "/notes.txt"));
    run->log = read_file(sandbox.base_dir + "/logs/log.txt");
}

double seconds(const mix &heard, const span &s) { return (double)(s.second - s.first) / heard.rate; }

// The middle of a span, away from the edges where the sound starts and stops.
span middle(const span &s) { return {s.first + (s.second - s.first) / 4, s.second - (s.second - s.first) / 4}; }

// Entries leave the hash soon after their sound ends. OpenAL's mixing thread
// can run behind the game's clock and catch up, so the clock gives only
// loose bounds; the mix shows each sound played in full.
void expect_stayed(audio_run &run, double at_most) {
    double stayed = -1;
    run.notes >> stayed;
    EXPECT_GT(stayed, 0.1);
    EXPECT_LT(stayed, at_most);
}

TEST(Audio, EveryFileFormatPlaysItsToneForItsLengthAndThenLeavesTheHash) {
    audio_run run;
    run_with_wave_output("audio_formats", [](const std::string &folder) {
        write_tone(folder + "s16.wav", 0.5, 44100, 1, WAV_S16);
        ASSERT_TRUE(write_ogg(folder + "tone.ogg", tone(440, 0.5, 44100, 1), 1, 44100));
        write_tone(folder + "u8.wav", 0.5, 22050, 1, WAV_U8);
        write_tone(folder + "f32.wav", 0.5, 48000, 1, WAV_F32);
        write_tone(folder + "stereo.wav", 0.5, 44100, 2, WAV_S16);
    }, &run);
    EXPECT_EQ(run.heard.rate, 44100u);
    ASSERT_EQ(run.heard.channels, 2);
    ASSERT_EQ(run.sounds.size(), 5u) << run.result.err;
    const char *names[] = {"s16", "ogg", "u8", "f32", "stereo"};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_NEAR(seconds(run.heard, run.sounds[i]), 0.5, 0.03);
        span steady = middle(run.sounds[i]);
        EXPECT_NEAR(frequency(run.heard, 0, steady), 440, 5);
        EXPECT_NEAR(frequency(run.heard, 1, steady), 440, 5);
        // Unplaced sounds sit in the middle.
        EXPECT_NEAR(level(run.heard, 0, steady) / level(run.heard, 1, steady), 1.0, 0.05);
        expect_stayed(run, 1.0);
    }
}

TEST(Audio, SampleArraysAndGeneratorsPlayWherePlacedAndLeaveTheHash) {
    audio_run run;
    run_with_wave_output("audio_generated", [](const std::string &) {}, &run);
    ASSERT_EQ(run.sounds.size(), 2u) << run.result.err;
    struct {
        double frequency, seconds;
        int louder;
    } expected[] = {{660, 0.4, 1}, {880, 0.6, 0}}; // an array at x 1, a generator at x -1
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(seconds(run.heard, run.sounds[i]), expected[i].seconds, 0.03);
        span steady = middle(run.sounds[i]);
        int louder = expected[i].louder;
        EXPECT_NEAR(frequency(run.heard, louder, steady), expected[i].frequency, 6);
        EXPECT_GT(level(run.heard, louder, steady), 2 * level(run.heard, 1 - louder, steady));
        expect_stayed(run, i == 0 ? 0.9 : 1.1);
    }
}

TEST(Audio, GainPitchPauseAndLoopingChangesTakeEffectOnTheNextFrame) {
    audio_run run;
    run_with_wave_output("audio_controls", [](const std::string &folder) {
        write_tone(folder + "loop.wav", 0.25, 44100, 1, WAV_S16);
    }, &run);
    // Seconds from the start to each change (quieter, an octave up, paused,
    // resumed, no longer looping), then the frame the entry was gone.
    std::vector<double> at(6, -1);
    int gone = -1;
    for (double &time : at) run.notes >> time;
    run.notes >> gone;
    ASSERT_GT(at[5], at[4]);
    // A change reaches the mix on the frame that made it, but on a busy
    // machine both the frames and OpenAL's mixing thread run late and catch
    // up, so the mix and the game's clock drift apart by a few frames.
    // (The unit tests pin the next-frame rule down exactly.)
    const double soon = 0.3;
    const mix &heard = run.heard;
    auto spans = audible_segments(heard, 0.02f, heard.rate / 50);
    ASSERT_EQ(spans.size(), 2u) << "the pause splits the sound in two";
    span first = spans[0];
    EXPECT_NEAR(seconds(heard, first), at[3], soon);
    EXPECT_NEAR(seconds(heard, {first.second, spans[1].first}), at[4] - at[3], soon);
    // After looping was turned off, the loop in progress (0.125 s an octave
    // up) played out.
    EXPECT_GT(seconds(heard, spans[1]), at[5] - at[4] - soon);
    EXPECT_LT(seconds(heard, spans[1]), at[5] - at[4] + 0.125 + soon);
    EXPECT_NEAR(frequency(heard, 0, middle(spans[1])), 880, 10);
    EXPECT_GT(gone, 160);
    EXPECT_LE(gone, 160 + 30);

    // In 50 ms steps: loud at 440 Hz, then a quarter of the level, then an
    // octave up. The steps next to a change hold a bit of both sides.
    size_t step = heard.rate / 20;
    std::vector<double> levels, pitches;
    for (size_t frame = first.first; frame + step <= first.second; frame += step) {
        levels.push_back(level(heard, 0, {frame, frame + step}));
        pitches.push_back(frequency(heard, 0, {frame, frame + step}));
    }
    ASSERT_GE(levels.size(), 20u);
    size_t quieter = 0, higher = 0;
    while (quieter < levels.size() && levels[quieter] > 0.6 * levels[2]) ++quieter;
    while (higher < pitches.size() && pitches[higher] < 660) ++higher;
    EXPECT_NEAR(quieter * 0.05, at[1], soon);
    EXPECT_NEAR(higher * 0.05, at[2], soon);
    for (size_t i = 1; i + 1 < levels.size(); ++i) {
        if (i + 1 == quieter || i == quieter || i + 1 == higher || i == higher) continue;
        EXPECT_NEAR(levels[i], i < quieter ? levels[2] : levels[2] / 4, levels[2] * 0.05) << i;
        EXPECT_NEAR(pitches[i], i < higher ? 440 : 880, 25) << i;
    }
}

// One Hash under two keys plays once under each and both keys go when it
// ends. A pitch the mixer cannot play holds the sound at the nearest one it
// can: a loop slid down to 0 and back, then pushed to an infinite pitch and
// back, stays and sounds as before. A negative pitch and NaN are refused,
// each with one message.
TEST(Audio, SoundsEndWhenTheyEndAndAPitchOutOfReachIsHeld) {
    audio_run run;
    run_with_wave_output("audio_endings", [](const std::string &folder) {
        write_tone(folder + "short.wav", 0.3, 44100, 1, WAV_S16);
        write_tone(folder + "loop.wav", 0.25, 44100, 1, WAV_S16);
    }, &run);
    EXPECT_EQ(run.notes.str(), "[] [:looped]");
    for (const char *key : {"negative", "nan"})
        EXPECT_EQ(count_of(run.result.out, std::string("~args.audio[:") + key + "]~ could not be played: pitch must be"), 1u)
            << run.result.out;
    EXPECT_EQ(count_of(run.result.out + run.result.err, "pitch must"), 2u) << run.result.err;
    // The jumps as one 0.3 s tone; the loop from tick 30 until it is removed
    // at tick 90, at its own pitch again at the end.
    ASSERT_GE(run.sounds.size(), 2u);
    EXPECT_NEAR(seconds(run.heard, run.sounds[0]), 0.3, 0.03);
    span last = run.sounds.back();
    EXPECT_GT(seconds(run.heard, {run.sounds[0].first, last.second}), 1.2);
    EXPECT_NEAR(frequency(run.heard, 0, {last.second - run.heard.rate / 10, last.second}), 440, 10);
}

TEST(Audio, BrokenEntriesAreReportedOnceAndTheMusicPlaysOn) {
    audio_run run;
    run_with_wave_output("audio_faults", [](const std::string &folder) {
        write_tone(folder + "loop.wav", 0.25, 44100, 1, WAV_S16);
        std::vector<uint8_t> corrupt(3000);
        for (size_t i = 0; i < corrupt.size(); ++i) corrupt[i] = (uint8_t)(i * 31 + 7);
        std::copy_n("OggS", 4, corrupt.begin());
        write_bytes(folder + "corrupt.ogg", corrupt);
    }, &run);
    for (const char *error : {":unknown", "generator broke", "late break"})
        EXPECT_EQ(count_of(run.result.err, error), 1u) << error << " in " << run.result.err;
    // Sound files that cannot be played are reported where the author looks:
    // the log file, standard output and the console (the game counts the
    // console's lines naming each).
    for (const char *error : {"=sounds/missing.wav= of ~args.audio[:missing]~ could not be played: file not found",
                              "=sounds/corrupt.ogg= of ~args.audio[:corrupt]~ could not be played: unsupported"}) {
        EXPECT_EQ(count_of(run.log, error), 1u) << error << " in " << run.log;
        EXPECT_EQ(count_of(run.result.out, error), 1u) << error << " in " << run.result.out;
    }
    EXPECT_EQ(run.notes.str(), "[:music] 1 1");
    ASSERT_EQ(run.sounds.size(), 1u) << "the music never broke off";
    EXPECT_GT(seconds(run.heard, run.sounds[0]), 0.8);
    EXPECT_NEAR(frequency(run.heard, 0, middle(run.sounds[0])), 440, 5);
}

} // namespace
