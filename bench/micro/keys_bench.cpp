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
#include "host/engine.h"
#include "host/host_call.h"

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
)RUBY";

struct interpreter {
    mrb_state *mrb = nullptr;
    bool ready = false;

    interpreter() {
        mrb = mrb_open();
        the_game_state.mrb = mrb;
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        host_finish_top_level(mrb);
        if (host_log_pending_exception(mrb)) return;
        mrb_load_nstring(mrb, KEYS_BENCH_RUBY, sizeof(KEYS_BENCH_RUBY) - 1);
        ready = !host_log_pending_exception(mrb);
    }
};

interpreter &shared() {
    static interpreter it;
    return it;
}

constexpr mrb_int KEYS = 100000;
constexpr mrb_int KEYS_SPREAD_BY_2_48 = 65536;

// One call of method(keys, second[, symbols]) per iteration, from a collected
// heap; it must answer the number of keys. Second is called before every
// iteration.
template <typename Second>
void run(benchmark::State &state, const char *method, mrb_int keys, Second second, mrb_value *symbols = nullptr) {
    interpreter &it = shared();
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

} // namespace
