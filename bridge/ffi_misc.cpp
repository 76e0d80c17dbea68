// FFI::Misc's small platform services: text measuring (written in
// render/text_methods.cpp), the clipboard, the window title, the local
// address and the device size, and the HTTP groups' registration. The
// controller-configuration, parser and native-extension groups register from
// ffi_init.
#include "ffi.h"

#include "../render/render_context.h"
#include "../render/text_methods.h"
#include "http_methods.h"
#include "local_address.h"

#include <SDL2/SDL.h>

namespace {

// "" when the clipboard holds no text or cannot be read.
mrb_value misc_getclipboard(mrb_state *mrb, mrb_value) {
    char *text = SDL_GetClipboardText();
    mrb_value result = mrb_str_new_cstr(mrb, text ? text : "");
    SDL_free(text);
    return result;
}

mrb_value misc_set_window_title(mrb_state *mrb, mrb_value) {
    const char *title = nullptr;
    mrb_get_args(mrb, "z", &title);
    if (ffi_render_context && ffi_render_context->window) SDL_SetWindowTitle(ffi_render_context->window, title);
    return mrb_nil_value();
}

mrb_value misc_get_local_ip_address(mrb_state *mrb, mrb_value) {
    char address[64] = {};
    if (!network_get_local_address(address, sizeof(address))) return mrb_nil_value();
    return mrb_str_new_cstr(mrb, address);
}

// The size the window had right after it was made: later resizes and
// fullscreen do not change it.
mrb_value misc_device_size(mrb_state *mrb, mrb_value) {
    int32_t width = ffi_render_context ? ffi_render_context->window_width : 0;
    int32_t height = ffi_render_context ? ffi_render_context->window_height : 0;
    mrb_value size[2] = {mrb_float_value(mrb, width), mrb_float_value(mrb, height)};
    return mrb_ary_new_from_values(mrb, 2, size);
}

} // namespace

void ffi_misc_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
    mrb_define_method(mrb, misc_class, "getclipboard", misc_getclipboard, MRB_ARGS_NONE());
    mrb_define_method(mrb, misc_class, "set_window_title", misc_set_window_title, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "get_local_ip_address", misc_get_local_ip_address, MRB_ARGS_NONE());
    mrb_define_method(mrb, misc_class, "device_size", misc_device_size, MRB_ARGS_NONE());
    http_client_methods_define(mrb, misc_class);
    http_server_methods_define(mrb, misc_class);
}
