// Built with ThreadSanitizer: labels drawn on the main thread while a second
// thread, standing in for the simulation thread, measures text in the same
// fonts (loading some of them itself) and writes files into its own
// directory while the main thread writes screenshots. Exits 0 when every
// check holds; ThreadSanitizer makes the run fail on any race it sees.
#include "host/fileio.h"
#include "host/threadstream.h"
#include "tests/unit/frame_builder.h"
#include "render/draw_commands.h"
#include "render/frame_stream.h"
#include "render/render_context.h"
#include "render/text_measure.h"

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
    std::atomic<int> measured{0}, bad{0};
    std::thread simulation([&] {
        const char *fonts[] = {nullptr, "other.ttf", "third.ttf", "missing.ttf"};
        const char *texts[] = {"Hello", "AVAVA", "\xC3\xA9t\xC3\xA9", "!\"#$%&'()*+,-./0123456789"};
        for (int i = 0; !done.load(); ++i, ++measured) {
            float w = 0, h = 0;
            measure_text(context, texts[i % 4], i % 30, fonts[i % 4], &w, &h);
            if (!(w > 0) || !(h > 0)) ++bad;
            if (i % 50 == 0 && !appendfile_write_override(side_dir.c_str(), "side.txt", "x", 1)) ++bad;
        }
    });
    int rounds = 0;
    for (Uint32 start = SDL_GetTicks(); SDL_GetTicks() - start < 1500 || measured.load() < 200;) {
        threadstream *frame = label_frame(rounds++);
        context->screen_not_cleared = 1;
        draw_commands_execute(context, frame, 0, 0);
        SDL_RenderPresent(context->renderer);
        threadstream_free(frame);
    }
    done = true;
    simulation.join();

    bool written = std::filesystem::exists(dir + "/shots/frame.png") && std::filesystem::exists(side_dir + "/side.txt");
    std::printf("rounds %d, measurements %d, bad %d\n", rounds, measured.load(), bad.load());
    render_context_delete(context);
    threadstream_quit();
    PHYSFS_deinit();
    SDL_Quit();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return bad.load() == 0 && written ? 0 : 1;
}
