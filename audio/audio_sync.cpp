#include "audio_sync.h"

#include "../bridge/ffi.h"
#include "../host/host_call.h"

#include <SDL2/SDL.h>

#include <cmath>
#include <cstring>

// This file never lets a Ruby exception unwind through it: the walk runs
// outside any Ruby method, where an uncaught raise aborts the process. Calls
// that may run Ruby code go through host_call; direct API calls are limited
// to ones that cannot raise (Symbol-keyed reads, writes to Hashes checked
// not to be frozen).

static_assert(sizeof(mrb_value) == sizeof(audio_opaque_value), "a record's callable slot holds one Ruby value");
static_assert(alignof(mrb_value) <= alignof(audio_opaque_value), "a record's callable slot holds one Ruby value");

namespace {

// The interpreter the generator callbacks call into: the one being walked.
mrb_state *callback_mrb = nullptr;
// Where the walk reports a sound file that cannot be played: the runtime's
// log (its file and the console), or standard error when it has none.
mrb_value walk_runtime = mrb_nil_value();

mrb_value load_value(const void *slot) {
    mrb_value value;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

void store_value(void *slot, mrb_value value) { std::memcpy(slot, &value, sizeof value); }

mrb_value sym(mrb_state *mrb, const char *name) { return mrb_symbol_value(mrb_intern_cstr(mrb, name)); }

// Symbol keys are hashed and compared natively, and fetch ignores default
// procs, so this runs no Ruby code.
mrb_value entry_get(mrb_state *mrb, mrb_value entry, const char *key) {
    return mrb_hash_fetch(mrb, entry, sym(mrb, key), mrb_nil_value());
}

bool frozen(mrb_value object) { return !mrb_immediate_p(object) && MRB_FROZEN_P(mrb_basic_ptr(object)); }

float number_or(mrb_value value, float fallback) {
    if (mrb_float_p(value)) return (float)mrb_float(value);
    if (mrb_integer_p(value)) return (float)mrb_integer(value);
    return fallback;
}

// Channels and rates: whole numbers that fit, else 0, which the play call
// refuses.
uint32_t count_value(mrb_value value) {
    if (mrb_integer_p(value)) {
        mrb_int number = mrb_integer(value);
        return number >= 0 && (uint64_t)number <= UINT32_MAX ? (uint32_t)number : 0;
    }
    if (mrb_float_p(value)) {
        mrb_float number = mrb_float(value);
        return std::isfinite(number) && number >= 0 && number <= (mrb_float)UINT32_MAX ? (uint32_t)number : 0;
    }
    return 0;
}

// Converts an Array of numbers into a new SDL_malloc'd float array; elements
// that are not numbers become silence. NULL when it cannot be allocated.
float *float_samples(mrb_value array, uint32_t *count) {
    mrb_int length = RARRAY_LEN(array);
    *count = 0;
    if (length <= 0 || (uint64_t)length > UINT32_MAX) return nullptr;
    float *samples = (float *)SDL_malloc((size_t)length * sizeof(float));
    if (!samples) return nullptr;
    for (mrb_int i = 0; i < length; ++i) samples[i] = number_or(mrb_ary_entry(array, i), 0.0f);
    *count = (uint32_t)length;
    return samples;
}

// The key's inspect text for the log; freed with SDL_free.
char *describe_key(mrb_state *mrb, mrb_value key) {
    mrb_value text = host_call(mrb, key, "inspect");
    if (!mrb_string_p(text)) return SDL_strdup("(a key)");
    size_t length = (size_t)RSTRING_LEN(text);
    char *copy = (char *)SDL_malloc(length + 1);
    if (!copy) return nullptr;
    std::memcpy(copy, RSTRING_PTR(text), length);
    copy[length] = 0;
    return copy;
}

void log_entry(mrb_state *mrb, mrb_value key, const char *what, const char *detail) {
    char *name = describe_key(mrb, key);
    SDL_Log("audio: %s %s: %s", what, name ? name : "(a key)", detail);
    SDL_free(name);
}

// A game author has to hear about a sound file that cannot be played where
// they look: the log and the console.
void report_file_failure(mrb_state *mrb, mrb_value key, const char *path, const char *reason) {
    if (!mrb_respond_to(mrb, walk_runtime, mrb_intern_lit(mrb, "log_error"))) {
        size_t length = SDL_strlen(path) + SDL_strlen(reason) + 4;
        char *detail = (char *)SDL_malloc(length);
        if (detail) SDL_snprintf(detail, length, "%s: %s", path, reason);
        log_entry(mrb, key, "couldn't play", detail ? detail : reason);
        SDL_free(detail);
        return;
    }
    char *name = describe_key(mrb, key);
    mrb_value text = mrb_format(mrb, "The sound file =%s= of ~args.audio[%s]~ could not be played: %s.", path,
                                name ? name : "(a key)", reason);
    SDL_free(name);
    host_call(mrb, walk_runtime, "log_error", 1, &text);
}

// Removes an entry the engine gives up on. Its cptr goes too, so that a
// game that adds the same Hash again (a constant, say) starts a new sound
// rather than naming a record that no longer exists.
void drop_entry(mrb_state *mrb, mrb_value audio, mrb_value key, mrb_value entry) {
    if (mrb_hash_p(entry) && !frozen(entry)) {
        mrb_value cptr_key = sym(mrb, "cptr");
        if (mrb_hash_key_p(mrb, entry, cptr_key)) mrb_hash_delete_key(mrb, entry, cptr_key);
    }
    host_call(mrb, audio, "delete", 1, &key);
}

// The live record a cptr names: only one that is still unclaimed this frame
// and was wrapped by this very object. Anything else (a cptr kept after its
// sound ended, copied into a second entry, or made by the game) names
// nothing, and its entry starts a new sound.
audio_source *resolve_cptr(mrb_state *mrb, mrb_value cptr) {
    audio_source *record = audio_pass_find_unvisited(ffi_cptr_get(mrb, cptr));
    if (!record || record->owner != mrb_basic_ptr(cptr)) return nullptr;
    return record;
}

void update_live_entry(mrb_state *mrb, mrb_value audio, mrb_value key, mrb_value entry, audio_source *record) {
    read_audio_source_attributes(mrb, entry, record);
    audio_update_source(record);
    if (!record->finished) {
        audio_pass_mark_visited(record);
        return;
    }
    if (!audio_pitch_valid(record->pitch)) log_entry(mrb, key, "stopped", AUDIO_PITCH_REFUSED);
    drop_entry(mrb, audio, key, entry); // stopped when the pass ends
}

// Builds a play request from the entry's input; false when the entry is
// dropped instead. *samples receives an array the caller frees after play.
bool build_request(mrb_state *mrb, mrb_value audio, mrb_value key, mrb_value entry, audio_source *request,
                   char **path, float **samples) {
    mrb_value input = entry_get(mrb, entry, "input");
    if (mrb_nil_p(input)) {
        drop_entry(mrb, audio, key, entry);
        return false;
    }
    if (mrb_string_p(input)) {
        size_t length = (size_t)RSTRING_LEN(input);
        // A NUL would silently name a different, shorter path.
        if (std::memchr(RSTRING_PTR(input), 0, length)) {
            log_entry(mrb, key, "dropped", "the input path contains a NUL byte");
            drop_entry(mrb, audio, key, entry);
            return false;
        }
        *path = (char *)SDL_malloc(length + 1);
        if (!*path) {
            drop_entry(mrb, audio, key, entry);
            return false;
        }
        std::memcpy(*path, RSTRING_PTR(input), length);
        (*path)[length] = 0;
        request->input_type = AUDIO_INPUT_FILE;
        request->input.path = *path;
        return true;
    }
    if (!mrb_array_p(input)) {
        // A generator alone is the likeliest slip: say where it goes.
        log_entry(mrb, key, "dropped",
                  "input must be a file path, [channels, rate, samples] or [channels, rate, callable] "
                  "(a callable goes third in that Array)");
        drop_entry(mrb, audio, key, entry);
        return false;
    }
    if (RARRAY_LEN(input) < 3) {
        drop_entry(mrb, audio, key, entry);
        return false;
    }
    request->channels = count_value(mrb_ary_entry(input, 0));
    request->sample_rate = count_value(mrb_ary_entry(input, 1));
    mrb_value source = mrb_ary_entry(input, 2);
    if (mrb_array_p(source)) {
        // No samples is a sound that has already ended.
        if (RARRAY_LEN(source) == 0) {
            drop_entry(mrb, audio, key, entry);
            return false;
        }
        uint32_t count = 0;
        *samples = float_samples(source, &count);
        if (!*samples) {
            drop_entry(mrb, audio, key, entry);
            return false;
        }
        request->input_type = AUDIO_INPUT_SAMPLES;
        request->input.samples = *samples;
        request->input_extra.samples.sample_count = count;
        return true;
    }
    if (mrb_respond_to(mrb, source, mrb_intern_lit(mrb, "call"))) {
        request->input_type = AUDIO_INPUT_PROCEDURAL;
        request->input.callback = procedural_audio_callback;
        request->input_extra.user = &request->callable;
        return true;
    }
    log_entry(mrb, key, "dropped", "the third element of input must be an Array of samples or respond to call");
    drop_entry(mrb, audio, key, entry);
    return false;
}

void start_entry(mrb_state *mrb, mrb_value audio, mrb_value key, mrb_value entry) {
    // The engine must write cptr into the entry to keep track of its sound.
    if (frozen(entry)) {
        log_entry(mrb, key, "dropped", "the entry Hash is frozen, so its sound cannot be tracked");
        drop_entry(mrb, audio, key, entry);
        return;
    }
    audio_source request;
    std::memset(&request, 0, sizeof request);
    store_value(&request.callable, mrb_nil_value());
    char *path = nullptr;
    float *samples = nullptr;
    if (!build_request(mrb, audio, key, entry, &request, &path, &samples)) return;

    read_audio_source_attributes(mrb, entry, &request);
    audio_source *record = audio_play_source(&request);
    SDL_free(samples);
    if (!record) {
        // A file that fails again unchanged was reported when it first failed.
        if (!path) {
            log_entry(mrb, key, "couldn't play", audio_last_failure());
        } else if (!audio_last_failure_repeated()) {
            report_file_failure(mrb, key, path, audio_last_failure());
        }
        SDL_free(path);
        drop_entry(mrb, audio, key, entry);
        return;
    }
    SDL_free(path); // the record uses the cache entry's own copy
    if (record->input_type == AUDIO_INPUT_PROCEDURAL) record->input_extra.user = &record->callable;

    // A generator runs game code during the play call: the entry may have
    // been frozen meanwhile.
    mrb_value cptr = frozen(entry) ? mrb_nil_value() : ffi_cptr_new(mrb, record);
    if (mrb_nil_p(cptr)) {
        log_entry(mrb, key, "couldn't play", "the sound cannot be tracked (no FFI::CPtr, or a frozen entry)");
        audio_stop_source(record);
        drop_entry(mrb, audio, key, entry);
        return;
    }
    record->owner = mrb_basic_ptr(cptr);
    mrb_hash_set(mrb, entry, sym(mrb, "cptr"), cptr);
    if (record->finished)
        drop_entry(mrb, audio, key, entry); // stopped when the pass ends
    else
        audio_pass_mark_visited(record);
}

void sync_entry(mrb_state *mrb, mrb_value audio, mrb_value key) {
    mrb_value entry = host_call(mrb, audio, "[]", 1, &key);
    if (!mrb_hash_p(entry)) {
        host_call(mrb, audio, "delete", 1, &key);
        return;
    }
    mrb_value cptr_key = sym(mrb, "cptr");
    if (mrb_hash_key_p(mrb, entry, cptr_key)) {
        mrb_value cptr = mrb_hash_fetch(mrb, entry, cptr_key, mrb_nil_value());
        if (!mrb_data_p(cptr)) {
            drop_entry(mrb, audio, key, entry);
            return;
        }
        if (audio_source *record = resolve_cptr(mrb, cptr)) {
            update_live_entry(mrb, audio, key, entry, record);
            return;
        }
        // The same Hash under a second key, whose sound an earlier key took
        // this frame: this key gets a copy, which starts and keeps a sound
        // of its own. Starting from the shared Hash would take its cptr from
        // the first key and restart a sound every frame.
        audio_source *claimed = audio_pass_find_visited(ffi_cptr_get(mrb, cptr));
        if (claimed && claimed->owner == mrb_basic_ptr(cptr)) {
            entry = mrb_hash_dup(mrb, entry);
            mrb_hash_delete_key(mrb, entry, cptr_key);
            mrb_hash_set(mrb, audio, key, entry);
        }
    }
    start_entry(mrb, audio, key, entry);
}

} // namespace

void read_audio_source_attributes(mrb_state *mrb, mrb_value entry, audio_source *record) {
    record->x = number_or(entry_get(mrb, entry, "x"), 0.0f);
    record->y = number_or(entry_get(mrb, entry, "y"), 0.0f);
    record->z = number_or(entry_get(mrb, entry, "z"), 0.0f);
    record->gain = number_or(entry_get(mrb, entry, "gain"), 1.0f);
    record->pitch = number_or(entry_get(mrb, entry, "pitch"), 1.0f);
    record->looping = mrb_test(entry_get(mrb, entry, "looping")) ? 1 : 0;
    record->paused = mrb_test(entry_get(mrb, entry, "paused")) ? 1 : 0;
    if (record->input_type != AUDIO_INPUT_PROCEDURAL) return;
    mrb_value callable = mrb_nil_value();
    mrb_value input = entry_get(mrb, entry, "input");
    if (mrb_array_p(input) && RARRAY_LEN(input) >= 3) callable = mrb_ary_entry(input, 2);
    // The record's copy is not seen by the collector; the arena keeps the
    // callable alive while this entry is being handled, even if the game's
    // code removes it from the entry meanwhile.
    mrb_gc_protect(mrb, callable);
    store_value(&record->callable, callable);
}

float *procedural_audio_callback(void *user, uint32_t *count) {
    mrb_state *mrb = callback_mrb;
    if (count) *count = 0;
    if (!mrb || !user || !count) return nullptr;
    mrb_value callable = load_value(user);
    if (!mrb_respond_to(mrb, callable, mrb_intern_lit(mrb, "call"))) return nullptr;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value chunk = host_call(mrb, callable, "call");
    float *samples = nullptr;
    if (mrb_array_p(chunk)) samples = float_samples(chunk, count);
    mrb_gc_arena_restore(mrb, arena);
    return samples;
}

void audio_sync_hash(mrb_state *mrb, mrb_value runtime, mrb_value audio) {
    if (!mrb || !mrb_hash_p(audio)) return;
    // Entries could be neither dropped nor marked: leave everything as it is.
    if (frozen(audio)) return;
    callback_mrb = mrb;
    walk_runtime = runtime;
    int arena = mrb_gc_arena_save(mrb);
    mrb_gc_protect(mrb, audio);
    mrb_value keys = mrb_hash_keys(mrb, audio);
    mrb_gc_protect(mrb, keys);
    audio_pass_begin();
    for (mrb_int i = 0; i < RARRAY_LEN(keys); ++i) {
        int entry_arena = mrb_gc_arena_save(mrb);
        sync_entry(mrb, audio, mrb_ary_entry(keys, i));
        mrb_gc_arena_restore(mrb, entry_arena);
    }
    audio_pass_end();
    walk_runtime = mrb_nil_value();
    mrb_gc_arena_restore(mrb, arena);
}

void audio_sync(game_state *state) {
    mrb_state *mrb = state ? state->mrb : nullptr;
    // Before the runtime object exists there is nothing to synchronise.
    if (!mrb || !mrb_respond_to(mrb, state->runtime, mrb_intern_lit(mrb, "audio"))) return;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value audio = host_call(mrb, state->runtime, "audio");
    audio_sync_hash(mrb, state->runtime, audio);
    mrb_gc_arena_restore(mrb, arena);
}
