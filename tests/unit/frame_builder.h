// Frame streams built by hand, in the field layouts the render-command
// interpreter reads.
#pragma once

#include "host/threadstream.h"
#include "render/frame_stream.h"

#include <vector>

namespace render_support {

// Little-endian ABGR8888 as SDL reads it back: 0xAABBGGRR.
constexpr uint32_t rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}

struct frame_builder {
    threadstream *s;
    explicit frame_builder(threadstream *stream) : s(stream) {}
    frame_builder &word(int32_t v) { threadstream_pack_int(s, v); return *this; }
    frame_builder &f(float v) { threadstream_pack_float(s, v); return *this; }
    frame_builder &str(const char *v) { threadstream_pack_string(s, v); return *this; }
    frame_builder &colour(uint32_t c) { return word(c & 255).word(c >> 8 & 255).word(c >> 16 & 255).word(c >> 24); }
    frame_builder &set_grid(float x, float y, int32_t d) { return word(RENDER_CMD_SET_GRID).f(x).f(y).word(d); }
    frame_builder &passes(int32_t count, bool shot = false) { return word(RENDER_CMD_PASSES).word(count).word(shot); }
    frame_builder &pass(const char *target, int32_t w, int32_t h, uint32_t bg = rgba(0, 0, 0), bool transient = false) {
        return colour(bg).str(target).word(w).word(h).word(transient);
    }
    frame_builder &end_pass() { return word(RENDER_CMD_END_PASS); }
    frame_builder &rect(int32_t opcode, float x, float y, float w, float h, uint32_t c) {
        return word(opcode).f(x).f(y).f(w).f(h).colour(c);
    }
    frame_builder &solid(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_SOLID, x, y, w, h, c); }
    frame_builder &border(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_BORDER, x, y, w, h, c); }
    frame_builder &line(float x, float y, float x2, float y2, uint32_t c) { return rect(RENDER_CMD_LINE, x, y, x2, y2, c); }
    // A sprite with every field; tile and source default to "whole image".
    frame_builder &sprite(const char *path, float x, float y, float w, float h, const float *tile = nullptr,
                          const float *source = nullptr, int flip_h = 0, float angle = 0) {
        static const float none[4] = {0, 0, -1, -1};
        word(RENDER_CMD_SPRITE).str(path).f(x).f(y).f(w).f(h).f(angle).colour(rgba(255, 255, 255));
        for (const float *r : {tile ? tile : none, source ? source : none})
            for (int i = 0; i < 4; ++i) f(r[i]);
        return word(flip_h).word(0).f(0.5f).f(0.5f);
    }
    frame_builder &label(float x, float y, const char *text, float size_enum, int32_t align, uint32_t c,
                         const char *font = nullptr) {
        return word(RENDER_CMD_LABEL).f(x).f(y).str(text).str(font).f(size_enum).word(align).colour(c);
    }
    // The key's alpha is the alpha that pixels of the key's colour take.
    frame_builder &screenshot(const char *path, float x, float y, float w, float h, int32_t tolerance = 0,
                              uint32_t key = 0) {
        return word(RENDER_CMD_SCREENSHOT).str(path).f(x).f(y).f(w).f(h).word(tolerance).colour(key);
    }
    frame_builder &upload(const char *name, int32_t w, int32_t h, const std::vector<uint32_t> &pixels) {
        word(RENDER_CMD_UPLOAD_PIXEL_ARRAY).str(name).word(w).word(h);
        static const uint32_t none = 0; // present, even when empty
        threadstream_pack_buffer(s, pixels.empty() ? &none : pixels.data(), pixels.size() * 4);
        return *this;
    }
};

} // namespace render_support
