// How fast sprite commands can be written into a frame stream: the native
// floor under the per-primitive cost of the draw methods.
#include "host/threadstream.h"
#include "host/threadstream_ruby.h"
#include "render/frame_stream.h"

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
            threadstream_pack_int(s, RENDER_CMD_SPRITE);
            threadstream_pack_string(s, "sprites/bunny.png");
            for (int f = 0; f < 5; ++f) threadstream_pack_float(s, (float)i);
            for (int f = 0; f < 4; ++f) threadstream_pack_int(s, 255);
            for (int f = 0; f < 8; ++f) threadstream_pack_float(s, -1.0f);
            threadstream_pack_int(s, 0);
            threadstream_pack_int(s, 0);
            threadstream_pack_float(s, 0.5f);
            threadstream_pack_float(s, 0.5f);
        }
        benchmark::DoNotOptimize(s->buffer);
    }
    state.SetItemsProcessed(state.iterations() * SPRITES);
    state.SetBytesProcessed((int64_t)(state.iterations() * (int64_t)s->write_pos));
}
BENCHMARK(BM_PackSpriteCommands)->Unit(benchmark::kMicrosecond);

// The same fields taken from Ruby values by their type tags, as the draw
// methods do (numbers for the rectangle, nil for every defaulted field).
void BM_PackSpriteCommandsFromRubyValues(benchmark::State &state) {
    stream_fixture fixture;
    threadstream *s = fixture.stream;
    mrb_state *mrb = mrb_open();
    mrb_value path = mrb_str_new_cstr(mrb, "sprites/bunny.png");
    mrb_value nil = mrb_nil_value();
    for (auto _ : state) {
        s->write_pos = 0;
        for (int i = 0; i < SPRITES; ++i) {
            mrb_value x = mrb_float_value(mrb, (mrb_float)i + 0.5);
            mrb_value w = mrb_int_value(mrb, 32);
            threadstream_pack_int(s, RENDER_CMD_SPRITE);
            threadstream_pack_ruby_string(s, path);
            threadstream_pack_ruby_float_or_default(s, x, 0);
            threadstream_pack_ruby_float_or_default(s, x, 0);
            threadstream_pack_ruby_float_or_default(s, w, 0);
            threadstream_pack_ruby_float_or_default(s, w, 0);
            threadstream_pack_ruby_float_or_default(s, nil, 0);
            for (int f = 0; f < 4; ++f) threadstream_pack_ruby_int_or_default(s, nil, 255);
            for (int f = 0; f < 2; ++f) threadstream_pack_ruby_float_or_default(s, nil, 0);
            for (int f = 0; f < 2; ++f) threadstream_pack_ruby_float_or_default(s, nil, -1);
            for (int f = 0; f < 2; ++f) threadstream_pack_ruby_float_or_default(s, nil, 0);
            for (int f = 0; f < 2; ++f) threadstream_pack_ruby_float_or_default(s, nil, -1);
            threadstream_pack_int(s, 0);
            threadstream_pack_int(s, 0);
            threadstream_pack_ruby_float_or_default(s, nil, 0.5f);
            threadstream_pack_ruby_float_or_default(s, nil, 0.5f);
        }
        benchmark::DoNotOptimize(s->buffer);
    }
    mrb_close(mrb);
    state.SetItemsProcessed(state.iterations() * SPRITES);
}
BENCHMARK(BM_PackSpriteCommandsFromRubyValues)->Unit(benchmark::kMicrosecond);

} // namespace
