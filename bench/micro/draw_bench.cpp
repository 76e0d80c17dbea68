// The per-sprite cost on the simulation thread, piece by piece: a Ruby call
// into FFI::Draw, reading a sprite's attributes through the primitive
// accessors, and the whole walk of a render pass when the runtime has one.
// One interpreter with the framework loaded serves every benchmark; each
// iteration handles SPRITES sprites and rewinds the frame stream.
#include "host/engine.h"
#include "host/host_call.h"
#include "render/draw_methods.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int SPRITES = 20000;

const char BENCH_RUBY[] = R"RUBY(
$bench_draw = FFI::Draw.new

class BenchBunny
  if Object.const_defined?(:AttrSprite)
    attr_sprite
  else
    attr_accessor :x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
                  :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
                  :source_x, :source_y, :source_w, :source_h
  end

  def initialize(x, y)
    @x = x
    @y = y
    @w = 32
    @h = 32
    @path = "sprites/bunny.png"
  end
end

def bench_make_hashes(n)
  Array.new(n) { |i| { x: (i * 7919) % 1248 + 0.5, y: (i * 104729) % 688 + 0.5, w: 32, h: 32,
                       path: "sprites/bunny.png" } }
end

def bench_make_objects(n)
  Array.new(n) { |i| BenchBunny.new((i * 7919) % 1248 + 0.5, (i * 104729) % 688 + 0.5) }
end

# The floor: one native call per sprite with values already at hand.
def bench_ffi_calls(sprites)
  d = $bench_draw
  i = 0
  n = sprites.length
  while i < n
    d.draw_sprite_3(1.5, 2.5, 32, 32, "sprites/bunny.png", nil, nil, nil, nil, nil, nil, nil, nil, nil,
                    false, false, nil, nil, nil, nil, nil, nil)
    i += 1
  end
end

# What a dispatch does per sprite: read all 22 attributes through the
# primitive accessors, then one native call.
def bench_accessor_reads(sprites)
  d = $bench_draw
  i = 0
  n = sprites.length
  while i < n
    s = sprites[i]
    d.draw_sprite_3(s.x, s.y, s.w, s.h, s.path.s_or_default, s.angle, s.a, s.r, s.g, s.b,
                    s.tile_x, s.tile_y, s.tile_w, s.tile_h, !!s.flip_horizontally, !!s.flip_vertically,
                    s.angle_anchor_x, s.angle_anchor_y, s.source_x, s.source_y, s.source_w, s.source_h)
    i += 1
  end
end

# The whole walk of one render pass, when the runtime has one.
def bench_pass(sprites)
  return false unless $qmx && $qmx.respond_to?(:primitives) && $bench_outputs
  $bench_outputs.sprites.clear
  $bench_outputs.sprites << sprites
  $qmx.primitives($bench_outputs)
  true
end
)RUBY";

struct interpreter {
    mrb_state *mrb = nullptr;
    mrb_value hashes, objects;
    bool ready = false;

    interpreter() {
        static const bool pool_ready = threadstream_init();
        (void)pool_ready;
        mrb = mrb_open();
        the_game_state.mrb = mrb;
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        if (mrb->exc) {
            host_log_pending_exception(mrb);
            return;
        }
        RClass *ffi = mrb_module_get(mrb, "FFI");
        RClass *draw = mrb_class_get_under(mrb, ffi, "Draw");
        draw_methods_define(mrb, draw);
        mrb_load_nstring(mrb, BENCH_RUBY, sizeof(BENCH_RUBY) - 1);
        if (mrb->exc) {
            host_log_pending_exception(mrb);
            return;
        }
        mrb_value count = mrb_int_value(mrb, SPRITES);
        mrb_value top = mrb_top_self(mrb);
        hashes = host_call(mrb, top, "bench_make_hashes", 1, &count);
        objects = host_call(mrb, top, "bench_make_objects", 1, &count);
        mrb_gc_register(mrb, hashes);
        mrb_gc_register(mrb, objects);
        current_frame_stream = threadstream_allocate();
        ready = current_frame_stream != nullptr;
    }
};

interpreter &shared() {
    static interpreter it;
    return it;
}

void run(benchmark::State &state, const char *method, mrb_value interpreter::*sprites) {
    interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework did not load");
        return;
    }
    mrb_value top = mrb_top_self(it.mrb);
    mrb_value list = it.*sprites;
    for (auto _ : state) {
        current_frame_stream->write_pos = 0;
        int arena = mrb_gc_arena_save(it.mrb);
        mrb_value done = host_call(it.mrb, top, method, 1, &list);
        mrb_gc_arena_restore(it.mrb, arena);
        if (mrb_false_p(done)) {
            state.SkipWithError("the runtime has no render-pass walk yet");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * SPRITES);
}

void BM_FfiDrawSprite3Calls(benchmark::State &state) { run(state, "bench_ffi_calls", &interpreter::hashes); }
BENCHMARK(BM_FfiDrawSprite3Calls)->Unit(benchmark::kMillisecond);

void BM_HashSpriteAccessorsAndDraw(benchmark::State &state) {
    run(state, "bench_accessor_reads", &interpreter::hashes);
}
BENCHMARK(BM_HashSpriteAccessorsAndDraw)->Unit(benchmark::kMillisecond);

void BM_AttrSpriteAccessorsAndDraw(benchmark::State &state) {
    run(state, "bench_accessor_reads", &interpreter::objects);
}
BENCHMARK(BM_AttrSpriteAccessorsAndDraw)->Unit(benchmark::kMillisecond);

void BM_RenderPassHashes(benchmark::State &state) { run(state, "bench_pass", &interpreter::hashes); }
BENCHMARK(BM_RenderPassHashes)->Unit(benchmark::kMillisecond);

void BM_RenderPassAttrSprites(benchmark::State &state) { run(state, "bench_pass", &interpreter::objects); }
BENCHMARK(BM_RenderPassAttrSprites)->Unit(benchmark::kMillisecond);

} // namespace
