// Sound fixtures made on the fly: tones as WAV bytes in any sample format,
// Ogg Vorbis through the system's libsndfile, and measurements of the float
// WAV files that OpenAL's wave backend writes.
#pragma once

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace sound_files {

enum wav_encoding { WAV_U8, WAV_S16, WAV_S24, WAV_F32 };

// Interleaved samples of a sine tone; every channel carries the same tone.
inline std::vector<float> tone(double frequency, double seconds, uint32_t rate, int channels,
                               double amplitude = 0.5) {
    size_t frames = (size_t)std::lround(seconds * rate);
    std::vector<float> samples(frames * (size_t)channels);
    for (size_t i = 0; i < frames; ++i) {
        float value = (float)(amplitude * std::sin(2.0 * M_PI * frequency * (double)i / rate));
        for (int c = 0; c < channels; ++c) samples[i * (size_t)channels + (size_t)c] = value;
    }
    return samples;
}

inline void put16(std::vector<uint8_t> &out, uint32_t value) {
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}

inline void put32(std::vector<uint8_t> &out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A plain RIFF WAVE file (PCM or IEEE float tag) holding the samples.
inline std::vector<uint8_t> wav_bytes(const std::vector<float> &samples, int channels, uint32_t rate,
                                      wav_encoding encoding) {
    std::vector<uint8_t> data;
    uint16_t bits = encoding == WAV_U8 ? 8 : encoding == WAV_S16 ? 16 : encoding == WAV_S24 ? 24 : 32;
    for (float sample : samples) {
        double clamped = sample > 1.0f ? 1.0 : sample < -1.0f ? -1.0 : (double)sample;
        switch (encoding) {
        case WAV_U8:
            data.push_back((uint8_t)std::lround(128.0 + clamped * 127.0));
            break;
        case WAV_S16:
            put16(data, (uint16_t)(int16_t)std::lround(clamped * 32767.0));
            break;
        case WAV_S24: {
            int32_t value = (int32_t)std::lround(clamped * 8388607.0);
            data.push_back((uint8_t)value);
            data.push_back((uint8_t)(value >> 8));
            data.push_back((uint8_t)(value >> 16));
            break;
        }
        case WAV_F32: {
            uint32_t bits32;
            float value = (float)clamped;
            std::memcpy(&bits32, &value, 4);
            put32(data, bits32);
            break;
        }
        }
    }
    uint16_t block = (uint16_t)(channels * bits / 8);
    std::vector<uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, (uint32_t)(36 + data.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, encoding == WAV_F32 ? 3 : 1);
    put16(out, (uint16_t)channels);
    put32(out, rate);
    put32(out, rate * block);
    put16(out, block);
    put16(out, bits);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, (uint32_t)data.size());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline bool write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write((const char *)bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
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
        int samplerate;
        int channels;
        int format;
        int sections;
        int seekable;
    };
    typedef void *(*sf_open_fn)(const char *, int, sf_info *);
    typedef int64_t (*sf_writef_float_fn)(void *, const float *, int64_t);
    typedef int (*sf_close_fn)(void *);
    void *library = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    auto open = (sf_open_fn)dlsym(library, "sf_open");
    auto writef = (sf_writef_float_fn)dlsym(library, "sf_writef_float");
    auto close = (sf_close_fn)dlsym(library, "sf_close");
    bool ok = false;
    if (open && writef && close) {
        constexpr int SFM_WRITE = 0x20;
        constexpr int SF_FORMAT_OGG = 0x200000;
        constexpr int SF_FORMAT_VORBIS = 0x0060;
        sf_info info{};
        info.samplerate = (int)rate;
        info.channels = channels;
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        if (void *file = open(path.c_str(), SFM_WRITE, &info)) {
            int64_t frames = (int64_t)(samples.size() / (size_t)channels);
            ok = writef(file, samples.data(), frames) == frames;
            ok = close(file) == 0 && ok;
        }
    }
    dlclose(library);
    return ok;
}

// The mix written by OpenAL's wave backend: 32-bit float frames, interleaved.
struct mix {
    uint32_t rate = 0;
    int channels = 0;
    std::vector<float> samples;

    size_t frames() const { return channels ? samples.size() / (size_t)channels : 0; }
    double seconds() const { return rate ? (double)frames() / rate : 0.0; }
    float at(size_t frame, int channel) const { return samples[frame * (size_t)channels + (size_t)channel]; }
};

// Reads a WAVE file whose data are float32 (plain or extensible header).
// The data chunk's size is taken from the file size when the header was
// never finalised.
inline bool read_float_wav(const std::string &path, mix *out) {
    std::vector<uint8_t> bytes = read_bytes(path);
    auto u16 = [&](size_t at) { return (uint32_t)bytes[at] | (uint32_t)bytes[at + 1] << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0)
        return false;
    size_t at = 12;
    uint32_t bits = 0;
    while (at + 8 <= bytes.size()) {
        uint32_t size = u32(at + 4);
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 24 <= bytes.size()) {
            out->channels = (int)u16(at + 10);
            out->rate = u32(at + 12);
            bits = u16(at + 22);
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            if (bits != 32 || out->channels <= 0) return false;
            size_t available = bytes.size() - (at + 8);
            if (size == 0 || size > available) size = (uint32_t)available;
            size -= size % (4 * (size_t)out->channels);
            out->samples.resize(size / 4);
            std::memcpy(out->samples.data(), &bytes[at + 8], size);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
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
        if (!spans.empty() && i - spans.back().second < min_gap)
            spans.back().second = i + 1;
        else
            spans.push_back({i, i + 1});
    }
    return spans;
}

// Frequency by counting upward zero crossings in [first, last).
inline double zero_crossing_frequency(const mix &m, int channel, size_t first, size_t last) {
    if (last <= first + 1 || !m.rate) return 0.0;
    size_t crossings = 0;
    size_t first_crossing = 0, last_crossing = 0;
    for (size_t i = first + 1; i < last; ++i)
        if (m.at(i - 1, channel) < 0.0f && m.at(i, channel) >= 0.0f) {
            if (!crossings) first_crossing = i;
            last_crossing = i;
            ++crossings;
        }
    if (crossings < 2) return 0.0;
    return (double)(crossings - 1) * m.rate / (double)(last_crossing - first_crossing);
}

// Root mean square of a channel over [first, last).
inline double rms(const mix &m, int channel, size_t first, size_t last) {
    if (last <= first) return 0.0;
    double sum = 0.0;
    for (size_t i = first; i < last; ++i) sum += (double)m.at(i, channel) * m.at(i, channel);
    return std::sqrt(sum / (double)(last - first));
}

} // namespace sound_files
