// Image input and output: files of the virtual file system decoded to 8-bit
// RGBA pixels (rows from the top, bytes R, G, B, A: ABGR8888 on a
// little-endian host), and RGBA pixels encoded as PNG.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes an image file; NULL when it cannot be opened or decoded (the size
// outputs are then left alone). Either size output may be NULL. The pixels are
// the caller's, released with free_image. Safe on any thread.
uint8_t *load_image(const char *path, int32_t *width_out, int32_t *height_out);
void free_image(void *pixels);

// Encodes width x height pixels (rows of exactly width * 4 bytes) as a PNG.
// out_width and out_height 0 keep the source size; a size that differs in
// both dimensions rescales. Returns the PNG bytes (released with SDL_free)
// and their length through out_size, or NULL.
uint8_t *encode_png(const uint8_t *pixels, int32_t width, int32_t height, int32_t out_width, int32_t out_height,
                    size_t *out_size);
