// Reading a replay file's text, without the interpreter. A replay holds a
// few header lines ("seed 7") and one line per recorded input event, each a
// Ruby Array literal: [name, value_1, value_2, value_count, order, tick]
// with :in_tick after it for input the game gave itself. A long replay holds
// hundreds of thousands of events, so they are read in one pass and kept
// packed, each a fixed-size record, rather than one Ruby object each; every
// event is checked before any is used, so a damaged file changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One recorded event. A replay's events are kept as an array of these
// records, read back byte for byte (replay_event_unpack).
struct replay_event {
    int64_t tick = 0;
    // The running number of the event in its recording.
    int64_t order = 0;
    // Each value as the file wrote it: an Integer, or the bits of a Float
    // where bit i of floats is set.
    uint64_t values[2] = {0, 0};
    // The input it is, an index into the inputs the reading was given.
    int32_t input = 0;
    uint8_t value_count = 0;
    uint8_t floats = 0;
    bool in_tick = false;
    // Fills what would be padding, so that every byte of a packed record is
    // set.
    uint8_t unused = 0;
};
static_assert(sizeof(replay_event) == 40, "a packed replay event has no padding");

// What one value of an input may be.
struct replay_value_kind {
    // An Integer, or a Float without a fraction.
    bool whole = false;
    int64_t least = 0, most = 0;
    bool most_excluded = false;
    // When not empty, a value must also be one of these.
    std::vector<int64_t> allowed;
};

// An input a replay may give, by name, with the kind of each value it takes.
struct replay_input {
    std::string name;
    std::vector<replay_value_kind> values;
};

enum replay_text_fault {
    REPLAY_TEXT_FINE,
    // A line that is no replay line, or an event line that is not one.
    REPLAY_TEXT_CORRUPT,
    // An event of an input that cannot be replayed, or with another count of
    // values than the input takes.
    REPLAY_TEXT_UNKNOWN_INPUT,
    // A value its input cannot take.
    REPLAY_TEXT_BAD_VALUE,
};

struct replay_text_reading {
    // How many events were read.
    size_t events = 0;
    // The header lines (those beginning "seed", "stopped_at" or
    // "recorded_at"), stripped, in the order they come, as offsets and
    // lengths in the text; up to the line at fault when there is one.
    std::vector<std::pair<size_t, size_t>> headers;
    // Nothing but blanks and NULs.
    bool blank = true;
    // Some event is marked as the game's own.
    bool in_tick = false;
    // The first line at fault, stripped; reading stops there.
    replay_text_fault fault = REPLAY_TEXT_FINE;
    size_t fault_at = 0, fault_length = 0;
};

// How many events length bytes of text can hold at the most: the lines that
// begin with "[" and are long enough for one. A file of blank or short
// lines takes no room.
size_t replay_text_room(const char *text, size_t length);

// Reads length bytes of text into events, which has that room;
// once the whole text has read, they are sorted by tick, then by order, the
// events of one tick lying together.
// Lines are stripped as Ruby's String#strip does; blank ones and those
// beginning "replay_version" are skipped.
void replay_text_read(const char *text, size_t length, const std::vector<replay_input> &inputs, replay_event *events,
                      replay_text_reading *reading);

// The event at from, which need not be aligned.
replay_event replay_event_unpack(const unsigned char *from);

// In count packed events sorted by tick, the first at tick or after it.
size_t replay_events_first_at(const unsigned char *packed, size_t count, int64_t tick);
