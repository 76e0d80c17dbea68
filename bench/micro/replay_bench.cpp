// What starting a replay costs before its first tick: $recording.start_replay
// reads the whole file and checks every event line before anything of the
// game changes, so a long replay waits for it. Files of state.range(0) mouse
// moves, one a tick, through the real runtime object over the framework and
// the virtual file system; once with the game keeping little, and once
// with a million small objects live, which the start must not pay for.
#include "bridge/ffi.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "render/draw_methods.h"

#include <benchmark/benchmark.h>
#include <physfs.h>

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

struct replay_interpreter {
    game_state state{};
    mrb_state *mrb = nullptr;
    mrb_value runtime = mrb_nil_value();
    std::string folder;
    bool ready = false;

    replay_interpreter() {
        char pattern[] = "/tmp/vellum-replay-bench-XXXXXX";
        if (!mkdtemp(pattern)) return;
        folder = pattern;
        state.mrb = mrb = mrb_open();
        the_game_state.mrb = mrb;
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        host_finish_top_level(mrb);
        if (host_log_pending_exception(mrb)) return;
        // Other cases of the same program may have started the file system.
        if (!PHYSFS_isInit() && !PHYSFS_init(nullptr)) return;
        if (!PHYSFS_mount(folder.c_str(), nullptr, 0) || !PHYSFS_setWriteDir(folder.c_str())) return;
        state.game_dir = SDL_strdup(folder.c_str());
        state.base_dir = SDL_strdup(folder.c_str());
        ffi_init(&state, nullptr);
        state.ffi_draw_class = mrb_define_class_under(mrb, state.ffi_module, "Draw", mrb->object_class);
        draw_methods_define(mrb, state.ffi_draw_class);
        mrb_value view = mrb_const_get(mrb, mrb_obj_value(mrb->object_class), mrb_intern_lit(mrb, "TopLevelView"));
        mrb_value args[6] = {mrb_str_new_lit(mrb, "Linux"), mrb_false_value(), mrb_int_value(mrb, 1280),
                             mrb_int_value(mrb, 720), mrb_str_new_lit(mrb, "vellumcore"), mrb_str_new_lit(mrb, "")};
        runtime = host_call(mrb, view, "new", 6, args);
        if (mrb_nil_p(runtime)) return;
        mrb_gc_register(mrb, runtime);
        mrb_load_nstring(mrb, REPLAY_BENCH_RUBY, sizeof(REPLAY_BENCH_RUBY) - 1);
        host_finish_top_level(mrb);
        ready = !host_log_pending_exception(mrb);
    }
    ~replay_interpreter() {
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
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
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        state.ResumeTiming();
        host_call(it.mrb, recording, "start_replay", 1, &file);
        state.PauseTiming();
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
