// The five drawing commands of a render pass and the grid transform that maps
// the game's logical coordinates onto the renderer's current target. Main
// thread only.
#pragma once

#include <cstdint>

struct render_context;

struct grid_rect {
    float x, y, w, h;
};

// Logical rectangle to renderer coordinates (all zero until a grid is set).
grid_rect grid_map_rect(const render_context *context, float x, float y, float w, float h);
// Logical point to renderer coordinates.
void grid_map_point(const render_context *context, float x, float y, float *out_x, float *out_y);
// Truncation toward zero that saturates instead of overflowing (NaN gives 0).
int render_trunc(float value);
uint8_t clamp_channel(int32_t value);
// Glyph pixel size of a label: trunc(2 * size_enum) + 22, kept to 1..255 so
// that it fits the glyph key.
uint32_t label_pixel_size(float size_enum);

void draw_solid_command(render_context *context, float x, float y, float w, float h, int32_t r, int32_t g, int32_t b,
                        int32_t a);
void draw_border_command(render_context *context, float x, float y, float w, float h, int32_t r, int32_t g,
                         int32_t b, int32_t a);
void draw_line_command(render_context *context, float x, float y, float x2, float y2, int32_t r, int32_t g,
                       int32_t b, int32_t a);

struct sprite_command {
    const char *path; // NULL: the fallback texture
    float x, y, w, h;
    float angle;
    int32_t r, g, b, a;
    float tile_x, tile_y, tile_w, tile_h;
    float source_x, source_y, source_w, source_h;
    uint32_t flip_horizontally, flip_vertically;
    float angle_anchor_x, angle_anchor_y;
};
void draw_sprite_command(render_context *context, const sprite_command *sprite);

struct label_command {
    float x, y;
    const char *text; // NULL draws nothing
    const char *font; // NULL: the default font
    float size_enum;
    int32_t alignment_enum; // 0 left, 1 centre, 2 right
    int32_t r, g, b, a;
};
void draw_label_command(render_context *context, const label_command *label);
