// The audio output: one OpenAL device and context for the whole run, the live
// sound sources and a cache of decoded sound files. audio_init and audio_quit
// run on the main thread while the simulation thread does not exist; every
// other function runs on the simulation thread only, so nothing here takes a
// lock of its own (OpenAL serialises its own calls).
//
// This layer knows nothing about Ruby: the per-frame synchronisation with the
// game's audio Hash lives in audio_sync.{h,cpp}.
#pragma once

#include <cstdint>

enum audio_input_type : uint32_t {
    AUDIO_INPUT_FILE = 0,
    AUDIO_INPUT_SAMPLES = 1,
    AUDIO_INPUT_PROCEDURAL = 2,
};

// Returns a new SDL_malloc'd array of float32 samples (interleaved when
// stereo) and stores its length in floats into *count, or returns NULL to end
// the stream. The caller frees the array with SDL_free.
typedef float *(*audio_procedural_callback)(void *user, uint32_t *count);

// One decoded sound file, shared by every source that plays its path. Entries
// live until audio_quit, whatever their refcount.
struct audio_cached_buffer {
    char *path;           // compared byte for byte
    uint32_t buffer;      // 0 when the buffer could not be made
    uint32_t refcount;    // live file sources using this entry
    uint32_t channels;    // 1 or 2
    uint32_t sample_rate; // frames per second
    audio_cached_buffer *next;
};

// Eight bytes the engine carries for its owner and never reads: the Ruby
// glue keeps a procedural source's callable here.
struct audio_opaque_value {
    alignas(8) unsigned char bytes[8];
};

// A live source, and also the play request that a caller fills and hands to
// audio_play_source (which copies it whole).
struct audio_source {
    uint32_t input_type;
    union {
        const char *path;                   // file: the cache entry's own copy once live
        const float *samples;               // samples: read only during the play call
        audio_procedural_callback callback; // procedural
    } input;
    union {
        audio_cached_buffer *cached; // file
        struct {
            uint32_t sample_count; // floats, all channels
            uint32_t buffer;
        } samples;
        void *user; // procedural: the callback's user pointer
    } input_extra;
    audio_opaque_value callable;
    uint32_t draining; // procedural: the callback refused once; queue no more
    uint32_t stream_buffers[2];
    uint32_t channels;
    uint32_t sample_rate;
    float x, y, z; // z is carried but not applied
    float gain;
    float pitch;
    uint32_t looping;
    uint32_t paused;
    uint32_t finished; // played out or failed to start; the owner removes it
    uint32_t al_source;
    audio_source *prev, *next;
    // The owner's handle on this record (the Ruby glue: the object that wraps
    // it). Copied from the request, compared by the owner, never dereferenced.
    const void *owner;
};

// Machines without a sound device (servers, CI) still run games: when the
// default device does not open, says so once and has OpenAL play into its
// null output. Call before any other thread exists and before any other
// OpenAL call.
void audio_choose_output();
// Opens the default device and a context on it; false when there is none.
bool audio_init();
// Releases every source, cached buffer, the context and the device. Safe
// after a failed or partial audio_init, and more than once.
void audio_quit();

// Creates and starts (unless paused) a source for the request and pushes it
// on the play list; NULL on failure, with nothing left allocated except a new
// cache entry. audio_last_failure() then says why.
audio_source *audio_play_source(const audio_source *request);
// Applies the record's current settings and advances its state; sets
// finished once it has played out, or when its pitch is no longer valid.
void audio_update_source(audio_source *source);
// Asks a procedural source's callback for samples and queues them in buffer;
// false when nothing was queued.
bool fill_procedural_buffer(audio_source *source, uint32_t buffer);
// Stops, releases and frees a source; NULL is ignored.
void audio_stop_source(audio_source *source);

// Whether a sound may have this pitch: any number from 0 up. A pitch the
// mixer cannot play (0, or above its highest) is held at the nearest one it
// can, so that a pitch slid down to 0 and back plays on; a negative pitch and
// NaN are refused.
bool audio_pitch_valid(float pitch);
// Why a pitch was refused, for the log.
constexpr const char *AUDIO_PITCH_REFUSED = "pitch must be a number from 0 up";

// Why the last audio_play_source call returned NULL, for the log.
const char *audio_last_failure();
// Whether that failure was a file that failed before and has not changed
// since: it was reported then.
bool audio_last_failure_repeated();

// A pass over the live sources in which each source the owner still wants is
// marked visited; audio_pass_end stops the ones that were not. Sources
// started during the pass are on the play list until they are marked.
void audio_pass_begin();
// The live, not yet visited source at this address, or NULL. Never
// dereferences the address unless it names such a source.
audio_source *audio_pass_find_unvisited(const void *address);
// The same for a source already visited in this pass.
audio_source *audio_pass_find_visited(const void *address);
void audio_pass_mark_visited(audio_source *source);
void audio_pass_end();

// For inspection by tests.
audio_source *audio_playlist_head();
const audio_cached_buffer *audio_cache_lookup(const char *path);
bool audio_float32_supported();
