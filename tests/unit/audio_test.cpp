// The audio engine on OpenAL's null device, driven frame by frame from a bare
// interpreter that has just what the walk of a game's audio Hash needs (the
// FFI module and a runtime answering `audio`). How sounds sound is measured
// end to end (tests/e2e/audio_test.cpp).
#include "audio/audio.h"
#include "audio/audio_decode.h"
#include "audio/audio_sync.h"
#include "bridge/ffi.h"
#include "host/host_call.h"
#include "tests/common/sound_files.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <physfs.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace sound_files;

namespace {

// The folder sound files go in, mounted at the root of the virtual file system.
const std::string &fixture_dir() {
    static std::string dir = [] {
        char pattern[] = "/tmp/vellum-audio-XXXXXX";
        std::string path = mkdtemp(pattern) ? pattern : "/tmp";
        setenv("ALSOFT_DRIVERS", "null", 0);
        if (!PHYSFS_isInit()) PHYSFS_init(nullptr);
        PHYSFS_mount(path.c_str(), nullptr, 1);
        return path;
    }();
    return dir;
}

void raw_file(const std::string &name, const std::vector<uint8_t> &bytes) { write_bytes(fixture_dir() + "/" + name, bytes); }
void tone_wav(const std::string &name, double seconds, uint32_t rate, int channels, wav_encoding encoding) {
    write_tone(fixture_dir() + "/" + name, seconds, rate, channels, encoding);
}

ALint al_state(const audio_source *source) {
    ALint state = 0;
    alGetSourcei(source->al_source, AL_SOURCE_STATE, &state);
    return state;
}

int playlist_length() {
    int length = 0;
    for (audio_source *source = audio_playlist_head(); source; source = source->next) ++length;
    return length;
}

std::vector<std::string> logged;

class AudioSync : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    game_state state{};

    void SetUp() override {
        tone_wav("short.wav", 0.05, 22050, 1, WAV_S16);
        tone_wav("long.wav", 1.0, 8000, 1, WAV_U8);
        ASSERT_TRUE(audio_init());
        state.mrb = mrb = mrb_open();
        ffi_init(&state, nullptr);
        state.runtime = ruby("class TestRuntime; def audio; $audio; end; end; $audio = {}; TestRuntime.new");
        mrb_gc_register(mrb, state.runtime);
        logged.clear();
        SDL_LogSetOutputFunction([](void *, int, SDL_LogPriority, const char *m) { logged.push_back(m); }, nullptr);
    }
    void TearDown() override {
        SDL_LogSetOutputFunction(nullptr, nullptr);
        audio_quit();
        mrb_close(mrb);
    }

    mrb_value ruby(const std::string &code) {
        mrb_value result = mrb_load_string(mrb, code.c_str());
        if (!mrb->exc) return result;
        ADD_FAILURE() << "Ruby raised in: " << code;
        host_log_pending_exception(mrb);
        return mrb_nil_value();
    }
    bool truthy(const std::string &code) { return mrb_test(ruby(code)); }
    void sync(int frames = 1) {
        for (int i = 0; i < frames; ++i) audio_sync(&state);
    }
    // Runs the game's code, then one frame of the walk.
    void frame(const std::string &code) {
        ruby(code);
        sync();
    }
    audio_source *record_of(const std::string &entry) {
        mrb_value cptr = ruby(entry);
        return mrb_data_p(cptr) ? (audio_source *)DATA_PTR(cptr) : nullptr;
    }
    int log_count(const std::string &needle) {
        return (int)std::count_if(logged.begin(), logged.end(), [&](const std::string &l) { return l.find(needle) != l.npos; });
    }
};

// A generator whose chunks run dry between frames is restarted, not ended.
// The mixer is held while a frame looks at the source: a busy machine that
// let it play the refill out before the test looked would make a restarted
// source look like one left stopped.
TEST_F(AudioSync, AStarvedGeneratorIsRestartedNotFinished) {
    ALCdevice *device = alcGetContextsDevice(alcGetCurrentContext());
    auto pause = (LPALCDEVICEPAUSESOFT)alcGetProcAddress(device, "alcDevicePauseSOFT");
    auto resume = (LPALCDEVICERESUMESOFT)alcGetProcAddress(device, "alcDeviceResumeSOFT");
    ASSERT_TRUE(pause && resume);
    ruby("$calls = 0; $audio[:g] = {input: [1, 44100, lambda { $calls += 1; [0.25, -0.25] * 32 }]}");
    sync();
    for (int frame = 0; frame < 5; ++frame) {
        audio_source *source = record_of("$audio[:g][:cptr]");
        ASSERT_NE(source, nullptr) << "frame " << frame;
        // Starved: everything queued has been played.
        for (int waited = 0; waited < 10000 && al_state(source) != AL_STOPPED; waited += 5) SDL_Delay(5);
        ASSERT_EQ(al_state(source), AL_STOPPED) << "frame " << frame;
        pause(device);
        mrb_int calls = mrb_integer(ruby("$calls"));
        sync();
        ASSERT_EQ(record_of("$audio[:g][:cptr]"), source) << "frame " << frame;
        EXPECT_EQ(al_state(source), AL_PLAYING) << "frame " << frame;
        EXPECT_GT(mrb_integer(ruby("$calls")), calls) << "frame " << frame;
        resume(device);
    }
}

TEST_F(AudioSync, AFileIsDecodedOnceIntoASharedBufferAndRunningOutOfSourcesDropsTheEntriesThatGotNone) {
    frame("$audio[:a] = {input: 'long.wav'}; $audio[:b] = {input: 'long.wav'}");
    const audio_cached_buffer *entry = audio_cache_lookup("long.wav");
    audio_source *a = record_of("$audio[:a][:cptr]"), *b = record_of("$audio[:b][:cptr]");
    ASSERT_TRUE(entry && a && b);
    EXPECT_TRUE(entry->refcount == 2 && a->input_extra.cached == entry && b->input_extra.cached == entry);
    frame("$audio.clear");
    EXPECT_TRUE(audio_cache_lookup("long.wav") == entry && entry->refcount == 0);
    // A record without an OpenAL source must not pass for a playing sound.
    frame("400.times { |i| $audio[i] = {input: 'long.wav'} }");
    int live = playlist_length();
    EXPECT_LT(live, 400);
    EXPECT_TRUE(truthy("$audio.size == " + std::to_string(live)));
    EXPECT_EQ(log_count("no free OpenAL source"), 400 - live);
    EXPECT_EQ(audio_cache_lookup("long.wav")->refcount, (uint32_t)live);
    // The other input kinds fail the same way, without calling the generator.
    frame("$calls = 0; $audio[:array] = {input: [1, 8000, [0.1, 0.2]]}; "
          "$audio[:gen] = {input: [1, 8000, lambda { $calls += 1; [0.1] * 80 }]}");
    EXPECT_TRUE(truthy("!$audio.key?(:array) && !$audio.key?(:gen) && $calls == 0"));
    frame("$audio.delete(0)");
    frame("$audio[:again] = {input: 'long.wav'}");
    EXPECT_TRUE(truthy("$audio.key?(:again)")) << "a freed source is usable again";
}

// The native handle a Hash carries is trusted only for the live sound that
// very Hash started.
TEST_F(AudioSync, HashesReaddedSharedOrCarryingForeignHandlesStartSoundsOfTheirOwn) {
    frame("JUMP = {input: 'short.wav'}; $audio[:jump] = JUMP; KEPT = {input: 'long.wav'}; $audio[:kept] = KEPT");
    ruby("$audio.delete(:kept)");
    for (int waited = 0; waited < 3000 && truthy("$audio.key?(:jump)"); waited += 16) SDL_Delay(16), sync();
    EXPECT_EQ(playlist_length(), 0);
    EXPECT_TRUE(truthy("!JUMP.key?(:cptr) && KEPT[:cptr].is_a?(FFI::CPtr)"));
    frame("$audio[:jump] = JUMP; $audio[:kept] = KEPT");
    EXPECT_TRUE(playlist_length() == 2 && record_of("JUMP[:cptr]") && record_of("KEPT[:cptr]"));
    frame("$audio.clear; $audio[:a] = {input: 'long.wav'}");
    // One Hash under two keys, handles made or copied by the game, and one
    // that is no native object at all (that entry is dropped).
    ruby("TWICE = {input: 'long.wav'}; $audio[:b] = TWICE; $audio[:c] = TWICE");
    for (int frame = 0; frame < 4; ++frame) {
        sync();
        EXPECT_EQ(playlist_length(), 3) << "frame " << frame;
    }
    frame("$audio[:d] = {input: 'long.wav', cptr: FFI::CPtr.new}; $audio[:e] = {input: 'long.wav', cptr: $audio[:a][:cptr]}; "
          "$audio[:f] = {input: 'long.wav', cptr: 5}");
    EXPECT_EQ(playlist_length(), 5);
    EXPECT_TRUE(record_of("$audio[:d][:cptr]") && record_of("$audio[:e][:cptr]") != record_of("$audio[:a][:cptr]"));
    EXPECT_FALSE(truthy("$audio.key?(:f)"));
    frame("$audio.clear");
    EXPECT_EQ(playlist_length(), 0);
    EXPECT_TRUE(logged.empty());
}

TEST_F(AudioSync, SettingsChangedByTheGameApplyOnTheNextFrame) {
    frame("$audio[:music] = {input: 'long.wav', looping: true, gain: 2, x: 1, y: 20, z: 30, pitch: nil}");
    audio_source *music = record_of("$audio[:music][:cptr]");
    ASSERT_NE(music, nullptr);
    // Integers are numbers, nil takes the default, and y is depth.
    ALfloat x, y, z, gain, pitch;
    alGetSource3f(music->al_source, AL_POSITION, &x, &y, &z);
    EXPECT_EQ(std::vector<float>({music->gain, music->pitch, x, y, z}), std::vector<float>({2, 1, 1, 0, 20}));
    frame("m = $audio[:music]; m[:gain] = 0.5; m[:pitch] = 2; m[:paused] = true");
    alGetSourcef(music->al_source, AL_GAIN, &gain);
    alGetSourcef(music->al_source, AL_PITCH, &pitch);
    EXPECT_TRUE(gain == 0.5f && pitch == 2.0f && al_state(music) == AL_PAUSED);
    frame("$audio[:music][:paused] = false");
    EXPECT_EQ(al_state(music), AL_PLAYING);
    // A fresh Hash under the key is a new sound; the old one stops.
    frame("$audio[:music] = {input: 'long.wav', paused: true}");
    EXPECT_TRUE(playlist_length() == 1 && record_of("$audio[:music][:cptr]") == audio_playlist_head());
    EXPECT_EQ(al_state(audio_playlist_head()), AL_INITIAL);
    // A gain OpenAL rejects leaves no error the next creation would take for its own.
    frame("$audio[:music][:gain] = -1");
    frame("$audio[:next] = {input: 'long.wav'}");
    EXPECT_TRUE(playlist_length() == 2 && logged.empty());
}

TEST_F(AudioSync, ADamagedOggLeavesNoMemoryAndFailsOnceUntilItsFileChanges) {
    ASSERT_TRUE(write_ogg(fixture_dir() + "/setup.ogg", tone(440, 0.5, 44100, 1), 1, 44100));
    std::vector<uint8_t> whole = read_bytes(fixture_dir() + "/setup.ogg"), failing;
    // Whatever a damaged setup header makes the decoder allocate goes with it.
    for (size_t at = 7; !damaged_ogg_setup(whole, at).empty(); at += 37) {
        std::vector<uint8_t> damaged = damaged_ogg_setup(whole, at);
        int before = SDL_GetNumAllocations();
        audio_decoded_sound sound;
        if (!audio_decode_ogg(damaged.data(), damaged.size(), &sound) && failing.empty()) failing = damaged;
        audio_decoded_free(&sound);
        EXPECT_EQ(SDL_GetNumAllocations(), before) << "byte " << at;
    }
    ASSERT_FALSE(failing.empty());
    // Asked for every frame, it is decoded and reported once; a changed file
    // (here, in size) is tried again.
    raw_file("setup.ogg", failing);
    for (int i = 0; i < 3; ++i) frame("$audio[:s] = {input: 'setup.ogg'}");
    EXPECT_EQ(log_count("setup.ogg: unsupported"), 1);
    ASSERT_TRUE(write_ogg(fixture_dir() + "/setup.ogg", tone(440, 0.7, 44100, 1), 1, 44100));
    frame("$audio[:s] = {input: 'setup.ogg'}");
    EXPECT_NE(record_of("$audio[:s][:cptr]"), nullptr);
}

TEST_F(AudioSync, EntriesThatCannotPlayLeaveOnceWithTheirReasonAndTheOthersPlayOn) {
    ASSERT_TRUE(write_ogg(fixture_dir() + "/whole.ogg", tone(440, 0.5, 44100, 1), 1, 44100));
    std::vector<uint8_t> whole = read_bytes(fixture_dir() + "/whole.ogg"), garbage(4096);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = (uint8_t)(i * 7919 % 251);
    tone_wav("deep.wav", 0.05, 8000, 1, WAV_S24);
    raw_file("six.wav", wav_bytes(tone(440, 0.05, 8000, 6), 6, 8000, WAV_S16));
    raw_file("truncated.ogg", std::vector<uint8_t>(whole.begin(), whole.begin() + (long)whole.size() / 3));
    raw_file("garbage.wav", garbage);
    raw_file("empty.ogg", {});
    // A header that claims far more data than the file has must not read past it.
    std::vector<uint8_t> lying = wav_bytes(tone(440, 0.01, 8000, 1), 1, 8000, WAV_S16);
    lying[40] = lying[41] = lying[42] = 0xFF, lying[43] = 0x7F;
    raw_file("lying.wav", lying);
    frame("$audio[:music] = {input: 'long.wav', looping: true}");
    audio_source *music = record_of("$audio[:music][:cptr]");
    ASSERT_NE(music, nullptr);
    // Mistakes a game author has to hear about are logged once with their
    // reason; entries that are simply not sounds (an empty array has
    // finished) go quietly.
    const std::pair<const char *, const char *> cases[] = {
        {"5", nullptr}, {"{gain: 1.0}", nullptr}, {"{input: [1, 44100]}", nullptr},
        {"{input: [1, 44100, []]}", nullptr}, {"{input: [1, 44100, lambda { nil }]}", nullptr},
        {"{input: [1, 44100, lambda { [] }]}", nullptr}, {"{input: [1, 44100, 5]}", "the third element"},
        {"{input: lambda { [0.5] }}",
         "input must be a file path, [channels, rate, samples] or [channels, rate, callable]"},
        {"{input: [3, 44100, [0.1]]}", "samples need 1 or 2 channels"},
        {"{input: [0, 44100, [0.1]]}", "samples need 1 or 2 channels"}, {"{input: [2, 44100, [0.1]]}", "no samples"},
        {"{input: [1, 0, [0.1]]}", "samples need 1 or 2 channels"},
        {"{input: [1, 2**40, [0.1]]}", "samples need 1 or 2 channels"},
        {"{input: \"long.wav\\0.ogg\"}", "the input path contains a NUL byte"},
        {"{input: 'deep.wav'}", "deep.wav: unsupported"}, {"{input: 'six.wav'}", "six.wav: unsupported"},
        {"{input: 'truncated.ogg'}", "truncated.ogg: unsupported"},
        {"{input: 'garbage.wav'}", "garbage.wav: unsupported"}, {"{input: 'empty.ogg'}", "empty.ogg: unsupported"},
        {"{input: 'missing.wav'}", "missing.wav: file not found"}, {"{input: 'lying.wav'}", nullptr},
    };
    for (size_t i = 0; i + 1 < std::size(cases); ++i) ruby("$audio[" + std::to_string(i) + "] = " + cases[i].first);
    sync(3);
    EXPECT_TRUE(truthy("$audio.keys == [:music]"));
    EXPECT_TRUE(playlist_length() == 1 && al_state(music) == AL_PLAYING);
    for (size_t i = 0; i + 1 < std::size(cases); ++i) {
        std::string key = " " + std::to_string(i) + ": ", reason = cases[i].second ? cases[i].second : "";
        EXPECT_EQ(log_count(key) * 10 + log_count(key + reason), reason.empty() ? 0 : 11) << cases[i].first;
        size_t file_end = reason.find(": ");
        if (file_end != reason.npos) {
            EXPECT_EQ(audio_cache_lookup(reason.substr(0, file_end).c_str()), nullptr) << reason;
        }
    }
    frame("$audio[:lying] = {input: 'lying.wav'}");
}

TEST_F(AudioSync, WhatTheGameHandsOverCannotBreakTheWalk) {
    frame("$audio[:music] = {input: 'long.wav', looping: true}");
    // Not a Hash, or a runtime that raises: the frame is skipped and the
    // sounds carry on.
    frame("$saved = $audio; $audio = [1, 2]");
    frame("class TestRuntime; def audio; raise 'audio broke'; end; end");
    EXPECT_TRUE(log_count("audio broke") == 1 && playlist_length() == 1);
    ruby("class TestRuntime; def audio; $audio; end; end; $audio = $saved");
    // Frozen Hashes cannot be written: no raise escapes, and a frozen entry
    // is dropped with a word rather than restarted every frame.
    ruby("$audio[:frozen] = {input: 'long.wav'}.freeze");
    sync(2);
    EXPECT_TRUE(!truthy("$audio.key?(:frozen)") && log_count(":frozen") == 1);
    frame("$audio.freeze");
    EXPECT_EQ(playlist_length(), 1);
    frame("$audio = $audio.dup; $audio.delete(:music)");
    EXPECT_EQ(playlist_length(), 0);
    // A generator that edits the audio Hash while it is walked.
    ruby("$audio[:first] = {input: 'long.wav'}; $audio[:meddler] = {input: [1, 8000, lambda { $audio.delete(:first); "
         "$audio[:late] = 7; GC.start; [0.1] * 80 }]}; $audio[:last] = {input: 'long.wav'}");
    sync(2);
    EXPECT_TRUE(truthy("$audio.key?(:meddler) && $audio.key?(:last) && !$audio.key?(:first)"));
    EXPECT_EQ(playlist_length(), 2);
}

// Damaged comment headers made the Ogg decoder write past its tables or free
// pointers it never set; every such file must fail cleanly.
TEST(AudioDecoding, DamagedOggCommentHeadersFailCleanly) {
    std::string path = fixture_dir() + "/comments.ogg";
    ASSERT_TRUE(write_ogg(path, tone(440, 0.2, 22050, 1), 1, 22050));
    std::vector<uint8_t> good = read_bytes(path);
    audio_decoded_sound sound;
    ASSERT_TRUE(audio_decode_ogg(good.data(), good.size(), &sound));
    audio_decoded_free(&sound);
    const uint8_t signature[] = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    auto header = std::search(good.begin(), good.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(header, good.end());
    size_t vendor_at = (size_t)(header - good.begin()) + 7;
    size_t count_at = vendor_at + 4 + ((uint32_t)good[vendor_at] | (uint32_t)good[vendor_at + 1] << 8);
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 4; ++i) bytes[at + (size_t)i] = (uint8_t)(value >> (8 * i));
        return bytes;
    };
    // Lengths negative as an int or of gigabytes, a count whose table size
    // overflows, more comments than the packet holds, a cut header.
    std::vector<std::vector<uint8_t>> damaged = {
        patched(vendor_at, 0xFFFFFFF0u), patched(vendor_at, 0x7FFFFFF0u), patched(count_at, 0x20000001u),
        patched(count_at, 0xFFFFFFFFu), patched(count_at, 1000), std::vector<uint8_t>(good.begin(), header + 12)};
    if (count_at + 8 <= good.size()) damaged.push_back(patched(count_at + 4, 0xFFFFFFFEu));
    for (size_t i = 0; i < damaged.size(); ++i) {
        EXPECT_FALSE(audio_decode_ogg(damaged[i].data(), damaged[i].size(), &sound)) << i;
        EXPECT_EQ(sound.data, nullptr) << i;
    }
}

} // namespace
