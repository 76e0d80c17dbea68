// The per-frame walk of a game's audio Hash, driven from a bare interpreter
// that has just what the walk needs: the FFI module and a runtime answering
// `audio`.
#include "audio/audio_sync.h"
#include "bridge/ffi.h"
#include "audio_test_support.h"
#include "host/host_call.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace audio_test;
using sound_files::WAV_S16;
using sound_files::WAV_U8;

namespace {

std::vector<std::string> &logged() {
    static std::vector<std::string> lines;
    return lines;
}

void capture_log(void *, int, SDL_LogPriority, const char *message) { logged().push_back(message); }

class AudioSync : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    game_state state{};

    void SetUp() override {
        fixture_dir();
        tone_wav("short.wav", 440, 0.05, 22050, 1, WAV_S16);
        tone_wav("long.wav", 440, 1.0, 8000, 1, WAV_U8);
        ASSERT_TRUE(audio_init());
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        state.mrb = mrb;
        ffi_init(&state, nullptr);
        ruby("class TestRuntime; def audio; $audio; end; end; $audio = {}");
        state.runtime = ruby("TestRuntime.new");
        mrb_gc_register(mrb, state.runtime);
        logged().clear();
        SDL_LogSetOutputFunction(capture_log, nullptr);
    }

    void TearDown() override {
        SDL_LogSetOutputFunction(nullptr, nullptr);
        audio_quit();
        mrb_close(mrb);
    }

    mrb_value ruby(const char *code) {
        mrb_value result = mrb_load_string(mrb, code);
        if (mrb->exc) {
            ADD_FAILURE() << "Ruby raised in: " << code;
            host_log_pending_exception(mrb);
            return mrb_nil_value();
        }
        return result;
    }

    bool truthy(const char *code) { return mrb_test(ruby(code)); }

    mrb_int integer(const char *code) {
        mrb_value value = ruby(code);
        return mrb_integer_p(value) ? mrb_integer(value) : -1;
    }

    void sync() { audio_sync(&state); }

    // Frames of the walk until the condition holds.
    bool sync_until(const char *condition, int timeout_ms = 3000) {
        return eventually([&] {
            sync();
            return truthy(condition);
        }, timeout_ms, 16);
    }

    audio_source *record_of(const char *entry) {
        mrb_value cptr = ruby(entry);
        return mrb_data_p(cptr) ? (audio_source *)DATA_PTR(cptr) : nullptr;
    }

    int log_count(const std::string &needle) {
        int count = 0;
        for (const std::string &line : logged())
            if (line.find(needle) != std::string::npos) ++count;
        return count;
    }
};

TEST_F(AudioSync, AFileEntryPlaysLeavesTheHashAndCanBeAddedAgain) {
    ruby("JUMP = {input: 'short.wav'}; $audio[:jump] = JUMP");
    sync();
    ASSERT_TRUE(truthy("JUMP[:cptr].is_a?(FFI::CPtr)"));
    EXPECT_EQ(playlist_length(), 1);
    EXPECT_EQ(record_of("JUMP[:cptr]"), audio_playlist_head());

    ASSERT_TRUE(sync_until("!$audio.key?(:jump)"));
    EXPECT_EQ(playlist_length(), 0);
    // The engine's handle leaves with the entry, so the same Hash can be
    // played again later.
    EXPECT_FALSE(truthy("JUMP.key?(:cptr)"));
    ruby("$audio[:jump] = JUMP");
    sync();
    EXPECT_EQ(playlist_length(), 1);
    EXPECT_TRUE(truthy("$audio.key?(:jump)"));
    EXPECT_EQ(record_of("JUMP[:cptr]"), audio_playlist_head());
    EXPECT_TRUE(logged().empty());
}

TEST_F(AudioSync, TheGameOwnsTheLifetimeAndTheSettingsOfItsEntries) {
    ruby("$audio[:music] = {input: 'long.wav', looping: true, gain: 2, x: 1, y: -1, pitch: nil}");
    sync();
    audio_source *music = record_of("$audio[:music][:cptr]");
    ASSERT_NE(music, nullptr);
    // Integers are numbers and nil takes the default.
    EXPECT_FLOAT_EQ(music->gain, 2.0f);
    EXPECT_FLOAT_EQ(music->x, 1.0f);
    EXPECT_FLOAT_EQ(music->y, -1.0f);
    EXPECT_FLOAT_EQ(music->pitch, 1.0f);
    EXPECT_TRUE(music->looping);

    ruby("m = $audio[:music]; m[:gain] = 0.5; m[:pitch] = 2; m[:paused] = true");
    sync();
    ALfloat gain = 0, pitch = 0;
    alGetSourcef(music->al_source, AL_GAIN, &gain);
    alGetSourcef(music->al_source, AL_PITCH, &pitch);
    EXPECT_FLOAT_EQ(gain, 0.5f);
    EXPECT_FLOAT_EQ(pitch, 2.0f);
    EXPECT_EQ(source_state(music), AL_PAUSED);
    ruby("$audio[:music][:paused] = false");
    sync();
    EXPECT_EQ(source_state(music), AL_PLAYING);

    // A fresh Hash under the key is a new sound; the old one stops.
    ruby("$audio[:music] = {input: 'long.wav', paused: true}");
    sync();
    EXPECT_EQ(playlist_length(), 1);
    audio_source *replaced = record_of("$audio[:music][:cptr]");
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced, audio_playlist_head());
    EXPECT_EQ(source_state(replaced), AL_INITIAL);

    ruby("$audio.delete(:music)");
    sync();
    EXPECT_EQ(playlist_length(), 0);
}

TEST_F(AudioSync, AHandleThatNamesNoUnclaimedSoundStartsANewOne) {
    // Kept after the game removed the entry: its record is gone.
    ruby("KEPT = {input: 'long.wav'}; $audio[:a] = KEPT");
    sync();
    ruby("$audio.delete(:a)");
    sync();
    ASSERT_EQ(playlist_length(), 0);
    EXPECT_TRUE(truthy("KEPT[:cptr].is_a?(FFI::CPtr)"));
    ruby("$audio[:a] = KEPT");
    sync();
    EXPECT_EQ(playlist_length(), 1);
    EXPECT_EQ(record_of("KEPT[:cptr]"), audio_playlist_head());

    // One Hash under two keys: each frame both keys have a sound of their
    // own and the play list stays whole.
    ruby("TWICE = {input: 'long.wav'}; $audio[:b] = TWICE; $audio[:c] = TWICE");
    for (int frame = 0; frame < 4; ++frame) {
        sync();
        EXPECT_EQ(playlist_length(), 3) << "frame " << frame;
    }

    // Handles the game made or copied itself.
    ruby("$audio[:d] = {input: 'long.wav', cptr: FFI::CPtr.new}");
    ruby("$audio[:e] = {input: 'long.wav', cptr: $audio[:a][:cptr]}");
    sync();
    EXPECT_EQ(playlist_length(), 5);
    EXPECT_NE(record_of("$audio[:d][:cptr]"), nullptr);
    EXPECT_NE(record_of("$audio[:e][:cptr]"), record_of("$audio[:a][:cptr]"));

    // A handle that is no native object at all drops the entry.
    ruby("$audio[:f] = {input: 'long.wav', cptr: 5}");
    sync();
    EXPECT_FALSE(truthy("$audio.key?(:f)"));

    ruby("$audio.clear");
    sync();
    EXPECT_EQ(playlist_length(), 0);
}

TEST_F(AudioSync, InvalidEntriesLeaveOnceWithoutDisturbingTheOthers) {
    std::vector<uint8_t> garbage(2048, 0x5A);
    raw_file("corrupt.ogg", garbage);
    ruby("$audio[:music] = {input: 'long.wav', looping: true}");
    sync();
    audio_source *music = record_of("$audio[:music][:cptr]");
    ASSERT_NE(music, nullptr);

    ruby(R"(
      $audio[:number] = 5
      $audio[:no_input] = {gain: 1.0}
      $audio[:short] = {input: [1, 44100]}
      $audio[:empty] = {input: [1, 44100, []]}
      $audio[:symbol] = {input: :boom}
      $audio[:third] = {input: [1, 44100, 5]}
      $audio[:channels] = {input: [3, 44100, [0.1]]}
      $audio[:missing] = {input: 'sounds/missing.wav'}
      $audio[:corrupt] = {input: 'corrupt.ogg'}
      $audio[:nul] = {input: "long.wav\0.ogg"}
    )");
    for (int frame = 0; frame < 3; ++frame) sync();
    EXPECT_EQ(integer("$audio.size"), 1);
    EXPECT_TRUE(truthy("$audio.key?(:music)"));
    EXPECT_EQ(playlist_length(), 1);
    EXPECT_EQ(audio_playlist_head(), music);
    EXPECT_EQ(source_state(music), AL_PLAYING);

    // The mistakes a game author has to hear about, once each.
    EXPECT_EQ(log_count(":symbol"), 1);
    EXPECT_EQ(log_count(":third"), 1);
    EXPECT_EQ(log_count(":channels"), 1);
    EXPECT_EQ(log_count(":missing"), 1);
    EXPECT_EQ(log_count("sounds/missing.wav: file not found"), 1);
    EXPECT_EQ(log_count(":corrupt"), 1);
    EXPECT_EQ(log_count("corrupted"), 1);
    EXPECT_EQ(log_count(":nul"), 1);
    // Entries that are simply not sounds go quietly.
    EXPECT_EQ(log_count(":number"), 0);
    EXPECT_EQ(log_count(":no_input"), 0);
    EXPECT_EQ(log_count(":short"), 0);
    EXPECT_EQ(log_count(":empty"), 0);
}

TEST_F(AudioSync, SampleArraysAndGeneratorsPlayAndLeave) {
    ruby(R"(
      $calls = 0
      $audio[:beep] = {input: [1, 8000, [0.5, -0.5, 1, -1] * 200]}
      $audio[:gen] = {input: [2, 44100, lambda { $calls += 1; $calls <= 3 ? [0.25, -0.25] * 441 : nil }]}
      $audio[:none] = {input: [1, 44100, lambda { nil }]}
      $audio[:nothing] = {input: [1, 44100, lambda { [] }]}
    )");
    sync();
    EXPECT_FALSE(truthy("$audio.key?(:none)"));
    EXPECT_FALSE(truthy("$audio.key?(:nothing)"));
    EXPECT_EQ(playlist_length(), 2);
    ASSERT_TRUE(sync_until("$audio.empty?"));
    EXPECT_EQ(playlist_length(), 0);
    // Three chunks and the nil that ended the stream; never asked again.
    EXPECT_EQ(integer("$calls"), 4);
    EXPECT_TRUE(logged().empty());
}

TEST_F(AudioSync, AGeneratorCanBeSwappedAndOneThatRaisesEndsQuietlyOnce) {
    ruby(R"(
      $which = []
      $audio[:music] = {input: 'long.wav', looping: true}
      $audio[:gen] = {input: [1, 44100, lambda { $which << :first; [0.1] * 441 }]}
    )");
    sync();
    ruby("$audio[:gen][:input][2] = lambda { $which << :second; [0.1] * 441 }");
    ASSERT_TRUE(sync_until("$which.include?(:second)"));
    EXPECT_EQ(integer("$which.count(:first)"), 2) << "only the two buffers of the start";

    ruby(R"($audio[:gen][:input][2] = lambda { raise ArgumentError, "generator broke" })");
    ASSERT_TRUE(sync_until("!$audio.key?(:gen)"));
    for (int frame = 0; frame < 5; ++frame) sync();
    EXPECT_EQ(log_count("generator broke"), 1);
    EXPECT_TRUE(truthy("$audio.key?(:music)"));
    EXPECT_EQ(playlist_length(), 1);

    // Raising on the very first call: the key leaves on the first frame.
    ruby(R"($audio[:bad] = {input: [1, 44100, lambda { raise "no start" }]})");
    sync();
    EXPECT_FALSE(truthy("$audio.key?(:bad)"));
    EXPECT_EQ(log_count("no start"), 1);
}

TEST_F(AudioSync, WhatTheGameHandsOverCannotBreakTheWalk) {
    ruby("$audio[:music] = {input: 'long.wav', looping: true}");
    sync();
    ASSERT_EQ(playlist_length(), 1);

    // Not a Hash: the frame is skipped and the sounds carry on.
    ruby("$saved = $audio; $audio = [1, 2]");
    sync();
    ruby("$audio = nil");
    sync();
    ruby("class TestRuntime; def audio; raise 'audio broke'; end; end");
    sync();
    EXPECT_EQ(log_count("audio broke"), 1);
    EXPECT_EQ(playlist_length(), 1);
    ruby("class TestRuntime; def audio; $audio; end; end; $audio = $saved");

    // Frozen Hashes cannot be written: no raise escapes, and a frozen entry
    // is dropped with a word rather than restarted every frame.
    ruby("$audio[:frozen] = {input: 'long.wav'}.freeze");
    sync();
    sync();
    EXPECT_FALSE(truthy("$audio.key?(:frozen)"));
    EXPECT_EQ(log_count(":frozen"), 1);
    EXPECT_EQ(playlist_length(), 1);
    ruby("$audio.freeze");
    sync();
    EXPECT_EQ(playlist_length(), 1);
    ruby("$audio = $audio.dup; $audio.delete(:music)");
    sync();
    EXPECT_EQ(playlist_length(), 0);

    // A generator that edits the audio Hash while it is walked.
    ruby(R"(
      $audio[:first] = {input: 'long.wav'}
      $audio[:meddler] = {input: [1, 8000, lambda { $audio.delete(:first); $audio[:late] = 7; GC.start; [0.1] * 80 }]}
      $audio[:last] = {input: 'long.wav'}
    )");
    sync();
    sync();
    EXPECT_TRUE(truthy("$audio.key?(:meddler) && $audio.key?(:last)"));
    EXPECT_FALSE(truthy("$audio.key?(:first)"));
    EXPECT_EQ(playlist_length(), 2);
}

} // namespace
