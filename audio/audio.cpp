#include "audio.h"

#include "audio_decode.h"

#include "../host/fileio.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <SDL2/SDL.h>
#include <physfs.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Diagnostics go to OpenAL's optional trace extension; without it every hook
// is one of these no-ops, so the engine calls the hooks unconditionally.
typedef void (*alc_trace_device_label_fn)(ALCdevice *device, const char *text);
typedef void (*alc_trace_context_label_fn)(ALCcontext *context, const char *text);
typedef void (*al_trace_push_scope_fn)(const char *text);
typedef void (*al_trace_pop_scope_fn)();
typedef void (*al_trace_message_fn)(const char *text);
typedef void (*al_trace_buffer_label_fn)(ALuint buffer, const char *text);
typedef void (*al_trace_source_label_fn)(ALuint source, const char *text);

void al_trace_noop(ALCdevice *, const char *) {}
void al_trace_noop(ALCcontext *, const char *) {}
void al_trace_noop(const char *) {}
void al_trace_noop() {}
void al_trace_noop(ALuint, const char *) {}

struct audio_device_state {
    audio_source *audio_playlist;
    ALCdevice *device;
    ALCcontext *context;
    uint32_t float32_supported;
    uint32_t format_mono_float32;
    uint32_t format_stereo_float32;
    alc_trace_device_label_fn alcTraceDeviceLabel;
    alc_trace_context_label_fn alcTraceContextLabel;
    al_trace_push_scope_fn alTracePushScope;
    al_trace_pop_scope_fn alTracePopScope;
    al_trace_message_fn alTraceMessage;
    al_trace_buffer_label_fn alTraceBufferLabel;
    al_trace_source_label_fn alTraceSourceLabel;
    audio_cached_buffer *audio_cache;
};

void reset_trace_hooks(audio_device_state *state) {
    state->alcTraceDeviceLabel = al_trace_noop;
    state->alcTraceContextLabel = al_trace_noop;
    state->alTracePushScope = al_trace_noop;
    state->alTracePopScope = al_trace_noop;
    state->alTraceMessage = al_trace_noop;
    state->alTraceBufferLabel = al_trace_noop;
    state->alTraceSourceLabel = al_trace_noop;
}

audio_device_state make_initial_state() {
    audio_device_state state{};
    reset_trace_hooks(&state);
    return state;
}

audio_device_state audio = make_initial_state();

// A path that failed to load, with how its file looked then. Asked for again
// unchanged (a game may ask every frame), it fails at once, without reading
// or decoding the file again and without a second report.
struct audio_failed_path {
    char *path;
    const char *reason;
    PHYSFS_sint64 modtime, size; // -1 -1 when the file was missing
    audio_failed_path *next;
};
constexpr int FAILED_PATHS_KEPT = 256;
audio_failed_path *failed_paths = nullptr;
bool last_failure_repeated = false;

void file_identity(const char *path, PHYSFS_sint64 *modtime, PHYSFS_sint64 *size) {
    PHYSFS_Stat stat;
    bool found = PHYSFS_isInit() && !vfs_name_refusal(path) && PHYSFS_stat(path, &stat);
    *modtime = found ? stat.modtime : -1;
    *size = found ? stat.filesize : -1;
}

void forget_failed_path(audio_failed_path **link) {
    audio_failed_path *entry = *link;
    *link = entry->next;
    SDL_free(entry->path);
    SDL_free(entry);
}

// The failure recorded for a path whose file has not changed since, or NULL.
// A record for a changed file is dropped.
audio_failed_path *unchanged_failure(const char *path) {
    for (audio_failed_path **link = &failed_paths; *link; link = &(*link)->next) {
        if (SDL_strcmp((*link)->path, path) != 0) continue;
        PHYSFS_sint64 modtime, size;
        file_identity(path, &modtime, &size);
        if (modtime == (*link)->modtime && size == (*link)->size) return *link;
        forget_failed_path(link);
        return nullptr;
    }
    return nullptr;
}

void remember_failure(const char *path, const char *reason) {
    audio_failed_path *entry = (audio_failed_path *)SDL_calloc(1, sizeof(audio_failed_path));
    if (!entry || !(entry->path = SDL_strdup(path))) {
        SDL_free(entry);
        return;
    }
    entry->reason = reason;
    file_identity(path, &entry->modtime, &entry->size);
    entry->next = failed_paths;
    failed_paths = entry;
    // Only the newest are kept: a game that names a new missing file every
    // frame must not grow this list without end.
    int kept = 0;
    for (audio_failed_path **link = &failed_paths; *link;) {
        if (++kept > FAILED_PATHS_KEPT)
            forget_failed_path(link);
        else
            link = &(*link)->next;
    }
}
// Sources already claimed during a pass (audio_pass_begin .. audio_pass_end).
audio_source *audio_visited = nullptr;
const char *last_failure = nullptr;

struct trace_scope {
    explicit trace_scope(const char *name) { audio.alTracePushScope(name); }
    ~trace_scope() { audio.alTracePopScope(); }
    trace_scope(const trace_scope &) = delete;
    trace_scope &operator=(const trace_scope &) = delete;
};

void trace(const char *text) { audio.alTraceMessage(text); }

// Returns null after recording why, for the caller's log.
audio_source *refuse(const char *message, const char *reason) {
    trace(message);
    last_failure = reason;
    return nullptr;
}

// OpenAL reports errors through one sticky flag: clear it before a call whose
// outcome matters, so that a stale error from an ignored setter (a negative
// gain, say) is not taken for this call's failure.
void al_clear_error() { alGetError(); }
bool al_failed() { return alGetError() != AL_NO_ERROR; }

ALenum float32_format(uint32_t channels) {
    return (ALenum)(channels == 2 ? audio.format_stereo_float32 : audio.format_mono_float32);
}

ALenum decoded_format(const audio_decoded_sound &sound) {
    bool stereo = sound.channels == 2;
    switch (sound.format) {
    case AUDIO_SAMPLES_U8:
        return stereo ? AL_FORMAT_STEREO8 : AL_FORMAT_MONO8;
    case AUDIO_SAMPLES_S16:
        return stereo ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16;
    case AUDIO_SAMPLES_F32:
        return float32_format(sound.channels);
    }
    return AL_NONE;
}

// The pitches the mixer plays, for a sound at the output's rate: it steps
// through a sound in 4096ths of a sample, at least one and at most 255 whole
// samples per sample it writes. A pitch out of that reach is held at the
// nearest end of it.
constexpr float AUDIO_PITCH_LOWEST = 1.0f / 4096.0f;
constexpr float AUDIO_PITCH_HIGHEST = 255.0f;

void apply_placement(const audio_source *source) {
    // The engine's y axis is OpenAL's z axis; OpenAL's y stays 0.
    alSource3f(source->al_source, AL_POSITION, source->x, 0.0f, source->y);
    alSourcef(source->al_source, AL_GAIN, source->gain);
    alSourcef(source->al_source, AL_PITCH, SDL_clamp(source->pitch, AUDIO_PITCH_LOWEST, AUDIO_PITCH_HIGHEST));
}

audio_cached_buffer *cache_find(const char *path) {
    for (audio_cached_buffer *entry = audio.audio_cache; entry; entry = entry->next)
        if (SDL_strcmp(entry->path, path) == 0) return entry;
    return nullptr;
}

// Decodes a file into a new cache entry; null when it is neither a usable WAV
// nor Ogg Vorbis (nothing is cached then). An entry whose buffer could not be
// made is cached with buffer 0, so later plays of the path fail fast.
audio_cached_buffer *cache_new_buffer(const char *path) {
    trace_scope scope("cachenew_buffer");
    trace("Load new audio file:");
    trace(path);
    audio_cached_buffer *entry = (audio_cached_buffer *)SDL_calloc(1, sizeof(audio_cached_buffer));
    char *path_copy = SDL_strdup(path);
    if (!entry || !path_copy) {
        SDL_free(entry);
        SDL_free(path_copy);
        refuse("Out of memory!", "out of memory");
        return nullptr;
    }
    entry->path = path_copy;

    size_t size = 0;
    void *bytes = loadfile(path, &size);
    audio_decoded_sound sound;
    bool decoded = false;
    bool readable = bytes != nullptr;
    if (readable) {
        if (audio_decode_wav(bytes, size, audio.float32_supported != 0, &sound)) {
            trace("Loaded a .wav file");
            decoded = true;
        } else if (audio_decode_ogg(bytes, size, &sound)) {
            trace("Loaded a .ogg file");
            decoded = true;
        }
        SDL_free(bytes);
    }
    if (!decoded) {
        SDL_free(entry->path);
        SDL_free(entry);
        refuse("Unsupported or corrupted audio file.",
               readable ? "unsupported or corrupted audio file" : "file not found or unreadable");
        return nullptr;
    }

    al_clear_error();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (al_failed() || buffer == 0) {
        trace("Failed to generate AL buffer!");
        buffer = 0;
    } else {
        audio.alTraceBufferLabel(buffer, path);
        alBufferData(buffer, decoded_format(sound), sound.data, (ALsizei)sound.size, (ALsizei)sound.sample_rate);
        if (al_failed()) {
            trace("Failed to fill AL buffer!");
            alDeleteBuffers(1, &buffer);
            buffer = 0;
        }
    }
    entry->buffer = buffer;
    entry->channels = sound.channels;
    entry->sample_rate = sound.sample_rate;
    audio_decoded_free(&sound);
    entry->next = audio.audio_cache;
    audio.audio_cache = entry;
    return entry;
}

bool valid_generated_params(const audio_source *request, bool has_input) {
    return audio.float32_supported && has_input && (request->channels == 1 || request->channels == 2) &&
           request->sample_rate != 0;
}

void list_unlink(audio_source **head, audio_source *source) {
    if (source->prev) source->prev->next = source->next;
    if (source->next) source->next->prev = source->prev;
    if (*head == source) *head = source->next;
    source->prev = source->next = nullptr;
}

void list_push(audio_source **head, audio_source *source) {
    source->prev = nullptr;
    source->next = *head;
    if (*head) (*head)->prev = source;
    *head = source;
}

// Compares addresses only: `source` need not name a record at all.
bool list_contains(const audio_source *head, const void *source) {
    for (const audio_source *it = head; it; it = it->next)
        if (it == source) return true;
    return false;
}

void release_al_objects(audio_source *source) {
    if (source->al_source) {
        alSourceStop(source->al_source);
        alSourcei(source->al_source, AL_BUFFER, 0);
        alDeleteSources(1, &source->al_source);
        source->al_source = 0;
    }
    switch (source->input_type) {
    case AUDIO_INPUT_PROCEDURAL:
        for (uint32_t &buffer : source->stream_buffers)
            if (buffer) {
                alDeleteBuffers(1, &buffer);
                buffer = 0;
            }
        break;
    case AUDIO_INPUT_SAMPLES:
        if (source->input_extra.samples.buffer) {
            alDeleteBuffers(1, &source->input_extra.samples.buffer);
            source->input_extra.samples.buffer = 0;
        }
        break;
    default:
        break;
    }
}

// Whether OpenAL's default device opens, tried in a child process: OpenAL
// settles on its output backend at its first call and keeps it for the
// process, so a failed open could not be followed by a second try in here.
// A probe that cannot be made says yes, leaving the open to tell.
bool default_device_opens() {
    pid_t child = fork();
    if (child < 0) return true;
    if (child == 0) {
        ALCdevice *device = alcOpenDevice(nullptr);
        if (device) alcCloseDevice(device);
        _exit(device ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return true;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

void audio_choose_output() {
    if (default_device_opens()) return;
    SDL_Log("audio: no sound device found; sound plays into OpenAL's null output and is not heard.");
    setenv("ALSOFT_DRIVERS", "null", 1);
}

bool audio_init() {
    if (audio.device) return true;
    audio.device = alcOpenDevice(nullptr);
    if (!audio.device) return false;
    audio.context = alcCreateContext(audio.device, nullptr);
    if (!audio.context) {
        alcCloseDevice(audio.device);
        audio.device = nullptr;
        return false;
    }
    alcMakeContextCurrent(audio.context);

    audio.float32_supported = alIsExtensionPresent("AL_EXT_FLOAT32") ? 1 : 0;
    if (audio.float32_supported) {
        audio.format_mono_float32 = (uint32_t)alGetEnumValue("AL_FORMAT_MONO_FLOAT32");
        audio.format_stereo_float32 = (uint32_t)alGetEnumValue("AL_FORMAT_STEREO_FLOAT32");
    }

    reset_trace_hooks(&audio);
    if (alcIsExtensionPresent(audio.device, "ALC_EXT_trace_info")) {
        if (void *hook = alcGetProcAddress(audio.device, "alcTraceDeviceLabel"))
            audio.alcTraceDeviceLabel = (alc_trace_device_label_fn)hook;
        if (void *hook = alcGetProcAddress(audio.device, "alcTraceContextLabel"))
            audio.alcTraceContextLabel = (alc_trace_context_label_fn)hook;
    }
    if (alIsExtensionPresent("AL_EXT_trace_info")) {
        if (void *hook = alGetProcAddress("alTracePushScope")) audio.alTracePushScope = (al_trace_push_scope_fn)hook;
        if (void *hook = alGetProcAddress("alTracePopScope")) audio.alTracePopScope = (al_trace_pop_scope_fn)hook;
        if (void *hook = alGetProcAddress("alTraceMessage")) audio.alTraceMessage = (al_trace_message_fn)hook;
        if (void *hook = alGetProcAddress("alTraceBufferLabel"))
            audio.alTraceBufferLabel = (al_trace_buffer_label_fn)hook;
        if (void *hook = alGetProcAddress("alTraceSourceLabel"))
            audio.alTraceSourceLabel = (al_trace_source_label_fn)hook;
    }
    audio.alcTraceDeviceLabel(audio.device, "Main output device");
    audio.alcTraceContextLabel(audio.context, "Main output context");
    return true;
}

void audio_quit() {
    {
        trace_scope scope("audio_quit");
        if (audio.context) alListenerf(AL_GAIN, 0.0f);
        // A pass cut short leaves claimed sources on the visited list.
        while (audio_visited) audio_stop_source(audio_visited);
        while (audio.audio_playlist) audio_stop_source(audio.audio_playlist);
        while (audio_cached_buffer *entry = audio.audio_cache) {
            audio.audio_cache = entry->next;
            if (entry->buffer) alDeleteBuffers(1, &entry->buffer);
            SDL_free(entry->path);
            SDL_free(entry);
        }
        while (failed_paths) forget_failed_path(&failed_paths);
    }
    if (audio.context) {
        alcMakeContextCurrent(nullptr);
        alcDestroyContext(audio.context);
        audio.context = nullptr;
    }
    if (audio.device) {
        alcCloseDevice(audio.device);
        audio.device = nullptr;
    }
    audio.float32_supported = 0;
    audio.format_mono_float32 = 0;
    audio.format_stereo_float32 = 0;
    reset_trace_hooks(&audio);
}

audio_source *audio_play_source(const audio_source *request) {
    trace_scope scope("audio_play_source");
    last_failure = nullptr;
    last_failure_repeated = false;
    if (!request) return refuse("bogus params supplied", "no request");
    if (!audio.context) return refuse("bogus params supplied", "audio is not running");
    if (!audio_pitch_valid(request->pitch)) return refuse("bogus params supplied", AUDIO_PITCH_REFUSED);
    audio_cached_buffer *cached = nullptr;
    switch (request->input_type) {
    case AUDIO_INPUT_PROCEDURAL:
        trace("dynamic procedural audio");
        if (!valid_generated_params(request, request->input.callback != nullptr))
            return refuse("bogus params supplied", "a generator needs 1 or 2 channels and a non-zero rate");
        break;
    case AUDIO_INPUT_SAMPLES:
        trace("static procedural audio");
        if (!valid_generated_params(request, request->input.samples != nullptr))
            return refuse("bogus params supplied", "samples need 1 or 2 channels and a non-zero rate");
        // Whole frames only, and at least one: OpenAL rejects anything else.
        if (request->input_extra.samples.sample_count < request->channels ||
            request->input_extra.samples.sample_count > INT_MAX / sizeof(float))
            return refuse("bogus params supplied", "no samples to play");
        break;
    case AUDIO_INPUT_FILE:
        trace("audio from a file");
        if (!request->input.path) return refuse("get_buffer failed!", "no file path");
        cached = cache_find(request->input.path);
        if (!cached) {
            if (audio_failed_path *failed = unchanged_failure(request->input.path)) {
                last_failure_repeated = true;
                return refuse("get_buffer failed!", failed->reason);
            }
            cached = cache_new_buffer(request->input.path);
            if (!cached) {
                // Keep the loader's reason: it says more than this message.
                const char *reason = last_failure ? last_failure : "the file could not be loaded";
                remember_failure(request->input.path, reason);
                refuse("get_buffer failed!", reason);
                return nullptr;
            }
        }
        if (cached->buffer == 0) return refuse("get_buffer failed!", "the sound could not be stored in OpenAL");
        break;
    default:
        return refuse("unkown audio source input type?!", "unknown input type");
    }

    audio_source *source = (audio_source *)SDL_malloc(sizeof(audio_source));
    if (!source) return refuse("Out of memory!", "out of memory");
    *source = *request;
    source->finished = 0;
    source->draining = 0;
    source->stream_buffers[0] = source->stream_buffers[1] = 0;
    source->prev = source->next = nullptr;
    source->al_source = 0;

    // OpenAL has a fixed number of sources: creation fails once they are all
    // in use, and a record without one must not pass for a playing sound.
    al_clear_error();
    ALuint al_source = 0;
    alGenSources(1, &al_source);
    if (al_failed() || al_source == 0) {
        SDL_free(source);
        return refuse("Failed to generate AL source!", "no free OpenAL source (too many sounds at once)");
    }
    source->al_source = al_source;

    switch (source->input_type) {
    case AUDIO_INPUT_FILE:
        source->input.path = cached->path;
        source->input_extra.cached = cached;
        source->channels = cached->channels;
        source->sample_rate = cached->sample_rate;
        alSourcei(al_source, AL_BUFFER, (ALint)cached->buffer);
        alSourcei(al_source, AL_LOOPING, source->looping ? AL_TRUE : AL_FALSE);
        break;
    case AUDIO_INPUT_SAMPLES: {
        uint32_t count = request->input_extra.samples.sample_count;
        count -= count % source->channels;
        source->input_extra.samples.sample_count = count;
        source->input_extra.samples.buffer = 0;
        // The caller keeps the array; a live record never reads it again.
        source->input.samples = nullptr;
        ALuint buffer = 0;
        al_clear_error();
        alGenBuffers(1, &buffer);
        if (al_failed() || buffer == 0) {
            release_al_objects(source);
            SDL_free(source);
            return refuse("Failed to generate AL buffer!", "no OpenAL buffer available");
        }
        source->input_extra.samples.buffer = buffer;
        alBufferData(buffer, float32_format(source->channels), request->input.samples,
                     (ALsizei)(count * sizeof(float)), (ALsizei)source->sample_rate);
        if (al_failed()) {
            release_al_objects(source);
            SDL_free(source);
            return refuse("Failed to fill AL buffer!", "OpenAL refused the samples");
        }
        alSourcei(al_source, AL_BUFFER, (ALint)buffer);
        alSourcei(al_source, AL_LOOPING, source->looping ? AL_TRUE : AL_FALSE);
        break;
    }
    case AUDIO_INPUT_PROCEDURAL:
        al_clear_error();
        alGenBuffers(2, source->stream_buffers);
        if (al_failed() || !source->stream_buffers[0] || !source->stream_buffers[1]) {
            source->stream_buffers[0] = source->stream_buffers[1] = 0;
            release_al_objects(source);
            SDL_free(source);
            return refuse("Failed to generate AL buffer!", "no OpenAL buffers available");
        }
        if (!fill_procedural_buffer(source, source->stream_buffers[0])) {
            // The generator gave nothing: the source never starts and its
            // owner removes it at once.
            trace("Failed to fill first procedural buffer!");
            source->finished = 1;
            source->paused = 1;
        } else if (!fill_procedural_buffer(source, source->stream_buffers[1])) {
            trace("Failed to fill second procedural buffer!");
            source->draining = 1;
        }
        break;
    }

    apply_placement(source);
    if (!source->paused) alSourcePlay(al_source);
    if (cached) cached->refcount++;
    list_push(&audio.audio_playlist, source);
    return source;
}

bool fill_procedural_buffer(audio_source *source, uint32_t buffer) {
    trace_scope scope("fill_procedural_buffer");
    if (!audio.float32_supported) {
        trace("uhoh, no float32 support!");
        return false;
    }
    if (source->input_type != AUDIO_INPUT_PROCEDURAL || !source->input.callback) {
        trace("uhoh, not a procedural source!");
        return false;
    }
    uint32_t count = 0;
    float *samples = source->input.callback(source->input_extra.user, &count);
    // An empty chunk ends the stream like no chunk: there is nothing to queue,
    // and a partial frame cannot be queued either.
    uint32_t usable = source->channels ? count - count % source->channels : 0;
    if (!samples || usable == 0 || usable > INT_MAX / sizeof(float)) {
        SDL_free(samples);
        trace("Procedural callback returned NULL, we're done.");
        return false;
    }
    al_clear_error();
    alBufferData(buffer, float32_format(source->channels), samples, (ALsizei)(usable * sizeof(float)),
                 (ALsizei)source->sample_rate);
    SDL_free(samples);
    if (al_failed()) {
        trace("Failed to fill AL buffer!");
        return false;
    }
    alSourceQueueBuffers(source->al_source, 1, &buffer);
    if (al_failed()) {
        trace("Failed to queue AL buffer!");
        return false;
    }
    return true;
}

void audio_update_source(audio_source *source) {
    if (!source) return;
    trace_scope scope("audio_update_source");
    ALuint al_source = source->al_source;
    if (!audio_pitch_valid(source->pitch)) {
        trace("bogus params supplied");
        trace("Marking source as finished.");
        alSourceStop(al_source);
        source->finished = 1;
        return;
    }
    if (source->input_type != AUDIO_INPUT_PROCEDURAL)
        alSourcei(al_source, AL_LOOPING, source->looping ? AL_TRUE : AL_FALSE);
    apply_placement(source);
    ALint state = AL_STOPPED;
    alGetSourcei(al_source, AL_SOURCE_STATE, &state);

    if (source->paused) {
        if (state == AL_PLAYING) {
            alSourcePause(al_source);
        } else if (state == AL_STOPPED) {
            trace("Marking source as finished.");
            source->finished = 1;
        }
        return;
    }

    if (source->input_type == AUDIO_INPUT_PROCEDURAL && !source->draining) {
        ALint processed = 0;
        alGetSourcei(al_source, AL_BUFFERS_PROCESSED, &processed);
        // After the first refusal the generator is not asked again, not even
        // for the other buffer of this update: a generator that ended (or
        // raised) is done.
        for (ALint i = 0; i < processed && !source->draining; ++i) {
            ALuint buffer = 0;
            al_clear_error();
            alSourceUnqueueBuffers(al_source, 1, &buffer);
            if (al_failed() || buffer == 0) break;
            if (!fill_procedural_buffer(source, buffer)) {
                trace("Procedural buffer says stop. Marking source as draining so we don't queue more.");
                source->draining = 1;
            } else if (state == AL_STOPPED) {
                // It ran dry before this refill: start it again below.
                trace("Streaming source appears to have suffered buffer queue starvation.");
                state = AL_PAUSED;
            }
        }
    }

    if (state == AL_INITIAL || state == AL_PAUSED) {
        alSourcePlay(al_source);
    } else if (state == AL_STOPPED) {
        trace("Marking source as finished.");
        source->finished = 1;
    }
}

void audio_stop_source(audio_source *source) {
    if (!source) return;
    trace_scope scope("audio_stop_source");
    if (list_contains(audio_visited, source))
        list_unlink(&audio_visited, source);
    else
        list_unlink(&audio.audio_playlist, source);
    release_al_objects(source);
    if (source->input_type == AUDIO_INPUT_FILE && source->input_extra.cached &&
        source->input_extra.cached->refcount > 0)
        source->input_extra.cached->refcount--;
    SDL_free(source);
}

bool audio_pitch_valid(float pitch) { return pitch >= 0.0f; }

const char *audio_last_failure() { return last_failure ? last_failure : "unknown failure"; }

bool audio_last_failure_repeated() { return last_failure_repeated; }

void audio_pass_begin() {
    // A pass that never ended leaves its claimed sources live: put them back.
    while (audio_source *source = audio_visited) {
        list_unlink(&audio_visited, source);
        list_push(&audio.audio_playlist, source);
    }
}

audio_source *audio_pass_find_unvisited(const void *address) {
    return address && list_contains(audio.audio_playlist, address) ? (audio_source *)address : nullptr;
}

audio_source *audio_pass_find_visited(const void *address) {
    return address && list_contains(audio_visited, address) ? (audio_source *)address : nullptr;
}

void audio_pass_mark_visited(audio_source *source) {
    if (!source || list_contains(audio_visited, source)) return;
    list_unlink(&audio.audio_playlist, source);
    list_push(&audio_visited, source);
}

void audio_pass_end() {
    while (audio.audio_playlist) audio_stop_source(audio.audio_playlist);
    audio.audio_playlist = audio_visited;
    audio_visited = nullptr;
}

audio_source *audio_playlist_head() { return audio.audio_playlist; }

const audio_cached_buffer *audio_cache_lookup(const char *path) { return path ? cache_find(path) : nullptr; }

bool audio_float32_supported() { return audio.float32_supported != 0; }
