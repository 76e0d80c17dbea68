#pragma once

#include "../host/mruby_api.h"

// FFI::Misc#calcstringbox(text, size_enum, font): [width, height] as Floats.
mrb_value ffi_misc_calcstringbox(mrb_state *mrb, mrb_value self);
