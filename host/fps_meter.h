// Frames-per-second over roughly the last second, and a UTF-8 decoder; both
// run per frame or per character, so neither allocates.
#pragma once

#include <cstdint>

struct fps_meter {
    uint32_t sum_ms;
    uint32_t sum_frames;
    uint32_t slot_start;
    uint32_t open_frames;
    uint32_t slot_ms[8];
    uint32_t slot_frames[8];
    int32_t slot_index;
};

// Counts one frame now and answers the current rate. Owned by one thread.
uint32_t fps_iteration(fps_meter *meter);
// The same, with the millisecond tick given (for tests and callers that
// already read the clock).
uint32_t fps_iteration_at(fps_meter *meter, uint32_t now_ms);

constexpr uint32_t UTF8_INVALID = 0xFFFFFFFFu;

// Decodes one code point and advances *text past it. Answers 0 at the
// terminator (without advancing) and UTF8_INVALID for anything that is not a
// character, surrogates included.
uint32_t utf8codepoint(const char **text);
