#include "draw_commands.h"

#include "../host/fileio.h"
#include "drawing.h"
#include "frame_stream.h"
#include "image.h"
#include "render_cache.h"
#include "render_context.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

char *screenshot_directory = nullptr;

struct interpreter {
    render_context *context;
    threadstream *frame;
    int stale;
    int replay;
    SDL_Texture *target; // NULL: the screen
};

// Truncation toward zero into a range where sums of two values still fit.
int64_t trunc64(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 1e18f) return (int64_t)1e18;
    if (value <= -1e18f) return -(int64_t)1e18;
    return (int64_t)value;
}

uint64_t remaining(const threadstream *frame) {
    return frame->write_pos > frame->read_pos ? frame->write_pos - frame->read_pos : 0;
}

bool ended(const threadstream *frame) { return frame->error || frame->read_pos >= frame->write_pos; }

// Switches the renderer to a target. The grid origin follows: inside a
// render target (0, 0) is the target's own bottom-left corner (its top-left
// for a grid whose y grows downwards) in every origin mode, since the game
// places its primitives within the target, whatever it does on the screen;
// the screen (and the screenshot texture that stands in for it) keeps the
// origin that the last set-grid command gave.
void switch_target(interpreter *in, SDL_Texture *texture, bool named_target, int32_t pass_height) {
    render_context *context = in->context;
    if (texture == in->target) return;
    SDL_SetRenderTarget(context->renderer, texture);
    in->target = texture;
    if (named_target) {
        context->grid_origin_x = 0;
        context->grid_origin_y = context->grid_y_direction < 0 ? pass_height : 0;
    } else {
        context->grid_origin_x = context->grid_screen_origin_x;
        context->grid_origin_y = context->grid_screen_origin_y;
    }
}

void return_to_screen(interpreter *in) { switch_target(in, nullptr, false, 0); }

SDL_Texture *screenshot_texture(render_context *context) {
    if (!context->screenshot_texture)
        context->screenshot_texture = SDL_CreateTexture(context->renderer, SDL_PIXELFORMAT_ABGR8888,
                                                        SDL_TEXTUREACCESS_TARGET, context->logical_width,
                                                        context->logical_height);
    return context->screenshot_texture;
}

// The texture of a named render target of w x h, made or remade as needed.
SDL_Texture *named_target(render_context *context, const char *name, int32_t w, int32_t h) {
    render_cache_entry *entry = lookup_texture_entry(context, name);
    if (!entry) return nullptr;
    if (entry->payload) {
        SDL_Texture *texture = (SDL_Texture *)entry->payload;
        int access = 0, tw = 0, th = 0;
        if (SDL_QueryTexture(texture, nullptr, &access, &tw, &th) != 0) return nullptr;
        if (access != SDL_TEXTUREACCESS_TARGET || tw != w || th != h) {
            SDL_DestroyTexture(texture);
            entry->payload = nullptr;
        }
    }
    if (!entry->payload) {
        SDL_Texture *texture =
            SDL_CreateTexture(context->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, w, h);
        if (!texture) return nullptr;
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        entry->payload = texture;
    }
    return (SDL_Texture *)entry->payload;
}

void read_shape(interpreter *in, int opcode, bool skip) {
    shape_command c;
    frame_read_shape(in->frame, &c);
    if (skip) return;
    if (opcode == RENDER_CMD_SOLID)
        draw_solid_command(in->context, c.x, c.y, c.w, c.h, c.r, c.g, c.b, c.a);
    else if (opcode == RENDER_CMD_BORDER)
        draw_border_command(in->context, c.x, c.y, c.w, c.h, c.r, c.g, c.b, c.a);
    else
        draw_line_command(in->context, c.x, c.y, c.w, c.h, c.r, c.g, c.b, c.a);
}

void read_sprite(interpreter *in, bool skip) {
    sprite_command s;
    frame_read_sprite(in->frame, &s);
    if (!skip) draw_sprite_command(in->context, &s);
}

void read_label(interpreter *in, bool skip) {
    label_command l;
    frame_read_label(in->frame, &l);
    if (!skip) draw_label_command(in->context, &l);
}

// Reads one pass's commands up to its end marker. False when the frame ran
// out inside the pass.
bool read_pass_commands(interpreter *in, bool skip) {
    threadstream *f = in->frame;
    for (;;) {
        if (remaining(f) < 4) {
            f->error = 1;
            return false;
        }
        int32_t opcode = threadstream_unpack_int(f);
        // Labels in a row are drawn as one run, which ends before anything else.
        if (opcode != RENDER_CMD_LABEL) draw_labels_end(in->context);
        switch (opcode) {
        case RENDER_CMD_SOLID:
        case RENDER_CMD_BORDER:
        case RENDER_CMD_LINE: read_shape(in, opcode, skip); break;
        case RENDER_CMD_SPRITE: read_sprite(in, skip); break;
        case RENDER_CMD_LABEL: read_label(in, skip); break;
        case RENDER_CMD_END_PASS: return true;
        default: continue; // a stray word inside a pass is passed over alone
        }
        if (f->error) return false;
    }
}

bool read_pass(interpreter *in, bool skip) {
    bool whole = read_pass_commands(in, skip);
    draw_labels_end(in->context);
    return whole;
}

// False when the frame ended inside the passes.
bool run_passes(interpreter *in) {
    render_context *context = in->context;
    threadstream *f = in->frame;
    passes_command passes;
    frame_read_passes(f, &passes);
    bool screenshot_pending = passes.screenshot != 0;
    for (int32_t i = 0; i < passes.count;) {
        uint64_t header_at = f->read_pos;
        pass_header header;
        frame_read_pass_header(f, &header);
        const char *name = header.target.bytes;
        const int32_t w = header.w, h = header.h;
        const bool transient = header.transient != 0;

        bool screenshot_pass = screenshot_pending && i == passes.count - 1;
        SDL_Texture *texture = nullptr;
        bool skip = false;
        if (screenshot_pass) {
            texture = screenshot_texture(context);
            if (!texture) {
                // No screenshot texture: the pass is drawn as an ordinary one.
                screenshot_pending = false;
                f->read_pos = header_at;
                continue;
            }
        } else if (name) {
            texture = named_target(context, name, w, h);
            skip = texture == nullptr;
        }
        bool to_screen = texture == nullptr && !skip;
        if (in->stale && (transient || (to_screen && !screenshot_pending))) skip = true;
        if (texture || to_screen) switch_target(in, texture, name != nullptr, h);
        if (!skip) {
            if (to_screen) {
                context->screen_not_cleared = 0;
                context->last_screen_background[0] = (uint8_t)header.r;
                context->last_screen_background[1] = (uint8_t)header.g;
                context->last_screen_background[2] = (uint8_t)header.b;
            }
            SDL_SetRenderDrawColor(context->renderer, (uint8_t)header.r, (uint8_t)header.g, (uint8_t)header.b,
                                   (uint8_t)header.a);
            SDL_RenderClear(context->renderer);
        }
        if (!read_pass(in, skip)) return false;
        if (screenshot_pass) {
            // Drawn into the screenshot texture; now once more into its own target.
            screenshot_pending = false;
            f->read_pos = header_at;
        } else {
            ++i;
        }
    }
    return_to_screen(in);
    return !f->error;
}

// Copies the rectangle of the screenshot texture, keys a colour to an alpha,
// and writes it as a PNG into the screenshot directory.
void take_screenshot(interpreter *in, const screenshot_command *shot) {
    render_context *context = in->context;
    SDL_Texture *texture = context->screenshot_texture;
    const char *path = shot->path.bytes;
    if (!path || !*path || !texture) return;
    int tw = 0, th = 0;
    if (SDL_QueryTexture(texture, nullptr, nullptr, &tw, &th) != 0) return;
    grid_rect mapped = grid_map_rect(context, shot->x, shot->y, shot->w, shot->h);
    // Whole pixels, clipped to the texture: the buffer, the read and the
    // encoder then agree on one width and height.
    // (In 64 bits: the far edge of a huge rectangle does not fit an int.)
    const int64_t left = trunc64(mapped.x), top = trunc64(mapped.y);
    const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
    const int64_t x1 = std::min<int64_t>(left + trunc64(mapped.w), tw);
    const int64_t y1 = std::min<int64_t>(top + trunc64(mapped.h), th);
    if (x1 - x0 < 1 || y1 - y0 < 1) return;
    SDL_Rect rect = {(int)x0, (int)y0, (int)(x1 - x0), (int)(y1 - y0)};
    size_t size = (size_t)rect.w * (size_t)rect.h * 4;
    uint8_t *pixels = (uint8_t *)SDL_calloc(1, size);
    if (!pixels) return;
    SDL_SetRenderTarget(context->renderer, texture);
    int read = SDL_RenderReadPixels(context->renderer, &rect, SDL_PIXELFORMAT_ABGR8888, pixels, rect.w * 4);
    SDL_SetRenderTarget(context->renderer, in->target);
    if (read != 0) {
        SDL_free(pixels);
        return;
    }
    if (shot->tolerance >= 0) {
        const int64_t kr = clamp_channel(shot->r), kg = clamp_channel(shot->g), kb = clamp_channel(shot->b),
                      t = shot->tolerance;
        const uint8_t key_alpha = clamp_channel(shot->a);
        for (size_t i = 0; i < size; i += 4) {
            uint8_t *p = pixels + i;
            if (p[0] >= kr - t && p[0] <= kr + t && p[1] >= kg - t && p[1] <= kg + t && p[2] >= kb - t &&
                p[2] <= kb + t)
                p[3] = key_alpha;
        }
    }
    size_t png_size = 0;
    uint8_t *png = encode_png(pixels, rect.w, rect.h, 0, 0, &png_size);
    SDL_free(pixels);
    if (!png) return;
    // Selecting the directory and writing happen under one lock shared with
    // every other writer, so the file cannot land in another directory.
    if (!storefile_write_override(screenshot_directory ? screenshot_directory : ".", path, png, png_size))
        SDL_Log("* ERROR: The screenshot %s could not be written: %s.", path, file_write_error());
    SDL_free(png);
}

void read_screenshot(interpreter *in) {
    screenshot_command shot;
    frame_read_screenshot(in->frame, &shot);
    if (!in->replay) take_screenshot(in, &shot);
}

void read_set_grid(interpreter *in) {
    set_grid_command grid;
    frame_read_set_grid(in->frame, &grid);
    if (in->replay) return;
    render_context *context = in->context;
    context->grid_origin_x = render_trunc(grid.origin_x);
    context->grid_origin_y = render_trunc(grid.origin_y);
    context->grid_screen_origin_x = context->grid_origin_x;
    context->grid_screen_origin_y = context->grid_origin_y;
    context->grid_y_direction = grid.y_direction;
    context->grid_set = 1;
}

void read_unload_sprite(interpreter *in) {
    const char *name = frame_read_text_command(in->frame).bytes;
    if (in->replay || !name || !*name) return;
    render_cache_entry *entry = lookup_texture_entry(in->context, name);
    if (entry && entry->payload) {
        SDL_DestroyTexture((SDL_Texture *)entry->payload);
        entry->payload = nullptr;
    }
}

void read_upload_pixel_array(interpreter *in) {
    pixel_array_command upload;
    frame_read_pixel_array(in->frame, &upload);
    const char *name = upload.name.bytes, *pixels = upload.pixels.bytes;
    const int32_t w = upload.w, h = upload.h;
    const uint64_t length = upload.pixels.length;
    if (in->replay || !name || !*name || w < 1 || h < 1 || !pixels) return;
    // 64-bit: a 32-bit product wraps for large sizes and would let a short
    // buffer through.
    if (length != (uint64_t)w * (uint64_t)h * 4) return;
    render_cache_entry *entry = lookup_texture_entry(in->context, name);
    if (!entry) return;
    if (entry->payload) {
        SDL_Texture *texture = (SDL_Texture *)entry->payload;
        int tw = 0, th = 0;
        if (SDL_QueryTexture(texture, nullptr, nullptr, &tw, &th) != 0) return;
        if (tw != w || th != h) {
            SDL_DestroyTexture(texture);
            entry->payload = nullptr;
        }
    }
    if (!entry->payload) {
        SDL_Texture *texture =
            SDL_CreateTexture(in->context->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
        if (!texture) return;
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        entry->payload = texture;
    }
    SDL_UpdateTexture((SDL_Texture *)entry->payload, nullptr, pixels, w * 4);
}

} // namespace

void draw_commands_execute(render_context *context, threadstream *frame, int stale, int replay) {
    if (!context || !frame || frame->read_pos >= frame->write_pos || frame->error) return;
    interpreter in = {context, frame, stale, replay, nullptr};
    for (;;) {
        if (remaining(frame) < 4) {
            frame->error = 1;
            break;
        }
        int32_t opcode = threadstream_unpack_int(frame);
        bool carry_on = true;
        switch (opcode) {
        case RENDER_CMD_NOP: break;
        case RENDER_CMD_SCREENSHOT: read_screenshot(&in); break;
        case RENDER_CMD_SET_GRID: read_set_grid(&in); break;
        case RENDER_CMD_PASSES: carry_on = run_passes(&in); break;
        case RENDER_CMD_UNLOAD_SPRITE: read_unload_sprite(&in); break;
        case RENDER_CMD_TOGGLE_CURSOR: {
            uint32_t show = frame_read_flag_command(frame);
            if (!replay) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
            break;
        }
        case RENDER_CMD_TOGGLE_FULLSCREEN: {
            uint32_t on = frame_read_flag_command(frame);
            if (!replay && context->window) SDL_SetWindowFullscreen(context->window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
            break;
        }
        case RENDER_CMD_UPLOAD_PIXEL_ARRAY: read_upload_pixel_array(&in); break;
        case RENDER_CMD_OPEN_URL: {
            const char *url = frame_read_text_command(frame).bytes;
            if (!replay && url) SDL_OpenURL(url);
            break;
        }
        default: carry_on = false; // drawing commands, a stray end of pass, unknown words
        }
        if (!carry_on || ended(frame)) break;
    }
    // However the frame ended, the clear and present that follow go to the screen.
    return_to_screen(&in);
}

void draw_init(render_context *context, const char *screenshot_dir) {
    SDL_free(screenshot_directory);
    screenshot_directory = screenshot_dir ? SDL_strdup(screenshot_dir) : nullptr;
    if (context) context->grid_set = 0;
}
