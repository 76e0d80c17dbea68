// Decoding whole sound files held in memory into PCM that OpenAL takes as is.
#pragma once

#include <cstddef>
#include <cstdint>

enum audio_sample_format : uint32_t {
    AUDIO_SAMPLES_U8,
    AUDIO_SAMPLES_S16,
    AUDIO_SAMPLES_F32,
};

struct audio_decoded_sound {
    void *data;  // SDL_malloc'd; release with audio_decoded_free
    size_t size; // bytes, whole frames only
    uint32_t channels;
    uint32_t sample_rate;
    audio_sample_format format;
};

// A RIFF WAVE file in any encoding SDL decodes, accepted when it gives one or
// two channels of unsigned 8-bit, signed 16-bit or (with accept_float32)
// float32 samples. Anything else fails, so that the caller can try Ogg.
bool audio_decode_wav(const void *bytes, size_t size, bool accept_float32, audio_decoded_sound *out);
// An Ogg Vorbis file with one or two channels and at least one frame,
// decoded to signed 16-bit samples.
bool audio_decode_ogg(const void *bytes, size_t size, audio_decoded_sound *out);
void audio_decoded_free(audio_decoded_sound *sound);
