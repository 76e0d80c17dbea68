// An interpreter as the engine starts one, with the framework loaded, and a
// benchmark's own Ruby defined in it; for the benchmarks that time Ruby.
#pragma once

#include "bridge/ffi.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "render/draw_methods.h"

#include <malloc.h>
#include <physfs.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

struct framework_interpreter {
    mrb_state *mrb = nullptr;
    // False when the framework or the benchmark's Ruby raised (it is logged).
    bool ready = false;

    framework_interpreter(const char *ruby, size_t length) {
        mrb = mrb_open();
        the_game_state.mrb = mrb;
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        host_finish_top_level(mrb);
        if (host_log_pending_exception(mrb)) return;
        mrb_load_nstring(mrb, ruby, length);
        ready = !host_log_pending_exception(mrb);
    }
};

// The bytes the runtime interpreters' heap holds now, and the most it has
// held since a benchmark last set peak to now: what a call costs in memory
// at its height and what it keeps.
struct interpreter_heap_count {
    long long now = 0, peak = 0;
};
inline interpreter_heap_count interpreter_heap;

inline void *counting_interpreter_alloc(mrb_state *, void *p, size_t size, void *) {
    if (p) interpreter_heap.now -= (long long)malloc_usable_size(p);
    if (size == 0) {
        std::free(p);
        return nullptr;
    }
    void *made = std::realloc(p, size);
    interpreter_heap.now += (long long)malloc_usable_size(made ? made : p);
    interpreter_heap.peak = std::max(interpreter_heap.peak, interpreter_heap.now);
    return made;
}

// An interpreter as the engine starts one, with the runtime object made
// (TopLevelView.new) over a fresh folder mounted as the game's and written
// to, and a benchmark's own Ruby defined in it; for the benchmarks that run
// the runtime's own methods (saves, replays).
struct runtime_interpreter {
    game_state state{};
    mrb_state *mrb = nullptr;
    mrb_value runtime = mrb_nil_value();
    std::string folder;
    // False when anything failed to start (a Ruby failure is logged).
    bool ready = false;

    runtime_interpreter(const char *folder_prefix, const char *ruby, size_t length) {
        std::string pattern = std::string("/tmp/") + folder_prefix + "-XXXXXX";
        if (!mkdtemp(pattern.data())) return;
        folder = pattern;
        state.mrb = mrb = mrb_open_allocf(counting_interpreter_alloc, nullptr);
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
        mrb_load_nstring(mrb, ruby, length);
        host_finish_top_level(mrb);
        ready = !host_log_pending_exception(mrb);
    }
    ~runtime_interpreter() {
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
};
