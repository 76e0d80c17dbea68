// Copies of a real font, each with one structure broken the way a damaged or
// hostile file breaks it; made at test time from the system's DejaVu Sans
// or, for PostScript outlines, Cantarell.
#pragma once

#include <stb_truetype.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace hostile_fonts {

constexpr const char *SOURCE = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *CFF_SOURCE = "/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf";

enum damage {
    LOCA_PAST_GLYF,  // the outline of "A" starts past the end of glyf
    CMAP_PAST_END,   // every cmap subtable offset points past the file
    SELF_COMPOSITE,  // "Á" is made of itself
    DEEP_COMPOSITES, // nine composite glyphs, each made of the next
    SHORT_HMTX,      // hhea counts more metrics than hmtx holds
    FAR_PART,        // a composite glyph places its first part 32767 units right
    PAIR_SET_PAST,   // a GPOS class-pair subtable turned into a glyph-pair one that
                     // counts no pair sets, its first pointing 65535 bytes on
    // From CFF_SOURCE:
    CFF_CUT_SHORT,      // the table directory ends the CFF table inside the Subrs INDEX
    CFF_HUGE_OUTLINE,   // the longest glyph draws a line out to 65534 units
    CFF_SUBR_EXPLOSION, // it calls nine global subroutines, each calling the next nine times or more
    CFF_HINT_PAST_END,  // it ends in a hint mask whose bytes lie past it
};

inline uint32_t get(const std::string &font, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | (uint8_t)font[at + (size_t)i];
    return value;
}

inline void put(std::string &font, size_t at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) font[at + (size_t)i] = (char)(value & 0xFF);
}

inline size_t table_record(const std::string &font, const char *tag) {
    for (size_t at = 12; at + 16 <= 12 + 16 * get(font, 4, 2); at += 16)
        if (font.compare(at, 4, tag) == 0) return at;
    return 0;
}

// Where element i of a CFF INDEX that stb_truetype found lies in the font.
inline std::pair<size_t, size_t> element(const std::string &font, const stbtt__buf &index, uint32_t i) {
    size_t at = (size_t)((const char *)index.data - font.data()), offset_size = (uint8_t)font[at + 2];
    size_t first = get(font, at + 3 + i * offset_size, (int)offset_size);
    size_t data = at + 2 + (get(font, at, 2) + 1) * offset_size;
    return {data + first, get(font, at + 3 + (i + 1) * offset_size, (int)offset_size) - first};
}

inline std::string damaged(std::string font, damage what) {
    stbtt_fontinfo info;
    if (!stbtt_InitFont(&info, (unsigned char *)font.data(), 0)) return {};
    int loca_bytes = info.indexToLocFormat ? 4 : 2;
    auto outline = [&](int glyph) {
        return (size_t)info.glyf + get(font, (size_t)info.loca + (size_t)(glyph * loca_bytes), loca_bytes) * (loca_bytes == 2 ? 2 : 1);
    };
    auto composite = [&](int glyph) { return (int16_t)get(font, outline(glyph), 2) < 0; };
    std::pair<size_t, size_t> longest = {0, 0}; // charstring
    for (int glyph = 0; info.cff.size && glyph < info.numGlyphs; ++glyph)
        longest = std::max(longest, element(font, info.charstrings, (uint32_t)glyph),
                           [](auto a, auto b) { return a.second < b.second; });
    switch (what) {
    case LOCA_PAST_GLYF:
        put(font, (size_t)info.loca + (size_t)(stbtt_FindGlyphIndex(&info, 'A') * loca_bytes),
            (uint32_t)font.size() / (loca_bytes == 2 ? 2 : 1), loca_bytes);
        break;
    case CMAP_PAST_END: {
        size_t cmap = get(font, table_record(font, "cmap") + 8, 4);
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
    case FAR_PART:
        for (int glyph = 0; glyph < info.numGlyphs; ++glyph)
            if (composite(glyph) && (get(font, outline(glyph) + 10, 2) & 1)) { // offsets of two bytes
                put(font, outline(glyph) + 14, 0x7FFF, 2);
                break;
            }
        break;
    case PAIR_SET_PAST: {
        size_t list = (size_t)info.gpos + get(font, (size_t)info.gpos + 8, 2);
        for (uint32_t i = 0; i < get(font, list, 2); ++i) {
            size_t lookup = list + get(font, list + 2 + i * 2, 2), table = lookup + get(font, lookup + 6, 2);
            if (get(font, lookup, 2) != 2 || get(font, table, 2) != 2) continue;
            put(font, table, 1, 2);
            put(font, table + 8, 0, 2);
            put(font, table + 10, 0xFFFF, 2);
            break;
        }
        break;
    }
    case CFF_CUT_SHORT:
        put(font, table_record(font, "CFF ") + 12, (uint32_t)((const char *)info.subrs.data - font.data()) + 4 -
            get(font, table_record(font, "CFF ") + 8, 4), 4);
        break;
    case CFF_HUGE_OUTLINE: {
        // rlineto 32767 32767 32767 32767, endchar
        const char bytes[] = "\x1c\x7f\xff\x1c\x7f\xff\x1c\x7f\xff\x1c\x7f\xff\x05\x0e";
        font.replace(longest.first, 14, bytes, 14);
        break;
    }
    case CFF_SUBR_EXPLOSION: {
        // Subroutines 0 to 214 are called with one byte: (i - 107) + 139.
        std::vector<uint32_t> chain;
        for (uint32_t i = 0; i < 215 && chain.size() < 9; ++i)
            if (element(font, info.gsubrs, i).second >= 20) chain.push_back(i);
        for (size_t k = 0; k < chain.size(); ++k) {
            auto [at, length] = element(font, info.gsubrs, chain[k]);
            font.replace(at, length, length, '\x0b'); // return
            for (size_t j = 0; k + 1 < chain.size() && j + 2 < length; j += 2)
                font.replace(at + j, 2, std::string{(char)(chain[k + 1] + 32), '\x1d'}); // callgsubr
        }
        font.replace(longest.first, 3, std::string{(char)(chain[0] + 32), '\x1d', '\x0e'});
        break;
    }
    case CFF_HINT_PAST_END: {
        // Stems of two operands each, then a hint mask as the last byte.
        auto [at, length] = longest;
        for (size_t j = 0; j + 1 < length; ++j) font[at + j] = j % 3 == 2 ? '\x01' : '\x8b';
        font[at + length - 1] = '\x13';
        break;
    }
    }
    return font;
}

} // namespace hostile_fonts
