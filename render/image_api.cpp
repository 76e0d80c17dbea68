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
    threadstream_pack_int(stream, RENDER_CMD_UPLOAD_PIXEL_ARRAY);
    threadstream_pack_string(stream, name);
    threadstream_pack_int(stream, width);
    threadstream_pack_int(stream, height);
    threadstream_pack_buffer(stream, pixels, bytes);
}

uint8_t *vlx_load_image(const char *path, int32_t *width_out, int32_t *height_out) {
    return load_image(path, width_out, height_out);
}

void vlx_free_image(void *pixels) { free_image(pixels); }
