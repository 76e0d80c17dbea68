#include "audio_decode.h"

#include <SDL2/SDL.h>

#include <climits>
#include <cstring>
#include <vector>

#define STB_VORBIS_HEADER_ONLY
#define STB_VORBIS_NO_STDIO
#include <stb_vorbis.h>

namespace {

// OpenAL takes buffer sizes as a signed int.
constexpr size_t MAX_BUFFER_BYTES = INT_MAX;

uint32_t read_u32le(const uint8_t *bytes) {
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

// Reassembles the Ogg stream's second packet (the Vorbis comment header),
// at most limit bytes of it. False when the file ends before the packet does.
bool second_ogg_packet(const uint8_t *bytes, size_t size, std::vector<uint8_t> *packet) {
    constexpr size_t PAGE_HEADER = 27;
    size_t at = 0;
    int packet_index = 0;
    while (at + PAGE_HEADER <= size) {
        if (std::memcmp(bytes + at, "OggS", 4) != 0) return false;
        size_t segments = bytes[at + 26];
        if (at + PAGE_HEADER + segments > size) return false;
        const uint8_t *lacing = bytes + at + PAGE_HEADER;
        size_t data = at + PAGE_HEADER + segments;
        for (size_t i = 0; i < segments; ++i) {
            size_t length = lacing[i];
            if (data + length > size) return false;
            if (packet_index == 1) packet->insert(packet->end(), bytes + data, bytes + data + length);
            data += length;
            if (length < 255 && ++packet_index == 2) return true;
        }
        at = data;
    }
    return false;
}

// The decoder trusts the comment header's counts and lengths, and a damaged
// one makes it write past its tables. Checks that every count and length
// fits in the packet that holds it.
bool vorbis_comments_fit(const uint8_t *bytes, size_t size) {
    std::vector<uint8_t> packet;
    if (!second_ogg_packet(bytes, size, &packet)) return false;
    if (packet.size() < 7 + 4 || packet[0] != 3 || std::memcmp(&packet[1], "vorbis", 6) != 0) return false;
    size_t at = 7;
    size_t vendor = read_u32le(&packet[at]);
    at += 4;
    if (vendor > packet.size() - at) return false;
    at += vendor;
    if (packet.size() - at < 4) return false;
    size_t count = read_u32le(&packet[at]);
    at += 4;
    if (count > (packet.size() - at) / 4 || count > (size_t)INT_MAX / sizeof(char *)) return false;
    for (size_t i = 0; i < count; ++i) {
        if (packet.size() - at < 4) return false;
        size_t length = read_u32le(&packet[at]);
        at += 4;
        if (length > packet.size() - at) return false;
        at += length;
    }
    return true;
}

// The decoder's working memory is one zeroed buffer that the engine owns:
// whatever a damaged file makes it allocate before it gives up goes with
// the buffer. A stream whose set-up needs more than the buffer is opened
// again with a larger one.
stb_vorbis *open_vorbis(const unsigned char *bytes, int size, stb_vorbis_alloc *memory) {
    constexpr int FIRST_BUFFER = 256 * 1024, LAST_BUFFER = 16 * 1024 * 1024;
    for (int length = FIRST_BUFFER; length <= LAST_BUFFER; length *= 2) {
        memory->alloc_buffer = (char *)SDL_calloc(1, (size_t)length);
        memory->alloc_buffer_length_in_bytes = length;
        if (!memory->alloc_buffer) return nullptr;
        int error = 0;
        if (stb_vorbis *vorbis = stb_vorbis_open_memory(bytes, size, &error, memory)) return vorbis;
        SDL_free(memory->alloc_buffer);
        memory->alloc_buffer = nullptr;
        if (error != VORBIS_outofmem) return nullptr;
    }
    return nullptr;
}

} // namespace

bool audio_decode_wav(const void *bytes, size_t size, bool accept_float32, audio_decoded_sound *out) {
    *out = {};
    if (!bytes || size > (size_t)INT_MAX) return false;
    SDL_RWops *stream = SDL_RWFromConstMem(bytes, (int)size);
    if (!stream) return false;
    SDL_AudioSpec spec;
    Uint8 *data = nullptr;
    Uint32 length = 0;
    // The call closes the stream, also when it fails.
    if (!SDL_LoadWAV_RW(stream, 1, &spec, &data, &length)) return false;
    audio_sample_format format;
    uint32_t sample_bytes;
    switch (spec.format) {
    case AUDIO_U8:
        format = AUDIO_SAMPLES_U8;
        sample_bytes = 1;
        break;
    case AUDIO_S16LSB:
        format = AUDIO_SAMPLES_S16;
        sample_bytes = 2;
        break;
    case AUDIO_F32LSB:
        format = AUDIO_SAMPLES_F32;
        sample_bytes = 4;
        break;
    default:
        sample_bytes = 0;
        format = AUDIO_SAMPLES_U8;
        break;
    }
    if (sample_bytes == 0 || (spec.channels != 1 && spec.channels != 2) || spec.freq <= 0 ||
        (format == AUDIO_SAMPLES_F32 && !accept_float32) || length > MAX_BUFFER_BYTES) {
        SDL_FreeWAV(data);
        return false;
    }
    uint32_t frame_bytes = sample_bytes * spec.channels;
    out->data = data;
    out->size = length - length % frame_bytes;
    out->channels = spec.channels;
    out->sample_rate = (uint32_t)spec.freq;
    out->format = format;
    return true;
}

bool audio_decode_ogg(const void *bytes, size_t size, audio_decoded_sound *out) {
    *out = {};
    if (!bytes || size > (size_t)INT_MAX) return false;
    if (!vorbis_comments_fit((const uint8_t *)bytes, size)) return false;
    stb_vorbis_alloc memory = {};
    stb_vorbis *vorbis = open_vorbis((const unsigned char *)bytes, (int)size, &memory);
    if (!vorbis) return false;
    stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    int channels = info.channels;
    size_t capacity = (size_t)channels * 4096, used = 0;
    short *samples = channels == 1 || channels == 2 ? (short *)SDL_malloc(capacity * sizeof(short)) : nullptr;
    while (samples) {
        int frames = stb_vorbis_get_frame_short_interleaved(vorbis, channels, samples + used, (int)(capacity - used));
        if (frames <= 0) break;
        used += (size_t)frames * (size_t)channels;
        if (capacity - used >= (size_t)channels * 4096) continue;
        short *grown = capacity * 4 <= MAX_BUFFER_BYTES ? (short *)SDL_realloc(samples, capacity * 4) : nullptr;
        if (!grown) SDL_free(samples);
        samples = grown;
        capacity *= 2;
    }
    stb_vorbis_close(vorbis);
    SDL_free(memory.alloc_buffer);
    if (!samples || used == 0 || info.sample_rate == 0) {
        SDL_free(samples);
        return false;
    }
    out->data = samples;
    out->size = used * 2;
    out->channels = (uint32_t)channels;
    out->sample_rate = info.sample_rate;
    out->format = AUDIO_SAMPLES_S16;
    return true;
}

void audio_decoded_free(audio_decoded_sound *sound) {
    // SDL_FreeWAV is SDL_free, and the Ogg decoder allocates through SDL too.
    SDL_free(sound->data);
    *sound = {};
}
