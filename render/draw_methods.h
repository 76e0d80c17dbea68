#pragma once

#include "../host/threadstream_ruby.h"
#include "frame_stream.h"

// Gives FFI::Draw its fourteen native methods; each appends one render
// command to the current frame stream and answers nil.
void draw_methods_define(mrb_state *mrb, RClass *draw_class);

// A sprite's values in the order draw_sprite_3 takes them (the path fifth,
// alpha before red, the anchors before the source rectangle).
enum sprite_argument {
    SPRITE_X, SPRITE_Y, SPRITE_W, SPRITE_H, SPRITE_PATH, SPRITE_ANGLE, SPRITE_A, SPRITE_R, SPRITE_G, SPRITE_B,
    SPRITE_TILE_X, SPRITE_TILE_Y, SPRITE_TILE_W, SPRITE_TILE_H, SPRITE_FLIP_H, SPRITE_FLIP_V, SPRITE_ANCHOR_X,
    SPRITE_ANCHOR_Y, SPRITE_SOURCE_X, SPRITE_SOURCE_Y, SPRITE_SOURCE_W, SPRITE_SOURCE_H, SPRITE_ARGUMENTS
};

// The sprite command for those values, each field's default standing in for
// a value that is not a number (a path that is not a String is empty). The
// path's bytes belong to the String. Inline: the sprite walk's fast path
// converts thousands of sprites a frame.
inline sprite_command sprite_command_from_ruby(const mrb_value *v) {
    sprite_command c;
    c.path = mrb_string_p(v[SPRITE_PATH]) ? threadstream_ruby_text(v[SPRITE_PATH]) : threadstream_text{"", 0};
    c.x = threadstream_ruby_float(v[SPRITE_X], 0.0f);
    c.y = threadstream_ruby_float(v[SPRITE_Y], 0.0f);
    c.w = threadstream_ruby_float(v[SPRITE_W], 0.0f);
    c.h = threadstream_ruby_float(v[SPRITE_H], 0.0f);
    c.angle = threadstream_ruby_float(v[SPRITE_ANGLE], 0.0f);
    c.r = threadstream_ruby_int(v[SPRITE_R], 255);
    c.g = threadstream_ruby_int(v[SPRITE_G], 255);
    c.b = threadstream_ruby_int(v[SPRITE_B], 255);
    c.a = threadstream_ruby_int(v[SPRITE_A], 255);
    c.tile_x = threadstream_ruby_float(v[SPRITE_TILE_X], 0.0f);
    c.tile_y = threadstream_ruby_float(v[SPRITE_TILE_Y], 0.0f);
    c.tile_w = threadstream_ruby_float(v[SPRITE_TILE_W], -1.0f);
    c.tile_h = threadstream_ruby_float(v[SPRITE_TILE_H], -1.0f);
    c.source_x = threadstream_ruby_float(v[SPRITE_SOURCE_X], 0.0f);
    c.source_y = threadstream_ruby_float(v[SPRITE_SOURCE_Y], 0.0f);
    c.source_w = threadstream_ruby_float(v[SPRITE_SOURCE_W], -1.0f);
    c.source_h = threadstream_ruby_float(v[SPRITE_SOURCE_H], -1.0f);
    c.flip_horizontally = mrb_test(v[SPRITE_FLIP_H]) ? 1 : 0;
    c.flip_vertically = mrb_test(v[SPRITE_FLIP_V]) ? 1 : 0;
    c.angle_anchor_x = threadstream_ruby_float(v[SPRITE_ANCHOR_X], 0.5f);
    c.angle_anchor_y = threadstream_ruby_float(v[SPRITE_ANCHOR_Y], 0.5f);
    return c;
}

// A label's values in the order draw_label takes them.
enum label_argument {
    LABEL_X, LABEL_Y, LABEL_TEXT, LABEL_SIZE_ENUM, LABEL_ALIGNMENT_ENUM, LABEL_R, LABEL_G, LABEL_B, LABEL_A, LABEL_FONT,
    LABEL_ARGUMENTS
};

// The label command for those values, as sprite_command_from_ruby does for
// sprites; a text that is not a String is empty, a font that is not one
// absent (the default font).
inline label_command label_command_from_ruby(const mrb_value *v) {
    label_command c;
    c.x = threadstream_ruby_float(v[LABEL_X], 0.0f);
    c.y = threadstream_ruby_float(v[LABEL_Y], 0.0f);
    c.text = mrb_string_p(v[LABEL_TEXT]) ? threadstream_ruby_text(v[LABEL_TEXT]) : threadstream_text{"", 0};
    c.font = threadstream_ruby_text(v[LABEL_FONT]);
    c.size_enum = threadstream_ruby_float(v[LABEL_SIZE_ENUM], 0.0f);
    c.alignment_enum = threadstream_ruby_int(v[LABEL_ALIGNMENT_ENUM], 0);
    c.r = threadstream_ruby_int(v[LABEL_R], 0);
    c.g = threadstream_ruby_int(v[LABEL_G], 0);
    c.b = threadstream_ruby_int(v[LABEL_B], 0);
    c.a = threadstream_ruby_int(v[LABEL_A], 255);
    return c;
}
