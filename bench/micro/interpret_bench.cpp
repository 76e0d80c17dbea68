// The render side of a sprite: interpreting its command on the main thread,
// drawn on the software renderer and passed over in a skipped pass (the pure
// reading cost), and the encoding from Ruby through FFI::Draw; and of a
// label, drawn. Each reports
// the memory allocations per frame once warmed up, which should be none: the
// pooled streams keep their buffers, textures and glyphs stay cached.
#include "host/engine.h"
#include "host/threadstream.h"
#include "render/draw_commands.h"
#include "render/draw_methods.h"
#include "render/frame_stream.h"
#include "render/render_context.h"

#include <benchmark/benchmark.h>
#include <physfs.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

constexpr int SPRITES = 2000;
constexpr int LABELS = 2000;

// Allocations through SDL's allocator (the engine's) and mruby's, counted.
std::atomic<long> allocations{0};
SDL_malloc_func real_malloc;
SDL_calloc_func real_calloc;
SDL_realloc_func real_realloc;
SDL_free_func real_free;

void *counting_malloc(size_t size) {
    ++allocations;
    return real_malloc(size);
}
void *counting_calloc(size_t n, size_t size) {
    ++allocations;
    return real_calloc(n, size);
}
void *counting_realloc(void *p, size_t size) {
    ++allocations;
    return real_realloc(p, size);
}
void *counting_mruby_alloc(mrb_state *, void *p, size_t size, void *) {
    if (size == 0) {
        std::free(p);
        return nullptr;
    }
    ++allocations;
    return std::realloc(p, size);
}

render_context *bench_context() {
    static render_context *context = [] {
        SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
        SDL_SetMemoryFunctions(counting_malloc, counting_calloc, counting_realloc, real_free);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
        if (SDL_Init(SDL_INIT_VIDEO) != 0 || !threadstream_init() || !PHYSFS_init(nullptr)) std::abort();
        static char templ[] = "/tmp/vellum-bench-XXXXXX";
        if (!mkdtemp(templ)) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(templ, ignored);
        });
        std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::string(templ) + "/font.ttf");
        PHYSFS_mount(templ, nullptr, 1);
        render_context *made = render_context_new(0, 1, 1280, 720, -1, -1, -1, -1, 1.0f);
        if (!made) std::abort();
        draw_init(made, templ);
        return made;
    }();
    return context;
}

// A frame: a 32 x 32 pixel array, then one pass of SPRITES sprites of it.
threadstream *sprite_frame(bool skipped_pass) {
    threadstream *s = threadstream_allocate();
    set_grid_command grid = {0, 720, -1};
    frame_write_set_grid(s, &grid);
    std::vector<uint32_t> pixels(32 * 32, 0xFF8040C0u);
    pixel_array_command upload = {{"bunny", 5}, 32, 32, {(const char *)pixels.data(), pixels.size() * 4}};
    frame_write_pixel_array(s, &upload);
    passes_command passes = {1, 0};
    frame_write_passes(s, &passes);
    // A transient pass into a target is passed over by a stale frame.
    pass_header header = {0, 0, 0, 255, {skipped_pass ? "offscreen" : nullptr, skipped_pass ? 9u : 0u}, 1280, 720,
                          skipped_pass ? 1u : 0u};
    frame_write_pass_header(s, &header);
    for (int i = 0; i < SPRITES; ++i) {
        sprite_command sprite = {{"bunny", 5}, (float)((i * 7919) % 1248), (float)((i * 104729) % 688), 32, 32, 0,
                                 255, 255, 255, 255, 0, 0, -1, -1, 0, 0, -1, -1, 0, 0, 0.5f, 0.5f};
        frame_write_sprite(s, &sprite);
    }
    frame_write_opcode(s, RENDER_CMD_END_PASS);
    return s;
}

// A frame of one pass of LABELS labels, "s<i> <i % 100>" in the default
// font and size.
threadstream *label_frame() {
    threadstream *s = threadstream_allocate();
    set_grid_command grid = {0, 720, -1};
    frame_write_set_grid(s, &grid);
    passes_command passes = {1, 0};
    frame_write_passes(s, &passes);
    pass_header header = {0, 0, 0, 255, {nullptr, 0}, 1280, 720, 0};
    frame_write_pass_header(s, &header);
    char text[32];
    for (int i = 0; i < LABELS; ++i) {
        int length = std::snprintf(text, sizeof(text), "s%d %d", i, i % 100);
        label_command label = {(float)((i * 7919) % 1200), (float)(720 - (i * 104729) % 696),
                               {text, (uint64_t)length}, {nullptr, 0}, 0, 0, 0, 0, 0, 255};
        frame_write_label(s, &label);
    }
    frame_write_opcode(s, RENDER_CMD_END_PASS);
    return s;
}

void interpret(benchmark::State &state, threadstream *(*make_frame)(), int stale, int items) {
    render_context *context = bench_context();
    threadstream *frame = make_frame();
    // Warm up: textures made, queues sized.
    for (int i = 0; i < 3; ++i) {
        frame->read_pos = 0;
        draw_commands_execute(context, frame, stale, 0);
        SDL_RenderPresent(context->renderer);
    }
    long before = allocations.load();
    for (auto _ : state) {
        frame->read_pos = 0;
        draw_commands_execute(context, frame, stale, 0);
        SDL_RenderPresent(context->renderer);
    }
    state.SetItemsProcessed(state.iterations() * items);
    state.counters["allocs_per_frame"] = (double)(allocations.load() - before) / (double)state.iterations();
    threadstream_free(frame);
}

void BM_InterpretAndDrawSprites(benchmark::State &state) { interpret(state, [] { return sprite_frame(false); }, 0, SPRITES); }
BENCHMARK(BM_InterpretAndDrawSprites)->Unit(benchmark::kMicrosecond);

void BM_InterpretSkippedSprites(benchmark::State &state) { interpret(state, [] { return sprite_frame(true); }, 1, SPRITES); }
BENCHMARK(BM_InterpretSkippedSprites)->Unit(benchmark::kMicrosecond);

void BM_InterpretAndDrawLabels(benchmark::State &state) { interpret(state, label_frame, 0, LABELS); }
BENCHMARK(BM_InterpretAndDrawLabels)->Unit(benchmark::kMicrosecond);

// Ruby calling FFI::Draw for every sprite of a frame, into a pooled stream
// that is rewound each frame as the engine's pool hands it back: the full
// 22-argument draw_sprite_3 (mruby passes more than 15 arguments in an Array
// it allocates for the call) and the 5-argument draw_sprite.
void encode_from_ruby(benchmark::State &state, const char *method) {
    bench_context();
    mrb_state *mrb = mrb_open_allocf(counting_mruby_alloc, nullptr);
    RClass *ffi = mrb_define_module(mrb, "FFI");
    draw_methods_define(mrb, mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class));
    mrb_load_string(mrb, R"RUBY(
      $d = FFI::Draw.new
      $path = "bunny"
      def frame_full(n)
        i = 0
        while i < n
          $d.draw_sprite_3(i % 1248, i % 688, 32, 32, $path, nil, nil, nil, nil, nil, nil, nil, nil, nil,
                           false, false, nil, nil, nil, nil, nil, nil)
          i += 1
        end
      end

      def frame_short(n)
        i = 0
        while i < n
          $d.draw_sprite(i % 1248, i % 688, 32, 32, $path)
          i += 1
        end
      end
    )RUBY");
    threadstream *saved = current_frame_stream;
    current_frame_stream = threadstream_allocate();
    mrb_value top = mrb_top_self(mrb);
    mrb_value count = mrb_int_value(mrb, SPRITES);
    for (int i = 0; i < 3; ++i) {
        current_frame_stream->write_pos = 0;
        mrb_funcall_argv(mrb, top, mrb_intern_cstr(mrb, method), 1, &count);
    }
    long before = allocations.load();
    for (auto _ : state) {
        current_frame_stream->write_pos = 0;
        mrb_funcall_argv(mrb, top, mrb_intern_cstr(mrb, method), 1, &count);
    }
    state.SetItemsProcessed(state.iterations() * SPRITES);
    state.counters["allocs_per_frame"] = (double)(allocations.load() - before) / (double)state.iterations();
    if (mrb->exc) state.SkipWithError("the Ruby frame raised");
    threadstream_free(current_frame_stream);
    current_frame_stream = saved;
    mrb_close(mrb);
}
void BM_EncodeFullSpritesFromRuby(benchmark::State &state) { encode_from_ruby(state, "frame_full"); }
BENCHMARK(BM_EncodeFullSpritesFromRuby)->Unit(benchmark::kMicrosecond);

void BM_EncodeShortSpritesFromRuby(benchmark::State &state) { encode_from_ruby(state, "frame_short"); }
BENCHMARK(BM_EncodeShortSpritesFromRuby)->Unit(benchmark::kMicrosecond);

} // namespace
