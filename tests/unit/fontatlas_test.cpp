// Glyph atlas, the font cache and text measuring.
#include "render_support.h"

#include "render/fontatlas.h"
#include "render/text_measure.h"
#include "tests/common/hostile_fonts.h"

#include <algorithm>
#include <cmath>

using namespace render_support;

namespace {

class FontAtlas : public RenderTest {
protected:
    fontatlas_font *font() { return context->default_font; }
    int pages() {
        int count = 0;
        for (fontatlas_page *p = font()->atlas->pages; p; p = p->next) ++count;
        return count;
    }
    float advance(uint32_t c, uint32_t px, fontatlas_font *f = nullptr) {
        int advance = 0, bearing = 0;
        stbtt_GetCodepointHMetrics(&(f ? f : font())->info, (int)c, &advance, &bearing);
        return (float)advance * fontatlas_get_scale(f ? f : font(), px);
    }
    float width_of(const char *text, uint32_t px, fontatlas_font *f = nullptr) {
        float w = -1;
        fontatlas_calcstringrect(f ? f : font(), text, px, &w, nullptr);
        return w;
    }
    void expect_refused(const std::string &real,
                        std::initializer_list<std::pair<hostile_fonts::damage, const char *>> cases) {
        for (auto [damage, reason] : cases) {
            std::string name = "bad" + std::to_string(damage) + ".ttf";
            write_file(vfs_dir() + "/" + name, hostile_fonts::damaged(real, damage));
            EXPECT_EQ(fontatlas_new(context->renderer, name.c_str()), nullptr) << reason;
            EXPECT_NE(std::string(SDL_GetError()).find(reason), std::string::npos) << SDL_GetError();
            // Labels and measuring fall back to the default font.
            EXPECT_EQ(lookup_font(context, name.c_str()), font());
        }
    }
};

// Fails the n-th zero-filled allocation made through SDL's allocator.
int callocs_until_failure = -1;
SDL_calloc_func real_calloc;

TEST_F(FontAtlas, FontsThatFailToLoadAreRefusedWithAMessageAndStayFailed) {
    EXPECT_EQ(fontatlas_new(context->renderer, "missing.ttf"), nullptr);
    EXPECT_NE(std::string(SDL_GetError()).find("Couldn't load 'missing.ttf'"), std::string::npos);
    std::string real = read_file(SYSTEM_FONT);
    for (size_t cut : {0ul, 12ul, 400ul, real.size() / 2}) {
        write_file(vfs_dir() + "/cut.ttf", real.substr(0, cut));
        EXPECT_EQ(fontatlas_new(context->renderer, "cut.ttf"), nullptr) << cut;
        EXPECT_NE(std::string(SDL_GetError()).find("Font 'cut.ttf' is bogus or corrupt"), std::string::npos) << cut;
    }
    // The cache answers the default font, and remembers the failure even
    // once the file becomes a real font.
    EXPECT_TRUE(lookup_font(context, nullptr) == font() && lookup_font(context, "cut.ttf") == font());
    write_file(vfs_dir() + "/cut.ttf", real);
    EXPECT_EQ(lookup_font(context, "cut.ttf"), font());

    // A font whose atlas cannot be made is a failed load.
    SDL_malloc_func real_malloc;
    SDL_realloc_func real_realloc;
    SDL_free_func real_free;
    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions(real_malloc, [](size_t n, size_t size) {
        return callocs_until_failure > 0 && --callocs_until_failure == 0 ? nullptr : real_calloc(n, size);
    }, real_realloc, real_free);
    callocs_until_failure = 2; // the font record, then its atlas
    fontatlas_font *failed = fontatlas_new(context->renderer, "font.ttf");
    SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free);
    EXPECT_EQ(failed, nullptr);
    fontatlas_delete(failed);
}

TEST_F(FontAtlas, FontsWhoseStructuresLeaveTheirDataAreRefusedBeforeTheyAreRead) {
    expect_refused(read_file(SYSTEM_FONT), {
        {hostile_fonts::LOCA_PAST_GLYF, "outline lies outside the glyf table"},
        {hostile_fonts::CMAP_PAST_END, "cmap subtable lies outside"},
        {hostile_fonts::SELF_COMPOSITE, "refers to itself"},
        {hostile_fonts::DEEP_COMPOSITES, "nest too deep"},
        {hostile_fonts::SHORT_HMTX, "hmtx table is shorter than hhea's count"},
        {hostile_fonts::FAR_PART, "places a part outside the 16-bit coordinate range"},
        {hostile_fonts::PAIR_SET_PAST, "GPOS table points outside itself"},
    });
}

TEST_F(FontAtlas, PostScriptOutlinesDrawAndMeasureAndDamagedOnesAreRefused) {
    std::string real = read_file(hostile_fonts::CFF_SOURCE);
    if (real.empty())
        GTEST_SKIP() << hostile_fonts::CFF_SOURCE << " is missing (tools/setup installs fonts-cantarell)";
    write_file(vfs_dir() + "/cff.otf", real);
    fontatlas_font *cff = lookup_font(context, "cff.otf");
    ASSERT_NE(cff, font()) << SDL_GetError();
    const uint32_t px = 60;
    const fontatlas_glyph *a = fontatlas_getglyph(cff, 'A', px);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->h > px / 2 && a->h <= px && a->w > px / 3) << a->w << "x" << a->h;
    EXPECT_FLOAT_EQ(width_of("Hi", px, cff), advance('H', px, cff) + advance('i', px, cff));
    EXPECT_NE(width_of("Hi", px, cff), width_of("Hi", px));
    // A label in it lights pixels.
    run(build().passes(1).pass(nullptr, W, H).label(W / 2, H / 2, "A", 10, 1, rgba(255, 255, 255), "cff.otf")
            .end_pass());
    std::vector<uint32_t> screen(W * H);
    SDL_RenderReadPixels(context->renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, screen.data(), W * 4);
    EXPECT_GT(std::count_if(screen.begin(), screen.end(), [](uint32_t p) { return (p & 0xFF) > 128; }), 50);

    expect_refused(real, {
        {hostile_fonts::CFF_CUT_SHORT, "CFF INDEX is damaged or lies outside the CFF table"},
        {hostile_fonts::CFF_HUGE_OUTLINE, "leaves the 16-bit coordinate range"},
        {hostile_fonts::CFF_SUBR_EXPLOSION, "charstring runs too long"},
        {hostile_fonts::CFF_HINT_PAST_END, "hint mask runs past its charstring"},
    });
}

TEST_F(FontAtlas, PagesStayWithinTheirBudgetAndEvictedGlyphsAreRasterisedAgain) {
    fontatlas_set_page_limit(3);
    uint32_t hud = fontatlas_glyph_key('A', 30);
    for (uint32_t px = 60; px <= 250; px += 10) {
        for (uint32_t c : {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}) ASSERT_NE(fontatlas_getglyph(font(), c, px), nullptr);
        fontatlas_getglyph(font(), 'A', 30); // drawn every frame
        EXPECT_LE(fontatlas_page_count(), 3u);
    }
    EXPECT_NE(fontatlas_findglyph(font(), hud), nullptr);
    uint32_t evicted = 60;
    while (evicted < 250 && fontatlas_findglyph(font(), fontatlas_glyph_key('H', evicted))) evicted += 10;
    ASSERT_LT(evicted, 250u);
    fontatlas_glyph *again = fontatlas_getglyph(font(), 'H', evicted);
    ASSERT_NE(again, nullptr);
    EXPECT_GT(again->w, 0u);
    fontatlas_set_page_limit(FONTATLAS_DEFAULT_PAGE_LIMIT);
}

TEST_F(FontAtlas, PackerOpensPagesAtTheHeadAndRefusesGlyphsLargerThanAPage) {
    fontatlas_atlas *atlas = font()->atlas;
    // 100 x 100 cells: a page takes 5 x 5 of them.
    fontatlas_glyph_bitmap cell = {};
    cell.w = cell.h = 100;
    for (cell.key = 1000; cell.key < 1025; ++cell.key) ASSERT_TRUE(fontatlas_packglyph(atlas, &cell));
    EXPECT_EQ(pages(), 1);
    cell.key = 2000;
    ASSERT_TRUE(fontatlas_packglyph(atlas, &cell));
    EXPECT_EQ(pages(), 2);
    EXPECT_EQ(fontatlas_findglyph(font(), 2000)->texture, atlas->pages->texture);
    // A glyph larger than a page is refused instead of opening pages forever.
    cell.w = 511, cell.h = 4, cell.key = 3000;
    EXPECT_FALSE(fontatlas_packglyph(atlas, &cell));
    EXPECT_EQ(pages(), 2);
    cell.w = 510;
    EXPECT_TRUE(fontatlas_packglyph(atlas, &cell));
}

TEST_F(FontAtlas, MeasuringAddsUnroundedAdvancesAndKerning) {
    const uint32_t px = 102;
    float scale = fontatlas_get_scale(font(), px), h = -1;
    fontatlas_calcstringrect(font(), "", px, nullptr, &h);
    EXPECT_EQ(width_of("", px), 0.0f);
    EXPECT_FLOAT_EQ(h, scale * (font()->ascent - font()->descent + font()->line_gap));
    float kerning = fontatlas_get_kerningadvance(font(), 'A', 'V', scale);
    EXPECT_NE(kerning, std::trunc(kerning));
    EXPECT_FLOAT_EQ(width_of("AV", px), advance('A', px) + advance('V', px) + kerning);
    // The same once the glyphs are cached by drawing.
    fontatlas_getglyph(font(), 'V', px);
    fontatlas_getglyph(font(), 'A', px);
    EXPECT_FLOAT_EQ(width_of("AV", px), advance('A', px) + advance('V', px) + kerning);
    // Invalid UTF-8 and characters without glyphs add nothing, and no glyph
    // is cached for them.
    EXPECT_EQ(width_of("A\xFF\xF4\x8F\xBF\xBD", px), advance('A', px));
    EXPECT_EQ(fontatlas_getglyph(font(), 0x10FFFD, px), nullptr);
    EXPECT_EQ(fontatlas_getglyph(font(), UTF8_INVALID, px), nullptr);
    // At 300 pixels 'B' would share its key with 'C' at 44: sizes beyond the
    // key's range never read another size's glyph.
    ASSERT_EQ(fontatlas_glyph_key('B', 300), fontatlas_glyph_key('C', 44));
    fontatlas_getglyph(font(), 'C', 44);
    EXPECT_EQ(width_of("B", 300), advance('B', 300));
    float w = 1;
    measure_text(nullptr, "Hello", 0, nullptr, &w, &h);
    EXPECT_EQ(w + h, 0.0f) << "no context, no size";
}

} // namespace
