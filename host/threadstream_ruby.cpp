// Thread-stream packers that take Ruby values, one field at a time.
#include "threadstream_ruby.h"

int threadstream_pack_ruby_int_or_default(threadstream *stream, mrb_value value, int32_t fallback) {
    return threadstream_pack_int(stream, threadstream_ruby_int(value, fallback));
}

int threadstream_pack_ruby_int(threadstream *stream, mrb_value value) {
    return threadstream_pack_ruby_int_or_default(stream, value, 0);
}

int threadstream_pack_ruby_float_or_default(threadstream *stream, mrb_value value, float fallback) {
    return threadstream_pack_float(stream, threadstream_ruby_float(value, fallback));
}

int threadstream_pack_ruby_float(threadstream *stream, mrb_value value) {
    return threadstream_pack_ruby_float_or_default(stream, value, 0.0f);
}

int threadstream_pack_ruby_string(threadstream *stream, mrb_value value) {
    return threadstream_pack_text(stream, threadstream_ruby_text(value));
}
