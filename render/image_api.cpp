#include "image_api.h"

#include "../host/engine.h"
#include "frame_stream.h"
#include "image.h"

void vlx_upload_pixel_array(const char *name, int32_t width, int32_t height, const uint32_t *pixels) {
    threadstream *stream = current_frame_stream;
    if (!stream) return;
    // A size the interpreter could never use is not queued: the byte count
    // is computed in 64 bits and must fit one stream item.
    if (width < 1 || height < 1) return;
    uint64_t bytes = (uint64_t)width * (uint64_t)height * 4;
    if (bytes > THREADSTREAM_MAX_ITEM) return;
    pixel_array_command upload = {{name, name ? SDL_strlen(name) : 0}, width, height, {(const char *)pixels, bytes}};
    frame_write_pixel_array(stream, &upload);
}

uint8_t *vlx_load_image(const char *path, int32_t *width_out, int32_t *height_out) {
    return load_image(path, width_out, height_out);
}

void vlx_free_image(void *pixels) { free_image(pixels); }
