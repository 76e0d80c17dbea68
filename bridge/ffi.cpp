#include "ffi.h"

#include "../render/text_methods.h"

namespace {
game_state *ffi_game_state = nullptr;
render_context *ffi_render_context = nullptr;
} // namespace

void ffi_init(game_state *state, render_context *context) {
    ffi_game_state = state;
    ffi_render_context = context;
    mrb_state *mrb = state->mrb;
    int arena = mrb_gc_arena_save(mrb);
    state->ffi_module = mrb_define_module(mrb, "FFI");
    state->ffi_file_class = mrb_define_class_under(mrb, state->ffi_module, "File", mrb->object_class);
    state->ffi_misc_class = mrb_define_class_under(mrb, state->ffi_module, "Misc", mrb->object_class);
    mrb_define_method(mrb, state->ffi_misc_class, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
    state->ffi_mrb_class = mrb_define_class_under(mrb, state->ffi_module, "MRB", mrb->object_class);
    state->ffi_compiler_class = mrb_define_class_under(mrb, state->ffi_module, "Compiler", mrb->object_class);
    mrb_gc_arena_restore(mrb, arena);
}
