// FFI::Misc's own methods: text measuring (written in render/text_methods.cpp).
// The controller-configuration group registers from its own file; ffi_init
// calls both.
#include "ffi.h"

#include "../render/text_methods.h"

void ffi_misc_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
}
