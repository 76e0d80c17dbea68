// The cost of filling output collections on the simulation thread: pushing
// hashes (appended as they are), fresh arrays (each marked with its kind's
// modules) and attr_sprite objects, one at a time and as one nested list.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int PRIMITIVES = 20000;

const char OUTPUTS_BENCH_RUBY[] = R"RUBY(
$outputs_bench = QMX::Outputs.new(width: 1280, height: 720)
$perf_counter_outputs_push_count = 0
$perf_counter_primitive_is_array = 0

class OutputsBenchGem
  attr_sprite

  def initialize(i)
    @x = i % 1248
    @y = i % 688
    @w = 32
    @h = 32
    @path = "sprites/gem.png"
  end
end

$outputs_bench_hashes = Array.new(20000) { |i| { x: i % 1248, y: i % 688, w: 32, h: 32, path: "sprites/gem.png" } }
$outputs_bench_objects = Array.new(20000) { |i| OutputsBenchGem.new(i) }

def outputs_bench_push_each(list)
  sprites = $outputs_bench.sprites
  sprites.clear
  i = 0
  n = list.length
  while i < n
    sprites << list[i]
    i += 1
  end
end

def outputs_bench_push_list(list)
  sprites = $outputs_bench.sprites
  sprites.clear
  sprites << list
end

# Arrays are new every frame in a game, so each one is marked once.
def outputs_bench_fresh_arrays(_)
  solids = $outputs_bench.solids
  solids.clear
  i = 0
  while i < 20000
    solids << [i % 1248, i % 688, 32, 32, 255, 0, 0]
    i += 1
  end
end

def outputs_bench_fresh_arrays_unpushed(_)
  kept = nil
  i = 0
  while i < 20000
    kept = [i % 1248, i % 688, 32, 32, 255, 0, 0]
    i += 1
  end
  kept
end
)RUBY";

framework_interpreter &shared() {
    static framework_interpreter it(OUTPUTS_BENCH_RUBY, sizeof(OUTPUTS_BENCH_RUBY) - 1);
    return it;
}

void run(benchmark::State &state, const char *method, const char *list_global) {
    framework_interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework did not load");
        return;
    }
    mrb_value top = mrb_top_self(it.mrb);
    mrb_value list = list_global ? mrb_gv_get(it.mrb, mrb_intern_cstr(it.mrb, list_global)) : mrb_nil_value();
    for (auto _ : state) {
        int arena = mrb_gc_arena_save(it.mrb);
        host_call(it.mrb, top, method, 1, &list);
        mrb_gc_arena_restore(it.mrb, arena);
    }
    state.SetItemsProcessed(state.iterations() * PRIMITIVES);
}

void BM_OutputsPushHashes(benchmark::State &state) {
    run(state, "outputs_bench_push_each", "$outputs_bench_hashes");
}
BENCHMARK(BM_OutputsPushHashes)->Unit(benchmark::kMillisecond);

void BM_OutputsPushAttrSprites(benchmark::State &state) {
    run(state, "outputs_bench_push_each", "$outputs_bench_objects");
}
BENCHMARK(BM_OutputsPushAttrSprites)->Unit(benchmark::kMillisecond);

void BM_OutputsPushOneListOfHashes(benchmark::State &state) {
    run(state, "outputs_bench_push_list", "$outputs_bench_hashes");
}
BENCHMARK(BM_OutputsPushOneListOfHashes)->Unit(benchmark::kMillisecond);

void BM_OutputsPushFreshArrays(benchmark::State &state) { run(state, "outputs_bench_fresh_arrays", nullptr); }
BENCHMARK(BM_OutputsPushFreshArrays)->Unit(benchmark::kMillisecond);

void BM_OutputsFreshArraysWithoutPushing(benchmark::State &state) {
    run(state, "outputs_bench_fresh_arrays_unpushed", nullptr);
}
BENCHMARK(BM_OutputsFreshArraysWithoutPushing)->Unit(benchmark::kMillisecond);

} // namespace
