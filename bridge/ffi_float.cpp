// FFI.format_float and FFI.parse_float: the saved-state writer and reader
// turn Floats into text and back through the C library, so that a saved
// Float loads back with the same bits.
#include "ffi.h"

#include "float_text.h"

namespace {

mrb_value ffi_format_float(mrb_state *mrb, mrb_value) {
    mrb_float value = 0;
    mrb_get_args(mrb, "f", &value);
    char text[FLOAT_TEXT_SIZE];
    size_t length = float_text_format((double)value, text);
    return mrb_str_new(mrb, text, (mrb_int)length);
}

// nil when the text is not one whole number.
mrb_value ffi_parse_float(mrb_state *mrb, mrb_value) {
    const char *text = nullptr;
    mrb_int length = 0;
    mrb_get_args(mrb, "s", &text, &length);
    double value = 0;
    if (!float_text_parse(text, (size_t)length, &value)) return mrb_nil_value();
    return mrb_float_value(mrb, (mrb_float)value);
}

} // namespace

void ffi_float_methods_define(mrb_state *mrb, RClass *ffi_module) {
    mrb_define_module_function(mrb, ffi_module, "format_float", ffi_format_float, MRB_ARGS_REQ(1));
    mrb_define_module_function(mrb, ffi_module, "parse_float", ffi_parse_float, MRB_ARGS_REQ(1));
}
