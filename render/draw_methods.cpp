#include "draw_methods.h"

namespace {

mrb_value draw_not_ready(mrb_state *, mrb_value) { return mrb_nil_value(); }

} // namespace

void draw_methods_define(mrb_state *mrb, RClass *draw_class) {
    static const char *const names[] = {
        "draw_solid", "draw_sprite",     "draw_sprite_2", "draw_sprite_3",     "draw_label",
        "draw_line",  "draw_border",     "draw_screenshot", "set_grid",        "unload_sprite",
        "toggle_cursor", "toggle_fullscreen", "upload_pixel_array", "openurl",
    };
    for (const char *name : names) mrb_define_method(mrb, draw_class, name, draw_not_ready, MRB_ARGS_ANY());
}
