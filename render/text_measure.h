// Measuring text before it is drawn, from the simulation thread.
#pragma once

#include <cstdint>

struct render_context;

// Width and height of a UTF-8 text in a font of the font cache (the default
// font for no name or one that cannot be loaded), at the pixel size a label
// of that size_enum is drawn at; both 0 when there is no font at all.
// Takes the render context's text lock.
void measure_text(render_context *context, const char *text, float size_enum, const char *font_name,
                  float *out_width, float *out_height);
