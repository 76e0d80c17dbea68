#include "text_methods.h"

#include "../bridge/ffi.h"
#include "text_measure.h"

mrb_value ffi_misc_calcstringbox(mrb_state *mrb, mrb_value) {
    const char *text = nullptr, *font = nullptr;
    mrb_float size_enum = 0;
    mrb_get_args(mrb, "zfz!", &text, &size_enum, &font);
    float width = 0.0f, height = 0.0f;
    // Single precision, as a label's size travels to the renderer.
    measure_text(ffi_render_context, text, (float)size_enum, font, &width, &height);
    mrb_value box[2] = {mrb_float_value(mrb, width), mrb_float_value(mrb, height)};
    return mrb_ary_new_from_values(mrb, 2, box);
}
