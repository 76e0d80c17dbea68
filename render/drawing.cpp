#include "drawing.h"

#include "fontatlas.h"
#include "image.h"
#include "render_cache.h"
#include "render_context.h"

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
    // A failed load is not remembered: the next sprite with this path tries again.
    if (!entry->payload) entry->payload = texture_from_image(context->renderer, path);
    return entry->payload ? (SDL_Texture *)entry->payload : context->fallback_texture;
}

// Width of a text as the label draws it (glyphs are cached on the way).
float label_width(fontatlas_font *font, const char *text, uint32_t px, float scale) {
    float width = 0.0f;
    const char *cursor = text;
    uint32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        uint32_t next = utf8codepoint(&cursor);
        if (fontatlas_glyph *glyph = fontatlas_getglyph(font, c, px))
            width += glyph->advance + fontatlas_get_kerningadvance(font, c, next, scale);
        c = next;
    }
    return width;
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

    SDL_SetTextureColorMod(texture, clamp_channel(sprite->r), clamp_channel(sprite->g), clamp_channel(sprite->b));
    SDL_SetTextureAlphaMod(texture, clamp_channel(sprite->a));
    SDL_Rect source = {render_trunc(sx), render_trunc(sy), render_trunc(sw), render_trunc(sh)};
    SDL_Rect target = to_sdl_rect(dest);
    SDL_Point centre = {render_trunc(sprite->angle_anchor_x * dest.w),
                        render_trunc((1.0f - sprite->angle_anchor_y) * dest.h)};
    int flip = (sprite->flip_horizontally ? SDL_FLIP_HORIZONTAL : 0) | (sprite->flip_vertically ? SDL_FLIP_VERTICAL : 0);
    // Turning by 360 - angle makes a positive angle counter-clockwise on
    // screen. A non-finite angle would reach the renderer's rotation maths as
    // NaN; it draws the sprite unturned.
    double turn = 360.0 - (double)sprite->angle;
    turn = std::isfinite(turn) ? std::fmod(turn, 360.0) : 0.0;
    SDL_RenderCopyEx(context->renderer, texture, &source, &target, turn, &centre, (SDL_RendererFlip)flip);
}

void draw_label_command(render_context *context, const label_command *label) {
    if (!label->text.bytes) return;
    SDL_Renderer *renderer = context->renderer;
    SDL_LockMutex(context->text_lock);
    fontatlas_font *font = lookup_font(context, label->font.bytes);
    if (!font) {
        SDL_UnlockMutex(context->text_lock);
        return;
    }
    float px, py;
    grid_map_point(context, label->x, label->y, &px, &py);
    uint32_t size = label_pixel_size(label->size_enum);
    float scale = fontatlas_get_scale(font, size);
    if (label->alignment_enum == 1 || label->alignment_enum == 2) {
        float width = label_width(font, label->text.bytes, size, scale);
        px -= label->alignment_enum == 1 ? width / 2.0f : width;
    }
    // Label positions name the top of the text line.
    float baseline = py + fontatlas_get_ascent(font, scale);

    // On the screen, glyphs are rasterised at the output resolution rather
    // than scaled. A render target is never scaled, and changing the logical
    // size while one is bound would rescale it, so targets keep this path off.
    bool output_resolution = SDL_GetRenderTarget(renderer) == nullptr &&
                             (context->output_width != context->logical_width ||
                              context->output_height != context->logical_height);
    if (output_resolution) {
        float kx = 1.0f, ky = 1.0f;
        SDL_Rect viewport;
        SDL_RenderGetScale(renderer, &kx, &ky);
        SDL_RenderGetViewport(renderer, &viewport);
        size = clamp_pixel_size(std::trunc(ky * (float)size));
        scale = fontatlas_get_scale(font, size);
        px = px * kx + kx * (float)viewport.x;
        baseline = baseline * ky + ky * (float)viewport.y;
        SDL_RenderSetLogicalSize(renderer, 0, 0);
        SDL_Rect clip = {render_trunc(kx * (float)viewport.x), render_trunc(ky * (float)viewport.y),
                         render_trunc(kx * (float)viewport.w), render_trunc(ky * (float)viewport.h)};
        SDL_RenderSetClipRect(renderer, &clip);
    }

    const uint8_t r = clamp_channel(label->r), g = clamp_channel(label->g), b = clamp_channel(label->b),
                  a = clamp_channel(label->a);
    float pen = px;
    const char *cursor = label->text.bytes;
    uint32_t c = utf8codepoint(&cursor);
    while (c != 0) {
        uint32_t next = utf8codepoint(&cursor);
        fontatlas_glyph *glyph = fontatlas_getglyph(font, c, size);
        if (glyph) {
            if (glyph->w && glyph->h && glyph->texture) {
                // Set for every glyph: a page evicted while this label is drawn
                // can leave its address to a new page that is not tinted yet.
                SDL_SetTextureColorMod(glyph->texture, r, g, b);
                SDL_SetTextureAlphaMod(glyph->texture, a);
                SDL_Rect source = {(int)glyph->x, (int)glyph->y, (int)glyph->w, (int)glyph->h};
                SDL_Rect target = {render_trunc(pen + glyph->x0), render_trunc(baseline + glyph->y0), (int)glyph->w,
                                   (int)glyph->h};
                SDL_RenderCopy(renderer, glyph->texture, &source, &target);
            }
            pen += glyph->advance + fontatlas_get_kerningadvance(font, c, next, scale);
        }
        c = next;
    }

    if (output_resolution) {
        SDL_RenderSetClipRect(renderer, nullptr);
        SDL_RenderSetLogicalSize(renderer, context->logical_width, context->logical_height);
    }
    SDL_UnlockMutex(context->text_lock);
}
