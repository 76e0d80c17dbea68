// Built with ThreadSanitizer: labels drawn on the main thread while a second
// thread, standing in for the simulation thread, measures text in the same
// fonts (loading some of them itself) and writes files into its own
// directory while the main thread writes screenshots. Exits 0 when every
// check holds; ThreadSanitizer makes the run fail on any race it sees.
#include "host/fileio.h"
#include "host/threadstream.h"
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

constexpr const char *FONT_DIR = "/usr/share/fonts/truetype/dejavu/";

void pack_label(threadstream *s, float y, const char *text, float size_enum, const char *font) {
    threadstream_pack_int(s, RENDER_CMD_LABEL);
    threadstream_pack_float(s, 0);
    threadstream_pack_float(s, y);
    threadstream_pack_string(s, text);
    threadstream_pack_string(s, font);
    threadstream_pack_float(s, size_enum);
    threadstream_pack_int(s, 1);
    for (int c : {255, 255, 255, 255}) threadstream_pack_int(s, c);
}

// A frame of labels whose text moves through the alphabet and beyond, so the
// atlases keep growing (new glyphs, new pages) while the other thread reads.
threadstream *label_frame(int round) {
    threadstream *s = threadstream_allocate();
    threadstream_pack_int(s, RENDER_CMD_SET_GRID);
    threadstream_pack_float(s, 0);
    threadstream_pack_float(s, 180);
    threadstream_pack_int(s, -1);
    threadstream_pack_int(s, RENDER_CMD_PASSES);
    threadstream_pack_int(s, 1);
    threadstream_pack_int(s, 1); // screenshot pass
    for (int c : {0, 0, 0, 255}) threadstream_pack_int(s, c);
    threadstream_pack_string(s, nullptr);
    threadstream_pack_int(s, 320);
    threadstream_pack_int(s, 180);
    threadstream_pack_int(s, 0);
    char text[64];
    for (int i = 0; i < 6; ++i) {
        char *p = text;
        for (int k = 0; k < 8; ++k) {
            unsigned c = 0x21 + (unsigned)((round * 13 + i * 7 + k) % 0x17F);
            if (c < 0x80) {
                *p++ = (char)c;
            } else {
                *p++ = (char)(0xC0 | c >> 6);
                *p++ = (char)(0x80 | (c & 0x3F));
            }
        }
        *p = 0;
        pack_label(s, 170.0f - (float)i * 25.0f, text, (float)((round + i) % 30), i % 2 ? "other.ttf" : nullptr);
    }
    threadstream_pack_int(s, RENDER_CMD_END_PASS);
    threadstream_pack_int(s, RENDER_CMD_SCREENSHOT);
    threadstream_pack_string(s, "shots/frame.png");
    for (float v : {0.0f, 0.0f, 32.0f, 32.0f}) threadstream_pack_float(s, v);
    for (int v : {0, 0, 0, 0, 0}) threadstream_pack_int(s, v);
    return s;
}

} // namespace

int main() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init() || !PHYSFS_init(nullptr)) return 2;
    char templ[] = "/tmp/vellum-tsan-XXXXXX";
    if (!mkdtemp(templ)) return 2;
    const std::string dir = templ, side_dir = dir + "/side";
    std::filesystem::create_directory(side_dir);
    std::filesystem::copy_file(std::string(FONT_DIR) + "DejaVuSans.ttf", dir + "/font.ttf");
    std::filesystem::copy_file(std::string(FONT_DIR) + "DejaVuSans-Bold.ttf", dir + "/other.ttf");
    std::filesystem::copy_file(std::string(FONT_DIR) + "DejaVuSerif.ttf", dir + "/third.ttf");
    PHYSFS_mount(dir.c_str(), nullptr, 1);
    PHYSFS_setWriteDir(dir.c_str());

    render_context *context = render_context_new(0, 1, 320, 180, -1, -1, -1, -1, 1.0f);
    if (!context) {
        std::fprintf(stderr, "render_context_new: %s\n", SDL_GetError());
        return 2;
    }
    draw_init(context, dir.c_str());

    std::atomic<bool> done{false};
    std::atomic<int> measured{0}, bad{0}, failed_writes{0};
    std::thread simulation([&] {
        const char *fonts[] = {nullptr, "other.ttf", "third.ttf", "missing.ttf"};
        const char *texts[] = {"Hello", "AVAVA", "\xC3\xA9t\xC3\xA9", "!\"#$%&'()*+,-./0123456789"};
        for (int i = 0; !done.load(); ++i) {
            float w = 0, h = 0;
            measure_text(context, texts[i % 4], i % 30, fonts[i % 4], &w, &h);
            if (!(w > 0) || !(h > 0)) ++bad;
            ++measured;
            if (i % 50 == 0 && !appendfile_write_override(side_dir.c_str(), "side.txt", "x", 1)) ++failed_writes;
        }
    });

    Uint32 start = SDL_GetTicks();
    int rounds = 0;
    while (SDL_GetTicks() - start < 1500 || measured.load() < 200) {
        threadstream *frame = label_frame(rounds++);
        context->screen_not_cleared = 1;
        draw_commands_execute(context, frame, 0, 0);
        SDL_RenderPresent(context->renderer);
        threadstream_free(frame);
    }
    done = true;
    simulation.join();

    bool screenshot_written = std::filesystem::exists(dir + "/shots/frame.png");
    bool side_written = std::filesystem::exists(side_dir + "/side.txt");
    std::printf("rounds %d, measurements %d, bad %d, failed writes %d\n", rounds, measured.load(), bad.load(),
                failed_writes.load());
    render_context_delete(context);
    threadstream_quit();
    PHYSFS_deinit();
    SDL_Quit();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return bad.load() == 0 && failed_writes.load() == 0 && screenshot_written && side_written ? 0 : 1;
}
