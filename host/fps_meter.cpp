#include "fps_meter.h"

#include <SDL2/SDL.h>

namespace {

constexpr uint32_t SLOT_MIN_MS = 125;

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

} // namespace

uint32_t fps_iteration_at(fps_meter *meter, uint32_t now_ms) {
    uint32_t elapsed = now_ms - meter->slot_start; // wraps correctly
    uint32_t frames = ++meter->open_frames;
    if (elapsed >= SLOT_MIN_MS) {
        int i = meter->slot_index;
        meter->sum_ms += elapsed - meter->slot_ms[i];
        meter->sum_frames += frames - meter->slot_frames[i];
        meter->slot_ms[i] = elapsed;
        meter->slot_frames[i] = frames;
        meter->slot_start = now_ms;
        meter->open_frames = 0;
        meter->slot_index = (i + 1) & 7;
        elapsed = 0;
        frames = 0;
    }
    uint64_t total = (uint64_t)meter->sum_ms + elapsed;
    if (total == 0) return 0;
    double rate = (double)(meter->sum_frames + frames) / ((double)total / 1000.0);
    return (uint32_t)(rate + 0.5);
}

uint32_t fps_iteration(fps_meter *meter) { return fps_iteration_at(meter, SDL_GetTicks()); }

uint32_t utf8codepoint(const char **text) {
    const unsigned char *p = (const unsigned char *)*text;
    unsigned char b0 = p[0];
    if (b0 == 0) return 0;
    if (b0 < 0x80) {
        *text += 1;
        return b0;
    }
    if (b0 < 0xC0) {
        *text += 1;
        return UTF8_INVALID;
    }
    int length = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : b0 < 0xF8 ? 4 : b0 < 0xFC ? 5 : 6;
    // A sequence cut short never consumes the byte that stopped it (which may
    // be the terminator).
    for (int i = 1; i < length; ++i)
        if (!is_continuation(p[i])) {
            *text += 1;
            return UTF8_INVALID;
        }
    *text += length;
    uint32_t code;
    switch (length) {
    case 2:
        code = ((uint32_t)(b0 & 0x1F) << 6) | (p[1] & 0x3F);
        return code >= 0x80 ? code : UTF8_INVALID;
    case 3:
        code = ((uint32_t)(b0 & 0x0F) << 12) | ((uint32_t)(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        if (code < 0x800 || code >= 0xFFFE) return UTF8_INVALID;
        // Surrogate halves are not characters.
        if (code >= 0xD800 && code <= 0xDFFF) return UTF8_INVALID;
        return code;
    case 4:
        code = ((uint32_t)(b0 & 0x07) << 18) | ((uint32_t)(p[1] & 0x3F) << 12) | ((uint32_t)(p[2] & 0x3F) << 6) |
               (p[3] & 0x3F);
        return code >= 0x10000 && code < 0x110000 ? code : UTF8_INVALID;
    default:
        return UTF8_INVALID;
    }
}
