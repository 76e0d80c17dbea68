// The five drawing commands of a render pass and the grid transform that maps
// the game's logical coordinates onto the renderer's current target. Main
// thread only, but for label_pixel_size, which text measuring shares.
#pragma once

#include "frame_stream.h"

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

void draw_sprite_command(render_context *context, const sprite_command *sprite);

// Labels are drawn in runs: draw_label_command adds one to the open run,
// draw_labels_end draws what waits and ends the run. Anything else drawn
// after a label, a change of target and a present must come after the end.
void draw_label_command(render_context *context, const label_command *label);
void draw_labels_end(render_context *context);
// Frees the run's buffers with the context.
void draw_labels_release(render_context *context);
