#pragma once

#include "../host/mruby_api.h"

// Gives FFI::Draw its native methods; each appends render commands to the
// current frame stream.
void draw_methods_define(mrb_state *mrb, RClass *draw_class);
