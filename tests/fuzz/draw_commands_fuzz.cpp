// Feeds arbitrary frame streams to the render-command interpreter on the
// software renderer: whatever a frame holds, interpreting it (and replaying
// it) must stay inside the stream, end, and leave the screen bound.
#include "host/fps_meter.h"
#include "host/threadstream.h"
#include "render/draw_commands.h"
#include "render/image.h"
#include "render/render_context.h"

#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <physfs.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// The renderer stands in for one with small limits: textures beyond 1024
// pixels a side cannot be made, and rotated copies larger than 4096 pixels a
// side fail (the software renderer would otherwise allocate scratch surfaces
// of the destination's size). The interpreter must cope with both failures.
constexpr int TEXTURE_LIMIT = 1024;
constexpr int COPY_LIMIT = 4096;

std::string work_dir;
render_context *context = nullptr;
int inputs_since_reset = 0;

void remove_work_dir() {
    std::error_code ignored;
    if (!work_dir.empty()) std::filesystem::remove_all(work_dir, ignored);
}

void make_context() {
    if (context) render_context_delete(context);
    // Logical size small enough that screenshots stay cheap.
    context = render_context_new(0, 1, 64, 48, -1, -1, -1, -1, 1.0f);
    if (!context) {
        std::fprintf(stderr, "render_context_new: %s\n", SDL_GetError());
        std::abort();
    }
    draw_init(context, work_dir.c_str());
}

} // namespace

extern "C" int SDL_OpenURL(const char *) { return 0; }

extern "C" SDL_Texture *SDL_CreateTexture(SDL_Renderer *renderer, Uint32 format, int access, int w, int h) {
    using create_fn = SDL_Texture *(*)(SDL_Renderer *, Uint32, int, int, int);
    static create_fn real = (create_fn)dlsym(RTLD_NEXT, "SDL_CreateTexture");
    if (w > TEXTURE_LIMIT || h > TEXTURE_LIMIT) {
        SDL_SetError("texture too large");
        return nullptr;
    }
    return real(renderer, format, access, w, h);
}

extern "C" int SDL_RenderCopyEx(SDL_Renderer *renderer, SDL_Texture *texture, const SDL_Rect *source,
                                const SDL_Rect *target, double angle, const SDL_Point *centre,
                                SDL_RendererFlip flip) {
    using copy_fn = int (*)(SDL_Renderer *, SDL_Texture *, const SDL_Rect *, const SDL_Rect *, double,
                            const SDL_Point *, SDL_RendererFlip);
    static copy_fn real = (copy_fn)dlsym(RTLD_NEXT, "SDL_RenderCopyEx");
    if (target && (target->w > COPY_LIMIT || target->h > COPY_LIMIT || target->w < -COPY_LIMIT ||
                   target->h < -COPY_LIMIT))
        return SDL_SetError("copy too large");
    return real(renderer, texture, source, target, angle, centre, flip);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init() || !PHYSFS_init(nullptr)) std::abort();
    // One working directory in the current one, emptied at every start
    // (libFuzzer does not always leave through exit handlers).
    work_dir = (std::filesystem::current_path() / "draw_commands_fuzz_files").string();
    remove_work_dir();
    std::filesystem::create_directories(work_dir);
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", work_dir + "/font.ttf");
    // One real image, so sprites that name it load a texture.
    const uint8_t pixels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128};
    size_t size = 0;
    uint8_t *png = encode_png(pixels, 2, 2, 0, 0, &size);
    std::ofstream((work_dir + "/a.png").c_str(), std::ios::binary).write((const char *)png, (std::streamsize)size);
    SDL_free(png);
    PHYSFS_mount(work_dir.c_str(), nullptr, 1);
    PHYSFS_setWriteDir(work_dir.c_str());
    make_context();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // Caches and atlases only grow; start afresh now and then. State carried
    // between inputs finds more, but to reproduce a crash on its own, run
    // with FUZZ_RESET_EVERY=0 (a fresh context for every input).
    static const int reset_every = getenv("FUZZ_RESET_EVERY") ? atoi(getenv("FUZZ_RESET_EVERY")) : 300;
    if (++inputs_since_reset > reset_every) {
        make_context();
        inputs_since_reset = 0;
    }
    const int mode = data[0] % 3; // normal, stale, replay
    threadstream *frame = threadstream_allocate();
    if (!frame || !threadstream_claim_space(frame, size - 1)) {
        threadstream_free(frame);
        return 0;
    }
    if (size > 1) std::memcpy(frame->buffer, data + 1, size - 1);
    frame->write_pos = size - 1;

    context->screen_not_cleared = 1;
    draw_commands_execute(context, frame, mode == 1, mode == 2);
    if (frame->read_pos > frame->write_pos) __builtin_trap();
    if (SDL_GetRenderTarget(context->renderer) != nullptr) __builtin_trap();
    // The main thread keeps the frame and replays it.
    frame->read_pos = 0;
    draw_commands_execute(context, frame, 0, 1);
    if (SDL_GetRenderTarget(context->renderer) != nullptr) __builtin_trap();
    SDL_RenderPresent(context->renderer);
    threadstream_free(frame);
    return 0;
}
