// Ruby values into thread-stream fields. Numbers are taken by their type tag
// alone: an Integer or a Float gives the field its value, anything else the
// field's default. Kept inline: the sprite walk converts 21 fields a sprite.
#pragma once

#include "mruby_api.h"
#include "threadstream.h"

#include <cmath>

// A float field: Floats narrowed, Integers converted.
inline float threadstream_ruby_float(mrb_value value, float fallback) {
    if (mrb_float_p(value)) return (float)mrb_float(value);
    if (mrb_integer_p(value)) return (float)mrb_integer(value);
    return fallback;
}

// An int field: Integers keep their low 32 bits, Floats truncate toward zero
// and saturate (NaN gives 0).
inline int32_t threadstream_ruby_int(mrb_value value, int32_t fallback) {
    if (mrb_integer_p(value)) return (int32_t)(uint32_t)mrb_integer(value);
    if (!mrb_float_p(value)) return fallback;
    double d = mrb_float(value);
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return (int32_t)d;
}

// A string field: a String's bytes (NULs included); anything else is the
// absent form, like nil, so a caller's mistake cannot desynchronise the
// stream. The bytes belong to the String.
inline threadstream_text threadstream_ruby_text(mrb_value value) {
    if (!mrb_string_p(value)) return {nullptr, 0};
    const char *bytes = RSTRING_PTR(value);
    return {bytes ? bytes : "", (uint64_t)RSTRING_LEN(value)};
}

int threadstream_pack_ruby_int(threadstream *stream, mrb_value value);
int threadstream_pack_ruby_int_or_default(threadstream *stream, mrb_value value, int32_t fallback);
int threadstream_pack_ruby_float(threadstream *stream, mrb_value value);
int threadstream_pack_ruby_float_or_default(threadstream *stream, mrb_value value, float fallback);
int threadstream_pack_ruby_string(threadstream *stream, mrb_value value);
