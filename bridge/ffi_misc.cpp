// FFI::Misc: small platform services. Each group of its methods (text
// measuring, controllers, parsers, window, HTTP, native extensions) lives in a
// file of its own and is registered here, in the class's method order.
#include "ffi.h"

#include "../render/text_methods.h"
#include "http_methods.h"

void ffi_misc_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
    http_client_methods_define(mrb, misc_class);
    http_server_methods_define(mrb, misc_class);
}
