#include "ffi.h"

#include "../host/host_call.h"
#include "controller_config_methods.h"

game_state *ffi_game_state = nullptr;
render_context *ffi_render_context = nullptr;

namespace {

RClass *ffi_cptr_class = nullptr;

// The wrapped record belongs to the native side, so collection frees nothing.
void cptr_free(mrb_state *, void *) {}

const mrb_data_type cptr_type = {"CPtr", cptr_free};

mrb_value cptr_initialize(mrb_state *mrb, mrb_value self) {
    (void)mrb;
    mrb_data_init(self, nullptr, &cptr_type);
    return self;
}

// Element i, counting from the end when negative; nil outside the array. Never
// raises for the index and never grows the array.
mrb_value array_value(mrb_state *mrb, mrb_value self) {
    mrb_int index = 0;
    mrb_get_args(mrb, "i", &index);
    mrb_int length = RARRAY_LEN(self);
    if (index < 0) index += length;
    if (index < 0 || index >= length) return mrb_nil_value();
    return RARRAY_PTR(self)[index];
}

} // namespace

extern "C" mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer) {
    if (!ffi_cptr_class) return mrb_nil_value();
    mrb_value object = host_call(mrb, mrb_obj_value(ffi_cptr_class), "new");
    // A game may have redefined new or initialize; only a data object of the
    // class can carry the pointer.
    if (!mrb_data_p(object) || mrb_obj_class(mrb, object) != ffi_cptr_class) return mrb_nil_value();
    mrb_data_init(object, pointer, &cptr_type);
    return object;
}

void *ffi_cptr_get(mrb_state *mrb, mrb_value object) {
    (void)mrb;
    if (!mrb_data_p(object) || DATA_TYPE(object) != &cptr_type) return nullptr;
    return DATA_PTR(object);
}

void ffi_init(game_state *state, render_context *context) {
    ffi_game_state = state;
    ffi_render_context = context;
    mrb_state *mrb = state->mrb;
    RClass *object = mrb->object_class;
    int arena = mrb_gc_arena_save(mrb);

    state->ffi_module = mrb_define_module(mrb, "FFI");
    ffi_saved_text_methods_define(mrb, state->ffi_module);
    ffi_entity_accessor_methods_define(mrb, state->ffi_module);
    ffi_replay_text_methods_define(mrb, state->ffi_module);
    mrb_gc_arena_restore(mrb, arena);

    state->ffi_file_class = mrb_define_class_under(mrb, state->ffi_module, "File", object);
    ffi_file_methods_define(mrb, state->ffi_file_class);
    mrb_gc_arena_restore(mrb, arena);

    state->ffi_misc_class = mrb_define_class_under(mrb, state->ffi_module, "Misc", object);
    ffi_misc_methods_define(mrb, state->ffi_misc_class);
    controller_config_methods_define(mrb, state->ffi_misc_class);
    xml_methods_define(mrb, state->ffi_misc_class);
    json_methods_define(mrb, state->ffi_misc_class);
    native_ext_methods_define(mrb, state->ffi_misc_class);
    mrb_gc_arena_restore(mrb, arena);

    state->ffi_mrb_class = mrb_define_class_under(mrb, state->ffi_module, "MRB", object);
    ffi_mrb_methods_define(mrb, state->ffi_mrb_class);
    mrb_gc_arena_restore(mrb, arena);

    ffi_cptr_class = mrb_define_class_under(mrb, state->ffi_module, "CPtr", object);
    MRB_SET_INSTANCE_TT(ffi_cptr_class, MRB_TT_DATA);
    mrb_define_method(mrb, ffi_cptr_class, "initialize", cptr_initialize, MRB_ARGS_NONE());
    mrb_gc_arena_restore(mrb, arena);

    state->ffi_compiler_class = mrb_define_class_under(mrb, state->ffi_module, "Compiler", object);
    ffi_compiler_methods_define(mrb, state->ffi_compiler_class);
    mrb_gc_arena_restore(mrb, arena);

    mrb_define_method(mrb, mrb->array_class, "value", array_value, MRB_ARGS_REQ(1));
    mrb_gc_arena_restore(mrb, arena);
}
