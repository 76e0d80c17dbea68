// The Ruby side of audio: once per simulation frame the game's audio Hash
// (the runtime's `audio`) is walked and the live sources are made to match
// it. Runs on the simulation thread, outside any Ruby method call.
#pragma once

#include "audio.h"

#include "../host/game_state.h"

// The frame step's one call: asks the runtime for its audio Hash and
// synchronises it. A result that is not a Hash skips the frame.
void audio_sync(game_state *state);

// Synchronises the given audio Hash with the live sources. A sound file
// that cannot be played is reported once through the runtime's log_error.
void audio_sync_hash(mrb_state *mrb, mrb_value runtime, mrb_value audio_hash);

// Copies position, gain, pitch, looping and paused from an entry Hash into a
// record (Integers count as numbers); for a generator record also takes the
// callable from the entry's input.
void read_audio_source_attributes(mrb_state *mrb, mrb_value entry, audio_source *record);

// The callback of every generator source made here: user points at the
// record's callable; returns its next samples, or NULL to end the stream.
float *procedural_audio_callback(void *user, uint32_t *count);
