#include "text_measure.h"

#include "fontatlas.h"
#include "render_cache.h"
#include "render_context.h"

uint32_t measure_pixel_size(int64_t size_enum) {
    // Sizes beyond the glyph key's range are measured as labels draw them.
    if (size_enum <= -11) return 1;
    if (size_enum >= 117) return FONTATLAS_MAX_PIXEL_SIZE;
    return (uint32_t)(size_enum * 2 + 22);
}

void measure_text(render_context *context, const char *text, int64_t size_enum, const char *font_name,
                  float *out_width, float *out_height) {
    float width = 0.0f, height = 0.0f;
    if (context) {
        SDL_LockMutex(context->text_lock);
        if (fontatlas_font *font = lookup_font(context, font_name))
            fontatlas_calcstringrect(font, text, measure_pixel_size(size_enum), &width, &height);
        SDL_UnlockMutex(context->text_lock);
    }
    if (out_width) *out_width = width;
    if (out_height) *out_height = height;
}
