// The native source engine on OpenAL's null device: decoding and caching,
// the three input kinds, settings, the play list and failure reporting.
#include "audio/audio_decode.h"
#include "audio_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

using namespace audio_test;
using sound_files::WAV_F32;
using sound_files::WAV_S16;
using sound_files::WAV_S24;
using sound_files::WAV_U8;

namespace {

std::set<std::string> &kept_paths() {
    static std::set<std::string> paths;
    return paths;
}

class AudioSources : public ::testing::Test {
protected:
    void SetUp() override {
        fixture_dir();
        ASSERT_TRUE(audio_init());
    }
    void TearDown() override { audio_quit(); }
};

// Requests keep a pointer to their path: keep every path for the whole run.
const char *kept_path(const std::string &path) { return kept_paths().insert(path).first->c_str(); }

audio_source file_request(const std::string &path) {
    audio_source request{};
    request.input_type = AUDIO_INPUT_FILE;
    request.input.path = kept_path(path);
    request.gain = 1.0f;
    request.pitch = 1.0f;
    return request;
}

audio_source samples_request(const std::vector<float> &samples, uint32_t channels, uint32_t rate) {
    audio_source request{};
    request.input_type = AUDIO_INPUT_SAMPLES;
    request.input.samples = samples.data();
    request.input_extra.samples.sample_count = (uint32_t)samples.size();
    request.channels = channels;
    request.sample_rate = rate;
    request.gain = 1.0f;
    request.pitch = 1.0f;
    return request;
}

// A generator that hands out a fixed number of chunks, then ends.
struct chunked_generator {
    int chunks_left = 0;
    uint32_t chunk_floats = 441;
    int calls = 0;
    bool empty_instead_of_null = false;
};

float *generate(void *user, uint32_t *count) {
    auto *generator = (chunked_generator *)user;
    generator->calls++;
    if (generator->chunks_left <= 0) {
        if (!generator->empty_instead_of_null) return nullptr;
        *count = 0;
        return (float *)SDL_malloc(4); // an empty chunk still has to be freed
    }
    generator->chunks_left--;
    float *samples = (float *)SDL_malloc(generator->chunk_floats * sizeof(float));
    for (uint32_t i = 0; i < generator->chunk_floats; ++i) samples[i] = (i % 20 < 10) ? 0.25f : -0.25f;
    *count = generator->chunk_floats;
    return samples;
}

audio_source generator_request(chunked_generator *generator, uint32_t channels = 1) {
    audio_source request{};
    request.input_type = AUDIO_INPUT_PROCEDURAL;
    request.input.callback = generate;
    request.input_extra.user = generator;
    request.channels = channels;
    request.sample_rate = 44100;
    request.gain = 1.0f;
    request.pitch = 1.0f;
    return request;
}

bool update_until_finished(audio_source *source, int timeout_ms = 3000) {
    return eventually([&] {
        audio_update_source(source);
        return source->finished != 0;
    }, timeout_ms);
}

ALint buffer_size(ALuint buffer) {
    ALint size = 0;
    alGetBufferi(buffer, AL_SIZE, &size);
    return size;
}

TEST_F(AudioSources, DecodesEveryAcceptedFormatOnceIntoASharedBuffer) {
    ASSERT_TRUE(audio_float32_supported());
    struct format_case {
        std::string path;
        uint32_t channels, rate;
        ALint bytes_per_frame;
    };
    std::vector<format_case> cases = {
        {tone_wav("u8.wav", 440, 0.1, 22050, 1, WAV_U8), 1, 22050, 1},
        {tone_wav("s16.wav", 440, 0.1, 44100, 2, WAV_S16), 2, 44100, 4},
        {tone_wav("f32.wav", 440, 0.1, 48000, 1, WAV_F32), 1, 48000, 4},
    };
    std::string ogg = fixture_dir() + "/tone.ogg";
    ASSERT_TRUE(sound_files::write_ogg(ogg, sound_files::tone(440, 0.1, 44100, 2), 2, 44100));
    cases.push_back({"tone.ogg", 2, 44100, 4});

    for (const format_case &c : cases) {
        SCOPED_TRACE(c.path);
        audio_source request = file_request(c.path);
        audio_source *first = audio_play_source(&request);
        audio_source *second = audio_play_source(&request);
        ASSERT_NE(first, nullptr) << audio_last_failure();
        ASSERT_NE(second, nullptr);
        const audio_cached_buffer *entry = audio_cache_lookup(c.path.c_str());
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->channels, c.channels);
        EXPECT_EQ(entry->sample_rate, c.rate);
        EXPECT_EQ(entry->refcount, 2u);
        EXPECT_EQ(first->input_extra.cached, entry);
        EXPECT_EQ(second->input_extra.cached, entry);
        EXPECT_EQ(first->channels, c.channels);
        // The live record points at the cache's copy, not at the caller's.
        EXPECT_EQ(first->input.path, entry->path);
        ALint frames = buffer_size(entry->buffer) / c.bytes_per_frame;
        EXPECT_NEAR(frames, (ALint)(0.1 * c.rate), 0.01 * c.rate);

        audio_stop_source(first);
        audio_stop_source(second);
        // Entries outlive their sources until shutdown.
        entry = audio_cache_lookup(c.path.c_str());
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->refcount, 0u);
        EXPECT_NE(entry->buffer, 0u);
    }
    EXPECT_EQ(playlist_length(), 0);

}

TEST_F(AudioSources, RefusesFilesItCannotPlayAndCachesNoneOfThem) {
    std::string ogg = fixture_dir() + "/whole.ogg";
    ASSERT_TRUE(sound_files::write_ogg(ogg, sound_files::tone(440, 0.5, 44100, 1), 1, 44100));
    std::vector<uint8_t> whole = sound_files::read_bytes(ogg);
    std::vector<uint8_t> truncated(whole.begin(), whole.begin() + (long)whole.size() / 3);
    std::vector<uint8_t> garbage(4096);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = (uint8_t)(i * 7919 % 251);
    // A WAV header that claims far more data than the file has.
    std::vector<uint8_t> lying = sound_files::wav_bytes(sound_files::tone(440, 0.01, 8000, 1), 1, 8000, WAV_S16);
    lying[40] = lying[41] = lying[42] = 0xFF;
    lying[43] = 0x7F;
    std::vector<uint8_t> six(sound_files::wav_bytes(sound_files::tone(440, 0.05, 8000, 6), 6, 8000, WAV_S16));

    struct bad_case {
        std::string path;
        const char *reason;
    };
    std::vector<bad_case> cases = {
        {tone_wav("deep.wav", 440, 0.05, 8000, 1, WAV_S24), "unsupported"},
        {raw_file("six.wav", six), "unsupported"},
        {raw_file("truncated.ogg", truncated), "unsupported"},
        {raw_file("garbage.wav", garbage), "unsupported"},
        {raw_file("empty.ogg", {}), "unsupported"},
        {"missing.wav", "not found"},
    };
    for (const bad_case &c : cases) {
        SCOPED_TRACE(c.path);
        audio_source request = file_request(c.path);
        EXPECT_EQ(audio_play_source(&request), nullptr);
        EXPECT_NE(std::string(audio_last_failure()).find(c.reason), std::string::npos) << audio_last_failure();
        EXPECT_EQ(audio_cache_lookup(c.path.c_str()), nullptr);
    }
    // A lying header is either cut to the data present or refused; it never
    // reads past the file.
    audio_source request = file_request(raw_file("lying.wav", lying));
    audio_stop_source(audio_play_source(&request));

    audio_source no_path = file_request("");
    no_path.input.path = nullptr;
    EXPECT_EQ(audio_play_source(&no_path), nullptr);
    audio_source unknown = file_request("u8.wav");
    unknown.input_type = 7;
    EXPECT_EQ(audio_play_source(&unknown), nullptr);
    EXPECT_EQ(playlist_length(), 0);
}

// Damaged comment headers made the Ogg decoder write past its tables or free
// pointers it never set; every such file must fail cleanly.
TEST(AudioDecoding, DamagedOggCommentHeadersFailCleanly) {
    std::string path = fixture_dir() + "/comments.ogg";
    ASSERT_TRUE(sound_files::write_ogg(path, sound_files::tone(440, 0.2, 22050, 1), 1, 22050));
    std::vector<uint8_t> good = sound_files::read_bytes(path);
    audio_decoded_sound sound;
    ASSERT_TRUE(audio_decode_ogg(good.data(), good.size(), &sound));
    audio_decoded_free(&sound);

    const uint8_t signature[] = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    auto header = std::search(good.begin(), good.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(header, good.end());
    size_t vendor_at = (size_t)(header - good.begin()) + 7;
    uint32_t vendor_length = (uint32_t)good[vendor_at] | (uint32_t)good[vendor_at + 1] << 8;
    size_t count_at = vendor_at + 4 + vendor_length;

    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 4; ++i) bytes[at + (size_t)i] = (uint8_t)(value >> (8 * i));
        return bytes;
    };
    std::vector<std::vector<uint8_t>> damaged = {
        patched(vendor_at, 0xFFFFFFF0u), // negative as an int
        patched(vendor_at, 0x7FFFFFF0u), // gigabytes
        patched(count_at, 0x20000001u),  // a count whose table size overflows
        patched(count_at, 0xFFFFFFFFu),
        patched(count_at, 1000),         // more comments than the packet holds
        std::vector<uint8_t>(good.begin(), header + 12),
    };
    if (count_at + 8 <= good.size()) damaged.push_back(patched(count_at + 4, 0xFFFFFFFEu));
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(audio_decode_ogg(damaged[i].data(), damaged[i].size(), &sound));
        EXPECT_EQ(sound.data, nullptr);
    }
}

TEST_F(AudioSources, SettingsReachOpenALWithTheEngineYAxisAsDepth) {
    audio_source request = file_request(tone_wav("placed.wav", 440, 0.5, 22050, 1, WAV_S16));
    request.x = 10;
    request.y = 20;
    request.z = 30;
    request.gain = 0.5f;
    request.pitch = 1.5f;
    audio_source *source = audio_play_source(&request);
    ASSERT_NE(source, nullptr);
    ALfloat x, y, z, gain, pitch;
    alGetSource3f(source->al_source, AL_POSITION, &x, &y, &z);
    alGetSourcef(source->al_source, AL_GAIN, &gain);
    alGetSourcef(source->al_source, AL_PITCH, &pitch);
    EXPECT_FLOAT_EQ(x, 10);
    EXPECT_FLOAT_EQ(y, 0);
    EXPECT_FLOAT_EQ(z, 20);
    EXPECT_FLOAT_EQ(gain, 0.5f);
    EXPECT_FLOAT_EQ(pitch, 1.5f);

    // A value OpenAL rejects leaves the old one and no error behind that a
    // later creation would mistake for its own.
    source->gain = -1.0f;
    audio_update_source(source);
    audio_source *next = audio_play_source(&request);
    EXPECT_NE(next, nullptr) << audio_last_failure();
}

TEST_F(AudioSources, SampleArraysPlayWholeFramesAndRefuseBadParameters) {
    std::vector<float> five = {0.5f, -0.5f, 0.5f, -0.5f, 0.5f};
    audio_source stereo = samples_request(five, 2, 8000);
    audio_source *source = audio_play_source(&stereo);
    ASSERT_NE(source, nullptr) << audio_last_failure();
    // The odd float is dropped: two whole stereo frames.
    EXPECT_EQ(buffer_size(source->input_extra.samples.buffer), 16);
    EXPECT_EQ(source->input.samples, nullptr);
    EXPECT_TRUE(update_until_finished(source));

    std::vector<float> none;
    std::vector<float> one = {0.25f};
    audio_source bad[] = {samples_request(five, 3, 44100), samples_request(five, 0, 44100),
                          samples_request(five, 1, 0),     samples_request(none, 1, 44100),
                          samples_request(one, 2, 44100)};
    bad[3].input.samples = one.data(); // a real pointer with a zero count
    for (audio_source &request : bad) {
        EXPECT_EQ(audio_play_source(&request), nullptr);
        EXPECT_NE(std::string(audio_last_failure()).find("sample"), std::string::npos) << audio_last_failure();
    }
    audio_source no_array = samples_request(five, 1, 44100);
    no_array.input.samples = nullptr;
    EXPECT_EQ(audio_play_source(&no_array), nullptr);
    EXPECT_EQ(playlist_length(), 1);
}

TEST_F(AudioSources, GeneratorsStreamUntilTheirCallbackEnds) {
    chunked_generator at_once;
    audio_source request = generator_request(&at_once);
    audio_source *silent = audio_play_source(&request);
    ASSERT_NE(silent, nullptr);
    EXPECT_TRUE(silent->finished);
    EXPECT_TRUE(silent->paused);
    EXPECT_EQ(source_state(silent), AL_INITIAL);
    EXPECT_EQ(at_once.calls, 1);

    // An empty chunk ends the stream like no chunk.
    chunked_generator empty;
    empty.empty_instead_of_null = true;
    request = generator_request(&empty);
    audio_source *empty_source = audio_play_source(&request);
    ASSERT_NE(empty_source, nullptr);
    EXPECT_TRUE(empty_source->finished);

    chunked_generator one_chunk;
    one_chunk.chunks_left = 1;
    request = generator_request(&one_chunk);
    audio_source *short_stream = audio_play_source(&request);
    ASSERT_NE(short_stream, nullptr);
    EXPECT_TRUE(short_stream->draining);
    EXPECT_FALSE(short_stream->finished);
    EXPECT_EQ(source_state(short_stream), AL_PLAYING);
    EXPECT_TRUE(update_until_finished(short_stream));
    EXPECT_EQ(one_chunk.calls, 2);

    chunked_generator many;
    many.chunks_left = 12;
    many.chunk_floats = 2 * 441; // 10 ms of stereo
    request = generator_request(&many, 2);
    audio_source *stream = audio_play_source(&request);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(update_until_finished(stream));
    // Every chunk was asked for, plus the refusal that ended the stream.
    EXPECT_EQ(many.calls, 13);
    EXPECT_EQ(many.chunks_left, 0);
}

TEST_F(AudioSources, AStarvedGeneratorIsRestartedNotFinished) {
    chunked_generator endless;
    endless.chunks_left = 1000;
    endless.chunk_floats = 64; // 1.5 ms: runs dry between updates
    audio_source request = generator_request(&endless);
    audio_source *stream = audio_play_source(&request);
    ASSERT_NE(stream, nullptr);
    for (int frame = 0; frame < 5; ++frame) {
        SDL_Delay(60);
        audio_update_source(stream);
        EXPECT_FALSE(stream->finished) << "frame " << frame;
        EXPECT_EQ(source_state(stream), AL_PLAYING) << "frame " << frame;
    }
    EXPECT_GT(endless.calls, 5);
}

TEST_F(AudioSources, RunningOutOfOpenALSourcesIsAFailureNotALiveRecord) {
    std::string path = tone_wav("many.wav", 440, 1.0, 8000, 1, WAV_U8);
    audio_source request = file_request(path);
    std::vector<audio_source *> live;
    audio_source *last = nullptr;
    for (int i = 0; i < 400; ++i) {
        last = audio_play_source(&request);
        if (!last) break;
        live.push_back(last);
    }
    ASSERT_EQ(last, nullptr) << "OpenAL never ran out of sources";
    EXPECT_NE(std::string(audio_last_failure()).find("source"), std::string::npos);
    EXPECT_EQ((int)live.size(), playlist_length());
    EXPECT_EQ(audio_cache_lookup(path.c_str())->refcount, live.size());
    for (audio_source *source : live) EXPECT_NE(source->al_source, 0u);

    // The other input kinds fail the same way and leak no buffers.
    std::vector<float> samples = {0.1f, 0.2f};
    audio_source array_request = samples_request(samples, 1, 8000);
    EXPECT_EQ(audio_play_source(&array_request), nullptr);
    chunked_generator generator;
    generator.chunks_left = 5;
    audio_source generator_req = generator_request(&generator);
    EXPECT_EQ(audio_play_source(&generator_req), nullptr);
    EXPECT_EQ(generator.calls, 0);

    audio_stop_source(live.back());
    live.pop_back();
    audio_source *again = audio_play_source(&request);
    EXPECT_NE(again, nullptr) << "a freed source is usable again";
    audio_stop_source(again);
    for (audio_source *source : live) audio_stop_source(source);
    EXPECT_EQ(playlist_length(), 0);
    EXPECT_EQ(audio_cache_lookup(path.c_str())->refcount, 0u);
}

TEST_F(AudioSources, APassStopsExactlyTheSourcesNobodyClaimed) {
    audio_source request = file_request(tone_wav("pass.wav", 440, 1.0, 8000, 1, WAV_U8));
    audio_source *a = audio_play_source(&request);
    audio_source *b = audio_play_source(&request);
    audio_source *c = audio_play_source(&request);
    ASSERT_TRUE(a && b && c);
    int not_a_source = 0;

    audio_pass_begin();
    EXPECT_EQ(audio_pass_find_unvisited(b), b);
    audio_pass_mark_visited(b);
    audio_pass_mark_visited(b); // twice is once
    EXPECT_EQ(audio_pass_find_unvisited(b), nullptr);
    EXPECT_EQ(audio_pass_find_unvisited(&not_a_source), nullptr);
    EXPECT_EQ(audio_pass_find_unvisited(nullptr), nullptr);
    audio_pass_mark_visited(c);
    audio_pass_end();

    EXPECT_EQ(playlist_length(), 2);
    // Most recently claimed first.
    EXPECT_EQ(audio_playlist_head(), c);
    EXPECT_EQ(c->next, b);
    EXPECT_EQ(b->prev, c);
    EXPECT_EQ(b->next, nullptr);

    // A pass that claims nothing stops everything; one left open is closed
    // by the next without losing its claims.
    audio_pass_begin();
    audio_pass_mark_visited(b);
    audio_pass_begin();
    EXPECT_EQ(playlist_length(), 2);
    audio_pass_end();
    EXPECT_EQ(playlist_length(), 0);
}

TEST_F(AudioSources, QuitReleasesEverythingAndToleratesRepeats) {
    audio_source request = file_request(tone_wav("quit.wav", 440, 1.0, 8000, 1, WAV_U8));
    ASSERT_NE(audio_play_source(&request), nullptr);
    chunked_generator generator;
    generator.chunks_left = 100;
    audio_source streaming = generator_request(&generator);
    ASSERT_NE(audio_play_source(&streaming), nullptr);
    audio_pass_begin();
    audio_pass_mark_visited(audio_playlist_head()); // quit in the middle of a pass
    audio_quit();
    EXPECT_EQ(audio_playlist_head(), nullptr);
    EXPECT_EQ(audio_cache_lookup("quit.wav"), nullptr);
    audio_quit();
    EXPECT_EQ(audio_play_source(&request), nullptr);
    ASSERT_TRUE(audio_init());
    EXPECT_NE(audio_play_source(&request), nullptr);
}

} // namespace
