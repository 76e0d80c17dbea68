// Frame streams built by hand for the interpreter's tests, through the
// frame stream's own writers (word, f and str lay out damaged frames).
#pragma once

#include "host/threadstream.h"
#include "render/frame_stream.h"

#include <cstring>
#include <vector>

namespace render_support {

// Little-endian ABGR8888 as SDL reads it back: 0xAABBGGRR.
constexpr uint32_t rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}
inline threadstream_text text(const char *v) { return {v, v ? std::strlen(v) : 0}; }

struct frame_builder {
    threadstream *s;
    explicit frame_builder(threadstream *stream) : s(stream) {}
    static int32_t ch(uint32_t c, int i) { return (int32_t)(c >> (8 * i) & 255); }
    frame_builder &word(int32_t v) { threadstream_pack_int(s, v); return *this; }
    frame_builder &f(float v) { threadstream_pack_float(s, v); return *this; }
    frame_builder &str(const char *v) { threadstream_pack_string(s, v); return *this; }
    frame_builder &set_grid(float x, float y, int32_t d) {
        set_grid_command c = {x, y, d};
        frame_write_set_grid(s, &c);
        return *this;
    }
    frame_builder &passes(int32_t count, bool shot = false) {
        passes_command c = {count, shot};
        frame_write_passes(s, &c);
        return *this;
    }
    frame_builder &pass(const char *target, int32_t w, int32_t h, uint32_t bg = rgba(0, 0, 0), bool transient = false) {
        pass_header c = {ch(bg, 0), ch(bg, 1), ch(bg, 2), ch(bg, 3), text(target), w, h, transient};
        frame_write_pass_header(s, &c);
        return *this;
    }
    frame_builder &end_pass() { return word(RENDER_CMD_END_PASS); }
    frame_builder &text_command(int32_t opcode, const char *v) {
        frame_write_text_command(s, opcode, text(v));
        return *this;
    }
    frame_builder &rect(int32_t opcode, float x, float y, float w, float h, uint32_t c) {
        shape_command shape = {x, y, w, h, ch(c, 0), ch(c, 1), ch(c, 2), ch(c, 3)};
        frame_write_shape(s, opcode, &shape);
        return *this;
    }
    frame_builder &solid(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_SOLID, x, y, w, h, c); }
    frame_builder &border(float x, float y, float w, float h, uint32_t c) { return rect(RENDER_CMD_BORDER, x, y, w, h, c); }
    frame_builder &line(float x, float y, float x2, float y2, uint32_t c) { return rect(RENDER_CMD_LINE, x, y, x2, y2, c); }
    // A white sprite; tile and source default to "whole image".
    frame_builder &sprite(const char *path, float x, float y, float w, float h, const float *tile = nullptr,
                          const float *source = nullptr, int flip_h = 0, float angle = 0) {
        static const float none[4] = {0, 0, -1, -1};
        const float *t = tile ? tile : none, *r = source ? source : none;
        sprite_command c = {text(path), x, y, w, h, angle, 255, 255, 255, 255, t[0], t[1], t[2], t[3],
                            r[0], r[1], r[2], r[3], (uint32_t)flip_h, 0, 0.5f, 0.5f};
        frame_write_sprite(s, &c);
        return *this;
    }
    frame_builder &label(float x, float y, const char *v, float size_enum, int32_t align, uint32_t c,
                         const char *font = nullptr) {
        label_command l = {x, y, text(v), text(font), size_enum, align, ch(c, 0), ch(c, 1), ch(c, 2), ch(c, 3)};
        frame_write_label(s, &l);
        return *this;
    }
    // The key's alpha is the alpha that pixels of the key's colour take.
    frame_builder &screenshot(const char *path, float x, float y, float w, float h, int32_t tolerance = 0,
                              uint32_t key = 0) {
        screenshot_command c = {text(path), x, y, w, h, tolerance, ch(key, 0), ch(key, 1), ch(key, 2), ch(key, 3)};
        frame_write_screenshot(s, &c);
        return *this;
    }
    frame_builder &upload(const char *name, int32_t w, int32_t h, const std::vector<uint32_t> &pixels) {
        static const uint32_t none = 0; // present, even when empty
        pixel_array_command c = {text(name), w, h,
                                 {(const char *)(pixels.empty() ? &none : pixels.data()), pixels.size() * 4}};
        frame_write_pixel_array(s, &c);
        return *this;
    }
};

} // namespace render_support
