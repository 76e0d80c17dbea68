#pragma once

#include "../host/mruby_api.h"

// Gives FFI::Draw the framework-internal methods behind the sprite and label
// walks' fast path: `__sprite_fast_path_check__` (once per render pass),
// `__draw_sprites__(collection, index)` and `__draw_labels__(collection,
// index)`. Must run after the framework has
// loaded and before any game code, since it records the framework's own
// attribute readers as the ones the fast path may stand in for.
void sprite_fast_path_methods_define(mrb_state *mrb, RClass *draw_class);
