#include "font_check.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
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
                // The pair-set offset, and the count it points at, are read
                // for any coverage index before it is compared with the
                // number of sets.
                if (!gpos.has(table + 10, limit * 2)) return bad;
                uint64_t sets = gpos.u16_at(table + 8);
                for (uint64_t k = 0; k < limit; ++k) {
                    uint64_t set = table + gpos.u16_at(table + 10 + k * 2);
                    if (!gpos.has(set, 2) || (k < sets && !gpos.has(set + 2, (uint64_t)gpos.u16_at(set) * 4)))
                        return bad;
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

// Largest magnitude of one axis of a simple glyph's points, summed from
// their deltas and cut to 16 bits as the rasteriser does; `at` moves past
// that axis's deltas. The outline has been checked to hold them.
uint32_t axis_extent(const region &glyph, uint64_t flags_at, uint64_t points, uint64_t *at, int axis) {
    uint32_t one_byte = axis ? 4 : 2, same_or_positive = axis ? 32 : 16, flags = 0, repeat = 0, extent = 0;
    int32_t value = 0;
    for (uint64_t i = 0; i < points; ++i) {
        if (repeat == 0) {
            flags = glyph.at[flags_at++];
            if (flags & 8) repeat = glyph.at[flags_at++];
        } else {
            --repeat;
        }
        if (flags & one_byte) {
            int32_t delta = glyph.at[(*at)++];
            value += (flags & same_or_positive) ? delta : -delta;
        } else if (!(flags & same_or_positive)) {
            value += s16(glyph.at + *at);
            *at += 2;
        }
        extent = std::max(extent, (uint32_t)std::abs((int32_t)(int16_t)value));
    }
    return extent;
}

// Points of a simple glyph whose outline (contour ends, instructions, flags
// with their repeats, coordinates) fits its loca extent; 0 when it does not.
// `extent` gets the largest magnitude of its coordinates.
uint64_t simple_glyph_points(const region &glyph, uint32_t contours, uint32_t *extent) {
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
    const uint64_t flags_at = at;
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
    uint32_t x = axis_extent(glyph, flags_at, points, &at, 0);
    *extent = std::max(x, axis_extent(glyph, flags_at, points, &at, 1));
    return points + 2 * (uint64_t)contours;
}

struct glyph_walk {
    const font_tables *font;
    uint8_t *state;  // 0 not seen, 1 being expanded, 2 done
    uint8_t *height; // nesting below a done glyph
    uint32_t *points;
    uint16_t *extent; // largest coordinate magnitude once placed
};

// The largest coordinate magnitude of a part placed by a composite glyph,
// from the part's own: the rasteriser scales each axis by the length of a
// matrix column and converts the result to 16 bits, which must hold it.
float placed_extent(const region &outline, uint64_t at, uint32_t flags, uint32_t part) {
    float offset[2], m[4] = {1, 0, 0, 1};
    for (int i = 0; i < 2; ++i)
        offset[i] = (flags & 1) ? (float)s16(outline.at + at + 4 + i * 2) : (float)(int8_t)outline.at[at + 4 + i];
    const unsigned char *scales = outline.at + at + ((flags & 1) ? 8 : 6);
    if (flags & 8) {
        m[0] = m[3] = (float)s16(scales) / 16384.0f;
    } else if (flags & 64) {
        m[0] = (float)s16(scales) / 16384.0f;
        m[3] = (float)s16(scales + 2) / 16384.0f;
    } else if (flags & 128) {
        for (int i = 0; i < 4; ++i) m[i] = (float)s16(scales + i * 2) / 16384.0f;
    }
    float e = (float)part;
    float x = std::sqrt(m[0] * m[0] + m[1] * m[1]) * ((std::fabs(m[0]) + std::fabs(m[2])) * e + std::fabs(offset[0]));
    float y = std::sqrt(m[2] * m[2] + m[3] * m[3]) * ((std::fabs(m[1]) + std::fabs(m[3])) * e + std::fabs(offset[1]));
    return std::max(x, y);
}

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
    uint32_t extent = 0;
    int height = 0;
    if (outline.length > 0) {
        if (outline.length < 10) return "a glyph's outline is truncated";
        int32_t contours = s16(outline.at);
        if (contours > 0) {
            points = simple_glyph_points(outline, (uint32_t)contours, &extent);
            if (points == 0) return "a glyph's outline runs past its end";
        } else if (contours < 0) {
            if (depth >= FONT_CHECK_MAX_COMPONENT_DEPTH) return "composite glyphs nest too deep";
            uint64_t at = 10;
            for (uint32_t more = 1; more;) {
                if (!outline.has(at, 4)) return "a composite glyph is truncated";
                uint32_t flags = outline.u16_at(at), component = outline.u16_at(at + 2);
                const uint64_t part_at = at;
                // Components placed by point matching are not supported by
                // the rasteriser (it asserts).
                if (!(flags & 2)) return "a composite glyph places a part by point matching";
                at += 4 + ((flags & 1) ? 4 : 2);
                at += (flags & 8) ? 2 : (flags & 64) ? 4 : (flags & 128) ? 8 : 0;
                if (!outline.has(0, at)) return "a composite glyph is truncated";
                if (component >= walk->font->glyph_count) return "a composite glyph refers to a missing glyph";
                if (const char *bad = check_glyph(walk, component, depth + 1)) return bad;
                float placed = placed_extent(outline, part_at, flags, walk->extent[component]);
                if (!(placed < 32767.0f)) return "a composite glyph places a part outside the 16-bit coordinate range";
                extent = std::max(extent, (uint32_t)std::ceil(placed));
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
    walk->extent[glyph] = (uint16_t)extent;
    return nullptr;
}

const char *check_glyphs(const font_tables &font) {
    uint64_t entry = font.long_loca ? 4 : 2;
    if (!font.loca.has(0, ((uint64_t)font.glyph_count + 1) * entry)) return "the loca table is shorter than the glyph count";
    size_t count = font.glyph_count ? font.glyph_count : 1;
    glyph_walk walk = {&font, (uint8_t *)SDL_calloc(count, 1), (uint8_t *)SDL_calloc(count, 1),
                       (uint32_t *)SDL_calloc(count, sizeof(uint32_t)), (uint16_t *)SDL_calloc(count, sizeof(uint16_t))};
    const char *bad = walk.state && walk.height && walk.points && walk.extent ? nullptr : "out of memory";
    for (uint32_t glyph = 0; !bad && glyph < font.glyph_count; ++glyph) bad = check_glyph(&walk, glyph, 0);
    SDL_free(walk.state);
    SDL_free(walk.height);
    SDL_free(walk.points);
    SDL_free(walk.extent);
    return bad;
}

// PostScript (CFF) outlines. The rasteriser reads the CFF table through
// cursors bounded by 512 MB instead of by the table, so every structure it
// reaches is checked here against the table's real length, read with the same
// arithmetic it uses. Inside those structures its own cursors keep to their
// bounds; what they do not stop (assertions, runaway subroutine calls,
// coordinates past 16 bits) is ruled out by running every glyph's charstring
// the way it will.

// Larger tables would make the rasteriser's int offsets disagree with ours.
constexpr uint64_t CFF_MAX_TABLE = (uint64_t)1 << 29;
// Subroutine frames the rasteriser keeps, and operands it stacks.
constexpr int CFF_MAX_CALLS = 10;
constexpr int CFF_MAX_OPERANDS = 48;

struct cff_index {
    uint64_t at = 0; // the count; an INDEX with no elements has no more
    uint32_t count = 0, offset_size = 0;
};

uint32_t index_offset(const region &cff, const cff_index &index, uint32_t i) {
    uint32_t value = 0;
    const unsigned char *at = cff.at + index.at + 3 + (uint64_t)i * index.offset_size;
    for (uint32_t b = 0; b < index.offset_size; ++b) value = value << 8 | at[b];
    return value;
}

// Element i of an INDEX already read by read_index (so inside the table).
region index_element(const region &cff, const cff_index &index, uint32_t i) {
    uint64_t data = index.at + 2 + ((uint64_t)index.count + 1) * index.offset_size;
    uint32_t first = index_offset(cff, index, i);
    return {cff.at + data + first, (uint64_t)index_offset(cff, index, i + 1) - first};
}

// An INDEX whose offsets start at 1, never decrease and end inside the
// table; `end` gets the offset of what follows it.
bool read_index(const region &cff, uint64_t at, cff_index *index, uint64_t *end) {
    if (!cff.has(at, 2)) return false;
    *index = {at, cff.u16_at(at), 0};
    *end = at + 2;
    if (index->count == 0) return true;
    if (!cff.has(at, 3)) return false;
    index->offset_size = cff.at[at + 2];
    if (index->offset_size < 1 || index->offset_size > 4) return false;
    if (!cff.has(at + 3, ((uint64_t)index->count + 1) * index->offset_size)) return false;
    uint32_t previous = 1;
    for (uint32_t i = 0; i <= index->count; ++i) {
        uint32_t offset = index_offset(cff, *index, i);
        if (offset < previous || (i == 0 && offset != 1)) return false;
        previous = offset;
    }
    *end = at + 2 + ((uint64_t)index->count + 1) * index->offset_size + previous;
    return *end <= cff.length;
}

// Reads the integer operands of the first `key` in a DICT as the rasteriser
// does (28 unsigned, the others as the format says, wrapped to 32 bits),
// keeping `values` for those it lacks. False when the DICT is not a sound
// sequence of operands and operators, or when an operand read for `key` is
// a real number: the rasteriser asserts on both.
bool read_dict(const region &dict, uint32_t key, uint32_t *values, int wanted) {
    uint32_t operands[2] = {0, 0};
    int count = 0;
    bool real = false, found = false;
    for (uint64_t at = 0; at < dict.length;) {
        uint32_t b0 = dict.at[at++], value = 0;
        if (b0 < 28) {
            uint32_t op = b0;
            if (b0 == 12) {
                if (at >= dict.length) return false;
                op = 0x100 | dict.at[at++];
            }
            if (op == key && !found) {
                if (real) return false;
                for (int i = 0; i < wanted && i < count; ++i) values[i] = operands[i];
                found = true;
            }
            count = 0;
            real = false;
            continue;
        }
        if (b0 == 30) {
            // Nibbles up to one of 0xF.
            for (uint32_t byte = 0; (byte & 0xF) != 0xF && (byte >> 4) != 0xF;) {
                if (at >= dict.length) return false;
                byte = dict.at[at++];
            }
            if (count < wanted) real = true;
        } else if (b0 == 28 || b0 == 29) {
            uint64_t bytes = b0 == 28 ? 2 : 4;
            if (!dict.has(at, bytes)) return false;
            value = bytes == 2 ? dict.u16_at(at) : u32(dict.at + at);
            at += bytes;
        } else if (b0 >= 32 && b0 <= 246) {
            value = b0 - 139;
        } else if (b0 >= 247 && b0 <= 254) {
            if (at >= dict.length) return false;
            uint32_t magnitude = (b0 - (b0 <= 250 ? 247 : 251)) * 256 + dict.at[at++] + 108;
            value = b0 <= 250 ? magnitude : 0u - magnitude;
        } else {
            return false; // 31 and 255 are reserved
        }
        if (count < 2) operands[count] = value;
        ++count;
    }
    return true;
}

const char *const CFF_BAD_INDEX = "a CFF INDEX is damaged or lies outside the CFF table";

// The Subrs INDEX of a font DICT's Private DICT (count 0 when it has none).
const char *private_subrs(const region &cff, const region &font_dict, cff_index *subrs) {
    const char *bad = "a CFF Private DICT is damaged or lies outside the CFF table";
    *subrs = {};
    uint32_t private_dict[2] = {0, 0}, offset = 0; // size, offset
    if (!read_dict(font_dict, 18, private_dict, 2)) return "a CFF font DICT is damaged";
    if (private_dict[0] == 0 || private_dict[1] == 0) return nullptr;
    if (!cff.has(private_dict[1], private_dict[0])) return bad;
    if (!read_dict({cff.at + private_dict[1], private_dict[0]}, 19, &offset, 1)) return bad;
    if (offset == 0) return nullptr;
    // Added as unsigned 32-bit numbers, like the rasteriser does.
    uint64_t end;
    return read_index(cff, (uint32_t)(private_dict[1] + offset), subrs, &end) ? nullptr : CFF_BAD_INDEX;
}

struct cff_font {
    region cff, fd_select;
    cff_index global_subrs, charstrings, subrs, fd_subrs[256];
    uint32_t glyph_count = 0;
    bool cid = false;
};

// The font DICT that FDSelect gives a glyph (checked to exist for every glyph).
uint32_t fd_of(const cff_font &font, uint32_t glyph) {
    const region &select = font.fd_select;
    if (select.at[0] == 0) return select.at[1 + glyph];
    // The first range whose end lies past the glyph: ends never decrease.
    uint64_t low = 0, high = select.u16_at(1);
    while (low < high) {
        uint64_t middle = (low + high) / 2;
        if (select.u16_at(3 + middle * 3 + 3) > glyph) high = middle;
        else low = middle + 1;
    }
    return select.at[3 + low * 3 + 2];
}

const char *check_fd_select(cff_font *font, uint64_t at, uint32_t fd_count) {
    const char *bad = "the font's FDSelect is damaged";
    region &select = font->fd_select;
    if (!font->cff.has(at, 1)) return bad;
    select = {font->cff.at + at, font->cff.length - at};
    if (select.at[0] == 0) {
        if (!select.has(1, font->glyph_count)) return bad;
        for (uint32_t glyph = 0; glyph < font->glyph_count; ++glyph)
            if (select.at[1 + glyph] >= fd_count) return bad;
        return nullptr;
    }
    // Ranges from glyph 0 up to a sentinel past the last glyph.
    if (select.at[0] != 3 || !select.has(0, 5)) return bad;
    uint64_t ranges = select.u16_at(1);
    if (ranges == 0 || select.u16_at(3) != 0 || !select.has(5, ranges * 3)) return bad;
    for (uint64_t i = 0; i < ranges; ++i) {
        uint64_t range = 3 + i * 3;
        if (select.at[range + 2] >= fd_count || select.u16_at(range + 3) < select.u16_at(range)) return bad;
    }
    return select.u16_at(3 + ranges * 3) < font->glyph_count ? bad : nullptr;
}

// The rasteriser's pen: it keeps coordinates as 16-bit integers, so an
// outline that leaves that range is drawn wrong at best, and its sums of
// unbounded moves would overflow its float-to-int conversions and the int
// arithmetic of the glyph's box.
struct cff_pen {
    float x = 0, y = 0, first_x = 0, first_y = 0;
    bool out_of_range = false;

    void point(float px, float py) {
        if (!(px >= -32768.0f && px < 32768.0f && py >= -32768.0f && py < 32768.0f)) out_of_range = true;
    }
    void move(float dx, float dy) {
        first_x = x += dx;
        first_y = y += dy;
        point(x, y);
    }
    void line(float dx, float dy) {
        x += dx;
        y += dy;
        point(x, y);
    }
    void curve(float dx1, float dy1, float dx2, float dy2, float dx3, float dy3) {
        float x1 = x + dx1, y1 = y + dy1, x2 = x1 + dx2, y2 = y1 + dy2;
        point(x1, y1);
        point(x2, y2);
        x = x2 + dx3;
        y = y2 + dy3;
        point(x, y);
    }
};

// The subroutine a call reaches, biased by the INDEX's size; empty for none.
region subroutine(const region &cff, const cff_index &subrs, int number) {
    int bias = subrs.count >= 33900 ? 32768 : subrs.count >= 1240 ? 1131 : 107;
    int64_t i = (int64_t)number + bias;
    if (i < 0 || i >= subrs.count) return {};
    return index_element(cff, subrs, (uint32_t)i);
}

// Runs a glyph's charstring as the rasteriser will, drawing with `pen` and
// taking every step from `budget`. Where the rasteriser gives up on a glyph
// (it then draws nothing) so does this; what stays is what it would not
// survive.
const char *run_charstring(const cff_font &font, uint32_t glyph, cff_pen &pen, uint64_t *budget) {
    region code = index_element(font.cff, font.charstrings, glyph), calls[CFF_MAX_CALLS];
    uint64_t at = 0, returns[CFF_MAX_CALLS];
    const cff_index *subrs = &font.subrs;
    float s[CFF_MAX_OPERANDS];
    int sp = 0, depth = 0, mask_bits = 0;
    bool in_header = true;
    // Past the end of a charstring the rasteriser reads zeros.
    auto next = [&]() -> uint32_t { return at < code.length ? code.at[at++] : 0; };
    for (uint64_t steps = 0; at < code.length; ++steps) {
        if (steps >= FONT_CHECK_MAX_CHARSTRING_STEPS) return "a glyph's charstring runs too long";
        if ((*budget)-- == 0) return "the font's charstrings run too long";
        uint32_t op = next();
        bool clear = true;
        int i = 0;
        switch (op) {
        case 19: // hintmask, cntrmask
        case 20:
            if (in_header) mask_bits += sp / 2;
            in_header = false;
            at += ((uint64_t)mask_bits + 7) / 8;
            if (at > code.length) return "a glyph's hint mask runs past its charstring";
            break;
        case 1: // stems
        case 3:
        case 18:
        case 23:
            mask_bits += sp / 2;
            break;
        case 21: // rmoveto, vmoveto, hmoveto
        case 4:
        case 22:
            in_header = false;
            if (sp < (op == 21 ? 2 : 1)) return nullptr;
            pen.move(op == 4 ? 0 : s[sp - (op == 21 ? 2 : 1)], op == 22 ? 0 : s[sp - 1]);
            break;
        case 5: // rlineto
            if (sp < 2) return nullptr;
            for (; i + 1 < sp; i += 2) pen.line(s[i], s[i + 1]);
            break;
        case 6: // hlineto, vlineto: alternating
        case 7:
            if (sp < 1) return nullptr;
            for (bool across = op == 6; i < sp; ++i, across = !across) pen.line(across ? s[i] : 0, across ? 0 : s[i]);
            break;
        case 30: // vhcurveto, hvcurveto: alternating
        case 31:
            if (sp < 4) return nullptr;
            for (bool down = op == 30; i + 3 < sp; i += 4, down = !down) {
                float last = sp - i == 5 ? s[i + 4] : 0.0f;
                if (down) pen.curve(0, s[i], s[i + 1], s[i + 2], s[i + 3], last);
                else pen.curve(s[i], 0, s[i + 1], s[i + 2], last, s[i + 3]);
            }
            break;
        case 8: // rrcurveto
            if (sp < 6) return nullptr;
            for (; i + 5 < sp; i += 6) pen.curve(s[i], s[i + 1], s[i + 2], s[i + 3], s[i + 4], s[i + 5]);
            break;
        case 24: // rcurveline
            if (sp < 8) return nullptr;
            for (; i + 5 < sp - 2; i += 6) pen.curve(s[i], s[i + 1], s[i + 2], s[i + 3], s[i + 4], s[i + 5]);
            if (i + 1 >= sp) return nullptr;
            pen.line(s[i], s[i + 1]);
            break;
        case 25: // rlinecurve
            if (sp < 8) return nullptr;
            for (; i + 1 < sp - 6; i += 2) pen.line(s[i], s[i + 1]);
            if (i + 5 >= sp) return nullptr;
            pen.curve(s[i], s[i + 1], s[i + 2], s[i + 3], s[i + 4], s[i + 5]);
            break;
        case 26: // vvcurveto, hhcurveto
        case 27: {
            if (sp < 4) return nullptr;
            float first = (sp & 1) ? s[i++] : 0.0f;
            for (; i + 3 < sp; i += 4, first = 0) {
                if (op == 27) pen.curve(s[i], first, s[i + 1], s[i + 2], s[i + 3], 0);
                else pen.curve(first, s[i], s[i + 1], s[i + 2], 0, s[i + 3]);
            }
            break;
        }
        case 10: // callsubr: a CID font's glyph calls its own font DICT's
            if (font.cid && subrs == &font.subrs) subrs = &font.fd_subrs[fd_of(font, glyph)];
            [[fallthrough]];
        case 29: // callgsubr
            if (sp < 1 || depth >= CFF_MAX_CALLS) return nullptr;
            calls[depth] = code;
            returns[depth++] = at;
            code = subroutine(font.cff, op == 10 ? *subrs : font.global_subrs, (int)s[--sp]);
            if (code.length == 0) return nullptr;
            at = 0;
            clear = false;
            break;
        case 11: // return
            if (depth <= 0) return nullptr;
            code = calls[--depth];
            at = returns[depth];
            clear = false;
            break;
        case 14: // endchar
            return nullptr;
        case 12: { // flexes
            static const struct {
                uint32_t op;
                int operands;
            } flexes[] = {{34, 7}, {35, 13}, {36, 9}, {37, 11}};
            uint32_t escaped = next();
            int wanted = 0;
            for (auto flex : flexes)
                if (flex.op == escaped) wanted = flex.operands;
            if (wanted == 0 || sp < wanted) return nullptr;
            if (escaped == 34) {
                pen.curve(s[0], 0, s[1], s[2], s[3], 0);
                pen.curve(s[4], 0, s[5], -s[2], s[6], 0);
            } else if (escaped == 35) {
                pen.curve(s[0], s[1], s[2], s[3], s[4], s[5]);
                pen.curve(s[6], s[7], s[8], s[9], s[10], s[11]);
            } else if (escaped == 36) {
                pen.curve(s[0], s[1], s[2], s[3], s[4], 0);
                pen.curve(s[5], 0, s[6], s[7], s[8], -(s[1] + s[3] + s[7]));
            } else {
                float dx = s[0] + s[2] + s[4] + s[6] + s[8], dy = s[1] + s[3] + s[5] + s[7] + s[9];
                bool across = std::fabs(dx) > std::fabs(dy);
                pen.curve(s[0], s[1], s[2], s[3], s[4], s[5]);
                pen.curve(s[6], s[7], s[8], s[9], across ? s[10] : -dx, across ? -dy : s[10]);
            }
            break;
        }
        default: { // operands
            if (op != 255 && op != 28 && op < 32) return nullptr;
            float value;
            if (op == 255) {
                uint32_t fixed = next() << 24;
                fixed |= next() << 16;
                fixed |= next() << 8;
                value = (float)(int32_t)(fixed | next()) / 0x10000;
            } else if (op == 28) {
                uint32_t high = next();
                value = (float)(int16_t)(high << 8 | next());
            } else if (op <= 246) {
                value = (float)((int)op - 139);
            } else {
                int magnitude = ((int)op - (op <= 250 ? 247 : 251)) * 256 + (int)next() + 108;
                value = (float)(int16_t)(op <= 250 ? magnitude : -magnitude);
            }
            if (sp >= CFF_MAX_OPERANDS) return nullptr;
            s[sp++] = value;
            clear = false;
            break;
        }
        }
        if (clear) sp = 0;
    }
    return nullptr; // no endchar: nothing is drawn
}

const char *check_cff(const region &cff, uint32_t glyph_count) {
    if (cff.length >= CFF_MAX_TABLE) return "the CFF table is too large";
    if (!cff.has(0, 4)) return "the CFF table is truncated";
    cff_font font;
    font.cff = cff;
    // Glyph 0 stands in for missing ones even in a font that counts none.
    font.glyph_count = glyph_count ? glyph_count : 1;
    cff_index names, top_dicts, strings;
    uint64_t at = cff.at[2]; // past the header
    if (!read_index(cff, at, &names, &at) || !read_index(cff, at, &top_dicts, &at) ||
        !read_index(cff, at, &strings, &at) || !read_index(cff, at, &font.global_subrs, &at))
        return CFF_BAD_INDEX;
    if (top_dicts.count == 0) return "the CFF table has no Top DICT";
    region top = index_element(cff, top_dicts, 0);
    uint32_t charstrings = 0, type = 2, fd_array = 0, fd_select = 0;
    if (!read_dict(top, 17, &charstrings, 1) || !read_dict(top, 0x106, &type, 1) ||
        !read_dict(top, 0x124, &fd_array, 1) || !read_dict(top, 0x125, &fd_select, 1))
        return "a CFF font DICT is damaged";
    if (const char *bad = private_subrs(cff, top, &font.subrs)) return bad;
    if (type != 2) return "the font's charstrings are not of Type 2";
    if (charstrings == 0) return "the CFF table has no CharStrings";
    if (!read_index(cff, charstrings, &font.charstrings, &at)) return CFF_BAD_INDEX;
    if (font.charstrings.count < font.glyph_count) return "the CFF CharStrings hold fewer glyphs than maxp counts";
    if (fd_array != 0) {
        // CID-keyed: each glyph's subroutines come from its own font DICT,
        // which FDSelect names with one byte.
        cff_index dicts;
        if (fd_select == 0) return "the font's FDSelect is damaged";
        if (!read_index(cff, fd_array, &dicts, &at)) return CFF_BAD_INDEX;
        for (uint32_t fd = 0; fd < dicts.count && fd < 256; ++fd)
            if (const char *bad = private_subrs(cff, index_element(cff, dicts, fd), &font.fd_subrs[fd])) return bad;
        if (const char *bad = check_fd_select(&font, fd_select, dicts.count)) return bad;
        font.cid = true;
    }
    // Subroutines let a few bytes run for long: all glyphs together may take
    // a fixed multiple of the table's size (real fonts run about once through).
    uint64_t budget = 16 * cff.length + ((uint64_t)1 << 20);
    for (uint32_t glyph = 0; glyph < font.glyph_count; ++glyph) {
        // Checked however the glyph ends: its points are converted even
        // when the rasteriser then gives it up.
        cff_pen pen;
        if (const char *bad = run_charstring(font, glyph, pen, &budget)) return bad;
        if (pen.out_of_range) return "a glyph's outline leaves the 16-bit coordinate range";
    }
    return nullptr;
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
    // The rasteriser takes PostScript outlines only from a font without glyf.
    region cff;
    bool has_glyf = find_table(d, start, tables, "glyf", &font.glyf);
    bool has_cff = !has_glyf && find_table(d, start, tables, "CFF ", &cff);
    if (!find_table(d, start, tables, "cmap", &font.cmap) || !find_table(d, start, tables, "head", &font.head) ||
        !find_table(d, start, tables, "hhea", &font.hhea) || !find_table(d, start, tables, "hmtx", &font.hmtx) ||
        !find_table(d, start, tables, "maxp", &font.maxp) ||
        (!has_cff && (!find_table(d, start, tables, "loca", &font.loca) || !has_glyf)))
        return "a required table is missing";
    if (!font.head.has(0, 54) || (has_glyf && font.head.u16_at(50) > 1)) return "the head table is damaged";
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
    return has_cff ? check_cff(cff, font.glyph_count) : check_glyphs(font);
}
