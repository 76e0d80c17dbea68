// Glyph atlas, the two caches and text measuring.
#include "render_support.h"

#include "render/fontatlas.h"
#include "render/render_cache.h"
#include "render/text_measure.h"

#include <cmath>
#include <set>

using namespace render_support;

namespace {

class FontAtlas : public RenderTest {
protected:
    fontatlas_font *font() { return context->default_font; }

    int glyph_nodes() {
        int count = 0;
        for (fontatlas_glyph_node *head : font()->atlas->buckets)
            for (fontatlas_glyph_node *n = head; n; n = n->next) ++count;
        return count;
    }
    int pages() {
        int count = 0;
        for (fontatlas_page *p = font()->atlas->pages; p; p = p->next) ++count;
        return count;
    }
    static void expect_sound_skyline(const fontatlas_page *page) {
        uint32_t total = 0, expected_x = 0;
        for (const fontatlas_skyline_node *n = page->skyline; n; n = n->next) {
            EXPECT_EQ(n->x, expected_x);
            if (n->next) {
                EXPECT_NE(n->y, n->next->y) << "neighbours at one depth were not merged";
            }
            expected_x += n->width;
            total += n->width;
        }
        EXPECT_EQ(total, FONTATLAS_PAGE_SIZE);
    }
    float advance_in_font_units(uint32_t c) {
        int advance = 0, bearing = 0;
        stbtt_GetCodepointHMetrics(&font()->info, (int)c, &advance, &bearing);
        return (float)advance;
    }
};

TEST_F(FontAtlas, CacheBucketsFollowTheNameHash) {
    EXPECT_EQ(render_cache_bucket(""), 5u);
    EXPECT_EQ(render_cache_bucket("a"), 196u);
    EXPECT_EQ(render_cache_bucket("font.ttf"), 158u);
    // Bytes above 0x7F are taken as signed.
    EXPECT_EQ(render_cache_bucket("\xC3\xA9"), ((5381u * 33u ^ 0xFFFFFFC3u) * 33u ^ 0xFFFFFFA9u) & 255u);
}

TEST_F(FontAtlas, TextureEntriesAreMadeOnceAndSharedBuckets) {
    EXPECT_EQ(lookup_texture_entry(context, nullptr), nullptr);
    EXPECT_EQ(context->texture_cache, nullptr);

    render_cache_entry *a = lookup_texture_entry(context, "sprites/a.png");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->payload, nullptr);
    EXPECT_EQ(lookup_texture_entry(context, "sprites/a.png"), a);

    // Another name in bucket 158 is pushed in front of "font.ttf".
    std::string other;
    for (int i = 0; other.empty(); ++i) {
        std::string candidate = "n" + std::to_string(i);
        if (render_cache_bucket(candidate.c_str()) == 158) other = candidate;
    }
    render_cache_entry *first = lookup_texture_entry(context, "font.ttf");
    render_cache_entry *second = lookup_texture_entry(context, other.c_str());
    EXPECT_EQ(context->texture_cache->buckets[158], second);
    EXPECT_EQ(second->next, first);
    EXPECT_EQ(lookup_texture_entry(context, "font.ttf"), first);
    EXPECT_EQ(lookup_texture_entry(context, other.c_str()), second);
}

TEST_F(FontAtlas, FontsThatFailToLoadStayFailedAndGiveTheDefault) {
    write_file(vfs_dir() + "/not_a_font.ttf", "definitely not a font file, but long enough to look at");
    EXPECT_EQ(lookup_font(context, nullptr), font());
    EXPECT_EQ(lookup_font(context, "not_a_font.ttf"), font());
    // Even once the file becomes a real font, the failure is remembered.
    copy_file(SYSTEM_FONT, vfs_dir() + "/not_a_font.ttf");
    EXPECT_EQ(lookup_font(context, "not_a_font.ttf"), font());

    fontatlas_font *loaded = lookup_font(context, "font.ttf");
    EXPECT_NE(loaded, nullptr);
    EXPECT_NE(loaded, font()); // the cache holds its own copy
    EXPECT_EQ(lookup_font(context, "font.ttf"), loaded);

    // The empty name is an ordinary key, in bucket 5.
    EXPECT_EQ(lookup_font(context, ""), font());
    ASSERT_NE(context->font_cache->buckets[5], nullptr);
    EXPECT_STREQ(context->font_cache->buckets[5]->name, "");
}

TEST_F(FontAtlas, DamagedFontFilesAreRefusedWithAMessage) {
    EXPECT_EQ(fontatlas_new(context->renderer, "missing.ttf"), nullptr);
    EXPECT_NE(std::string(SDL_GetError()).find("Couldn't load 'missing.ttf'"), std::string::npos);

    std::string real = read_file(SYSTEM_FONT);
    for (size_t cut : {0ul, 5ul, 12ul, 100ul, 400ul, real.size() / 2}) {
        write_file(vfs_dir() + "/cut.ttf", real.substr(0, cut));
        EXPECT_EQ(fontatlas_new(context->renderer, "cut.ttf"), nullptr) << cut;
        EXPECT_NE(std::string(SDL_GetError()).find("Font 'cut.ttf' is bogus or corrupt"), std::string::npos) << cut;
    }
    fontatlas_delete(nullptr);
}

// Fails the n-th zero-filled allocation made through SDL's allocator.
int callocs_until_failure = -1;
SDL_calloc_func real_calloc;
void *failing_calloc(size_t n, size_t size) {
    if (callocs_until_failure > 0 && --callocs_until_failure == 0) return nullptr;
    return real_calloc(n, size);
}

TEST_F(FontAtlas, AFontWhoseAtlasCannotBeMadeIsAFailedLoad) {
    SDL_malloc_func real_malloc;
    SDL_realloc_func real_realloc;
    SDL_free_func real_free;
    SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
    SDL_SetMemoryFunctions(real_malloc, failing_calloc, real_realloc, real_free);
    callocs_until_failure = 2; // the font record, then its atlas
    fontatlas_font *font = fontatlas_new(context->renderer, "font.ttf");
    callocs_until_failure = -1;
    SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free);
    EXPECT_EQ(font, nullptr);
    fontatlas_delete(font);
}

TEST_F(FontAtlas, ARenderContextNeedsTheDefaultFont) {
    ASSERT_NE(PHYSFS_unmount(vfs_dir().c_str()), 0);
    render_context *without = render_context_new(0, 1, 64, 64, -1, -1, -1, -1, 1.0f);
    std::string error = SDL_GetError();
    PHYSFS_mount(vfs_dir().c_str(), nullptr, 1);
    EXPECT_EQ(without, nullptr);
    render_context_delete(without);
    EXPECT_NE(error.find("Couldn't load 'font.ttf'"), std::string::npos) << error;
}

TEST_F(FontAtlas, GlyphsAreRasterisedOncePerCodepointAndSize) {
    EXPECT_EQ(pages(), 0);
    fontatlas_glyph *a = fontatlas_getglyph(font(), 'A', 22);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(pages(), 1);
    EXPECT_EQ(fontatlas_getglyph(font(), 'A', 22), a);
    EXPECT_EQ(glyph_nodes(), 1);
    fontatlas_glyph *bigger = fontatlas_getglyph(font(), 'A', 40);
    EXPECT_NE(bigger, a);
    EXPECT_GT(bigger->h, a->h);
    EXPECT_EQ(glyph_nodes(), 2);

    // The first glyph of the page sits inside its border at the top left.
    EXPECT_EQ(a->x, 1u);
    EXPECT_EQ(a->y, 1u);
    EXPECT_EQ(a->w, (uint32_t)(a->x1 - a->x0));
    float scale = fontatlas_get_scale(font(), 22);
    EXPECT_FLOAT_EQ(scale, 22.0f / (font()->ascent - font()->descent));
    EXPECT_FLOAT_EQ(a->advance, advance_in_font_units('A') * scale);

    // A codepoint the font lacks is never cached.
    EXPECT_EQ(fontatlas_getglyph(font(), 0x10FFFD, 22), nullptr);
    EXPECT_EQ(fontatlas_getglyph(font(), UTF8_INVALID, 22), nullptr);
    EXPECT_EQ(glyph_nodes(), 2);
}

TEST_F(FontAtlas, SpacesTakeATwoPixelCellAndNeighboursKeepTwoPixelsApart) {
    fontatlas_glyph *space = fontatlas_getglyph(font(), ' ', 30);
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->w, 0u);
    EXPECT_EQ(space->h, 0u);
    EXPECT_GT(space->advance, 0.0f);
    fontatlas_skyline_node *first = font()->atlas->pages->skyline;
    EXPECT_EQ(first->x, 0u);
    EXPECT_EQ(first->y, 2u);
    EXPECT_EQ(first->width, 2u);

    fontatlas_glyph *i = fontatlas_getglyph(font(), 'I', 30);
    fontatlas_glyph *l = fontatlas_getglyph(font(), 'l', 30);
    ASSERT_TRUE(i && l);
    // Both at the top, beside each other, two pixels between them.
    EXPECT_EQ(i->y, 1u);
    EXPECT_EQ(l->y, 1u);
    EXPECT_EQ(l->x, i->x + i->w + 2);
    expect_sound_skyline(font()->atlas->pages);
}

TEST_F(FontAtlas, PackerSortsTallestFirstAndOpensPagesAtTheHead) {
    fontatlas_glyph_bitmap bitmaps[3] = {};
    bitmaps[0].w = 10, bitmaps[0].h = 20, bitmaps[0].key = 1;
    bitmaps[1].w = 12, bitmaps[1].h = 20, bitmaps[1].key = 2;
    bitmaps[2].w = 30, bitmaps[2].h = 5, bitmaps[2].key = 3;
    SDL_qsort(bitmaps, 3, sizeof(fontatlas_glyph_bitmap), fontatlas_glyph_compare);
    EXPECT_EQ(bitmaps[0].key, 2u);
    EXPECT_EQ(bitmaps[1].key, 1u);
    EXPECT_EQ(bitmaps[2].key, 3u);

    fontatlas_atlas *atlas = font()->atlas;
    // Fill pages with 100 x 100 cells; each page takes 5 x 5 of them.
    fontatlas_glyph_bitmap cell = {};
    cell.w = 100;
    cell.h = 100;
    for (int k = 0; k < 25; ++k) {
        cell.key = 1000 + k;
        ASSERT_TRUE(fontatlas_packglyph(atlas, &cell));
    }
    EXPECT_EQ(pages(), 1);
    fontatlas_page *first_page = atlas->pages;
    expect_sound_skyline(first_page);
    cell.key = 2000;
    ASSERT_TRUE(fontatlas_packglyph(atlas, &cell));
    EXPECT_EQ(pages(), 2);
    EXPECT_NE(atlas->pages, first_page);
    EXPECT_EQ(atlas->pages->next, first_page);
    const fontatlas_glyph *newest = fontatlas_findglyph(font(), 2000);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->texture, atlas->pages->texture);
    EXPECT_EQ(newest->x, 1u);
    EXPECT_EQ(newest->y, 1u);
    // Small glyphs still find room on the older page, but the new one is tried first.
    cell.w = cell.h = 4;
    cell.key = 2001;
    ASSERT_TRUE(fontatlas_packglyph(atlas, &cell));
    EXPECT_EQ(fontatlas_findglyph(font(), 2001)->texture, atlas->pages->texture);

    // A glyph larger than a page is refused instead of opening pages forever.
    fontatlas_glyph_bitmap huge = {};
    huge.w = 511;
    huge.h = 4;
    huge.key = 3000;
    EXPECT_FALSE(fontatlas_packglyph(atlas, &huge));
    EXPECT_EQ(pages(), 2);
    huge.w = 510;
    EXPECT_TRUE(fontatlas_packglyph(atlas, &huge));
}

TEST_F(FontAtlas, KerningComesFromTheFontTablesOnly) {
    float scale = fontatlas_get_scale(font(), 100);
    EXPECT_EQ(fontatlas_get_kerningadvance(font(), 0, 'V', scale), 0.0f);
    EXPECT_EQ(fontatlas_get_kerningadvance(font(), 'A', 0, scale), 0.0f);
    float av = fontatlas_get_kerningadvance(font(), 'A', 'V', scale);
    EXPECT_LT(av, 0.0f);
    EXPECT_NE(av, std::trunc(av)); // not rounded
}

TEST_F(FontAtlas, MeasuringAddsTruncatedAdvancesAndUnroundedKerning) {
    const uint32_t px = 102;
    float scale = fontatlas_get_scale(font(), px);
    float w = -1, h = -1;
    fontatlas_calcstringrect(font(), "", px, &w, &h);
    EXPECT_EQ(w, 0.0f);
    EXPECT_FLOAT_EQ(h, scale * (font()->ascent - font()->descent + font()->line_gap));

    float a = std::trunc(advance_in_font_units('A') * scale);
    float v = std::trunc(advance_in_font_units('V') * scale);
    fontatlas_calcstringrect(font(), "A", px, &w, nullptr);
    EXPECT_EQ(w, a);
    fontatlas_calcstringrect(font(), "AV", px, &w, nullptr);
    float expected = a + v + fontatlas_get_kerningadvance(font(), 'A', 'V', scale);
    EXPECT_FLOAT_EQ(w, expected);

    // The same before and after the glyphs are cached by drawing.
    fontatlas_getglyph(font(), 'A', px);
    fontatlas_getglyph(font(), 'V', px);
    float after = 0;
    fontatlas_calcstringrect(font(), "AV", px, &after, nullptr);
    EXPECT_EQ(after, w);

    // Invalid UTF-8 and characters without glyphs add nothing.
    fontatlas_calcstringrect(font(), "A\xFF", px, &w, nullptr);
    EXPECT_EQ(w, a);
}

TEST_F(FontAtlas, SizesBeyondTheKeyRangeNeverReadAnotherSizesGlyph) {
    // At 300 pixels, 'B' would share its key with 'C' at 44 pixels.
    ASSERT_EQ(fontatlas_glyph_key('B', 300), fontatlas_glyph_key('C', 44));
    fontatlas_getglyph(font(), 'C', 44);
    float w = 0;
    fontatlas_calcstringrect(font(), "B", 300, &w, nullptr);
    EXPECT_EQ(w, std::trunc(advance_in_font_units('B') * fontatlas_get_scale(font(), 300)));

    EXPECT_EQ(measure_pixel_size(0), 22u);
    EXPECT_EQ(measure_pixel_size(40), 102u);
    EXPECT_EQ(measure_pixel_size(116), 254u);
    EXPECT_EQ(measure_pixel_size(117), 255u);
    EXPECT_EQ(measure_pixel_size(INT64_MAX), 255u);
    EXPECT_EQ(measure_pixel_size(-11), 1u);
    EXPECT_EQ(measure_pixel_size(INT64_MIN), 1u);
}

TEST_F(FontAtlas, MeasuringUsesTheNamedFontOrTheDefault) {
    float w = 0, h = 0, dw = 0, dh = 0;
    measure_text(context, "Hello", 0, "no/such/font.ttf", &w, &h);
    fontatlas_calcstringrect(font(), "Hello", 22, &dw, &dh);
    EXPECT_EQ(w, dw);
    EXPECT_EQ(h, dh);
    EXPECT_GT(w, 0.0f);
    measure_text(nullptr, "Hello", 0, nullptr, &w, &h);
    EXPECT_EQ(w, 0.0f);
    EXPECT_EQ(h, 0.0f);
}

} // namespace
