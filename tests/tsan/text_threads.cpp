// Built with ThreadSanitizer: the main thread runs its real turns (polling
// events into batches, drawing the frames that arrive, slowing down without
// keyboard focus) while a second thread, standing in for the simulation
// thread, builds label frames, measures text in the same fonts (loading some
// of them itself), writes files into its own directory while screenshots are
// written, and moves the window's focus back and forth through real window
// events it reads out of the event batches. Exits 0 when every check holds;
// ThreadSanitizer makes the run fail on any race it sees.
#include "host/fileio.h"
#include "render/draw_commands.h"
#include "render/main_frame.h"
#include "render/render_context.h"
#include "render/text_measure.h"
#include "tests/unit/frame_builder.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using render_support::frame_builder;

// A screenshot frame of labels whose text moves through the alphabet and
// beyond, so the atlases keep growing (new glyphs, new pages) while the
// other thread reads.
threadstream *label_frame(int round) {
    frame_builder b(threadstream_allocate());
    b.set_grid(0, 180, -1).passes(1, true).pass(nullptr, 320, 180);
    for (int i = 0; i < 6; ++i) {
        std::string text;
        for (int k = 0; k < 8; ++k) {
            unsigned c = 0x21 + (unsigned)((round * 13 + i * 7 + k) % 0x17F);
            text += c < 0x80 ? std::string(1, (char)c) : std::string{(char)(0xC0 | c >> 6), (char)(0x80 | (c & 0x3F))};
        }
        b.label(0, 170.0f - (float)i * 25.0f, text.c_str(), (float)((round + i) % 30), 1,
                render_support::rgba(255, 255, 255), i % 2 ? "other.ttf" : nullptr);
    }
    return b.end_pass().screenshot("shots/frame.png", 0, 0, 32, 32).s;
}

threadstream *solid_frame() {
    frame_builder b(threadstream_allocate());
    return b.passes(1).pass(nullptr, 320, 180).solid(0, 0, 10, 10, render_support::rgba(1, 2, 3)).end_pass().s;
}

} // namespace

int main() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init() || !PHYSFS_init(nullptr)) return 2;
    char templ[] = "/tmp/vellum-tsan-XXXXXX";
    if (!mkdtemp(templ)) return 2;
    const std::string dir = templ, side_dir = dir + "/side", fonts_dir = "/usr/share/fonts/truetype/dejavu/";
    std::filesystem::create_directory(side_dir);
    std::filesystem::copy_file(fonts_dir + "DejaVuSans.ttf", dir + "/font.ttf");
    std::filesystem::copy_file(fonts_dir + "DejaVuSans-Bold.ttf", dir + "/other.ttf");
    std::filesystem::copy_file(fonts_dir + "DejaVuSerif.ttf", dir + "/third.ttf");
    PHYSFS_mount(dir.c_str(), nullptr, 1);
    PHYSFS_setWriteDir(dir.c_str());
    render_context *context = render_context_new(0, 1, 320, 180, -1, -1, -1, -1, 1.0f);
    if (!context) {
        std::fprintf(stderr, "render_context_new: %s\n", SDL_GetError());
        return 2;
    }
    draw_init(context, dir.c_str());

    std::atomic<bool> done{false};
    std::atomic<int> measured{0}, focus_changes{0}, bad{0};
    std::thread simulation([&] {
        const char *fonts[] = {nullptr, "other.ttf", "third.ttf", "missing.ttf"};
        const char *texts[] = {"Hello", "AVAVA", "\xC3\xA9t\xC3\xA9", "!\"#$%&'()*+,-./0123456789"};
        Uint32 last_frame = 0;
        for (int i = 0, round = 0; !done.load(); ++i, ++measured) {
            float w = 0, h = 0;
            measure_text(context, texts[i % 4], i % 30, fonts[i % 4], &w, &h);
            if (!(w > 0) || !(h > 0)) ++bad;
            if (i % 50 == 0 && !appendfile_write_override(side_dir.c_str(), "side.txt", "x", 1)) ++bad;
            // Window events are read as soon as their batch arrives; a frame
            // (and the next focus change) follows about every 30 ms, so that
            // the main thread also has turns without a new frame, and every
            // other frame draws no text, so that turns also pass without the
            // text lock.
            while (threadstream *batch = threadstreamqueue_getitem(context->event_queue)) {
                SDL_Event got;
                for (uint64_t k = 0, n = event_batch_open(batch); k < n; ++k) {
                    event_batch_next(batch, &got);
                    bool gained = false;
                    if (got.type == SDL_WINDOWEVENT && render_context_track_focus(context, got.window, &gained))
                        ++focus_changes;
                }
                threadstream_free(batch);
            }
            if (SDL_GetTicks() - last_frame < 30) continue;
            last_frame = SDL_GetTicks();
            threadstreamqueue_putitem(context->frame_queue, ++round % 2 ? label_frame(round) : solid_frame());
            SDL_Event event = {};
            event.window = {SDL_WINDOWEVENT, 0, context->window_id,
                            (Uint8)(round % 2 ? SDL_WINDOWEVENT_FOCUS_LOST : SDL_WINDOWEVENT_FOCUS_GAINED)};
            SDL_PushEvent(&event);
            event.window.event = round % 2 ? SDL_WINDOWEVENT_LEAVE : SDL_WINDOWEVENT_ENTER;
            SDL_PushEvent(&event);
        }
    });
    int turns = 0;
    for (Uint32 start = SDL_GetTicks(); SDL_GetTicks() - start < 1500 || measured.load() < 200 || focus_changes < 20;
         ++turns)
        draw_iteration(context);
    done = true;
    simulation.join();
    while (threadstream *frame = threadstreamqueue_getitem(context->frame_queue)) threadstream_free(frame);
    while (threadstream *batch = threadstreamqueue_getitem(context->event_queue)) threadstream_free(batch);

    bool written = std::filesystem::exists(dir + "/shots/frame.png") && std::filesystem::exists(side_dir + "/side.txt");
    std::printf("turns %d, measurements %d, focus changes %d, bad %d\n", turns, measured.load(), focus_changes.load(),
                bad.load());
    render_context_delete(context);
    threadstream_quit();
    PHYSFS_deinit();
    SDL_Quit();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return bad.load() == 0 && written ? 0 : 1;
}
