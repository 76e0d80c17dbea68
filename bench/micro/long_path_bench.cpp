// What a name of about 500 KB that no file system holds costs the frame it
// arrives in: a source path a client asks the developer API for, the same
// name given to $qmx.read_file, and text that is no save given to
// $qmx.deserialize_state. Each has 1,000 bytes before its first slash and
// then a slash every second byte, through the real runtime object over the
// framework and the virtual file system.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// The runtime's log lines are dropped, so that printing is not measured. A
// request with no native record is answered into nothing. The backup folder
// that source paths are looked up in exists, as in a game's run.
const char LONG_PATH_BENCH_RUBY[] = R"RUBY(
$qmx.define_singleton_method(:log) { |*| nil }
$qmx.write_file_root("tmp/src_backup/boot.txt", "0")
$long_path_bench_name = "a" * 1000 + "/b" * 249_500 + ".rb"
$long_path_bench_text = "<a>" + "x{}" * 333 + "</a>/" * 99_800

def long_path_bench_api
  req = QMX::Runtime::HTTPRequest.new($qmx, "GET", "/" + $long_path_bench_name, {}, "", nil)
  $api.process!(args: $qmx.args, req: req, match_candidate: $api.match_candidate(req))
  true
end

def long_path_bench_read
  $qmx.read_file($long_path_bench_name).nil?
end

def long_path_bench_deserialize
  $qmx.deserialize_state($long_path_bench_text).nil?
end
)RUBY";

struct long_path_interpreter : runtime_interpreter {
    long_path_interpreter()
        : runtime_interpreter("vellum-long-path-bench", LONG_PATH_BENCH_RUBY, sizeof(LONG_PATH_BENCH_RUBY) - 1) {}
};

long_path_interpreter &shared() {
    static long_path_interpreter it;
    return it;
}

void run(benchmark::State &state, const char *method) {
    long_path_interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework, the runtime or the file system did not start");
        return;
    }
    // The file methods read where the game state that ffi_init was given
    // says; another case may have given it its own.
    ffi_game_state = &it.state;
    for (auto _ : state) {
        int arena = mrb_gc_arena_save(it.mrb);
        bool answered = mrb_test(host_call(it.mrb, mrb_top_self(it.mrb), method));
        mrb_gc_arena_restore(it.mrb, arena);
        if (!answered) {
            state.SkipWithError((std::string(method) + " did not answer as expected").c_str());
            return;
        }
    }
}

void BM_DeveloperApiSourcePathOf500KB(benchmark::State &state) { run(state, "long_path_bench_api"); }
BENCHMARK(BM_DeveloperApiSourcePathOf500KB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadFileOf500KBName(benchmark::State &state) { run(state, "long_path_bench_read"); }
BENCHMARK(BM_ReadFileOf500KBName)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeserializeStateOf500KBTextThatIsNoSave(benchmark::State &state) {
    run(state, "long_path_bench_deserialize");
}
BENCHMARK(BM_DeserializeStateOf500KBTextThatIsNoSave)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
