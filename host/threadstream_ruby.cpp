// Thread-stream packers that take Ruby values (frame header, pass headers and
// the draw methods use them).
#include "threadstream_ruby.h"

#include <cmath>

namespace {

int32_t saturate_to_int32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return (int32_t)value; // truncates toward zero
}

} // namespace

int threadstream_pack_ruby_int_or_default(threadstream *stream, mrb_value value, int32_t fallback) {
    if (mrb_integer_p(value)) return threadstream_pack_int(stream, (int32_t)(uint32_t)mrb_integer(value));
    if (mrb_float_p(value)) return threadstream_pack_int(stream, saturate_to_int32(mrb_float(value)));
    return threadstream_pack_int(stream, fallback);
}

int threadstream_pack_ruby_int(threadstream *stream, mrb_value value) {
    return threadstream_pack_ruby_int_or_default(stream, value, 0);
}

int threadstream_pack_ruby_float_or_default(threadstream *stream, mrb_value value, float fallback) {
    if (mrb_float_p(value)) return threadstream_pack_float(stream, (float)mrb_float(value));
    if (mrb_integer_p(value)) return threadstream_pack_float(stream, (float)mrb_integer(value));
    return threadstream_pack_float(stream, fallback);
}

int threadstream_pack_ruby_float(threadstream *stream, mrb_value value) {
    return threadstream_pack_ruby_float_or_default(stream, value, 0.0f);
}

int threadstream_pack_ruby_string(threadstream *stream, mrb_value value) {
    // Only nil and Strings are meaningful here; anything else is packed as
    // absent, like nil, so a caller's mistake cannot desynchronise the stream.
    if (!mrb_string_p(value)) return threadstream_pack_buffer(stream, nullptr, 0);
    const char *bytes = RSTRING_PTR(value);
    return threadstream_pack_buffer(stream, bytes ? bytes : "", (uint64_t)RSTRING_LEN(value));
}
