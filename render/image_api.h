// Image functions handed to native extensions.
#pragma once

#include <cstdint>

extern "C" {
// Queues width x height ABGR8888 pixels (rows from the top) as the texture
// `name` for this frame's sprites. Reads exactly width * height * 4 bytes.
// Simulation thread only; does nothing between frames.
void vlx_upload_pixel_array(const char *name, int32_t width, int32_t height, const uint32_t *pixels);
// Decodes an image file of the virtual file system to RGBA8 pixels.
uint8_t *vlx_load_image(const char *path, int32_t *width_out, int32_t *height_out);
void vlx_free_image(void *pixels);
}
