#include "drawing.h"

#include "fontatlas.h"
#include "image.h"
#include "render_cache.h"
#include "render_context.h"

#include <algorithm>
#include <cmath>

namespace {

// Keeps renderer coordinates far from int overflow inside SDL's own sums.
constexpr float COORDINATE_LIMIT = 1073741824.0f;
// Beyond this distance from the origin nothing is ever visible (no target is
// that large). Rectangle edges and line ends further out are brought in to
// it: SDL draws lines and outlines point by point and would otherwise
// allocate memory for every pixel of a line billions of pixels long.
constexpr float VISIBLE_LIMIT = 65536.0f;

float clamp_visible(float value) {
    if (std::isnan(value)) return 0.0f;
    return value < -VISIBLE_LIMIT ? -VISIBLE_LIMIT : value > VISIBLE_LIMIT ? VISIBLE_LIMIT : value;
}

// Clips a segment to the visible square (Liang-Barsky, in double precision
// so that far-away ends do not overflow). False when nothing is left.
bool clip_to_visible(float *ax, float *ay, float *bx, float *by) {
    if (std::isnan(*ax) || std::isnan(*ay) || std::isnan(*bx) || std::isnan(*by)) return false;
    const double x0 = *ax, y0 = *ay, dx = (double)*bx - x0, dy = (double)*by - y0;
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 + VISIBLE_LIMIT, VISIBLE_LIMIT - x0, y0 + VISIBLE_LIMIT, VISIBLE_LIMIT - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1) return false;
            if (t > t0) t0 = t;
        } else {
            if (t < t0) return false;
            if (t < t1) t1 = t;
        }
    }
    *ax = (float)(x0 + t0 * dx);
    *ay = (float)(y0 + t0 * dy);
    *bx = (float)(x0 + t1 * dx);
    *by = (float)(y0 + t1 * dy);
    return true;
}

// A mapped rectangle with its corners kept inside the visible limit: the
// part that can be seen is unchanged.
SDL_Rect visible_rect(const grid_rect &rect) {
    float x0 = clamp_visible(rect.x), y0 = clamp_visible(rect.y);
    float x1 = clamp_visible(rect.x + rect.w), y1 = clamp_visible(rect.y + rect.h);
    int left = render_trunc(x0), top = render_trunc(y0);
    // Width and height as the renderer would have truncated them, unless a
    // corner was brought in.
    int width = x1 == rect.x + rect.w && x0 == rect.x ? render_trunc(rect.w) : render_trunc(x1) - left;
    int height = y1 == rect.y + rect.h && y0 == rect.y ? render_trunc(rect.h) : render_trunc(y1) - top;
    return {left, top, width, height};
}

void set_draw_colour(render_context *context, int32_t r, int32_t g, int32_t b, int32_t a) {
    SDL_SetRenderDrawColor(context->renderer, clamp_channel(r), clamp_channel(g), clamp_channel(b), clamp_channel(a));
}

SDL_Rect to_sdl_rect(const grid_rect &rect) {
    return {render_trunc(rect.x), render_trunc(rect.y), render_trunc(rect.w), render_trunc(rect.h)};
}

SDL_Texture *texture_from_image(SDL_Renderer *renderer, const char *path) {
    int32_t width = 0, height = 0;
    uint8_t *pixels = load_image(path, &width, &height);
    if (!pixels) return nullptr;
    SDL_Texture *texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, width, height);
    if (texture) {
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        if (SDL_UpdateTexture(texture, nullptr, pixels, width * 4) != 0) {
            SDL_DestroyTexture(texture);
            texture = nullptr;
        }
    }
    free_image(pixels);
    return texture;
}

SDL_Texture *sprite_texture(render_context *context, const char *path) {
    render_cache_entry *entry = lookup_texture_entry(context, path);
    if (!entry) return context->fallback_texture;
    // A failed load is not remembered: the next sprite with this path tries
    // again. It is reported once, so that the checkerboard does not leave
    // the game's author guessing.
    if (!entry->payload) entry->payload = texture_from_image(context->renderer, path);
    if (entry->payload) return (SDL_Texture *)entry->payload;
    if (!entry->reported_missing) {
        entry->reported_missing = true;
        render_context_note_missing_sprite(context, path);
    }
    return context->fallback_texture;
}

uint32_t clamp_pixel_size(float size) {
    if (!(size >= 1.0f)) return 1; // NaN included
    if (size >= (float)FONTATLAS_MAX_PIXEL_SIZE) return FONTATLAS_MAX_PIXEL_SIZE;
    return (uint32_t)size;
}

} // namespace

int render_trunc(float value) {
    if (std::isnan(value)) return 0;
    if (value >= COORDINATE_LIMIT) return (int)COORDINATE_LIMIT;
    if (value <= -COORDINATE_LIMIT) return -(int)COORDINATE_LIMIT;
    return (int)value;
}

uint8_t clamp_channel(int32_t value) { return value < 0 ? 0 : value > 255 ? 255 : (uint8_t)value; }

uint32_t label_pixel_size(float size_enum) { return clamp_pixel_size(std::trunc(2.0f * size_enum) + 22.0f); }

grid_rect grid_map_rect(const render_context *context, float x, float y, float w, float h) {
    if (!context->grid_set) return {0, 0, 0, 0};
    float d = (float)context->grid_y_direction;
    grid_rect out = {x + (float)context->grid_origin_x, y * d + (float)context->grid_origin_y, w, h * d};
    if (out.w < 0) {
        out.x += out.w;
        out.w = -out.w;
    }
    if (out.h < 0) {
        out.y += out.h;
        out.h = -out.h;
    }
    return out;
}

void grid_map_point(const render_context *context, float x, float y, float *out_x, float *out_y) {
    if (!context->grid_set) {
        *out_x = 0;
        *out_y = 0;
        return;
    }
    *out_x = x + (float)context->grid_origin_x;
    *out_y = y * (float)context->grid_y_direction + (float)context->grid_origin_y;
}

void draw_solid_command(render_context *context, float x, float y, float w, float h, int32_t r, int32_t g, int32_t b,
                        int32_t a) {
    set_draw_colour(context, r, g, b, a);
    SDL_Rect rect = visible_rect(grid_map_rect(context, x, y, w, h));
    SDL_RenderFillRect(context->renderer, &rect);
}

void draw_border_command(render_context *context, float x, float y, float w, float h, int32_t r, int32_t g,
                         int32_t b, int32_t a) {
    set_draw_colour(context, r, g, b, a);
    SDL_Rect rect = visible_rect(grid_map_rect(context, x, y, w, h));
    SDL_RenderDrawRect(context->renderer, &rect);
}

void draw_line_command(render_context *context, float x, float y, float x2, float y2, int32_t r, int32_t g,
                       int32_t b, int32_t a) {
    set_draw_colour(context, r, g, b, a);
    float ax, ay, bx, by;
    grid_map_point(context, x, y, &ax, &ay);
    grid_map_point(context, x2, y2, &bx, &by);
    if (clamp_visible(ax) != ax || clamp_visible(ay) != ay || clamp_visible(bx) != bx || clamp_visible(by) != by) {
        // Cut the line to the visible square rather than let SDL plot it whole.
        if (!clip_to_visible(&ax, &ay, &bx, &by)) return;
    }
    SDL_RenderDrawLine(context->renderer, render_trunc(ax), render_trunc(ay), render_trunc(bx), render_trunc(by));
}

namespace {

// One axis of a sprite cut down to what can be seen: the visible stretch
// [from, to] of a destination `length` long that shows `texels` texels. With
// nearest sampling a copy is exact when its source is whole texels and its
// destination their exact stretch, so the stretch is covered by at most
// three copies: the partly visible texel at each end, whose single texel
// may be copied onto just its visible part, and the whole texels between.
struct axis_piece {
    int texel, texels;   // source, from the start of the visible source
    double start, size;  // destination, from the start of the sprite
};

int cut_axis(double length, int texels, double from, double to, axis_piece pieces[3]) {
    const double per_texel = length / texels;
    int first = (int)std::min<double>(std::floor(from / per_texel), texels - 1);
    int last = (int)std::min<double>(std::ceil(to / per_texel), texels) - 1; // inclusive
    first = std::max(first, 0);
    if (last < first) return 0;
    auto stretch = [&](int t0, int t1, double clip_from, double clip_to) {
        double start = std::max(t0 * per_texel, clip_from), end = std::min(t1 * per_texel, clip_to);
        return axis_piece{t0, t1 - t0, start, end - start};
    };
    int count = 0;
    pieces[count++] = stretch(first, first + 1, from, to);
    if (last - first > 1) pieces[count++] = stretch(first + 1, last, -INFINITY, INFINITY);
    if (last > first) pieces[count++] = stretch(last, last + 1, from, to);
    return count;
}

} // namespace

void draw_sprite_command(render_context *context, const sprite_command *sprite) {
    grid_rect dest = grid_map_rect(context, sprite->x, sprite->y, sprite->w, sprite->h);
    SDL_Texture *texture = sprite_texture(context, sprite->path.bytes);
    int tw = 0, th = 0;
    if (!texture || SDL_QueryTexture(texture, nullptr, nullptr, &tw, &th) != 0 || tw == 0 || th == 0) return;
    const float ftw = (float)tw, fth = (float)th;

    float sx, sy, sw, sh;
    if (sprite->tile_x == 0 && sprite->tile_y == 0 && sprite->tile_w == -1 && sprite->tile_h == -1) {
        // The source rectangle is measured from the image's bottom edge.
        sx = sprite->source_x;
        if (sprite->source_y == 0 && sprite->source_h == -1) {
            sy = 0;
            sw = sprite->source_w;
            sh = -1;
        } else {
            sw = sprite->source_w < 0 ? ftw : sprite->source_w;
            sh = sprite->source_h < 0 ? fth : sprite->source_h;
            sy = fth - sprite->source_y - sh;
        }
    } else {
        sx = sprite->tile_x;
        sy = sprite->tile_y;
        sw = sprite->tile_w;
        sh = sprite->tile_h;
    }
    if (sw < 0) sw = ftw;
    if (sh < 0) sh = fth;
    if (!(sx < ftw) || !(sy < fth) || sw == 0 || sh == 0 || dest.w == 0 || dest.h == 0) return;

    SDL_Rect source = {render_trunc(sx), render_trunc(sy), render_trunc(sw), render_trunc(sh)};
    const bool flip_h = sprite->flip_horizontally != 0, flip_v = sprite->flip_vertically != 0;
    const int flip = (flip_h ? SDL_FLIP_HORIZONTAL : 0) | (flip_v ? SDL_FLIP_VERTICAL : 0);
    SDL_SetTextureColorMod(texture, clamp_channel(sprite->r), clamp_channel(sprite->g), clamp_channel(sprite->b));
    SDL_SetTextureAlphaMod(texture, clamp_channel(sprite->a));
    // Turning by 360 - angle makes a positive angle counter-clockwise on
    // screen. A non-finite angle would reach the renderer's rotation maths as
    // NaN; it draws the sprite unturned.
    double turn = 360.0 - (double)sprite->angle;
    turn = std::isfinite(turn) ? std::fmod(turn, 360.0) : 0.0;

    // The quad as the renderer turns it: corners from the top left, clockwise,
    // about the anchor (in whole pixels from the top-left corner).
    const double x = std::isnan(dest.x) ? 0.0 : dest.x, y = std::isnan(dest.y) ? 0.0 : dest.y;
    const double w = std::isnan(dest.w) ? 0.0 : dest.w, h = std::isnan(dest.h) ? 0.0 : dest.h;
    if (!std::isfinite(x + w) || !std::isfinite(y + h)) return; // reaches nowhere that can be drawn
    const double cx = std::trunc((double)sprite->angle_anchor_x * w);
    const double cy = std::trunc((1.0 - (double)sprite->angle_anchor_y) * h);
    const double radians = turn * M_PI / 180.0, c = std::cos(radians), s = std::sin(radians);
    const double offsets[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    double left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
    for (int i = 0; i < 4; ++i) {
        double dx = offsets[i][0] - cx, dy = offsets[i][1] - cy;
        double corner_x = x + cx + (turn == 0.0 ? dx : c * dx - s * dy);
        double corner_y = y + cy + (turn == 0.0 ? dy : s * dx + c * dy);
        left = std::min(left, corner_x);
        right = std::max(right, corner_x);
        top = std::min(top, corner_y);
        bottom = std::max(bottom, corner_y);
    }

    SDL_Rect target_area = {0, 0, 0, 0};
    SDL_RenderGetViewport(context->renderer, &target_area);
    // A sprite that stays within a target's size of the target's edges goes
    // to the renderer whole. Beyond that, renderers overflow, allocate
    // scratch surfaces of the sprite's whole size or turn every one of its
    // pixels: only the part on the target is drawn then.
    const double reach = (double)std::max(target_area.w, target_area.h);
    if (left >= -reach && top >= -reach && right <= target_area.w + reach && bottom <= target_area.h + reach) {
        SDL_Rect target = to_sdl_rect(dest);
        SDL_Point centre = {render_trunc(sprite->angle_anchor_x * dest.w),
                            render_trunc((1.0f - sprite->angle_anchor_y) * dest.h)};
        SDL_RenderCopyEx(context->renderer, texture, &source, &target, turn, &centre, (SDL_RendererFlip)flip);
        return;
    }
    if (right <= 0 || bottom <= 0 || left >= target_area.w || top >= target_area.h) return;

    // The part of the sprite that can reach the target, in the sprite's own
    // unturned frame (from its top-left corner): the target's corners turned
    // back about the anchor bound it.
    double from_x = INFINITY, to_x = -INFINITY, from_y = INFINITY, to_y = -INFINITY;
    const double target_corners[4][2] = {
        {0, 0}, {(double)target_area.w, 0}, {(double)target_area.w, (double)target_area.h}, {0, (double)target_area.h}};
    for (const auto &corner : target_corners) {
        double dx = corner[0] - (x + cx), dy = corner[1] - (y + cy);
        double lx = cx + (turn == 0.0 ? dx : c * dx + s * dy), ly = cy + (turn == 0.0 ? dy : -s * dx + c * dy);
        from_x = std::min(from_x, lx);
        to_x = std::max(to_x, lx);
        from_y = std::min(from_y, ly);
        to_y = std::max(to_y, ly);
    }
    // A little beyond, so that the edges of a turned piece, which renderers
    // may leave unfilled, stay off the target.
    const double margin = 2.0;
    from_x = std::max(from_x - margin, 0.0), to_x = std::min(to_x + margin, w);
    from_y = std::max(from_y - margin, 0.0), to_y = std::min(to_y + margin, h);
    if (!(from_x < to_x && from_y < to_y)) return;

    // The renderer copies the part of the source on the texture onto the
    // whole destination.
    SDL_Rect whole = {0, 0, tw, th}, visible_source;
    if (!SDL_IntersectRect(&source, &whole, &visible_source)) return;
    // A flipped sprite is cut in its mirrored frame, where texels run from
    // the sprite's start; each piece is flipped back as a whole.
    if (flip_h) {
        const double mirrored_from = w - to_x;
        to_x = w - from_x;
        from_x = mirrored_from;
    }
    if (flip_v) {
        const double mirrored_from = h - to_y;
        to_y = h - from_y;
        from_y = mirrored_from;
    }
    axis_piece columns[3], rows[3];
    const int column_count = cut_axis(w, visible_source.w, from_x, to_x, columns);
    const int row_count = cut_axis(h, visible_source.h, from_y, to_y, rows);

    const float far = 2.0f * (float)(target_area.w + target_area.h);
    for (int i = 0; i < column_count; ++i)
        for (int j = 0; j < row_count; ++j) {
            const axis_piece &column = columns[i], &row = rows[j];
            SDL_Rect piece_source = {visible_source.x + column.texel, visible_source.y + row.texel, column.texels,
                                     row.texels};
            double px = flip_h ? w - column.start - column.size : column.start;
            double py = flip_v ? h - row.start - row.size : row.start;
            // Turned about its own centre and moved to where turning about
            // the sprite's anchor puts it: the renderer's numbers stay small.
            double half_w = column.size / 2, half_h = row.size / 2;
            double ox = px + half_w - cx, oy = py + half_h - cy;
            double shift_x = turn == 0.0 ? 0.0 : c * ox - s * oy - ox;
            double shift_y = turn == 0.0 ? 0.0 : s * ox + c * oy - oy;
            SDL_FRect piece = {(float)(x + px + shift_x), (float)(y + py + shift_y), (float)column.size,
                               (float)row.size};
            // Every piece lies about the target. One that does not was placed
            // by numbers too large to keep a pixel's precision (a turned
            // sprite reaching past about 10^16): it is left out rather than
            // sent far away.
            if (!(piece.x >= -far && piece.y >= -far && piece.x + piece.w <= target_area.w + far &&
                  piece.y + piece.h <= target_area.h + far))
                continue;
            SDL_FPoint centre = {(float)half_w, (float)half_h};
            SDL_RenderCopyExF(context->renderer, texture, &piece_source, &piece, turn, &centre, (SDL_RendererFlip)flip);
        }
}

// Consecutive labels are drawn as one run: their glyph quads wait here and
// go to the renderer in one geometry call per atlas page (a call per glyph
// cost more than the glyph), and on a screen drawn at the output resolution
// the logical size is switched off once for the run rather than per label.
// The quads are exactly those a copy of each glyph would make, in the same
// order. Main thread only; the buffers are kept from frame to frame.
struct label_run {
    bool open;
    bool output_resolution;
    float kx, ky;            // the logical scale the run switched off
    SDL_Rect viewport;       // the logical viewport, in logical units
    int visible_w, visible_h; // the viewport while the run draws
    SDL_Texture *texture;    // the page of the waiting quads
    float page_w, page_h;    // its size, which texture coordinates divide by
    int quads, capacity;
    SDL_Vertex *vertices; // 4 per quad
    int *indices;         // 6 per quad, for the whole capacity
};

namespace {

bool reserve_quads(label_run *run, int quads) {
    if (quads <= run->capacity) return true;
    int capacity = run->capacity ? run->capacity : 256;
    while (capacity < quads) {
        if (capacity > INT32_MAX / 12) return false;
        capacity *= 2;
    }
    SDL_Vertex *vertices = (SDL_Vertex *)SDL_realloc(run->vertices, (size_t)capacity * 4 * sizeof(SDL_Vertex));
    if (!vertices) return false;
    run->vertices = vertices;
    int *indices = (int *)SDL_realloc(run->indices, (size_t)capacity * 6 * sizeof(int));
    if (!indices) return false;
    run->indices = indices;
    // A copy's two triangles: top left, top right, bottom right, then top
    // left, bottom right, bottom left.
    static const int corners[6] = {0, 1, 2, 0, 2, 3};
    for (int q = run->capacity; q < capacity; ++q)
        for (int i = 0; i < 6; ++i) indices[q * 6 + i] = q * 4 + corners[i];
    run->capacity = capacity;
    return true;
}

void flush_quads(render_context *context, label_run *run) {
    if (run->quads > 0)
        SDL_RenderGeometry(context->renderer, run->texture, run->vertices, run->quads * 4, run->indices,
                           run->quads * 6);
    run->quads = 0;
}

// Queues the copy of a glyph's pixels to (x, y), at their own size times
// `magnify`: at 1 the vertices SDL_RenderCopy would give, and nothing for a
// glyph wholly outside the viewport, which a copy passes over too.
void queue_glyph(render_context *context, label_run *run, const fontatlas_glyph *glyph, int x, int y,
                 float magnify, SDL_Color colour) {
    const float w = (float)glyph->w * magnify, h = (float)glyph->h * magnify;
    if (x >= run->visible_w || y >= run->visible_h || (float)x + w <= 0 || (float)y + h <= 0) return;
    if (glyph->texture != run->texture) {
        flush_quads(context, run);
        int page_w = 0, page_h = 0;
        if (SDL_QueryTexture(glyph->texture, nullptr, nullptr, &page_w, &page_h) != 0 || page_w <= 0 || page_h <= 0)
            return;
        run->texture = glyph->texture;
        run->page_w = (float)page_w;
        run->page_h = (float)page_h;
    }
    if (run->quads == run->capacity && !reserve_quads(run, run->quads + 1)) {
        flush_quads(context, run);
        if (!reserve_quads(run, 1)) return;
    }
    const float u0 = (float)glyph->x / run->page_w, v0 = (float)glyph->y / run->page_h;
    const float u1 = (float)(glyph->x + glyph->w) / run->page_w, v1 = (float)(glyph->y + glyph->h) / run->page_h;
    const float x0 = (float)x, y0 = (float)y, x1 = x0 + w, y1 = y0 + h;
    SDL_Vertex *v = run->vertices + run->quads * 4;
    v[0] = {{x0, y0}, colour, {u0, v0}};
    v[1] = {{x1, y0}, colour, {u1, v0}};
    v[2] = {{x1, y1}, colour, {u1, v1}};
    v[3] = {{x0, y1}, colour, {u0, v1}};
    ++run->quads;
}

// A glyph for the run. Rasterising may evict a page, whose texture the
// waiting quads may use (or a new page may take over at its address): they
// are drawn first, and the page is looked at afresh.
const fontatlas_glyph *run_glyph(render_context *context, label_run *run, fontatlas_font *font, uint32_t c,
                                 uint32_t px) {
    if (const fontatlas_glyph *glyph = fontatlas_useglyph(font, fontatlas_glyph_key(c, px))) return glyph;
    flush_quads(context, run);
    run->texture = nullptr;
    return fontatlas_getglyph(font, c, px);
}

// Width of a text as the label draws it (glyphs are cached on the way).
float label_width(render_context *context, label_run *run, fontatlas_font *font, const char *text, uint32_t px,
                  float scale) {
    float width = 0.0f;
    const char *cursor = text;
    uint32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        uint32_t next = utf8codepoint(&cursor);
        if (const fontatlas_glyph *glyph = run_glyph(context, run, font, c, px))
            width += glyph->advance + fontatlas_get_kerningadvance(font, c, next, scale);
        c = next;
    }
    return width;
}

// Starts a run with its first label.
void open_run(render_context *context, label_run *run) {
    SDL_Renderer *renderer = context->renderer;
    run->open = true;
    run->texture = nullptr;
    run->quads = 0;
    // On the screen, glyphs are rasterised at the output resolution rather
    // than scaled. A render target is never scaled, and changing the logical
    // size while one is bound would rescale it, so targets keep this path off.
    run->output_resolution = SDL_GetRenderTarget(renderer) == nullptr &&
                             (context->output_width != context->logical_width ||
                              context->output_height != context->logical_height);
    if (run->output_resolution) {
        run->kx = 1.0f;
        run->ky = 1.0f;
        SDL_RenderGetScale(renderer, &run->kx, &run->ky);
        SDL_RenderGetViewport(renderer, &run->viewport);
        SDL_RenderSetLogicalSize(renderer, 0, 0);
        const SDL_Rect &v = run->viewport;
        SDL_Rect clip = {render_trunc(run->kx * (float)v.x), render_trunc(run->ky * (float)v.y),
                         render_trunc(run->kx * (float)v.w), render_trunc(run->ky * (float)v.h)};
        SDL_RenderSetClipRect(renderer, &clip);
    }
    SDL_Rect visible;
    SDL_RenderGetViewport(renderer, &visible);
    run->visible_w = visible.w;
    run->visible_h = visible.h;
}

} // namespace

void draw_labels_end(render_context *context) {
    label_run *run = context->labels;
    if (!run || !run->open) return;
    flush_quads(context, run);
    if (run->output_resolution) {
        SDL_RenderSetClipRect(context->renderer, nullptr);
        SDL_RenderSetLogicalSize(context->renderer, context->logical_width, context->logical_height);
    }
    run->open = false;
}

void draw_labels_release(render_context *context) {
    if (label_run *run = context->labels) {
        SDL_free(run->vertices);
        SDL_free(run->indices);
        SDL_free(run);
    }
    context->labels = nullptr;
}

void draw_label_command(render_context *context, const label_command *label) {
    if (!label->text.bytes) return;
    if (!context->labels) {
        context->labels = (label_run *)SDL_calloc(1, sizeof(label_run));
        if (!context->labels) return;
    }
    label_run *run = context->labels;
    SDL_LockMutex(context->text_lock);
    fontatlas_font *font = lookup_font(context, label->font.bytes);
    if (!font) {
        SDL_UnlockMutex(context->text_lock);
        return;
    }
    if (!run->open) open_run(context, run);
    float px, py;
    grid_map_point(context, label->x, label->y, &px, &py);
    uint32_t size = label_pixel_size(label->size_enum);
    float scale = fontatlas_get_scale(font, size);
    if (label->alignment_enum == 1 || label->alignment_enum == 2) {
        float width = label_width(context, run, font, label->text.bytes, size, scale);
        px -= label->alignment_enum == 1 ? width / 2.0f : width;
    }
    // Label positions name the top of the text line.
    float baseline = py + fontatlas_get_ascent(font, scale);
    // Glyphs are rasterised at no more than the glyph key's largest size; a
    // label drawn larger on the output (a big label on a window larger than
    // the game's logical size) is drawn from those glyphs magnified, so that
    // it keeps its logical size at every output scale.
    float magnify = 1.0f;
    if (run->output_resolution) {
        const float output_size = std::trunc(run->ky * (float)size);
        const uint32_t raster_size = clamp_pixel_size(output_size);
        if (output_size > (float)raster_size) magnify = output_size / (float)raster_size;
        size = raster_size;
        scale = fontatlas_get_scale(font, size) * magnify;
        px = px * run->kx + run->kx * (float)run->viewport.x;
        baseline = baseline * run->ky + run->ky * (float)run->viewport.y;
    }

    const SDL_Color colour = {clamp_channel(label->r), clamp_channel(label->g), clamp_channel(label->b),
                              clamp_channel(label->a)};
    float pen = px;
    const char *cursor = label->text.bytes;
    uint32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        uint32_t next = utf8codepoint(&cursor);
        if (const fontatlas_glyph *glyph = run_glyph(context, run, font, c, size)) {
            if (glyph->w && glyph->h && glyph->texture)
                queue_glyph(context, run, glyph, render_trunc(pen + glyph->x0 * magnify),
                            render_trunc(baseline + glyph->y0 * magnify), magnify, colour);
            pen += glyph->advance * magnify + fontatlas_get_kerningadvance(font, c, next, scale);
        }
        c = next;
    }
    SDL_UnlockMutex(context->text_lock);
}
