// An interpreter as the engine starts one, with the framework loaded, and a
// benchmark's own Ruby defined in it; for the benchmarks that time Ruby.
#pragma once

#include "host/engine.h"
#include "host/host_call.h"

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
