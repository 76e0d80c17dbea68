// Runs framework tests: a fresh interpreter, the engine's own framework
// bytecode, the harness, then one test file. Exits non-zero when a test fails
// or when a file cannot be loaded.
#include "host/collector.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "bridge/ffi.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool read_whole(const char *path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    *out = buffer.str();
    return true;
}

bool load_source(mrb_state *mrb, const char *path) {
    std::string source;
    if (!read_whole(path, &source)) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    mrbc_context *context = mrbc_context_new(mrb);
    mrbc_filename(mrb, context, path);
    mrb_load_nstring_cxt(mrb, source.data(), source.size(), context);
    host_finish_top_level(mrb);
    mrbc_context_free(mrb, context);
    if (mrb->exc) {
        std::fprintf(stderr, "loading %s raised:\n", path);
        host_log_pending_exception(mrb);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s harness.rb test_file.rb\n", argv[0]);
        return 2;
    }
    mrb_state *mrb = mrb_open();
    if (!mrb) return 2;
    // The collector works as it does in the engine, so that the stressed
    // runs stress the mode the games run in.
    collector_init(mrb);
    the_game_state.mrb = mrb;
    mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
    host_finish_top_level(mrb);
    if (mrb->exc) {
        std::fprintf(stderr, "the framework raised while loading:\n");
        host_log_pending_exception(mrb);
        return 1;
    }
    // The saved-state writer and reader walk their values natively,
    // entities' properties are read and written by native accessors, and
    // the recorder reads replay files natively.
    ffi_saved_text_methods_define(mrb, mrb_define_module(mrb, "FFI"));
    ffi_entity_accessor_methods_define(mrb, mrb_define_module(mrb, "FFI"));
    ffi_replay_text_methods_define(mrb, mrb_define_module(mrb, "FFI"));
    for (int i = 1; i < argc; ++i)
        if (!load_source(mrb, argv[i])) {
            std::printf("0 passed, 1 failed\n");
            return 1;
        }
    mrb_value top = mrb_top_self(mrb);
    mrb_value harness = mrb_obj_value(mrb_module_get(mrb, "Harness"));
    mrb_value ok = host_call(mrb, harness, "run", 1, &top);
    std::fflush(stdout);
    return mrb_test(ok) ? 0 : 1;
}
