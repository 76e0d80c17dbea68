// Shared by the audio unit tests: a temporary folder mounted in the virtual
// file system, sound files written into it, and polling helpers for sources
// that play in real time on OpenAL's null device.
#pragma once

#include "audio/audio.h"
#include "tests/common/sound_files.h"

#include <AL/al.h>
#include <SDL2/SDL.h>
#include <physfs.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace audio_test {

// The folder sound files go in; mounted at the root of the virtual file
// system on first use.
inline const std::string &fixture_dir() {
    static std::string dir = [] {
        char pattern[] = "/tmp/vellum-audio-XXXXXX";
        const char *made = mkdtemp(pattern);
        std::string path = made ? made : "/tmp";
        // No audio device here: OpenAL's null backend mixes in real time
        // without one, unless the caller chose a backend already.
        setenv("ALSOFT_DRIVERS", "null", 0);
        if (!PHYSFS_isInit()) PHYSFS_init(nullptr);
        PHYSFS_mount(path.c_str(), nullptr, 1);
        return path;
    }();
    return dir;
}

// Writes a tone file and returns its virtual path (the file name).
inline std::string tone_wav(const std::string &name, double frequency, double seconds, uint32_t rate, int channels,
                            sound_files::wav_encoding encoding) {
    auto samples = sound_files::tone(frequency, seconds, rate, channels);
    sound_files::write_bytes(fixture_dir() + "/" + name, sound_files::wav_bytes(samples, channels, rate, encoding));
    return name;
}

inline std::string raw_file(const std::string &name, const std::vector<uint8_t> &bytes) {
    sound_files::write_bytes(fixture_dir() + "/" + name, bytes);
    return name;
}

// Polls until the condition holds; false after timeout_ms.
inline bool eventually(const std::function<bool()> &condition, int timeout_ms = 3000, int step_ms = 5) {
    for (int waited = 0; waited <= timeout_ms; waited += step_ms) {
        if (condition()) return true;
        SDL_Delay((Uint32)step_ms);
    }
    return condition();
}

inline ALint source_state(const audio_source *source) {
    ALint state = 0;
    alGetSourcei(source->al_source, AL_SOURCE_STATE, &state);
    return state;
}

inline int playlist_length() {
    int length = 0;
    for (audio_source *source = audio_playlist_head(); source; source = source->next) ++length;
    return length;
}

} // namespace audio_test
