// FFI::Misc: small platform services. Each group of its methods (text
// measuring, controllers, parsers, window, HTTP, native extensions) lives in a
// file of its own and is registered here, in the class's method order.
#include "ffi.h"

void ffi_misc_methods_define(mrb_state *mrb, RClass *misc_class) {
    (void)mrb;
    (void)misc_class;
}
