// What a game's objects cost in memory: 1,000,000 objects of a class with
// three instance variables, each assigned one of them again (as a tick
// updates an entity), in an interpreter of its own whose every allocation is
// counted. The counters give the interpreter's live heap per object once the
// objects are made and once each was updated; the two should be equal.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>

namespace {

const char OBJECTS_BENCH_RUBY[] = R"RUBY(
class ObjectsBenchThing
  def initialize(i)
    @a = i
    @b = i + 1
    @c = i + 2
  end

  def touch = @b += 1
end

def objects_bench_make(n) = $objects_bench = Array.new(n) { |i| ObjectsBenchThing.new(i) }
def objects_bench_touch = $objects_bench.each(&:touch)
def objects_bench_drop = $objects_bench = nil
)RUBY";

constexpr mrb_int OBJECTS = 1000000;

void BM_ObjectsWithThreeVariablesUpdatedOnce(benchmark::State &state) {
    mrb_state *mrb = mrb_open_allocf(counting_interpreter_alloc, nullptr);
    mrb_load_string(mrb, OBJECTS_BENCH_RUBY);
    mrb_value top = mrb_top_self(mrb), count = mrb_int_value(mrb, OBJECTS);
    double made_per_object = 0, updated_per_object = 0;
    // Each call's answer is let go at once, so that only $objects_bench
    // holds the objects.
    auto call = [&](const char *method, int argc, const mrb_value *argv) {
        int arena = mrb_gc_arena_save(mrb);
        mrb_funcall_argv(mrb, top, mrb_intern_cstr(mrb, method), argc, argv);
        mrb_gc_arena_restore(mrb, arena);
        mrb_full_gc(mrb);
    };
    for (auto _ : state) {
        mrb_full_gc(mrb);
        long long before = interpreter_heap.now;
        call("objects_bench_make", 1, &count);
        made_per_object = (double)(interpreter_heap.now - before) / OBJECTS;
        call("objects_bench_touch", 0, nullptr);
        updated_per_object = (double)(interpreter_heap.now - before) / OBJECTS;
        call("objects_bench_drop", 0, nullptr);
    }
    if (mrb->exc) state.SkipWithError("the Ruby raised");
    state.counters["bytes_per_object_made"] = made_per_object;
    state.counters["bytes_per_object_updated"] = updated_per_object;
    mrb_close(mrb);
}
BENCHMARK(BM_ObjectsWithThreeVariablesUpdatedOnce)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
