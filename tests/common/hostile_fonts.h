// Copies of a real font, each with one structure broken the way a damaged or
// hostile file breaks it; made at test time from the system's DejaVu Sans.
#pragma once

#include <stb_truetype.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hostile_fonts {

constexpr const char *SOURCE = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

enum damage {
    LOCA_PAST_GLYF,  // the outline of "A" starts past the end of glyf
    CMAP_PAST_END,   // every cmap subtable offset points past the file
    SELF_COMPOSITE,  // "Á" is made of itself
    DEEP_COMPOSITES, // nine composite glyphs, each made of the next
    SHORT_HMTX,      // hhea counts more metrics than hmtx holds
};

inline uint32_t get(const std::string &font, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | (uint8_t)font[at + (size_t)i];
    return value;
}

inline void put(std::string &font, size_t at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) font[at + (size_t)i] = (char)(value & 0xFF);
}

inline std::string damaged(std::string font, damage what) {
    stbtt_fontinfo info;
    if (!stbtt_InitFont(&info, (unsigned char *)font.data(), 0)) return {};
    int loca_bytes = info.indexToLocFormat ? 4 : 2;
    auto outline = [&](int glyph) {
        return (size_t)info.glyf + get(font, (size_t)info.loca + (size_t)(glyph * loca_bytes), loca_bytes) * (loca_bytes == 2 ? 2 : 1);
    };
    auto composite = [&](int glyph) { return (int16_t)get(font, outline(glyph), 2) < 0; };
    switch (what) {
    case LOCA_PAST_GLYF:
        put(font, (size_t)info.loca + (size_t)(stbtt_FindGlyphIndex(&info, 'A') * loca_bytes),
            (uint32_t)font.size() / (loca_bytes == 2 ? 2 : 1), loca_bytes);
        break;
    case CMAP_PAST_END: {
        size_t cmap = 0;
        for (size_t at = 12; at + 16 <= 12 + 16 * get(font, 4, 2); at += 16)
            if (font.compare(at, 4, "cmap") == 0) cmap = get(font, at + 8, 4);
        for (uint32_t i = 0; i < get(font, cmap + 2, 2); ++i) put(font, cmap + 8 + i * 8, 0x7FFFFF00u, 4);
        break;
    }
    case SELF_COMPOSITE: {
        int glyph = stbtt_FindGlyphIndex(&info, 0xC1);
        if (composite(glyph)) put(font, outline(glyph) + 12, (uint32_t)glyph, 2);
        break;
    }
    case DEEP_COMPOSITES: {
        std::vector<int> chain;
        for (int glyph = 0; glyph < info.numGlyphs && chain.size() < 10; ++glyph)
            if (composite(glyph)) chain.push_back(glyph);
        for (size_t i = 0; i + 1 < chain.size(); ++i) put(font, outline(chain[i]) + 12, (uint32_t)chain[i + 1], 2);
        break;
    }
    case SHORT_HMTX:
        put(font, (size_t)info.hhea + 34, 0xFFFF, 2);
        break;
    }
    return font;
}

} // namespace hostile_fonts
