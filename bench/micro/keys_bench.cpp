// What a game's Hash keys cost, in an interpreter with the framework loaded:
// 100,000 Symbols no code has made before, made from Strings and used as
// Hash keys (inserted, then looked up by making them again), beside the same
// work with the Strings themselves; and Integer keys spread by 2^24, 2^32
// and 2^48, inserted and looked up, beside as many consecutive ones. A key
// costs about the same whatever keys came before it, so the pairs should be
// within a small factor of each other.
//
// 2^48 spreads only 65,536 keys over the 64-bit range (from -2^63 up), so
// that case and its consecutive match use 65,536.
//
// Then each step on its own of a Hash of a million Integer, Symbol or String
// keys (inserting them, finding them, deleting them), and of one of 100,000
// keys of a game's own class, whose `hash` and eql? are Ruby methods.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const char KEYS_BENCH_RUBY[] = R"RUBY(
def keys_bench_names(n, round, symbols)
  h = {}
  i = 0
  while i < n
    name = "cell_#{round}_#{i}_x"
    h[symbols ? name.to_sym : name] = i
    i += 1
  end
  i = 0
  while i < n
    name = "cell_#{round}_#{i}_x"
    raise "lost #{name}" unless h[symbols ? name.to_sym : name] == i
    i += 1
  end
  h.size
end

# Spread keys are centred on 0, so that 2^48 reaches both ends of the range.
def keys_bench_integers(n, step)
  h = {}
  offset = step == 1 ? 0 : n / 2
  i = 0
  while i < n
    h[(i - offset) * step] = i
    i += 1
  end
  i = 0
  while i < n
    raise "lost #{(i - offset) * step}" unless h[(i - offset) * step] == i
    i += 1
  end
  h.size
end

# A point as games write one: its hash and eql? are its own.
class KeysBenchPoint
  attr_reader :x, :y
  def initialize(x, y) = (@x = x; @y = y)
  def hash = x * 100_003 + y
  def eql?(other) = x == other.x && y == other.y
end

# The keys of a kind (0 Integer, 1 Symbol, 2 String, 3 the game's points),
# made once; a step then works on $keys_bench_hash.
def keys_bench_keys(kind, n)
  $keys_bench_keys ||= {}
  $keys_bench_keys[[kind, n]] ||= Array.new(n) do |i|
    case kind
    when 0 then i * 7919
    when 1 then :"key_#{i}"
    when 2 then "key #{i}"
    else KeysBenchPoint.new(i % 317, i / 317)
    end
  end
end

def keys_bench_insert(kind, n)
  keys = keys_bench_keys(kind, n)
  h = {}
  i = 0
  while i < n
    h[keys[i]] = i
    i += 1
  end
  $keys_bench_hash = h
  h.size
end

# Finds every key, or deletes it, answering how many gave their value.
def keys_bench_find(kind, n, delete)
  keys = keys_bench_keys(kind, n)
  h = $keys_bench_hash
  found = 0
  i = 0
  while i < n
    found += 1 if (delete ? h.delete(keys[i]) : h[keys[i]]) == i
    i += 1
  end
  found
end
)RUBY";

framework_interpreter &shared() {
    static framework_interpreter it(KEYS_BENCH_RUBY, sizeof(KEYS_BENCH_RUBY) - 1);
    return it;
}

constexpr mrb_int KEYS = 100000;
constexpr mrb_int KEYS_SPREAD_BY_2_48 = 65536;

// One call of method(keys, second[, symbols]) per iteration, from a collected
// heap; it must answer the number of keys. Second is called before every
// iteration.
template <typename Second>
void run(benchmark::State &state, const char *method, mrb_int keys, Second second, mrb_value *symbols = nullptr) {
    framework_interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework did not load");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        mrb_value argv[3] = {mrb_int_value(it.mrb, keys), mrb_int_value(it.mrb, second()),
                             symbols ? *symbols : mrb_nil_value()};
        state.ResumeTiming();
        mrb_value answer = host_call(it.mrb, mrb_top_self(it.mrb), method, symbols ? 3 : 2, argv);
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
        if (!mrb_integer_p(answer) || mrb_integer(answer) != keys) {
            state.SkipWithError((std::string(method) + " lost keys").c_str());
            return;
        }
    }
    state.counters["keys"] = (double)keys;
}

// Every iteration names keys of its own, with a round number no earlier one
// used: for Symbols, that makes them new.
mrb_int next_round() {
    static mrb_int round = 0;
    return ++round;
}

void BM_NewSymbolsAsHashKeys(benchmark::State &state) {
    mrb_value symbols = mrb_true_value();
    run(state, "keys_bench_names", KEYS, next_round, &symbols);
}
BENCHMARK(BM_NewSymbolsAsHashKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SameNamesAsStringHashKeys(benchmark::State &state) {
    mrb_value symbols = mrb_false_value();
    run(state, "keys_bench_names", KEYS, next_round, &symbols);
}
BENCHMARK(BM_SameNamesAsStringHashKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

// state.range(0): the power of two the keys are spread by (0: consecutive).
void BM_IntegerHashKeys(benchmark::State &state) {
    int shift = (int)state.range(0);
    mrb_int keys = state.range(1);
    run(state, "keys_bench_integers", keys, [shift] { return shift ? (mrb_int)1 << shift : (mrb_int)1; });
}
BENCHMARK(BM_IntegerHashKeys)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ArgNames({"spread_2_to", "keys"})
    ->Args({0, KEYS})
    ->Args({24, KEYS})
    ->Args({32, KEYS})
    ->Args({0, KEYS_SPREAD_BY_2_48})
    ->Args({48, KEYS_SPREAD_BY_2_48});

// state.range(0): the kind of key (0 Integer, 1 Symbol, 2 String, 3 a
// game's class); state.range(1): the step (0 insert, 1 find, 2 delete). The
// keys, and the Hash a find or a delete works on, are made untimed.
void BM_HashStep(benchmark::State &state) {
    framework_interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework did not load");
        return;
    }
    mrb_int kind = state.range(0), step = state.range(1), keys = kind == 3 ? 100000 : 1000000;
    const char *method = step == 0 ? "keys_bench_insert" : "keys_bench_find";
    for (auto _ : state) {
        state.PauseTiming();
        int arena = mrb_gc_arena_save(it.mrb);
        mrb_value argv[3] = {mrb_int_value(it.mrb, kind), mrb_int_value(it.mrb, keys), mrb_bool_value(step == 2)};
        mrb_sym hash = mrb_intern_lit(it.mrb, "$keys_bench_hash");
        host_call(it.mrb, mrb_top_self(it.mrb), "keys_bench_keys", 2, argv);
        if (step == 0) mrb_gv_set(it.mrb, hash, mrb_nil_value());
        if (step == 2 || (step == 1 && mrb_nil_p(mrb_gv_get(it.mrb, hash))))
            host_call(it.mrb, mrb_top_self(it.mrb), "keys_bench_insert", 2, argv);
        mrb_full_gc(it.mrb);
        state.ResumeTiming();
        mrb_value answer = host_call(it.mrb, mrb_top_self(it.mrb), method, step == 0 ? 2 : 3, argv);
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
        if (!mrb_integer_p(answer) || mrb_integer(answer) != keys) {
            state.SkipWithError("a step lost keys");
            return;
        }
    }
    mrb_gv_set(it.mrb, mrb_intern_lit(it.mrb, "$keys_bench_hash"), mrb_nil_value());
    state.counters["keys"] = (double)keys;
}
BENCHMARK(BM_HashStep)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ArgNames({"kind", "step"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}});

} // namespace
