#pragma once

#include "../host/mruby_api.h"

// FFI::Misc#calcstringbox(text, size_enum, font): [width, height] as Floats,
// for a label of that text, size_enum (an Integer or a Float) and font (a
// file name, or nil for the default font).
mrb_value ffi_misc_calcstringbox(mrb_state *mrb, mrb_value self);
