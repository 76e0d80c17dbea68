#include "fontatlas.h"

#include "font_check.h"

#include "../host/fileio.h"
#include "../host/fps_meter.h"

#include <cmath>
#include <cstring>

#define STBTT_malloc(size, user) ((void)(user), SDL_malloc(size))
#define STBTT_free(pointer, user) ((void)(user), SDL_free(pointer))
#define STBTT_assert(x) SDL_assert(x)
#include "truetype_impl.h"

namespace {

// Code points beyond Unicode (the decoder's invalid marker among them) have
// no glyph; stb_truetype is not asked about them.
// A character map may name glyphs the font does not have; their metrics
// would be read past the end of hmtx.
int glyph_index(const fontatlas_font *font, uint32_t codepoint) {
    int index = codepoint <= 0x10FFFF ? stbtt_FindGlyphIndex(&font->info, (int)codepoint) : 0;
    return index < font->info.numGlyphs ? index : 0;
}

// Every live atlas, for the page budget. Like the atlases themselves, used
// under the render context's text lock.
struct atlas_registry {
    fontatlas_atlas *atlases;
    uint32_t pages;
    uint32_t page_limit;
    uint64_t clock;
};
atlas_registry registry = {nullptr, 0, FONTATLAS_DEFAULT_PAGE_LIMIT, 0};

void free_page(fontatlas_page *page) {
    if (page->texture) SDL_DestroyTexture(page->texture);
    while (fontatlas_skyline_node *node = page->skyline) {
        page->skyline = node->next;
        SDL_free(node);
    }
    SDL_free(page);
    --registry.pages;
}

// Drops the least recently used page of any atlas with the glyphs on it.
bool evict_least_recent_page() {
    fontatlas_atlas *owner = nullptr;
    fontatlas_page **link = nullptr;
    for (fontatlas_atlas *atlas = registry.atlases; atlas; atlas = atlas->next_atlas)
        for (fontatlas_page **at = &atlas->pages; *at; at = &(*at)->next)
            if (!link || (*at)->last_used < (*link)->last_used) {
                link = at;
                owner = atlas;
            }
    if (!link) return false;
    fontatlas_page *page = *link;
    *link = page->next;
    for (fontatlas_glyph_node *&head : owner->buckets) {
        for (fontatlas_glyph_node **at = &head; *at;) {
            fontatlas_glyph_node *node = *at;
            if (node->page != page) {
                at = &node->next;
                continue;
            }
            *at = node->next;
            SDL_free(node->glyph);
            SDL_free(node);
        }
    }
    free_page(page);
    return true;
}

fontatlas_glyph_node *first_node(const fontatlas_atlas *atlas, uint32_t key) {
    for (fontatlas_glyph_node *node = atlas->buckets[fontatlas_glyph_bucket(key)]; node; node = node->next)
        if (node->key == key) return node;
    return nullptr;
}

fontatlas_page *new_page(fontatlas_atlas *atlas) {
    while (registry.pages >= registry.page_limit && evict_least_recent_page()) {
    }
    fontatlas_page *page = (fontatlas_page *)SDL_calloc(1, sizeof(fontatlas_page));
    if (!page) return nullptr;
    page->skyline = (fontatlas_skyline_node *)SDL_calloc(1, sizeof(fontatlas_skyline_node));
    if (!page->skyline) {
        SDL_free(page);
        return nullptr;
    }
    page->skyline->width = atlas->page_width;
    // A renderer that cannot make the texture leaves the page without one:
    // glyphs still get their metrics, they just draw nothing.
    page->texture = SDL_CreateTexture(atlas->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                      (int)atlas->page_width, (int)atlas->page_height);
    if (page->texture) SDL_SetTextureBlendMode(page->texture, SDL_BLENDMODE_BLEND);
    page->next = atlas->pages;
    page->last_used = ++registry.clock;
    atlas->pages = page;
    ++registry.pages;
    return page;
}

struct placement {
    fontatlas_skyline_node *start;
    fontatlas_skyline_node *before_start; // NULL when start is the head
    uint32_t y;                           // top of the placement
};

bool find_placement(const fontatlas_atlas *atlas, const fontatlas_page *page, uint32_t w, uint32_t h,
                    placement *best) {
    bool found = false;
    uint32_t best_depth = 0;
    fontatlas_skyline_node *previous = nullptr;
    for (fontatlas_skyline_node *s = page->skyline; s; previous = s, s = s->next) {
        if ((uint64_t)s->x + w > atlas->page_width) continue;
        uint32_t y = 0;
        int64_t remaining = w;
        bool fits = true;
        for (fontatlas_skyline_node *n = s; n && remaining > 0; n = n->next) {
            if (n->y > y) y = n->y;
            if ((uint64_t)y + h > atlas->page_height) {
                fits = false;
                break;
            }
            remaining -= n->width;
        }
        if (!fits || remaining > 0) continue;
        uint32_t depth = y + h;
        if (!found || depth < best_depth || (depth == best_depth && s->width < best->start->width)) {
            found = true;
            best_depth = depth;
            best->start = s;
            best->before_start = previous;
            best->y = y;
        }
    }
    return found;
}

// Inserts the skyline node of a placement; *x_out receives its left edge.
bool place_on_page(fontatlas_page *page, const placement &where, uint32_t w, uint32_t h, uint32_t *x_out) {
    fontatlas_skyline_node *node = (fontatlas_skyline_node *)SDL_malloc(sizeof(fontatlas_skyline_node));
    if (!node) return false;
    uint32_t x = where.start->x;
    *x_out = x;
    node->x = x;
    node->y = where.y + h;
    node->width = w;
    node->next = where.start;
    if (where.before_start)
        where.before_start->next = node;
    else
        page->skyline = node;

    // Nodes now covered by the new one go; the first one reaching past it is cut.
    uint32_t end = x + w;
    while (fontatlas_skyline_node *n = node->next) {
        if (n->x + n->width <= end) {
            node->next = n->next;
            SDL_free(n);
            continue;
        }
        if (n->x < end) {
            uint32_t overlap = end - n->x;
            n->x += overlap;
            n->width -= overlap;
        }
        break;
    }
    for (fontatlas_skyline_node *n = page->skyline; n && n->next;) {
        fontatlas_skyline_node *right = n->next;
        if (right->y == n->y) {
            n->width += right->width;
            n->next = right->next;
            SDL_free(right);
        } else {
            n = right;
        }
    }
    return true;
}

} // namespace

fontatlas_font *fontatlas_new(SDL_Renderer *renderer, const char *path) {
    size_t size = 0;
    unsigned char *data = (unsigned char *)loadfile(path, &size);
    if (!data) {
        SDL_SetError("Couldn't load '%s': %s", path ? path : "(null)", physfs_error());
        return nullptr;
    }
    fontatlas_font *font = (fontatlas_font *)SDL_calloc(1, sizeof(fontatlas_font));
    if (!font) {
        SDL_free(data);
        SDL_OutOfMemory();
        return nullptr;
    }
    size_t start = font_check_first_font(data, size);
    const char *damage = font_check(data, size, start);
    if (damage || !stbtt_InitFont(&font->info, data, (int)start)) {
        SDL_free(data);
        SDL_free(font);
        SDL_SetError("Font '%s' is bogus or corrupt: %s", path, damage ? damage : "stb_truetype refused it");
        return nullptr;
    }
    font->file_data = data;
    int ascent = 0, descent = 0, line_gap = 0;
    stbtt_GetFontVMetrics(&font->info, &ascent, &descent, &line_gap);
    font->ascent = (float)ascent;
    font->descent = (float)descent;
    font->line_gap = (float)line_gap;
    // A font without its atlas could never draw or be measured consistently:
    // treat it as a failed load.
    font->atlas = (fontatlas_atlas *)SDL_calloc(1, sizeof(fontatlas_atlas));
    if (!font->atlas) {
        SDL_free(data);
        SDL_free(font);
        SDL_OutOfMemory();
        return nullptr;
    }
    font->kerning = (fontatlas_kerning_pair *)SDL_calloc(FONTATLAS_KERNING_SLOTS, sizeof(fontatlas_kerning_pair));
    if (!font->kerning) {
        SDL_free(font->atlas);
        SDL_free(data);
        SDL_free(font);
        SDL_OutOfMemory();
        return nullptr;
    }
    font->atlas->renderer = renderer;
    font->atlas->page_width = FONTATLAS_PAGE_SIZE;
    font->atlas->page_height = FONTATLAS_PAGE_SIZE;
    font->atlas->next_atlas = registry.atlases;
    registry.atlases = font->atlas;
    return font;
}

void fontatlas_delete(fontatlas_font *font) {
    if (!font) return;
    if (fontatlas_atlas *atlas = font->atlas) {
        for (fontatlas_atlas **at = &registry.atlases; *at; at = &(*at)->next_atlas)
            if (*at == atlas) {
                *at = atlas->next_atlas;
                break;
            }
        while (fontatlas_page *page = atlas->pages) {
            atlas->pages = page->next;
            free_page(page);
        }
        for (fontatlas_glyph_node *&head : atlas->buckets) {
            while (fontatlas_glyph_node *node = head) {
                head = node->next;
                SDL_free(node->glyph);
                SDL_free(node);
            }
        }
        SDL_free(atlas);
    }
    SDL_free(font->kerning);
    SDL_free(font->file_data);
    SDL_free(font);
}

float fontatlas_get_scale(const fontatlas_font *font, uint32_t px) {
    float height = font->ascent - font->descent;
    return height != 0.0f ? (float)px / height : 0.0f;
}

float fontatlas_get_ascent(const fontatlas_font *font, float scale) { return font->ascent * scale; }

uint32_t fontatlas_glyph_key(uint32_t codepoint, uint32_t px) { return px | codepoint << 8; }

uint32_t fontatlas_glyph_bucket(uint32_t key) {
    uint32_t h = (key ^ 61u) ^ (key >> 16);
    h = h + (h << 3);
    h = h ^ (h >> 4);
    h = h * 0x27D4EB2Du;
    h = h ^ (h >> 15);
    return h & (FONTATLAS_BUCKETS - 1);
}

int fontatlas_glyph_compare(const void *a, const void *b) {
    const fontatlas_glyph_bitmap *left = (const fontatlas_glyph_bitmap *)a;
    const fontatlas_glyph_bitmap *right = (const fontatlas_glyph_bitmap *)b;
    if (left->h != right->h) return left->h > right->h ? -1 : 1;
    if (left->w != right->w) return left->w > right->w ? -1 : 1;
    return 0;
}

bool fontatlas_packglyph(fontatlas_atlas *atlas, const fontatlas_glyph_bitmap *bitmap) {
    uint32_t w = bitmap->w + 2, h = bitmap->h + 2;
    // A glyph larger than a page fits on no page, however many are added.
    if (bitmap->w > atlas->page_width - 2 || bitmap->h > atlas->page_height - 2) return false;

    fontatlas_page *page = nullptr;
    placement where{};
    uint32_t x = 0;
    for (fontatlas_page *candidate = atlas->pages; candidate && !page; candidate = candidate->next)
        if (find_placement(atlas, candidate, w, h, &where) && place_on_page(candidate, where, w, h, &x))
            page = candidate;
    if (!page) {
        fontatlas_page *fresh = new_page(atlas);
        if (!fresh || !find_placement(atlas, fresh, w, h, &where) || !place_on_page(fresh, where, w, h, &x))
            return false;
        page = fresh;
    }
    if (bitmap->w && bitmap->h && page->texture && bitmap->pixels) {
        SDL_Rect rect = {(int)x + 1, (int)where.y + 1, (int)bitmap->w, (int)bitmap->h};
        SDL_UpdateTexture(page->texture, &rect, bitmap->pixels, (int)bitmap->w * 4);
    }

    fontatlas_glyph *glyph = (fontatlas_glyph *)SDL_malloc(sizeof(fontatlas_glyph));
    fontatlas_glyph_node *node = (fontatlas_glyph_node *)SDL_malloc(sizeof(fontatlas_glyph_node));
    if (!glyph || !node) {
        SDL_free(glyph);
        SDL_free(node);
        return false;
    }
    *glyph = {page->texture, x + 1,          where.y + 1,  bitmap->w,    bitmap->h,   bitmap->advance,
              bitmap->left_bearing, bitmap->x0, bitmap->y0, bitmap->x1, bitmap->y1};
    uint32_t bucket = fontatlas_glyph_bucket(bitmap->key);
    page->last_used = ++registry.clock;
    node->key = bitmap->key;
    node->glyph = glyph;
    node->page = page;
    node->next = atlas->buckets[bucket];
    atlas->buckets[bucket] = node;
    return true;
}

void fontatlas_cacheglyphs(fontatlas_font *font, uint32_t px, const uint32_t *codepoints, int count) {
    if (!font || !font->atlas || !codepoints || count <= 0) return;
    fontatlas_glyph_bitmap *bitmaps =
        (fontatlas_glyph_bitmap *)SDL_calloc((size_t)count, sizeof(fontatlas_glyph_bitmap));
    if (!bitmaps) return;
    int used = 0;
    float scale = fontatlas_get_scale(font, px);
    const uint32_t limit = font->atlas->page_width - 2;
    const uint32_t limit_h = font->atlas->page_height - 2;
    for (int i = 0; i < count; ++i) {
        uint32_t c = codepoints[i];
        if (c == 0) continue;
        uint32_t key = fontatlas_glyph_key(c, px);
        fontatlas_glyph_node *cached = first_node(font->atlas, key);
        if (cached && cached->glyph) continue;
        int index = glyph_index(font, c);
        if (index == 0) continue;
        int advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&font->info, index, &advance, &bearing);
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetGlyphBitmapBox(&font->info, index, scale, scale, &x0, &y0, &x1, &y1);
        uint32_t w = (uint32_t)(x1 - x0), h = (uint32_t)(y1 - y0);
        // Refused before rasterising: it could never be packed.
        if (w > limit || h > limit_h) continue;
        uint32_t *pixels = nullptr;
        if (w && h && !stbtt_IsGlyphEmpty(&font->info, index)) {
            size_t area = (size_t)w * h;
            unsigned char *coverage = (unsigned char *)SDL_malloc(area);
            pixels = (uint32_t *)SDL_malloc(area * 4);
            if (!coverage || !pixels) {
                SDL_free(coverage);
                SDL_free(pixels);
                continue;
            }
            stbtt_MakeGlyphBitmap(&font->info, coverage, (int)w, (int)h, (int)w, scale, scale, index);
            // White, with the coverage as alpha: labels colour it through the
            // texture's colour and alpha modulation.
            for (size_t p = 0; p < area; ++p) pixels[p] = 0x00FFFFFFu | (uint32_t)coverage[p] << 24;
            SDL_free(coverage);
        }
        fontatlas_glyph_bitmap &b = bitmaps[used++];
        b.w = pixels ? w : 0;
        b.h = pixels ? h : 0;
        b.key = key;
        b.pixels = pixels;
        b.advance = (float)advance * scale;
        b.left_bearing = (float)bearing * scale;
        b.x0 = (float)x0;
        b.y0 = (float)y0;
        b.x1 = (float)x1;
        b.y1 = (float)y1;
    }
    if (used == 1) {
        fontatlas_packglyph(font->atlas, &bitmaps[0]);
    } else if (used > 1) {
        fontatlas_glyph_bitmap *sorted =
            (fontatlas_glyph_bitmap *)SDL_malloc((size_t)used * sizeof(fontatlas_glyph_bitmap));
        if (sorted) {
            std::memcpy(sorted, bitmaps, (size_t)used * sizeof(fontatlas_glyph_bitmap));
            SDL_qsort(sorted, (size_t)used, sizeof(fontatlas_glyph_bitmap), fontatlas_glyph_compare);
            for (int i = 0; i < used; ++i) fontatlas_packglyph(font->atlas, &sorted[i]);
            SDL_free(sorted);
        }
    }
    for (int i = 0; i < used; ++i) SDL_free(bitmaps[i].pixels);
    SDL_free(bitmaps);
}

const fontatlas_glyph *fontatlas_findglyph(const fontatlas_font *font, uint32_t key) {
    if (!font || !font->atlas) return nullptr;
    fontatlas_glyph_node *node = first_node(font->atlas, key);
    return node ? node->glyph : nullptr;
}

const fontatlas_glyph *fontatlas_useglyph(fontatlas_font *font, uint32_t key) {
    if (!font || !font->atlas) return nullptr;
    fontatlas_glyph_node *node = first_node(font->atlas, key);
    if (!node || !node->glyph) return nullptr;
    if (node->page) node->page->last_used = ++registry.clock;
    return node->glyph;
}

fontatlas_glyph *fontatlas_getglyph(fontatlas_font *font, uint32_t codepoint, uint32_t px) {
    if (!font || !font->atlas) return nullptr;
    uint32_t key = fontatlas_glyph_key(codepoint, px);
    fontatlas_glyph_node *node = first_node(font->atlas, key);
    if (!node || !node->glyph) {
        fontatlas_cacheglyphs(font, px, &codepoint, 1);
        node = first_node(font->atlas, key);
    }
    if (!node) return nullptr;
    if (node->page) node->page->last_used = ++registry.clock;
    return node->glyph;
}

void fontatlas_set_page_limit(uint32_t pages) { registry.page_limit = pages ? pages : 1; }

uint32_t fontatlas_page_count() { return registry.pages; }

float fontatlas_get_kerningadvance(const fontatlas_font *font, uint32_t codepoint1, uint32_t codepoint2,
                                   float scale) {
    if (!font || codepoint1 == 0 || codepoint2 == 0) return 0.0f;
    if (!font->info.kern && !font->info.gpos) return 0.0f;
    fontatlas_kerning_pair &slot = font->kerning[(codepoint1 * 0x9E3779B1u ^ codepoint2 * 0x85EBCA77u) >> 22 &
                                                 (FONTATLAS_KERNING_SLOTS - 1)];
    if (slot.first != codepoint1 || slot.second != codepoint2) {
        int g1 = glyph_index(font, codepoint1);
        int g2 = glyph_index(font, codepoint2);
        slot = {codepoint1, codepoint2, stbtt_GetGlyphKernAdvance(&font->info, g1, g2)};
    }
    return (float)slot.advance * scale;
}

void fontatlas_calcstringrect(const fontatlas_font *font, const char *text, uint32_t px, float *out_width,
                              float *out_height) {
    if (!font) return;
    float scale = fontatlas_get_scale(font, px);
    // In double precision: a font without a line gap measures exactly px
    // high, not a rounding error above it (which would round up to px + 1).
    const double units = (double)font->ascent - font->descent;
    if (out_height)
        *out_height = units != 0.0 ? (float)((double)px * (units + font->line_gap) / units) : 0.0f;
    if (!out_width) return;
    float width = 0.0f;
    if (!text) {
        *out_width = 0.0f;
        return;
    }
    // Keys hold pixel sizes up to 255 only; beyond that the atlas could
    // answer another size's glyph, so only the metrics are used.
    bool atlas_usable = px <= FONTATLAS_MAX_PIXEL_SIZE;
    const char *cursor = text;
    uint32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        uint32_t next = utf8codepoint(&cursor);
        float advance = 0.0f;
        const fontatlas_glyph *glyph = atlas_usable ? fontatlas_findglyph(font, fontatlas_glyph_key(c, px)) : nullptr;
        // Whole advances, not truncated: a label's pen moves by them, so a
        // truncated sum would fall short of the drawn text by up to a pixel
        // a character.
        if (glyph) {
            advance = glyph->advance;
        } else if (int index = glyph_index(font, c)) {
            int advance_width = 0, bearing = 0;
            stbtt_GetGlyphHMetrics(&font->info, index, &advance_width, &bearing);
            advance = (float)advance_width * scale;
        }
        if (next == 0) {
            width += advance;
            break;
        }
        width += advance + fontatlas_get_kerningadvance(font, c, next, scale);
        c = next;
    }
    *out_width = width;
}
