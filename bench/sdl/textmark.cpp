// The text mark written straight against SDL2's 2D renderer: the floor for
// drawing text on this renderer. N labels, "s<i> <frame % 100>" when the text
// changes every frame or "s<i> <i % 100>" when it does not, laid out as the
// engine lays out its labels (same font, glyph size, bearings, kerning and
// rounding, drawn at the output resolution) from one atlas of the printable
// ASCII glyphs made at start-up, and drawn with one SDL_RenderGeometry call
// per frame.
#include "harness.h"

#include "render/truetype_impl.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using harness::WORLD_H;
using harness::WORLD_W;
constexpr int ATLAS_SIZE = 512;
constexpr int FIRST = 32, LAST = 126, COUNT = LAST - FIRST + 1;

struct glyph {
    float advance;
    int x0, y0, w, h;   // bitmap box from the pen on the baseline
    float u0, v0, u1, v1;
};

struct atlas {
    SDL_Texture *texture = nullptr;
    glyph glyphs[COUNT];
    float kerning[COUNT][COUNT];
    float ascent = 0; // of the world-size font, in world pixels
};

// Rasterises the printable ASCII range at px into one texture (white, with
// the coverage as alpha, as the engine keeps its glyphs) and tabulates the
// kerning of every pair.
bool make_atlas(SDL_Renderer *renderer, const std::string &path, int world_px, int px, atlas *a) {
    std::ifstream in(path, std::ios::binary);
    static std::vector<unsigned char> data;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    stbtt_fontinfo font;
    if (data.empty() || !stbtt_InitFont(&font, data.data(), stbtt_GetFontOffsetForIndex(data.data(), 0))) return false;
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);
    const float height = (float)(ascent - descent);
    a->ascent = (float)ascent * ((float)world_px / height);
    const float scale = (float)px / height;

    std::vector<uint32_t> pixels((size_t)ATLAS_SIZE * ATLAS_SIZE, 0x00FFFFFFu);
    int pen_x = 1, pen_y = 1, row = 0;
    for (int c = FIRST; c <= LAST; ++c) {
        int index = stbtt_FindGlyphIndex(&font, c);
        int advance = 0, bearing = 0, x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetGlyphHMetrics(&font, index, &advance, &bearing);
        stbtt_GetGlyphBitmapBox(&font, index, scale, scale, &x0, &y0, &x1, &y1);
        int w = x1 - x0, h = y1 - y0;
        if (pen_x + w + 1 > ATLAS_SIZE) {
            pen_x = 1;
            pen_y += row + 1;
            row = 0;
        }
        std::vector<unsigned char> coverage((size_t)(w * h) + 1);
        if (w > 0 && h > 0) stbtt_MakeGlyphBitmap(&font, coverage.data(), w, h, w, scale, scale, index);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[(size_t)(pen_y + y) * ATLAS_SIZE + (size_t)(pen_x + x)] =
                    0x00FFFFFFu | (uint32_t)coverage[(size_t)(y * w + x)] << 24;
        glyph &g = a->glyphs[c - FIRST];
        g = {(float)advance * scale, x0, y0, w, h, (float)pen_x / ATLAS_SIZE, (float)pen_y / ATLAS_SIZE,
             (float)(pen_x + w) / ATLAS_SIZE, (float)(pen_y + h) / ATLAS_SIZE};
        pen_x += w + 1;
        if (h > row) row = h;
    }
    for (int l = FIRST; l <= LAST; ++l)
        for (int r = FIRST; r <= LAST; ++r)
            a->kerning[l - FIRST][r - FIRST] =
                (float)stbtt_GetGlyphKernAdvance(&font, stbtt_FindGlyphIndex(&font, l), stbtt_FindGlyphIndex(&font, r)) *
                scale;
    a->texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, ATLAS_SIZE, ATLAS_SIZE);
    if (!a->texture) return false;
    SDL_SetTextureBlendMode(a->texture, SDL_BLENDMODE_BLEND);
    SDL_UpdateTexture(a->texture, nullptr, pixels.data(), ATLAS_SIZE * 4);
    return true;
}

// Appends the quads of one line of text whose top edge is at (x, top), in
// output pixels.
void lay_out(const atlas &a, const char *text, float x, float baseline, std::vector<SDL_Vertex> *vertices) {
    const SDL_Color black = {0, 0, 0, 255};
    float pen = x;
    for (const char *p = text; *p; ++p) {
        int c = (unsigned char)*p;
        if (c < FIRST || c > LAST) continue;
        const glyph &g = a.glyphs[c - FIRST];
        if (g.w > 0 && g.h > 0) {
            float left = (float)(int)(pen + (float)g.x0), top = (float)(int)(baseline + (float)g.y0);
            float right = left + (float)g.w, bottom = top + (float)g.h;
            vertices->push_back({{left, top}, black, {g.u0, g.v0}});
            vertices->push_back({{right, top}, black, {g.u1, g.v0}});
            vertices->push_back({{right, bottom}, black, {g.u1, g.v1}});
            vertices->push_back({{left, bottom}, black, {g.u0, g.v1}});
        }
        int next = (unsigned char)p[1];
        pen += g.advance + (next >= FIRST && next <= LAST ? a.kerning[c - FIRST][next - FIRST] : 0.0f);
    }
}

} // namespace

int main(int argc, char **argv) {
    harness::options o;
    if (!harness::parse_options(argc, argv, &o)) return 2;
    const bool changing = o.mode == "changing";
    if (!changing && o.mode != "unchanging") {
        std::fprintf(stderr, "textmark: --mode is changing or unchanging\n");
        return 2;
    }
    SDL_Renderer *renderer = harness::open_renderer("textmark");
    if (!renderer) return 1;
    // Text is drawn at the output resolution, as the engine draws labels on
    // a screen whose size differs from its logical size.
    int out_w = 0, out_h = 0;
    SDL_GetRendererOutputSize(renderer, &out_w, &out_h);
    const float kx = (float)out_w / WORLD_W, ky = (float)out_h / WORLD_H;
    static atlas a;
    if (!make_atlas(renderer, o.font, (int)o.size, (int)std::trunc(ky * (float)o.size), &a)) {
        std::fprintf(stderr, "textmark: cannot make the atlas of %s\n", o.font.c_str());
        return 1;
    }

    std::vector<std::string> fixed((size_t)o.n);
    std::vector<float> xs((size_t)o.n), baselines((size_t)o.n);
    for (long i = 0; i < o.n; ++i) {
        fixed[(size_t)i] = "s" + std::to_string(i) + " " + std::to_string(i % 100);
        xs[(size_t)i] = (float)((i * 7919) % (WORLD_W - 80)) * kx;
        baselines[(size_t)i] = ((float)((i * 104729) % (WORLD_H - 24)) + a.ascent) * ky;
    }
    std::vector<SDL_Vertex> vertices;
    std::vector<int> indices;
    return harness::run(renderer, o, [&](long frame) {
        SDL_SetRenderDrawColor(renderer, 230, 230, 230, 255);
        SDL_RenderClear(renderer);
        vertices.clear();
        char text[32];
        for (long i = 0; i < o.n; ++i) {
            const char *line = fixed[(size_t)i].c_str();
            if (changing) {
                std::snprintf(text, sizeof(text), "s%ld %ld", i, frame % 100);
                line = text;
            }
            lay_out(a, line, xs[(size_t)i], baselines[(size_t)i], &vertices);
        }
        for (int q = (int)indices.size() / 6; q < (int)vertices.size() / 4; ++q)
            for (int corner : {0, 1, 2, 0, 2, 3}) indices.push_back(4 * q + corner);
        SDL_RenderGeometry(renderer, a.texture, vertices.data(), (int)vertices.size(), indices.data(),
                           (int)vertices.size() / 4 * 6);
    });
}
