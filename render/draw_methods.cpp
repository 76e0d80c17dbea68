// FFI::Draw: the Ruby side's only way to emit render commands. Arguments are
// converted by their type tag alone (Integer or Float, anything else gives
// the field's default) into a command record, which the frame stream's
// writer appends to the current frame stream.
#include "draw_methods.h"

#include "../host/engine.h"
#include "sprite_fast_path.h"

namespace {

float num(mrb_value value, float fallback) { return threadstream_ruby_float(value, fallback); }
int32_t word(mrb_value value, int32_t fallback) { return threadstream_ruby_int(value, fallback); }

mrb_value write_shape(mrb_state *mrb, int32_t opcode) {
    mrb_value v[8];
    mrb_get_args(mrb, "oooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    shape_command c = {num(v[0], 0), num(v[1], 0), num(v[2], 0), num(v[3], 0),
                       word(v[4], 0), word(v[5], 0), word(v[6], 0), word(v[7], 255)};
    frame_write_shape(current_frame_stream, opcode, &c);
    return mrb_nil_value();
}

mrb_value ffi_draw_solid(mrb_state *mrb, mrb_value) { return write_shape(mrb, RENDER_CMD_SOLID); }
mrb_value ffi_draw_border(mrb_state *mrb, mrb_value) { return write_shape(mrb, RENDER_CMD_BORDER); }
mrb_value ffi_draw_line(mrb_state *mrb, mrb_value) { return write_shape(mrb, RENDER_CMD_LINE); }

// The three sprite methods take the leading values of draw_sprite_3's list;
// the rest are nil and take their defaults.
mrb_value write_sprite(mrb_value *v) {
    sprite_command c = sprite_command_from_ruby(v);
    frame_write_sprite(current_frame_stream, &c);
    return mrb_nil_value();
}

struct sprite_arguments {
    mrb_value v[SPRITE_ARGUMENTS];
    sprite_arguments() {
        for (mrb_value &value : v) value = mrb_nil_value();
    }
};

mrb_value ffi_draw_sprite(mrb_state *mrb, mrb_value) {
    sprite_arguments s;
    mrb_get_args(mrb, "ooooS", &s.v[0], &s.v[1], &s.v[2], &s.v[3], &s.v[4]);
    return write_sprite(s.v);
}

mrb_value ffi_draw_sprite_2(mrb_state *mrb, mrb_value) {
    sprite_arguments s;
    mrb_get_args(mrb, "ooooSoo", &s.v[0], &s.v[1], &s.v[2], &s.v[3], &s.v[4], &s.v[5], &s.v[6]);
    return write_sprite(s.v);
}

mrb_value ffi_draw_sprite_3(mrb_state *mrb, mrb_value) {
    mrb_value v[SPRITE_ARGUMENTS];
    mrb_get_args(mrb, "ooooSooooooooooooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8],
                 &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16], &v[17], &v[18], &v[19], &v[20],
                 &v[21]);
    return write_sprite(v);
}

mrb_value ffi_draw_label(mrb_state *mrb, mrb_value) {
    mrb_value v[LABEL_ARGUMENTS];
    mrb_get_args(mrb, "ooSooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
    label_command c = label_command_from_ruby(v);
    frame_write_label(current_frame_stream, &c);
    return mrb_nil_value();
}

// Takes a screenshot primitive's sprite-shaped list; the angle is the
// colour tolerance, the colour the key and the alpha what keyed pixels get.
mrb_value ffi_draw_screenshot(mrb_state *mrb, mrb_value) {
    mrb_value v[SPRITE_ARGUMENTS];
    mrb_bool flip_h = false, flip_v = false;
    mrb_get_args(mrb, "Sooooooooooooobboooooo", &v[SPRITE_PATH], &v[0], &v[1], &v[2], &v[3], &v[5], &v[6], &v[7],
                 &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &flip_h, &flip_v, &v[16], &v[17], &v[18], &v[19],
                 &v[20], &v[21]);
    screenshot_command c = {threadstream_ruby_text(v[SPRITE_PATH]),
                            num(v[SPRITE_X], 0),
                            num(v[SPRITE_Y], 0),
                            num(v[SPRITE_W], 0),
                            num(v[SPRITE_H], 0),
                            word(v[SPRITE_ANGLE], 0),
                            word(v[SPRITE_R], 0),
                            word(v[SPRITE_G], 0),
                            word(v[SPRITE_B], 0),
                            word(v[SPRITE_A], 0)};
    frame_write_screenshot(current_frame_stream, &c);
    return mrb_nil_value();
}

mrb_value ffi_draw_set_grid(mrb_state *mrb, mrb_value) {
    mrb_float origin_x = 0, origin_y = 0;
    mrb_int direction = 0;
    mrb_get_args(mrb, "ffi", &origin_x, &origin_y, &direction);
    set_grid_command c = {(float)origin_x, (float)origin_y, (int32_t)(uint32_t)direction};
    frame_write_set_grid(current_frame_stream, &c);
    return mrb_nil_value();
}

mrb_value write_text_command(mrb_state *mrb, int32_t opcode) {
    const char *text = nullptr;
    mrb_get_args(mrb, "z", &text);
    frame_write_text_command(current_frame_stream, opcode, {text, SDL_strlen(text)});
    return mrb_nil_value();
}

mrb_value ffi_draw_unload_sprite(mrb_state *mrb, mrb_value) { return write_text_command(mrb, RENDER_CMD_UNLOAD_SPRITE); }
mrb_value ffi_draw_openurl(mrb_state *mrb, mrb_value) { return write_text_command(mrb, RENDER_CMD_OPEN_URL); }

mrb_value write_flag_command(mrb_state *mrb, int32_t opcode) {
    mrb_bool flag = false;
    mrb_get_args(mrb, "b", &flag);
    frame_write_flag_command(current_frame_stream, opcode, flag ? 1 : 0);
    return mrb_nil_value();
}

mrb_value ffi_draw_toggle_cursor(mrb_state *mrb, mrb_value) { return write_flag_command(mrb, RENDER_CMD_TOGGLE_CURSOR); }
mrb_value ffi_draw_toggle_fullscreen(mrb_state *mrb, mrb_value) {
    return write_flag_command(mrb, RENDER_CMD_TOGGLE_FULLSCREEN);
}

mrb_value ffi_draw_upload_pixel_array(mrb_state *mrb, mrb_value) {
    const char *name = nullptr;
    mrb_int width = 0, height = 0;
    const mrb_value *elements = nullptr;
    mrb_int length = 0;
    mrb_get_args(mrb, "ziia", &name, &width, &height, &elements, &length);
    // Sizes in 64 bits: the array must hold at least width x height pixels,
    // so the buffer never reaches past it, and the byte count must fit one
    // stream item. Extra elements are left out.
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return mrb_nil_value();
    uint64_t pixels = (uint64_t)width * (uint64_t)height;
    if (pixels > (uint64_t)length || pixels * 4 > THREADSTREAM_MAX_ITEM) return mrb_nil_value();
    if (!current_frame_stream) return mrb_nil_value();
    uint32_t *block = (uint32_t *)SDL_malloc((size_t)pixels * 4);
    if (!block) return mrb_nil_value();
    for (uint64_t i = 0; i < pixels; ++i)
        block[i] = mrb_integer_p(elements[i]) ? (uint32_t)mrb_integer(elements[i]) : 0;
    pixel_array_command c = {{name, SDL_strlen(name)}, (int32_t)width, (int32_t)height,
                             {(const char *)block, pixels * 4}};
    frame_write_pixel_array(current_frame_stream, &c);
    SDL_free(block);
    return mrb_nil_value();
}

} // namespace

void draw_methods_define(mrb_state *mrb, RClass *draw_class) {
    struct method {
        const char *name;
        mrb_func_t function;
        int arguments;
    };
    static const method methods[] = {
        {"draw_solid", ffi_draw_solid, 8},
        {"draw_sprite", ffi_draw_sprite, 5},
        {"draw_sprite_2", ffi_draw_sprite_2, 7},
        {"draw_sprite_3", ffi_draw_sprite_3, 22},
        {"draw_label", ffi_draw_label, 10},
        {"draw_line", ffi_draw_line, 8},
        {"draw_border", ffi_draw_border, 8},
        {"draw_screenshot", ffi_draw_screenshot, 22},
        {"set_grid", ffi_draw_set_grid, 3},
        {"unload_sprite", ffi_draw_unload_sprite, 1},
        {"toggle_cursor", ffi_draw_toggle_cursor, 1},
        {"toggle_fullscreen", ffi_draw_toggle_fullscreen, 1},
        {"upload_pixel_array", ffi_draw_upload_pixel_array, 4},
        {"openurl", ffi_draw_openurl, 1},
    };
    int arena = mrb_gc_arena_save(mrb);
    for (const method &m : methods) mrb_define_method(mrb, draw_class, m.name, m.function, MRB_ARGS_REQ(m.arguments));
    sprite_fast_path_methods_define(mrb, draw_class);
    mrb_gc_arena_restore(mrb, arena);
}
