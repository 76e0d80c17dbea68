// Structural check of a TrueType or OpenType font before stb_truetype reads
// it. The rasteriser trusts every offset and count in the file; fonts come
// from game folders and players' mods, so a damaged or hostile one must be
// refused instead of sending it past the end of the data or into endless
// recursion.
#pragma once

#include <cstddef>
#include <cstdint>

// Deepest composite glyph nesting accepted (real fonts use two or three).
constexpr int FONT_CHECK_MAX_COMPONENT_DEPTH = 8;
// Most points a glyph may have once its components are expanded.
constexpr size_t FONT_CHECK_MAX_GLYPH_POINTS = 1 << 20;
// Most operators and operands a PostScript glyph may run, subroutines
// included (real glyphs run a few thousand at most).
constexpr uint64_t FONT_CHECK_MAX_CHARSTRING_STEPS = 1 << 16;

// Offset of the first font of a file (a font collection names it in its
// header); SIZE_MAX when the file is too short to say.
size_t font_check_first_font(const unsigned char *data, size_t size);

// NULL when everything stb_truetype reads of the font at `start` lies inside
// the data: the table directory and every table; cmap's subtables with their
// segment arrays; loca and every glyph's outline inside glyf; composite
// glyphs that refer to existing glyphs without cycles, nested at most
// FONT_CHECK_MAX_COMPONENT_DEPTH deep, placing their parts inside 16-bit
// coordinates; hmtx long enough for hhea's count;
// kern and GPOS pair tables; for PostScript (CFF) outlines, every INDEX and
// DICT the rasteriser reaches inside the CFF table, FDSelect covering every
// glyph, and every glyph's charstring run within
// FONT_CHECK_MAX_CHARSTRING_STEPS, inside 16-bit coordinates. Otherwise a
// short reason for the log.
const char *font_check(const unsigned char *data, size_t size, size_t start);
