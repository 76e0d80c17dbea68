// What starting a replay costs before its first tick: $recording.start_replay
// reads the whole file and checks every event line before anything of the
// game changes, so a long replay waits for it. Files of state.range(0) mouse
// moves, one a tick, through the real runtime object over the framework and
// the virtual file system; once with the game keeping little, and once
// with a million small objects live, which the start must not pay for.
// Beside the time: the interpreter's heap at its height during the start and
// what the started replay keeps, each over the file's size.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>
#include <physfs.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The runtime's log lines are dropped, so that printing is not measured.
const char REPLAY_BENCH_RUBY[] = R"RUBY(
$qmx.define_singleton_method(:log) { |*| nil }
def replay_bench_keep(n)
  $replay_bench_kept = Array.new(n) { |i| [i] }
  nil
end
)RUBY";

struct replay_interpreter : runtime_interpreter {
    replay_interpreter()
        : runtime_interpreter("vellum-replay-bench", REPLAY_BENCH_RUBY, sizeof(REPLAY_BENCH_RUBY) - 1) {}
};

replay_interpreter &shared() {
    static replay_interpreter it;
    return it;
}

// A recording of `events` mouse moves, one a tick, as the recorder writes it.
std::string write_recording(const replay_interpreter &it, int64_t events) {
    std::string name = "replay_bench_" + std::to_string(events) + ".txt";
    std::ofstream out(it.folder + "/" + name, std::ios::binary);
    out << "replay_version 2.0\nstopped_at " << events + 1 << "\nseed 7\nrecorded_at 2024-01-01 00:00:00 +0000\n";
    for (int64_t i = 0; i < events; ++i)
        out << "[:mouse_move, " << i % 1280 << ", " << i % 720 << ", 2, " << i + 1 << ", " << i << "]\n";
    return name;
}

void start_replay(benchmark::State &state, int64_t kept) {
    replay_interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework, the runtime or the file system did not start");
        return;
    }
    // Another case of the program may have taken these over.
    the_game_state.mrb = it.mrb;
    ffi_game_state = &it.state;
    PHYSFS_setWriteDir(it.folder.c_str());
    mrb_value count = mrb_int_value(it.mrb, kept);
    host_call(it.mrb, mrb_top_self(it.mrb), "replay_bench_keep", 1, &count);
    std::string name = write_recording(it, state.range(0));
    mrb_value recording = mrb_gv_get(it.mrb, mrb_intern_lit(it.mrb, "$recording"));
    mrb_value file = mrb_str_new(it.mrb, name.data(), name.size());
    mrb_gc_register(it.mrb, file);
    bool started = false;
    double file_bytes = (double)std::filesystem::file_size(it.folder + "/" + name);
    double peak = 0, held = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        long long before = interpreter_heap.peak = interpreter_heap.now;
        state.ResumeTiming();
        host_call(it.mrb, recording, "start_replay", 1, &file);
        state.PauseTiming();
        peak = std::max(peak, (double)(interpreter_heap.peak - before));
        mrb_full_gc(it.mrb);
        held = std::max(held, (double)(interpreter_heap.now - before));
        started = mrb_test(host_call(it.mrb, recording, "is_replaying?"));
        host_call(it.mrb, recording, "stop_replay");
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
    }
    mrb_gc_unregister(it.mrb, file);
    mrb_value none = mrb_int_value(it.mrb, 0);
    host_call(it.mrb, mrb_top_self(it.mrb), "replay_bench_keep", 1, &none);
    if (!started) state.SkipWithError("the replay did not start");
    state.counters["events"] = (double)state.range(0);
    state.counters["file_MB"] = file_bytes / 1e6;
    state.counters["peak_per_file_byte"] = peak / file_bytes;
    state.counters["kept_per_file_byte"] = held / file_bytes;
}

void BM_ReplayStart(benchmark::State &state) { start_replay(state, 0); }
BENCHMARK(BM_ReplayStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Arg(30000)->Arg(120000)->Arg(480000);

void BM_ReplayStartBesideAMillionLiveObjects(benchmark::State &state) { start_replay(state, 1000000); }
BENCHMARK(BM_ReplayStartBesideAMillionLiveObjects)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Arg(120000);

} // namespace
