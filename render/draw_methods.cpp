// FFI::Draw: the Ruby side's only way to emit render commands. Arguments are
// converted by their type tag alone (Integer or Float, anything else gives
// the field's default) and written straight into the current frame stream.
#include "draw_methods.h"

#include "../host/engine.h"
#include "../host/threadstream_ruby.h"
#include "frame_stream.h"
#include "sprite_fast_path.h"

namespace {

constexpr float NO_TILE[4] = {0.0f, 0.0f, -1.0f, -1.0f};

void pack_f(mrb_value value, float fallback) {
    threadstream_pack_ruby_float_or_default(current_frame_stream, value, fallback);
}

void pack_i(mrb_value value, int32_t fallback) {
    threadstream_pack_ruby_int_or_default(current_frame_stream, value, fallback);
}

void pack_word(int32_t value) { threadstream_pack_int(current_frame_stream, value); }

void pack_float(float value) { threadstream_pack_float(current_frame_stream, value); }

void pack_rect_command(int32_t opcode, const mrb_value *v) {
    pack_word(opcode);
    for (int i = 0; i < 4; ++i) pack_f(v[i], 0.0f);
    for (int i = 4; i < 7; ++i) pack_i(v[i], 0);
    pack_i(v[7], 255);
}

// The fields every sprite shares from the tile rectangle on, when the caller
// gives none of them.
void pack_plain_sprite_tail() {
    for (float f : NO_TILE) pack_float(f); // tile
    for (float f : NO_TILE) pack_float(f); // source
    pack_word(0);
    pack_word(0);
    pack_float(0.5f);
    pack_float(0.5f);
}

mrb_value ffi_draw_solid(mrb_state *mrb, mrb_value) {
    mrb_value v[8];
    mrb_get_args(mrb, "oooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    pack_rect_command(RENDER_CMD_SOLID, v);
    return mrb_nil_value();
}

mrb_value ffi_draw_border(mrb_state *mrb, mrb_value) {
    mrb_value v[8];
    mrb_get_args(mrb, "oooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    pack_rect_command(RENDER_CMD_BORDER, v);
    return mrb_nil_value();
}

mrb_value ffi_draw_line(mrb_state *mrb, mrb_value) {
    mrb_value v[8];
    mrb_get_args(mrb, "oooooooo", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    pack_rect_command(RENDER_CMD_LINE, v);
    return mrb_nil_value();
}

mrb_value ffi_draw_sprite(mrb_state *mrb, mrb_value) {
    mrb_value x, y, w, h, path;
    mrb_get_args(mrb, "ooooS", &x, &y, &w, &h, &path);
    pack_word(RENDER_CMD_SPRITE);
    threadstream_pack_ruby_string(current_frame_stream, path);
    pack_f(x, 0.0f);
    pack_f(y, 0.0f);
    pack_f(w, 0.0f);
    pack_f(h, 0.0f);
    pack_float(0.0f);
    for (int i = 0; i < 4; ++i) pack_word(255);
    pack_plain_sprite_tail();
    return mrb_nil_value();
}

mrb_value ffi_draw_sprite_2(mrb_state *mrb, mrb_value) {
    mrb_value x, y, w, h, path, angle, a;
    mrb_get_args(mrb, "ooooSoo", &x, &y, &w, &h, &path, &angle, &a);
    pack_word(RENDER_CMD_SPRITE);
    threadstream_pack_ruby_string(current_frame_stream, path);
    pack_f(x, 0.0f);
    pack_f(y, 0.0f);
    pack_f(w, 0.0f);
    pack_f(h, 0.0f);
    pack_f(angle, 0.0f);
    for (int i = 0; i < 3; ++i) pack_word(255);
    pack_i(a, 255);
    pack_plain_sprite_tail();
    return mrb_nil_value();
}

mrb_value ffi_draw_sprite_3(mrb_state *mrb, mrb_value) {
    mrb_value x, y, w, h, path, angle, a, r, g, b, tile_x, tile_y, tile_w, tile_h, anchor_x, anchor_y, source_x,
        source_y, source_w, source_h;
    mrb_bool flip_h = false, flip_v = false;
    mrb_get_args(mrb, "ooooSooooooooobboooooo", &x, &y, &w, &h, &path, &angle, &a, &r, &g, &b, &tile_x, &tile_y,
                 &tile_w, &tile_h, &flip_h, &flip_v, &anchor_x, &anchor_y, &source_x, &source_y, &source_w,
                 &source_h);
    pack_word(RENDER_CMD_SPRITE);
    threadstream_pack_ruby_string(current_frame_stream, path);
    pack_f(x, 0.0f);
    pack_f(y, 0.0f);
    pack_f(w, 0.0f);
    pack_f(h, 0.0f);
    pack_f(angle, 0.0f);
    // Alpha is passed before red and packed after blue.
    pack_i(r, 255);
    pack_i(g, 255);
    pack_i(b, 255);
    pack_i(a, 255);
    pack_f(tile_x, 0.0f);
    pack_f(tile_y, 0.0f);
    pack_f(tile_w, -1.0f);
    pack_f(tile_h, -1.0f);
    // The source rectangle is passed after the anchors and packed before the flips.
    pack_f(source_x, 0.0f);
    pack_f(source_y, 0.0f);
    pack_f(source_w, -1.0f);
    pack_f(source_h, -1.0f);
    pack_word(flip_h ? 1 : 0);
    pack_word(flip_v ? 1 : 0);
    pack_f(anchor_x, 0.5f);
    pack_f(anchor_y, 0.5f);
    return mrb_nil_value();
}

mrb_value ffi_draw_label(mrb_state *mrb, mrb_value) {
    mrb_value x, y, text, size_enum, alignment, r, g, b, a, font;
    mrb_get_args(mrb, "ooSooooooo", &x, &y, &text, &size_enum, &alignment, &r, &g, &b, &a, &font);
    pack_word(RENDER_CMD_LABEL);
    pack_f(x, 0.0f);
    pack_f(y, 0.0f);
    threadstream_pack_ruby_string(current_frame_stream, text);
    threadstream_pack_ruby_string(current_frame_stream, font);
    pack_f(size_enum, 0.0f);
    pack_i(alignment, 0);
    pack_i(r, 0);
    pack_i(g, 0);
    pack_i(b, 0);
    pack_i(a, 255);
    return mrb_nil_value();
}

mrb_value ffi_draw_screenshot(mrb_state *mrb, mrb_value) {
    mrb_value path, x, y, w, h, angle, a, r, g, b, unused[12];
    mrb_bool flip_h = false, flip_v = false;
    mrb_get_args(mrb, "Sooooooooooooobboooooo", &path, &x, &y, &w, &h, &angle, &a, &r, &g, &b, &unused[0],
                 &unused[1], &unused[2], &unused[3], &flip_h, &flip_v, &unused[4], &unused[5], &unused[6],
                 &unused[7], &unused[8], &unused[9]);
    pack_word(RENDER_CMD_SCREENSHOT);
    threadstream_pack_ruby_string(current_frame_stream, path);
    pack_f(x, 0.0f);
    pack_f(y, 0.0f);
    pack_f(w, 0.0f);
    pack_f(h, 0.0f);
    pack_i(angle, 0); // the colour tolerance
    pack_i(r, 0);
    pack_i(g, 0);
    pack_i(b, 0);
    pack_i(a, 0); // the alpha given to pixels of the key colour
    return mrb_nil_value();
}

mrb_value ffi_draw_set_grid(mrb_state *mrb, mrb_value) {
    mrb_float origin_x = 0, origin_y = 0;
    mrb_int direction = 0;
    mrb_get_args(mrb, "ffi", &origin_x, &origin_y, &direction);
    pack_word(RENDER_CMD_SET_GRID);
    pack_float((float)origin_x);
    pack_float((float)origin_y);
    pack_word((int32_t)(uint32_t)direction);
    return mrb_nil_value();
}

mrb_value pack_string_command(mrb_state *mrb, int32_t opcode) {
    const char *text = nullptr;
    mrb_get_args(mrb, "z", &text);
    pack_word(opcode);
    threadstream_pack_string(current_frame_stream, text);
    return mrb_nil_value();
}

mrb_value ffi_draw_unload_sprite(mrb_state *mrb, mrb_value) { return pack_string_command(mrb, RENDER_CMD_UNLOAD_SPRITE); }

mrb_value ffi_draw_openurl(mrb_state *mrb, mrb_value) { return pack_string_command(mrb, RENDER_CMD_OPEN_URL); }

mrb_value pack_flag_command(mrb_state *mrb, int32_t opcode) {
    mrb_bool flag = false;
    mrb_get_args(mrb, "b", &flag);
    pack_word(opcode);
    pack_word(flag ? 1 : 0);
    return mrb_nil_value();
}

mrb_value ffi_draw_toggle_cursor(mrb_state *mrb, mrb_value) { return pack_flag_command(mrb, RENDER_CMD_TOGGLE_CURSOR); }

mrb_value ffi_draw_toggle_fullscreen(mrb_state *mrb, mrb_value) {
    return pack_flag_command(mrb, RENDER_CMD_TOGGLE_FULLSCREEN);
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
    pack_word(RENDER_CMD_UPLOAD_PIXEL_ARRAY);
    threadstream_pack_string(current_frame_stream, name);
    pack_word((int32_t)width);
    pack_word((int32_t)height);
    threadstream_pack_buffer(current_frame_stream, block, pixels * 4);
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
    sprite_fast_path_define(mrb, draw_class);
    mrb_gc_arena_restore(mrb, arena);
}
