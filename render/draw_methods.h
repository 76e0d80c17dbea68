#pragma once

#include "../host/mruby_api.h"

// Gives FFI::Draw its fourteen native methods; each appends one render
// command to the current frame stream and answers nil.
void draw_methods_define(mrb_state *mrb, RClass *draw_class);
