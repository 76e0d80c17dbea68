#include "text_measure.h"

#include "drawing.h"
#include "fontatlas.h"
#include "render_cache.h"
#include "render_context.h"

void measure_text(render_context *context, const char *text, float size_enum, const char *font_name,
                  float *out_width, float *out_height) {
    float width = 0.0f, height = 0.0f;
    if (context) {
        SDL_LockMutex(context->text_lock);
        if (fontatlas_font *font = lookup_font(context, font_name))
            fontatlas_calcstringrect(font, text, label_pixel_size(size_enum), &width, &height);
        SDL_UnlockMutex(context->text_lock);
    }
    if (out_width) *out_width = width;
    if (out_height) *out_height = height;
}
