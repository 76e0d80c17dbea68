// Measuring text before it is drawn, from the simulation thread.
#pragma once

#include <cstdint>

struct render_context;

// Glyph pixel size for a size_enum: size_enum * 2 + 22, kept to 1..255 as
// labels draw it.
uint32_t measure_pixel_size(int64_t size_enum);

// Width and height of a UTF-8 text in a font of the font cache (the default
// font when it cannot be loaded); both 0 when there is no font at all.
// Takes the render context's text lock.
void measure_text(render_context *context, const char *text, int64_t size_enum, const char *font_name,
                  float *out_width, float *out_height);
