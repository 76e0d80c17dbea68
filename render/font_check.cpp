#include "font_check.h"

#include <SDL2/SDL.h>

#include <cstdint>
#include <cstring>

namespace {

uint32_t u16(const unsigned char *p) { return (uint32_t)p[0] << 8 | p[1]; }
int32_t s16(const unsigned char *p) { return (int16_t)(uint16_t)u16(p); }
uint32_t u32(const unsigned char *p) { return u16(p) << 16 | u16(p + 2); }

// A region of the file: every read below first asks whether it fits.
struct region {
    const unsigned char *at = nullptr;
    uint64_t length = 0;

    bool has(uint64_t offset, uint64_t count) const { return offset <= length && count <= length - offset; }
    uint32_t u16_at(uint64_t offset) const { return u16(at + offset); }
};

struct font_tables {
    region cmap, loca, head, glyf, hhea, hmtx, kern, gpos, maxp;
    uint32_t glyph_count = 0;
    bool long_loca = false;
};

// stb_truetype takes the first table with a tag, and an offset of 0 as none.
bool find_table(const unsigned char *data, size_t start, uint32_t tables, const char *tag, region *out) {
    for (uint32_t i = 0; i < tables; ++i) {
        const unsigned char *record = data + start + 12 + (size_t)i * 16;
        if (std::memcmp(record, tag, 4) != 0) continue;
        uint32_t offset = u32(record + 8);
        if (offset == 0) return false;
        *out = {data + offset, u32(record + 12)};
        return true;
    }
    return false;
}

// The cmap subtable stb_truetype will use, as it chooses it: the last
// Unicode one. Its segment arrays (and every glyph-array offset of format 4)
// must lie inside cmap.
const char *check_character_map(const region &cmap) {
    if (!cmap.has(0, 4)) return "the cmap table is truncated";
    uint32_t count = cmap.u16_at(2);
    if (!cmap.has(4, (uint64_t)count * 8)) return "the cmap table is truncated";
    uint64_t chosen = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t platform = cmap.u16_at(4 + i * 8), encoding = cmap.u16_at(6 + i * 8);
        uint64_t offset = u32(cmap.at + 8 + i * 8);
        if (!cmap.has(offset, 2)) return "a cmap subtable lies outside the cmap table";
        if (platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10))) chosen = offset;
    }
    if (chosen == 0) return "the font has no Unicode character map";
    region sub = {cmap.at + chosen, cmap.length - chosen};
    switch (sub.u16_at(0)) {
    case 0:
        if (!sub.has(0, 6) || !sub.has(0, sub.u16_at(2))) return "a cmap subtable lies outside the cmap table";
        return nullptr;
    case 6:
        if (!sub.has(0, 10) || !sub.has(10, (uint64_t)sub.u16_at(8) * 2))
            return "a cmap subtable lies outside the cmap table";
        return nullptr;
    case 12:
    case 13:
        if (!sub.has(0, 16) || !sub.has(16, (uint64_t)u32(sub.at + 12) * 12))
            return "a cmap subtable lies outside the cmap table";
        return nullptr;
    case 4:
        break;
    default:
        return "the font's character map has a format the engine does not read";
    }
    if (!sub.has(0, 14)) return "a cmap subtable lies outside the cmap table";
    uint64_t segments = sub.u16_at(6) >> 1, search_range = sub.u16_at(8) >> 1, range_shift = sub.u16_at(12) >> 1;
    if (segments == 0 || !sub.has(0, 16 + segments * 8)) return "a cmap subtable lies outside the cmap table";
    // The binary search starts from the header's own search fields: with
    // these bounds every probe stays inside the segment arrays.
    if (range_shift >= segments || search_range + range_shift > segments)
        return "a cmap subtable's search fields do not match its segments";
    for (uint64_t i = 0; i < segments; ++i) {
        uint64_t end = sub.u16_at(14 + i * 2), start = sub.u16_at(16 + segments * 2 + i * 2);
        uint64_t range_field = 16 + segments * 6 + i * 2, range_offset = sub.u16_at(range_field);
        if (range_offset == 0 || end < start) continue;
        if (!sub.has(range_field + range_offset + (end - start) * 2, 2))
            return "a cmap segment points outside the cmap table";
    }
    return nullptr;
}

// Coverage index a glyph can get from a coverage table, plus one (0: none).
bool coverage_limit(const region &gpos, uint64_t at, uint64_t *limit) {
    *limit = 0;
    if (!gpos.has(at, 4)) return false;
    uint64_t format = gpos.u16_at(at), count = gpos.u16_at(at + 2);
    if (format == 1) {
        *limit = count;
        return gpos.has(at + 4, count * 2);
    }
    if (format != 2) return true; // not read
    if (!gpos.has(at + 4, count * 6)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t range = at + 4 + i * 6, first = gpos.u16_at(range), last = gpos.u16_at(range + 2);
        if (last >= first && gpos.u16_at(range + 4) + (last - first) + 1 > *limit)
            *limit = gpos.u16_at(range + 4) + (last - first) + 1;
    }
    return true;
}

bool class_table_fits(const region &gpos, uint64_t at) {
    if (!gpos.has(at, 4)) return false;
    uint32_t format = gpos.u16_at(at);
    if (format == 1) return gpos.has(at, 6) && gpos.has(at + 6, (uint64_t)gpos.u16_at(at + 4) * 2);
    if (format == 2) return gpos.has(at + 4, (uint64_t)gpos.u16_at(at + 2) * 6);
    return true; // not read
}

// The pair-adjustment lookups that kerning reads.
const char *check_positioning(const region &gpos) {
    const char *bad = "the GPOS table points outside itself";
    if (!gpos.has(0, 4)) return bad;
    if (gpos.u16_at(0) != 1 || gpos.u16_at(2) != 0) return nullptr; // not read
    if (!gpos.has(0, 10)) return bad;
    uint64_t list = gpos.u16_at(8);
    if (!gpos.has(list, 2)) return bad;
    uint64_t lookups = gpos.u16_at(list);
    if (!gpos.has(list + 2, lookups * 2)) return bad;
    for (uint64_t i = 0; i < lookups; ++i) {
        uint64_t lookup = list + gpos.u16_at(list + 2 + i * 2);
        if (!gpos.has(lookup, 6)) return bad;
        if (gpos.u16_at(lookup) != 2) continue;
        uint64_t subtables = gpos.u16_at(lookup + 4);
        if (!gpos.has(lookup + 6, subtables * 2)) return bad;
        for (uint64_t j = 0; j < subtables; ++j) {
            uint64_t table = lookup + gpos.u16_at(lookup + 6 + j * 2), limit = 0;
            if (!gpos.has(table, 8) || !coverage_limit(gpos, table + gpos.u16_at(table + 2), &limit)) return bad;
            uint32_t format = gpos.u16_at(table);
            if (limit == 0 || gpos.u16_at(table + 4) != 4 || gpos.u16_at(table + 6) != 0) continue;
            if (format == 1) {
                // The pair-set offset is read for any coverage index before
                // it is compared with the count.
                if (!gpos.has(table + 10, limit * 2)) return bad;
                uint64_t sets = gpos.u16_at(table + 8);
                for (uint64_t k = 0; k < sets && k < limit; ++k) {
                    uint64_t set = table + gpos.u16_at(table + 10 + k * 2);
                    if (!gpos.has(set, 2) || !gpos.has(set + 2, (uint64_t)gpos.u16_at(set) * 4)) return bad;
                }
            } else if (format == 2) {
                if (!gpos.has(table, 16) || !class_table_fits(gpos, table + gpos.u16_at(table + 8)) ||
                    !class_table_fits(gpos, table + gpos.u16_at(table + 10)) ||
                    !gpos.has(table + 16, (uint64_t)gpos.u16_at(table + 12) * gpos.u16_at(table + 14) * 2))
                    return bad;
            }
        }
    }
    return nullptr;
}

const char *check_kerning(const region &kern) {
    const char *bad = "the kern table is truncated";
    if (!kern.has(0, 4)) return bad;
    if (kern.u16_at(2) < 1) return nullptr;
    if (!kern.has(0, 10)) return bad;
    if (kern.u16_at(8) != 1) return nullptr; // not read
    if (!kern.has(0, 12) || !kern.has(18, (uint64_t)kern.u16_at(10) * 6)) return bad;
    return nullptr;
}

region glyph_outline(const font_tables &font, uint32_t glyph) {
    uint64_t first, next;
    if (font.long_loca) {
        first = u32(font.loca.at + glyph * 4);
        next = u32(font.loca.at + glyph * 4 + 4);
    } else {
        first = (uint64_t)font.loca.u16_at(glyph * 2) * 2;
        next = (uint64_t)font.loca.u16_at(glyph * 2 + 2) * 2;
    }
    if (first > next || next > font.glyf.length) return {nullptr, UINT64_MAX};
    return {font.glyf.at + first, next - first};
}

// Points of a simple glyph whose outline (contour ends, instructions, flags
// with their repeats, coordinates) fits its loca extent; 0 when it does not.
uint64_t simple_glyph_points(const region &glyph, uint32_t contours) {
    if (!glyph.has(10, (uint64_t)contours * 2 + 2)) return 0;
    uint32_t previous_end = 0;
    for (uint32_t i = 0; i < contours; ++i) {
        uint32_t end = glyph.u16_at(10 + i * 2);
        // Contour ends must grow, or the outline walk loses its place.
        if (i > 0 && end <= previous_end) return 0;
        previous_end = end;
    }
    uint64_t points = (uint64_t)previous_end + 1;
    uint64_t at = 10 + (uint64_t)contours * 2;
    at += 2 + glyph.u16_at(at);
    uint64_t coordinate_bytes = 0;
    uint32_t flags = 0, repeat = 0, contour = 0, contour_start = 0;
    for (uint64_t i = 0; i < points; ++i) {
        if (repeat == 0) {
            if (!glyph.has(at, 1)) return 0;
            flags = glyph.at[at++];
            if (flags & 8) {
                if (!glyph.has(at, 1)) return 0;
                repeat = glyph.at[at++];
            }
        } else {
            --repeat;
        }
        if (i == contour_start) {
            uint32_t end = glyph.u16_at(10 + contour * 2);
            // A contour that starts off the curve is closed through the point
            // after its first: a lone off-curve point has none of its own.
            if (end == i && !(flags & 1)) return 0;
            contour_start = end + 1;
            ++contour;
        }
        coordinate_bytes += (flags & 2) ? 1 : (flags & 16) ? 0 : 2;
        coordinate_bytes += (flags & 4) ? 1 : (flags & 32) ? 0 : 2;
    }
    if (!glyph.has(at, coordinate_bytes)) return 0;
    return points + 2 * (uint64_t)contours;
}

struct glyph_walk {
    const font_tables *font;
    uint8_t *state;  // 0 not seen, 1 being expanded, 2 done
    uint8_t *height; // nesting below a done glyph
    uint32_t *points;
};

// Checks a glyph and, depth first, the glyphs it is made of.
const char *check_glyph(glyph_walk *walk, uint32_t glyph, int depth) {
    if (walk->state[glyph] == 1) return "a composite glyph refers to itself";
    if (walk->state[glyph] == 2) {
        return depth + walk->height[glyph] > FONT_CHECK_MAX_COMPONENT_DEPTH ? "composite glyphs nest too deep"
                                                                            : nullptr;
    }
    region outline = glyph_outline(*walk->font, glyph);
    if (!outline.at) return "a glyph's outline lies outside the glyf table";
    walk->state[glyph] = 1;
    uint64_t points = 0;
    int height = 0;
    if (outline.length > 0) {
        if (outline.length < 10) return "a glyph's outline is truncated";
        int32_t contours = s16(outline.at);
        if (contours > 0) {
            points = simple_glyph_points(outline, (uint32_t)contours);
            if (points == 0) return "a glyph's outline runs past its end";
        } else if (contours < 0) {
            if (depth >= FONT_CHECK_MAX_COMPONENT_DEPTH) return "composite glyphs nest too deep";
            uint64_t at = 10;
            for (uint32_t more = 1; more;) {
                if (!outline.has(at, 4)) return "a composite glyph is truncated";
                uint32_t flags = outline.u16_at(at), component = outline.u16_at(at + 2);
                // Components placed by point matching are not supported by
                // the rasteriser (it asserts).
                if (!(flags & 2)) return "a composite glyph places a part by point matching";
                at += 4 + ((flags & 1) ? 4 : 2);
                at += (flags & 8) ? 2 : (flags & 64) ? 4 : (flags & 128) ? 8 : 0;
                if (!outline.has(0, at)) return "a composite glyph is truncated";
                if (component >= walk->font->glyph_count) return "a composite glyph refers to a missing glyph";
                if (const char *bad = check_glyph(walk, component, depth + 1)) return bad;
                points += walk->points[component];
                if (walk->height[component] + 1 > height) height = walk->height[component] + 1;
                if (points > FONT_CHECK_MAX_GLYPH_POINTS) return "a composite glyph has too many points";
                more = flags & 32;
            }
        }
    }
    walk->state[glyph] = 2;
    walk->height[glyph] = (uint8_t)height;
    walk->points[glyph] = (uint32_t)(points > FONT_CHECK_MAX_GLYPH_POINTS ? FONT_CHECK_MAX_GLYPH_POINTS : points);
    return nullptr;
}

const char *check_glyphs(const font_tables &font) {
    uint64_t entry = font.long_loca ? 4 : 2;
    if (!font.loca.has(0, ((uint64_t)font.glyph_count + 1) * entry)) return "the loca table is shorter than the glyph count";
    size_t count = font.glyph_count ? font.glyph_count : 1;
    glyph_walk walk = {&font, (uint8_t *)SDL_calloc(count, 1), (uint8_t *)SDL_calloc(count, 1),
                       (uint32_t *)SDL_calloc(count, sizeof(uint32_t))};
    const char *bad = walk.state && walk.height && walk.points ? nullptr : "out of memory";
    for (uint32_t glyph = 0; !bad && glyph < font.glyph_count; ++glyph) bad = check_glyph(&walk, glyph, 0);
    SDL_free(walk.state);
    SDL_free(walk.height);
    SDL_free(walk.points);
    return bad;
}

} // namespace

size_t font_check_first_font(const unsigned char *data, size_t size) {
    if (size >= 16 && std::memcmp(data, "ttcf", 4) == 0) return u32(data + 8) == 0 ? SIZE_MAX : u32(data + 12);
    return 0;
}

const char *font_check(const unsigned char *data, size_t size, size_t start) {
    if (!data || start > size || size - start < 12) return "the file is too short to be a font";
    uint32_t tables = u16(data + start + 4);
    if ((uint64_t)start + 12 + (uint64_t)tables * 16 > size) return "the table directory runs past the end of the file";
    for (uint32_t i = 0; i < tables; ++i) {
        const unsigned char *record = data + start + 12 + (size_t)i * 16;
        if ((uint64_t)u32(record + 8) + u32(record + 12) > size) return "a table lies outside the file";
    }
    font_tables font;
    const unsigned char *d = data;
    bool has_glyf = find_table(d, start, tables, "glyf", &font.glyf);
    if (!has_glyf) {
        region cff;
        if (find_table(d, start, tables, "CFF ", &cff)) return "PostScript (CFF) outlines are not supported";
    }
    if (!find_table(d, start, tables, "cmap", &font.cmap) || !find_table(d, start, tables, "head", &font.head) ||
        !find_table(d, start, tables, "hhea", &font.hhea) || !find_table(d, start, tables, "hmtx", &font.hmtx) ||
        !find_table(d, start, tables, "maxp", &font.maxp) || !find_table(d, start, tables, "loca", &font.loca) ||
        !has_glyf)
        return "a required table is missing";
    if (!font.head.has(0, 54) || font.head.u16_at(50) > 1) return "the head table is damaged";
    if (!font.maxp.has(0, 6)) return "the maxp table is truncated";
    if (!font.hhea.has(0, 36)) return "the hhea table is truncated";
    font.glyph_count = font.maxp.u16_at(4);
    font.long_loca = font.head.u16_at(50) == 1;

    // Glyphs past the long metrics share the last advance and have their
    // own side bearing.
    uint64_t long_metrics = font.hhea.u16_at(34);
    uint64_t short_metrics = font.glyph_count > long_metrics ? font.glyph_count - long_metrics : 0;
    if (long_metrics == 0 || !font.hmtx.has(0, long_metrics * 4 + short_metrics * 2))
        return "the hmtx table is shorter than hhea's count";

    if (const char *bad = check_character_map(font.cmap)) return bad;
    if (find_table(d, start, tables, "kern", &font.kern))
        if (const char *bad = check_kerning(font.kern)) return bad;
    if (find_table(d, start, tables, "GPOS", &font.gpos))
        if (const char *bad = check_positioning(font.gpos)) return bad;
    return check_glyphs(font);
}
