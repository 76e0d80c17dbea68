// Sound fixtures made on the fly: tones as WAV bytes in any sample format,
// Ogg Vorbis through the system's libsndfile, and measurements of the float
// WAV files that OpenAL's wave backend writes.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace sound_files {

// The value is the sample size in bits.
enum wav_encoding { WAV_U8 = 8, WAV_S16 = 16, WAV_S24 = 24, WAV_F32 = 32 };

// Interleaved samples of a sine tone at half level; every channel the same.
inline std::vector<float> tone(double frequency, double seconds, uint32_t rate, int channels) {
    std::vector<float> samples;
    for (size_t i = 0, frames = (size_t)std::lround(seconds * rate); i < frames; ++i)
        samples.insert(samples.end(), (size_t)channels, (float)(0.5 * std::sin(2 * M_PI * frequency * (double)i / rate)));
    return samples;
}

// Little-endian, the low `bytes` bytes of value.
inline void put(std::vector<uint8_t> &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back((uint8_t)(value >> (8 * i)));
}

// A plain RIFF WAVE file (PCM or IEEE float tag) holding the samples.
inline std::vector<uint8_t> wav_bytes(const std::vector<float> &samples, int channels, uint32_t rate,
                                      wav_encoding bits) {
    std::vector<uint8_t> data;
    for (float sample : samples) {
        float clamped = std::fmax(-1.0f, std::fmin(1.0f, sample));
        uint32_t word;
        std::memcpy(&word, &clamped, 4);
        if (bits == WAV_U8) word = (uint32_t)std::lround(128.0 + clamped * 127.0);
        else if (bits != WAV_F32) word = (uint32_t)(int32_t)std::lround(clamped * ((1 << (bits - 1)) - 1));
        put(data, word, bits / 8);
    }
    uint32_t block = (uint32_t)channels * bits / 8;
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put(out, (uint32_t)(36 + data.size()), 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0});
    const std::pair<uint32_t, int> format[] = {
        {bits == WAV_F32 ? 3u : 1u, 2}, {(uint32_t)channels, 2}, {rate, 4}, {rate * block, 4}, {block, 2}, {(uint32_t)bits, 2}};
    for (auto [value, size] : format) put(out, value, size);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, (uint32_t)data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline bool write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write((const char *)bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

// A WAV file of a 440 Hz tone.
inline bool write_tone(const std::string &path, double seconds, uint32_t rate, int channels, wav_encoding encoding) {
    return write_bytes(path, wav_bytes(tone(440, seconds, rate, channels), channels, rate, encoding));
}

inline std::vector<uint8_t> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Ogg Vorbis through libsndfile, opened at run time (no development package
// needed). False when the library or its Vorbis encoder is missing.
inline bool write_ogg(const std::string &path, const std::vector<float> &samples, int channels, uint32_t rate) {
    struct sf_info {
        int64_t frames;
        int samplerate, channels, format, sections, seekable;
    };
    void *library = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    auto open = (void *(*)(const char *, int, sf_info *))dlsym(library, "sf_open");
    auto writef = (int64_t(*)(void *, const float *, int64_t))dlsym(library, "sf_writef_float");
    auto close = (int (*)(void *))dlsym(library, "sf_close");
    sf_info info{0, (int)rate, channels, 0x200000 | 0x0060 /* Ogg, Vorbis */, 0, 0};
    void *file = open && writef && close ? open(path.c_str(), 0x20 /* write */, &info) : nullptr;
    int64_t frames = (int64_t)(samples.size() / (size_t)channels);
    bool ok = file && writef(file, samples.data(), frames) == frames;
    ok = file && close(file) == 0 && ok;
    dlclose(library);
    return ok;
}

// An Ogg file whose Vorbis setup header has one byte inverted `at` bytes
// into it, with the page checksum made valid again: the damage reaches the
// decoder's set-up instead of being refused as a bad page. Empty when the
// file holds no setup header that long.
inline std::vector<uint8_t> damaged_ogg_setup(std::vector<uint8_t> ogg, size_t at) {
    const uint8_t tag[] = {5, 'v', 'o', 'r', 'b', 'i', 's'};
    auto setup = std::search(ogg.begin(), ogg.end(), std::begin(tag), std::end(tag));
    const char capture[] = "OggS";
    auto page = std::find_end(ogg.begin(), setup, capture, capture + 4);
    if (setup == ogg.end() || page == setup) return {};
    size_t first = (size_t)(page - ogg.begin()), segments = ogg[first + 26], length = 27 + segments;
    for (size_t i = 0; i < segments; ++i) length += ogg[first + 27 + i];
    size_t target = (size_t)(setup - ogg.begin()) + at;
    if (target >= first + length || first + length > ogg.size()) return {};
    ogg[target] ^= 0xFF;
    std::fill(ogg.begin() + (long)first + 22, ogg.begin() + (long)first + 26, 0);
    uint32_t crc = 0;
    for (size_t i = first; i < first + length; ++i) {
        crc ^= (uint32_t)ogg[i] << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i) ogg[first + 22 + (size_t)i] = (uint8_t)(crc >> (8 * i));
    return ogg;
}

// The mix written by OpenAL's wave backend: 32-bit float frames, interleaved.
struct mix {
    uint32_t rate = 0;
    int channels = 0;
    std::vector<float> samples;

    size_t frames() const { return channels ? samples.size() / (size_t)channels : 0; }
    float at(size_t frame, int channel) const { return samples[frame * (size_t)channels + (size_t)channel]; }
};

// Reads a WAVE file of float32 data whose format chunk comes first (as the
// wave backend writes it). The data's size is taken from the file size, since
// the header is finalised only when the device closes.
inline bool read_float_wav(const std::string &path, mix *out) {
    std::vector<uint8_t> bytes = read_bytes(path);
    auto u16 = [&](size_t at) { return (uint32_t)bytes[at] | (uint32_t)bytes[at + 1] << 8; };
    const char data_tag[] = "data";
    auto data = std::search(bytes.begin(), bytes.end(), data_tag, data_tag + 4);
    if (bytes.size() < 36 || std::memcmp(&bytes[8], "WAVEfmt ", 8) != 0 || u16(34) != 32 || data == bytes.end())
        return false;
    out->channels = (int)u16(22);
    out->rate = u16(24) | u16(26) << 16;
    size_t first = (size_t)(data - bytes.begin()) + 8, frame = 4 * (size_t)out->channels;
    out->samples.resize(first < bytes.size() && frame ? (bytes.size() - first) / frame * out->channels : 0);
    std::memcpy(out->samples.data(), bytes.data() + first, out->samples.size() * 4);
    return out->channels > 0;
}

// Spans [first, last) of frames in which either channel is louder than
// threshold; silences shorter than min_gap frames (a tone's zero crossings)
// do not split a span.
inline std::vector<std::pair<size_t, size_t>> audible_segments(const mix &m, float threshold, size_t min_gap) {
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t i = 0; i < m.frames(); ++i) {
        bool loud = false;
        for (int c = 0; c < m.channels; ++c) loud = loud || std::fabs(m.at(i, c)) > threshold;
        if (!loud) continue;
        if (!spans.empty() && i - spans.back().second < min_gap) spans.back().second = i + 1;
        else spans.push_back({i, i + 1});
    }
    return spans;
}

// Frequency by counting upward zero crossings in the frames [first, last).
inline double frequency(const mix &m, int channel, std::pair<size_t, size_t> frames) {
    size_t crossings = 0, first_crossing = 0, last_crossing = 0;
    for (size_t i = frames.first + 1; i < frames.second; ++i)
        if (m.at(i - 1, channel) < 0.0f && m.at(i, channel) >= 0.0f) {
            if (!crossings++) first_crossing = i;
            last_crossing = i;
        }
    return crossings < 2 ? 0.0 : (double)(crossings - 1) * m.rate / (double)(last_crossing - first_crossing);
}

// Root mean square of a channel over the frames [first, last).
inline double level(const mix &m, int channel, std::pair<size_t, size_t> frames) {
    double sum = 0.0;
    for (size_t i = frames.first; i < frames.second; ++i) sum += (double)m.at(i, channel) * m.at(i, channel);
    return frames.second > frames.first ? std::sqrt(sum / (double)(frames.second - frames.first)) : 0.0;
}

} // namespace sound_files
