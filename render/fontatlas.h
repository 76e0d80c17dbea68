// Glyph atlas: a font file turned into 512 x 512 texture pages into which
// glyphs are rasterised on demand, keyed by (codepoint, pixel size). The
// pages of all fonts share one budget: past it, the least recently used page
// goes with its glyphs, which are rasterised again when next drawn. Pages,
// skylines and glyph records are written on the main thread;
// text measuring reads the glyph records from the simulation thread. Every
// caller outside this unit holds the render context's text_lock.
#pragma once

#include <SDL2/SDL.h>
#include <stb_truetype.h>

#include <cstdint>

constexpr uint32_t FONTATLAS_PAGE_SIZE = 512;
constexpr int FONTATLAS_BUCKETS = 32;
// Pixel sizes live in the low 8 bits of a glyph key.
constexpr uint32_t FONTATLAS_MAX_PIXEL_SIZE = 255;
// Pages (1 MiB of texture each) kept across all fonts before the least
// recently used one is evicted.
constexpr uint32_t FONTATLAS_DEFAULT_PAGE_LIMIT = 32;
// Kerning of recently laid out code point pairs, per font.
constexpr uint32_t FONTATLAS_KERNING_SLOTS = 1024;

struct fontatlas_skyline_node {
    uint32_t x;     // left edge in texture pixels
    uint32_t y;     // filled depth from the texture's top edge
    uint32_t width;
    fontatlas_skyline_node *next;
};

struct fontatlas_page {
    SDL_Texture *texture; // ARGB8888, static, blended
    fontatlas_skyline_node *skyline;
    fontatlas_page *next; // older page
    uint64_t last_used;   // when a glyph on it was last drawn
};

struct fontatlas_glyph {
    SDL_Texture *texture; // the page holding the pixels (not owned)
    uint32_t x, y;        // top-left of the pixels, inside a 1-pixel border
    uint32_t w, h;
    float advance;
    float left_bearing;
    float x0, y0, x1, y1; // bitmap box relative to the pen on the baseline, y down
};

struct fontatlas_glyph_node {
    uint32_t key;
    fontatlas_glyph *glyph;
    fontatlas_glyph_node *next;
    fontatlas_page *page; // where its pixels are
};

struct fontatlas_atlas {
    SDL_Renderer *renderer;
    uint32_t page_width;
    uint32_t page_height;
    fontatlas_page *pages; // newest first
    fontatlas_glyph_node *buckets[FONTATLAS_BUCKETS];
    fontatlas_atlas *next_atlas; // every live atlas shares the page budget
};

// A pair's kerning in font units; first == 0 marks an empty slot.
struct fontatlas_kerning_pair {
    uint32_t first, second;
    int32_t advance;
};

struct fontatlas_font {
    stbtt_fontinfo info; // points into file_data
    unsigned char *file_data;
    fontatlas_atlas *atlas;
    // Looking a pair up in the font's tables costs two character-map
    // searches and a kerning-table search for every glyph laid out; this
    // remembers the answers (FONTATLAS_KERNING_SLOTS, one way per slot).
    fontatlas_kerning_pair *kerning;
    float ascent;   // hhea, font units
    float descent;  // hhea, font units (normally negative)
    float line_gap; // hhea, font units
};

struct fontatlas_glyph_bitmap {
    uint32_t w, h;
    uint32_t key;
    uint32_t *pixels; // w * h ARGB words
    float advance, left_bearing, x0, y0, x1, y1;
};

// Loads a font file of the virtual file system; NULL (with SDL's error text
// set) when it cannot be read, is not a font, or memory runs out.
fontatlas_font *fontatlas_new(SDL_Renderer *renderer, const char *path);
void fontatlas_delete(fontatlas_font *font);

float fontatlas_get_scale(const fontatlas_font *font, uint32_t px);
float fontatlas_get_ascent(const fontatlas_font *font, float scale);

uint32_t fontatlas_glyph_key(uint32_t codepoint, uint32_t px);
uint32_t fontatlas_glyph_bucket(uint32_t key);

// Rasterises and packs every codepoint not yet cached at pixel size px.
void fontatlas_cacheglyphs(fontatlas_font *font, uint32_t px, const uint32_t *codepoints, int count);
// The cached glyph, rasterising it on a miss; NULL when the font has none.
fontatlas_glyph *fontatlas_getglyph(fontatlas_font *font, uint32_t codepoint, uint32_t px);
// The cached glyph, marked as drawn now like fontatlas_getglyph does; NULL on
// a miss, without rasterising (so no page changes or goes).
const fontatlas_glyph *fontatlas_useglyph(fontatlas_font *font, uint32_t key);
// The cached glyph or NULL; never rasterises.
const fontatlas_glyph *fontatlas_findglyph(const fontatlas_font *font, uint32_t key);
float fontatlas_get_kerningadvance(const fontatlas_font *font, uint32_t codepoint1, uint32_t codepoint2, float scale);

// Width and height of a UTF-8 text at pixel size px, from the font's metrics
// and whatever glyphs are cached; never rasterises or touches a texture. The
// width is the one a label of the text is laid out with.
void fontatlas_calcstringrect(const fontatlas_font *font, const char *text, uint32_t px, float *out_width,
                              float *out_height);

// The page budget shared by all atlases (at least 1) and the pages in use.
void fontatlas_set_page_limit(uint32_t pages);
uint32_t fontatlas_page_count();

// Sort order of glyph bitmaps for packing: taller first, then wider.
int fontatlas_glyph_compare(const void *a, const void *b);
// Places one bitmap in the atlas (skyline packer, newest page first). False
// when it cannot be placed: larger than a page, or out of memory.
bool fontatlas_packglyph(fontatlas_atlas *atlas, const fontatlas_glyph_bitmap *bitmap);
