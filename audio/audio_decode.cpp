#include "audio_decode.h"

#include <SDL2/SDL.h>

#include <climits>

#define STB_VORBIS_HEADER_ONLY
#define STB_VORBIS_NO_STDIO
#include <stb_vorbis.h>

namespace {

// OpenAL takes buffer sizes as a signed int.
constexpr size_t MAX_BUFFER_BYTES = INT_MAX;

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
    int channels = 0;
    int sample_rate = 0;
    short *samples = nullptr;
    int frames = stb_vorbis_decode_memory((const unsigned char *)bytes, (int)size, &channels, &sample_rate,
                                          &samples);
    if (frames < 1 || (channels != 1 && channels != 2) || sample_rate <= 0 ||
        (size_t)frames * (size_t)channels * 2 > MAX_BUFFER_BYTES) {
        SDL_free(samples);
        return false;
    }
    out->data = samples;
    out->size = (size_t)frames * (size_t)channels * 2;
    out->channels = (uint32_t)channels;
    out->sample_rate = (uint32_t)sample_rate;
    out->format = AUDIO_SAMPLES_S16;
    return true;
}

void audio_decoded_free(audio_decoded_sound *sound) {
    // SDL_FreeWAV is SDL_free, and the Ogg decoder allocates through SDL too.
    SDL_free(sound->data);
    *sound = {};
}
