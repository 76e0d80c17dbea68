// FFI::Compiler: listings of what the interpreter makes of Ruby source.
#include "ffi.h"

void ffi_compiler_methods_define(mrb_state *mrb, RClass *compiler_class) {
    (void)mrb;
    (void)compiler_class;
}
