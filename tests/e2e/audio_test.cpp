// Sound as a game hears it: fixture games fill args.audio, the engine runs
// headless with OpenAL's wave backend writing the mix to a file, and the
// file is measured (length, pitch by zero crossings, left/right level).
#include "engine_run.h"
#include "tests/common/sound_files.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace sound_files;

struct audio_run {
    engine_result result;
    mix heard;
    bool mix_read = false;
};

// Runs the sandbox's game with the mix written to a file.
audio_run run_with_wave_output(const EngineSandbox &sandbox, double timeout_seconds = 30) {
    std::string wav = sandbox.root + "/mix.wav";
    std::string conf = sandbox.root + "/alsoft.conf";
    write_file(conf, "[general]\ndrivers=wave\n[wave]\nfile=" + wav + "\n");
    audio_run run;
    run.result = sandbox.run({sandbox.game_dir}, timeout_seconds, {{"ALSOFT_DRIVERS", "wave"}, {"ALSOFT_CONF", conf}});
    run.mix_read = read_float_wav(wav, &run.heard);
    return run;
}

void write_sound(const EngineSandbox &sandbox, const std::string &name, const std::vector<uint8_t> &bytes) {
    write_file(sandbox.game_dir + "/sounds/" + name, std::string(bytes.begin(), bytes.end()));
}

void write_tone(const EngineSandbox &sandbox, const std::string &name, double frequency, double seconds,
                uint32_t rate, int channels, wav_encoding encoding) {
    write_sound(sandbox, name, wav_bytes(tone(frequency, seconds, rate, channels), channels, rate, encoding));
}

size_t count_of(const std::string &text, const std::string &needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

// Spans of sound in the mix, ignoring the tone's own zero crossings.
std::vector<std::pair<size_t, size_t>> sounds_in(const mix &heard) {
    return audible_segments(heard, 0.05f, heard.rate / 50);
}

double seconds(const mix &heard, const std::pair<size_t, size_t> &span) {
    return (double)(span.second - span.first) / heard.rate;
}

// The middle of a span, away from the edges where the sound starts and stops.
std::pair<size_t, size_t> middle(const std::pair<size_t, size_t> &span) {
    size_t quarter = (span.second - span.first) / 4;
    return {span.first + quarter, span.second - quarter};
}

TEST(Audio, EveryFileFormatPlaysItsToneForItsLengthAndThenLeavesTheHash) {
    EngineSandbox sandbox;
    sandbox.use_fixture("audio_formats");
    write_tone(sandbox, "s16.wav", 440, 0.5, 44100, 1, WAV_S16);
    ASSERT_TRUE(write_ogg(sandbox.game_dir + "/sounds/tone.ogg", tone(440, 0.5, 44100, 1), 1, 44100));
    write_tone(sandbox, "u8.wav", 440, 0.5, 22050, 1, WAV_U8);
    write_tone(sandbox, "f32.wav", 440, 0.5, 48000, 1, WAV_F32);
    write_tone(sandbox, "stereo.wav", 440, 0.5, 44100, 2, WAV_S16);

    audio_run run = run_with_wave_output(sandbox);
    ASSERT_TRUE(run.result.exited) << run.result.err;
    EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
    ASSERT_TRUE(run.mix_read);
    EXPECT_EQ(run.heard.rate, 44100u);
    EXPECT_EQ(run.heard.channels, 2);

    auto spans = sounds_in(run.heard);
    ASSERT_EQ(spans.size(), 5u) << run.result.err;
    const char *names[] = {"s16", "ogg", "u8", "f32", "stereo"};
    for (size_t i = 0; i < spans.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_NEAR(seconds(run.heard, spans[i]), 0.5, 0.03);
        auto steady = middle(spans[i]);
        for (int channel = 0; channel < 2; ++channel)
            EXPECT_NEAR(zero_crossing_frequency(run.heard, channel, steady.first, steady.second), 440, 5);
        // Unplaced sounds sit in the middle.
        double left = rms(run.heard, 0, steady.first, steady.second);
        double right = rms(run.heard, 1, steady.first, steady.second);
        EXPECT_NEAR(left / right, 1.0, 0.05);
    }

    // Each entry left the hash soon after its sound ended. (The mix above
    // shows each played in full; OpenAL's mixing thread can run behind the
    // game's clock and catch up, so the clock gives only loose bounds.)
    std::istringstream stayed(read_file(sandbox.game_dir + "/stayed.txt"));
    for (int i = 0; i < 5; ++i) {
        int index = -1;
        double time = -1;
        stayed >> index >> time;
        EXPECT_EQ(index, i);
        EXPECT_GT(time, 0.1) << names[i];
        EXPECT_LT(time, 1.0) << names[i];
    }
}

TEST(Audio, SampleArraysAndGeneratorsPlayWherePlacedAndLeaveTheHash) {
    EngineSandbox sandbox;
    sandbox.use_fixture("audio_generated");
    audio_run run = run_with_wave_output(sandbox);
    ASSERT_TRUE(run.result.exited) << run.result.err;
    EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
    ASSERT_TRUE(run.mix_read);

    auto spans = sounds_in(run.heard);
    ASSERT_EQ(spans.size(), 2u) << run.result.err;
    struct expectation {
        const char *name;
        double frequency, seconds;
        int louder, quieter;
    } expected[] = {{"array at x 1", 660, 0.4, 1, 0}, {"generator at x -1", 880, 0.6, 0, 1}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_NEAR(seconds(run.heard, spans[i]), expected[i].seconds, 0.03);
        auto steady = middle(spans[i]);
        EXPECT_NEAR(zero_crossing_frequency(run.heard, expected[i].louder, steady.first, steady.second),
                    expected[i].frequency, 6);
        double louder = rms(run.heard, expected[i].louder, steady.first, steady.second);
        double quieter = rms(run.heard, expected[i].quieter, steady.first, steady.second);
        EXPECT_GT(louder, 2 * quieter) << louder << " vs " << quieter;
    }

    double array_stayed = -1, generator_stayed = -1;
    std::istringstream(read_file(sandbox.game_dir + "/stayed.txt")) >> array_stayed >> generator_stayed;
    // Each left the hash soon after it ended (loosely: see the formats test).
    EXPECT_GT(array_stayed, 0.1);
    EXPECT_LT(array_stayed, 0.9);
    EXPECT_GT(generator_stayed, 0.1);
    EXPECT_LT(generator_stayed, 1.1);
}

TEST(Audio, GainPitchPauseAndLoopingChangesTakeEffectOnTheNextFrame) {
    EngineSandbox sandbox;
    sandbox.use_fixture("audio_controls");
    write_tone(sandbox, "loop.wav", 440, 0.25, 44100, 1, WAV_S16);
    audio_run run = run_with_wave_output(sandbox);
    ASSERT_TRUE(run.result.exited) << run.result.err;
    EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
    ASSERT_TRUE(run.mix_read);

    // Seconds from the start to each change: quieter, higher, paused,
    // resumed, no longer looping.
    std::vector<double> at(6, -1);
    std::istringstream changes(read_file(sandbox.game_dir + "/changes.txt"));
    for (double &time : at) changes >> time;
    ASSERT_GT(at[5], at[4]);
    // A change reaches the mix on the frame that made it, but on a busy
    // machine both the frames and OpenAL's mixing thread run late and catch
    // up, so the mix and the game's clock drift apart by a few frames.
    // (The unit tests pin the next-frame rule down exactly.)
    const double soon = 0.3;

    const mix &heard = run.heard;
    auto spans = audible_segments(heard, 0.02f, heard.rate / 50);
    ASSERT_EQ(spans.size(), 2u) << "the pause splits the sound in two";
    auto first = spans[0];
    EXPECT_NEAR(seconds(heard, first), at[3], soon);
    EXPECT_NEAR((double)(spans[1].first - first.second) / heard.rate, at[4] - at[3], soon);
    // After looping was turned off, the loop in progress (0.125 s an octave
    // up) played out.
    double second = seconds(heard, spans[1]);
    EXPECT_GT(second, at[5] - at[4] - soon);
    EXPECT_LT(second, at[5] - at[4] + 0.125 + soon);

    // In 50 ms steps: loud at 440 Hz, then a quarter of the level, then an
    // octave up.
    size_t step = heard.rate / 20;
    std::vector<double> level, pitch;
    for (size_t frame = first.first; frame + step <= first.second; frame += step) {
        level.push_back(rms(heard, 0, frame, frame + step));
        pitch.push_back(zero_crossing_frequency(heard, 0, frame, frame + step));
    }
    ASSERT_GE(level.size(), 20u);
    double loud = level[2];
    size_t quieter = 0, higher = 0;
    while (quieter < level.size() && level[quieter] > 0.6 * loud) ++quieter;
    while (higher < pitch.size() && pitch[higher] < 660) ++higher;
    EXPECT_NEAR(quieter * 0.05, at[1], soon);
    EXPECT_NEAR(higher * 0.05, at[2], soon);
    // The steps next to a change hold a bit of both sides: skip them.
    for (size_t i = 1; i + 1 < level.size(); ++i) {
        if (i + 1 == quieter || i == quieter || i + 1 == higher || i == higher) continue;
        SCOPED_TRACE(i);
        EXPECT_NEAR(level[i], i < quieter ? loud : loud / 4, loud * 0.05);
        EXPECT_NEAR(pitch[i], i < higher ? 440 : 880, 25);
    }
    auto resumed = middle(spans[1]);
    EXPECT_NEAR(zero_crossing_frequency(heard, 0, resumed.first, resumed.second), 880, 10);

    int gone = -1;
    std::istringstream(read_file(sandbox.game_dir + "/gone.txt")) >> gone;
    EXPECT_GT(gone, 160);
    EXPECT_LE(gone, 160 + 30);
}

TEST(Audio, BrokenEntriesAreReportedOnceAndTheMusicPlaysOn) {
    EngineSandbox sandbox;
    sandbox.use_fixture("audio_faults");
    write_tone(sandbox, "loop.wav", 440, 0.25, 44100, 1, WAV_S16);
    std::vector<uint8_t> corrupt(3000);
    for (size_t i = 0; i < corrupt.size(); ++i) corrupt[i] = (uint8_t)(i * 31 + 7);
    std::copy_n("OggS", 4, corrupt.begin());
    write_sound(sandbox, "corrupt.ogg", corrupt);

    audio_run run = run_with_wave_output(sandbox);
    ASSERT_TRUE(run.result.exited) << run.result.err;
    EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
    const std::string &log = run.result.err;
    EXPECT_EQ(count_of(log, "sounds/missing.wav: file not found"), 1u) << log;
    EXPECT_EQ(count_of(log, "sounds/corrupt.ogg: unsupported or corrupted"), 1u) << log;
    EXPECT_EQ(count_of(log, ":unknown"), 1u) << log;
    EXPECT_EQ(count_of(log, "generator broke"), 1u) << log;
    EXPECT_EQ(count_of(log, "late break"), 1u) << log;
    EXPECT_EQ(read_file(sandbox.game_dir + "/keys.txt"), "[:music]");

    ASSERT_TRUE(run.mix_read);
    auto spans = sounds_in(run.heard);
    ASSERT_EQ(spans.size(), 1u) << "the music never broke off";
    EXPECT_GT(seconds(run.heard, spans[0]), 0.8);
    auto steady = middle(spans[0]);
    EXPECT_NEAR(zero_crossing_frequency(run.heard, 0, steady.first, steady.second), 440, 5);
}

TEST(Audio, MoreSoundsThanSourcesNeverCrashAndAllLeaveTheHash) {
    EngineSandbox sandbox;
    sandbox.use_fixture("audio_many");
    write_tone(sandbox, "blip.wav", 440, 0.1, 22050, 1, WAV_S16);
    engine_result result = sandbox.run({sandbox.game_dir}, 30);
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    int empty = -1;
    std::istringstream(read_file(sandbox.game_dir + "/empty.txt")) >> empty;
    // The sounds that got a source end 0.1 s (6 frames) later; the others
    // leave at once.
    EXPECT_GT(empty, 5);
    EXPECT_LT(empty, 30);
    EXPECT_GT(count_of(result.err, "no free OpenAL source"), 0u);
}

} // namespace
