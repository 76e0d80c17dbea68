#pragma once

#include "mruby_api.h"
#include "threadstream.h"

int threadstream_pack_ruby_int(threadstream *stream, mrb_value value);
int threadstream_pack_ruby_int_or_default(threadstream *stream, mrb_value value, int32_t fallback);
int threadstream_pack_ruby_float(threadstream *stream, mrb_value value);
int threadstream_pack_ruby_float_or_default(threadstream *stream, mrb_value value, float fallback);
int threadstream_pack_ruby_string(threadstream *stream, mrb_value value);
