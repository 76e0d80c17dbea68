// The per-sprite cost on the simulation thread, piece by piece: a Ruby call
// into FFI::Draw, reading a sprite's attributes through the primitive
// accessors, and the whole walk of a render pass when the runtime has one
// (for labels too).
// One interpreter with the framework loaded serves every benchmark; each
// iteration handles SPRITES sprites and rewinds the frame stream.
#include "host/engine.h"
#include "host/host_call.h"
#include "host/threadstream_ruby.h"
#include "render/draw_methods.h"
#include "render/frame_stream.h"

#include <mruby/hash.h>
#include <mruby/variable.h>

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

def bench_make_labels(n)
  Array.new(n) { |i| { x: (i * 7919) % 1200, y: 720 - (i * 104729) % 696, text: "s#{i} #{i % 100}" } }
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

# The same values read straight from a Hash's keys (no accessor calls), still
# through the 22-argument call.
def bench_key_reads(sprites)
  d = $bench_draw
  i = 0
  n = sprites.length
  while i < n
    s = sprites[i]
    d.draw_sprite_3(s[:x], s[:y], s[:w], s[:h], s[:path].s_or_default, s[:angle], s[:a], s[:r], s[:g], s[:b],
                    s[:tile_x], s[:tile_y], s[:tile_w], s[:tile_h], !!s[:flip_horizontally],
                    !!s[:flip_vertically], s[:angle_anchor_x], s[:angle_anchor_y], s[:source_x], s[:source_y],
                    s[:source_w], s[:source_h])
    i += 1
  end
end

# One native call per sprite that reads the sprite itself (see
# bench_native_sprite below): what a native fast path could reach.
def bench_native_reads(sprites)
  d = $bench_draw
  i = 0
  n = sprites.length
  while i < n
    d.bench_native_sprite(sprites[i])
    i += 1
  end
end

def bench_outputs
  $bench_outputs ||= QMX::Outputs.new(width: 1280, height: 720)
end

# What `args.outputs.sprites << sprites` costs for the whole list.
def bench_push(sprites)
  return false unless Object.const_defined?(:QMX) && QMX.const_defined?(:Outputs)
  bench_outputs.labels.clear
  bench_outputs.sprites.clear
  bench_outputs.sprites << sprites
  true
end

# The same push with a leaner add for lists: an explicit block in place of
# Symbol#to_proc for the marker scan, and a list made only of Hashes appended
# in one step (what the general algorithm ends with for such a list).
if Object.const_defined?(:QMX) && QMX.const_defined?(:FlatArray)
  class QMX::FlatArray
    def bench_add_lean(os)
      return add_dwim(os) unless os.is_a?(Array) && !os.empty? && !resolved?(os)
      ids = outputs_with_ids
      i = 0
      n = os.length
      while i < n
        break unless os[i].instance_of?(Hash)
        i += 1
      end
      if i == n
        os.each do |h|
          id = h.id
          ids[id] = h if id
        end
        return concat(os)
      end
      if os.all? { |o| o.primitive_marker }
        os.each { |o| mark_and_id!(o) }
        return concat(os)
      end
      add_dwim(os)
    end
  end
end

def bench_push_lean(sprites)
  return false unless Object.const_defined?(:QMX) && QMX.const_defined?(:Outputs)
  bench_outputs.sprites.clear
  bench_outputs.sprites.bench_add_lean(sprites)
  true
end

# The whole walk of one render pass: the runtime's own dispatch, mixed into
# a stand-in that holds the drawer (the real runtime object needs a window).
def bench_walker
  return nil unless Object.const_defined?(:QMX) && QMX.const_defined?(:Runtime) &&
                    QMX::Runtime.const_defined?(:Draw)
  $bench_walker ||= begin
    walker = Object.new
    walker.extend(QMX::Runtime::Draw)
    walker.instance_variable_set(:@ffi_draw, $bench_draw)
    def walker.production
      false
    end
    $qmx ||= walker
    walker
  end
end

# The walk alone, over a list pushed once.
def bench_walk(sprites)
  walker = bench_walker
  return false unless walker
  unless $bench_walk_list.equal?(sprites)
    bench_push(sprites)
    $bench_walk_list = sprites
  end
  walker.primitives(bench_outputs)
  true
end

# The walk of a pass of labels alone.
def bench_label_walk(labels)
  walker = bench_walker
  return false unless walker
  unless $bench_walk_list.equal?(labels)
    bench_outputs.sprites.clear
    bench_outputs.labels.clear
    bench_outputs.labels << labels
    $bench_walk_list = labels
  end
  walker.primitives(bench_outputs)
  true
end

def bench_pass(sprites)
  walker = bench_walker
  return false unless walker && bench_push(sprites)
  walker.primitives(bench_outputs)
  true
end
)RUBY";

// A sketch of a native fast path: one call per sprite that reads a plain
// Hash in one pass over its entries (or an object's instance variables) and
// packs the sprite command. It handles only the plain shapes and does not
// check that the accessors are the framework's own, so it measures the floor
// such a path could reach rather than being one.
constexpr int F_COUNT = SPRITE_ARGUMENTS;
const char *const FIELD_NAMES[F_COUNT] = {
    "x", "y", "w", "h", "path", "angle", "a", "r", "g", "b", "tile_x", "tile_y", "tile_w", "tile_h",
    "flip_horizontally", "flip_vertically", "angle_anchor_x", "angle_anchor_y", "source_x", "source_y",
    "source_w", "source_h"};
mrb_sym field_syms[F_COUNT];
mrb_sym ivar_syms[F_COUNT];

int collect_field(mrb_state *, mrb_value key, mrb_value value, void *data) {
    mrb_value *fields = (mrb_value *)data;
    if (!mrb_symbol_p(key)) return 0;
    mrb_sym sym = mrb_symbol(key);
    for (int i = 0; i < F_COUNT; ++i)
        if (field_syms[i] == sym) {
            fields[i] = value;
            break;
        }
    return 0;
}

mrb_value bench_native_sprite(mrb_state *mrb, mrb_value) {
    mrb_value s = mrb_get_argv(mrb)[0];
    mrb_value f[F_COUNT];
    for (mrb_value &v : f) v = mrb_nil_value();
    if (mrb_hash_p(s))
        mrb_hash_foreach(mrb, mrb_hash_ptr(s), collect_field, f);
    else
        for (int i = 0; i < F_COUNT; ++i) f[i] = mrb_iv_get(mrb, s, ivar_syms[i]);
    sprite_command command = sprite_command_from_ruby(f);
    frame_write_sprite(current_frame_stream, &command);
    return mrb_nil_value();
}

struct interpreter {
    mrb_state *mrb = nullptr;
    mrb_value hashes, objects, labels;
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
        for (int i = 0; i < F_COUNT; ++i) {
            field_syms[i] = mrb_intern_cstr(mrb, FIELD_NAMES[i]);
            char ivar[32] = "@";
            SDL_strlcat(ivar, FIELD_NAMES[i], sizeof(ivar));
            ivar_syms[i] = mrb_intern_cstr(mrb, ivar);
        }
        mrb_define_method(mrb, draw, "bench_native_sprite", bench_native_sprite, MRB_ARGS_REQ(1));
        mrb_load_nstring(mrb, BENCH_RUBY, sizeof(BENCH_RUBY) - 1);
        if (mrb->exc) {
            host_log_pending_exception(mrb);
            return;
        }
        mrb_value count = mrb_int_value(mrb, SPRITES);
        mrb_value top = mrb_top_self(mrb);
        hashes = host_call(mrb, top, "bench_make_hashes", 1, &count);
        objects = host_call(mrb, top, "bench_make_objects", 1, &count);
        labels = host_call(mrb, top, "bench_make_labels", 1, &count);
        mrb_gc_register(mrb, hashes);
        mrb_gc_register(mrb, objects);
        mrb_gc_register(mrb, labels);
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
            state.SkipWithError("not available in this framework yet");
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

void BM_HashSpriteKeyReadsAndDraw(benchmark::State &state) { run(state, "bench_key_reads", &interpreter::hashes); }
BENCHMARK(BM_HashSpriteKeyReadsAndDraw)->Unit(benchmark::kMillisecond);

void BM_HashSpriteNativeRead(benchmark::State &state) { run(state, "bench_native_reads", &interpreter::hashes); }
BENCHMARK(BM_HashSpriteNativeRead)->Unit(benchmark::kMillisecond);

void BM_AttrSpriteNativeRead(benchmark::State &state) { run(state, "bench_native_reads", &interpreter::objects); }
BENCHMARK(BM_AttrSpriteNativeRead)->Unit(benchmark::kMillisecond);

void BM_OutputsPushHashes(benchmark::State &state) { run(state, "bench_push", &interpreter::hashes); }
BENCHMARK(BM_OutputsPushHashes)->Unit(benchmark::kMillisecond);

void BM_OutputsPushAttrSprites(benchmark::State &state) { run(state, "bench_push", &interpreter::objects); }
BENCHMARK(BM_OutputsPushAttrSprites)->Unit(benchmark::kMillisecond);

void BM_OutputsPushLeanHashes(benchmark::State &state) { run(state, "bench_push_lean", &interpreter::hashes); }
BENCHMARK(BM_OutputsPushLeanHashes)->Unit(benchmark::kMillisecond);

void BM_OutputsPushLeanAttrSprites(benchmark::State &state) {
    run(state, "bench_push_lean", &interpreter::objects);
}
BENCHMARK(BM_OutputsPushLeanAttrSprites)->Unit(benchmark::kMillisecond);

void BM_RenderWalkHashes(benchmark::State &state) { run(state, "bench_walk", &interpreter::hashes); }
BENCHMARK(BM_RenderWalkHashes)->Unit(benchmark::kMillisecond);

void BM_RenderWalkAttrSprites(benchmark::State &state) { run(state, "bench_walk", &interpreter::objects); }
BENCHMARK(BM_RenderWalkAttrSprites)->Unit(benchmark::kMillisecond);

void BM_RenderWalkLabels(benchmark::State &state) { run(state, "bench_label_walk", &interpreter::labels); }
BENCHMARK(BM_RenderWalkLabels)->Unit(benchmark::kMillisecond);

void BM_RenderPassHashes(benchmark::State &state) { run(state, "bench_pass", &interpreter::hashes); }
BENCHMARK(BM_RenderPassHashes)->Unit(benchmark::kMillisecond);

void BM_RenderPassAttrSprites(benchmark::State &state) { run(state, "bench_pass", &interpreter::objects); }
BENCHMARK(BM_RenderPassAttrSprites)->Unit(benchmark::kMillisecond);

} // namespace
