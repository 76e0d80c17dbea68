// How fast sprite commands can be written into a frame stream: the native
// floor under the per-primitive cost of the draw methods.
#include "host/threadstream.h"
#include "render/draw_methods.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int SPRITES = 20000;

struct stream_fixture {
    stream_fixture() {
        // The pool lives for the whole benchmark process.
        static const bool pool_ready = threadstream_init();
        (void)pool_ready;
        stream = threadstream_allocate();
    }
    ~stream_fixture() { threadstream_free(stream); }
    threadstream *stream;
};

// The fields a full sprite command carries, packed from plain numbers.
void BM_PackSpriteCommands(benchmark::State &state) {
    stream_fixture fixture;
    threadstream *s = fixture.stream;
    for (auto _ : state) {
        s->write_pos = 0;
        for (int i = 0; i < SPRITES; ++i) {
            const float f = (float)i;
            sprite_command sprite = {{"sprites/bunny.png", 17}, f, f, f, f, f, 255, 255, 255, 255,
                                     -1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0.5f, 0.5f};
            frame_write_sprite(s, &sprite);
        }
        benchmark::DoNotOptimize(s->buffer);
    }
    state.SetItemsProcessed(state.iterations() * SPRITES);
    state.SetBytesProcessed((int64_t)(state.iterations() * (int64_t)s->write_pos));
}
BENCHMARK(BM_PackSpriteCommands)->Unit(benchmark::kMicrosecond);

// The same command made from Ruby values by their type tags, as the draw
// methods make it (numbers for the rectangle, nil for every defaulted field).
void BM_PackSpriteCommandsFromRubyValues(benchmark::State &state) {
    stream_fixture fixture;
    threadstream *s = fixture.stream;
    mrb_state *mrb = mrb_open();
    mrb_value path = mrb_str_new_cstr(mrb, "sprites/bunny.png");
    mrb_value nil = mrb_nil_value();
    for (auto _ : state) {
        s->write_pos = 0;
        for (int i = 0; i < SPRITES; ++i) {
            mrb_value v[SPRITE_ARGUMENTS];
            for (mrb_value &value : v) value = nil;
            v[SPRITE_X] = v[SPRITE_Y] = mrb_float_value(mrb, (mrb_float)i + 0.5);
            v[SPRITE_W] = v[SPRITE_H] = mrb_int_value(mrb, 32);
            v[SPRITE_PATH] = path;
            sprite_command sprite = sprite_command_from_ruby(v);
            frame_write_sprite(s, &sprite);
        }
        benchmark::DoNotOptimize(s->buffer);
    }
    mrb_close(mrb);
    state.SetItemsProcessed(state.iterations() * SPRITES);
}
BENCHMARK(BM_PackSpriteCommandsFromRubyValues)->Unit(benchmark::kMicrosecond);

} // namespace
