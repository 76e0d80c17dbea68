#include "runtime_glue.h"

#include "host_call.h"
#include "metadata.h"

#include <mruby/error.h>

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t ARGV_TEXT_SIZE = 255;
constexpr size_t ARGV_TEXT_LIMIT = 253;

mrb_value top_level_view(mrb_state *mrb) {
    RClass *object = mrb->object_class;
    mrb_sym name = mrb_intern_lit(mrb, "TopLevelView");
    if (!mrb_const_defined(mrb, mrb_obj_value(object), name)) return mrb_nil_value();
    return mrb_const_get(mrb, mrb_obj_value(object), name);
}

int32_t int_or(mrb_value value, int32_t fallback) {
    if (mrb_integer_p(value)) return (int32_t)mrb_integer(value);
    if (mrb_float_p(value)) return (int32_t)mrb_float(value);
    return fallback;
}

bool is_phone_width(int32_t v) { return v == 568 || v == 667 || v == 736 || v == 812 || v == 896; }

} // namespace

void logical_size_for_window(int32_t w, int32_t h, int32_t *logical_width, int32_t *logical_height) {
    if (w >= h && is_phone_width(w)) {
        *logical_width = 1280;
        *logical_height = 720;
    } else if (w < h && is_phone_width(h)) {
        *logical_width = 720;
        *logical_height = 1280;
    } else {
        *logical_width = w;
        *logical_height = h;
    }
}

void join_argv_text(int argc, char **argv, char *out, size_t out_size) {
    size_t used = 0;
    out[0] = 0;
    for (int i = 0; i < argc; ++i) {
        size_t length = std::strlen(argv[i]);
        if (used + length > ARGV_TEXT_LIMIT || used + length + 2 > out_size) {
            SDL_Log("WARNING: ARGV is too long. The following argument will not be sent over: %s.", argv[i]);
            continue;
        }
        std::memcpy(out + used, argv[i], length);
        used += length;
        out[used++] = ' ';
        out[used] = 0;
    }
}

void game_pre_init(game_state *state, int argc, char **argv) {
    mrb_state *mrb = state->mrb;
    std::memset(state->player1_key_states, 0, sizeof(state->player1_key_states));
    std::memset(state->player2_key_states, 0, sizeof(state->player2_key_states));

    char text[ARGV_TEXT_SIZE];
    join_argv_text(argc, argv, text, sizeof(text));
    state->argv = mrb_str_new_cstr(mrb, text);
    state->binary_path = mrb_str_new_cstr(mrb, argc > 0 ? argv[0] : "");
    // Both strings live as long as the runtime object that keeps them; until
    // it exists they are registered with the collector.
    mrb_gc_register(mrb, state->argv);
    mrb_gc_register(mrb, state->binary_path);

    mrb_value view = top_level_view(mrb);
    mrb_value arg = state->argv;
    int arena = mrb_gc_arena_save(mrb);
    state->argv_window_width = int_or(host_call(mrb, view, "argv_window_width", 1, &arg), 1280);
    state->argv_window_height = int_or(host_call(mrb, view, "argv_window_height", 1, &arg), 720);
    mrb_value scale = host_call(mrb, view, "argv_window_scale", 1, &arg);
    state->argv_window_scale = mrb_float_p(scale)     ? (float)mrb_float(scale)
                               : mrb_integer_p(scale) ? (float)mrb_integer(scale)
                                                      : 1.0f;
    state->argv_window_position_x = int_or(host_call(mrb, view, "argv_window_position_x", 1, &arg), -1);
    state->argv_window_position_y = int_or(host_call(mrb, view, "argv_window_position_y", 1, &arg), -1);
    mrb_gc_arena_restore(mrb, arena);

    logical_size_for_window(state->argv_window_width, state->argv_window_height, &state->logical_width,
                            &state->logical_height);
}

void game_init(game_state *state) {
    mrb_state *mrb = state->mrb;
    const char *platform = SDL_GetPlatform();
    mrb_value args[6] = {
        mrb_str_new_cstr(mrb, platform ? platform : ""),
        mrb_bool_value(game_metadata()->production != 0),
        mrb_int_value(mrb, state->logical_width),
        mrb_int_value(mrb, state->logical_height),
        state->argv,
        state->binary_path,
    };
    mrb_value view = top_level_view(mrb);
    mrb->exc = nullptr;
    mrb_value runtime = mrb_funcall_argv(mrb, view, mrb_intern_lit(mrb, "new"), 6, args);
    if (mrb->exc || mrb_nil_p(view)) {
        mrb_value exception = mrb->exc ? mrb_obj_value(mrb->exc)
                                       : mrb_exc_new_str(mrb, E_NAME_ERROR, mrb_str_new_lit(mrb, "uninitialized constant TopLevelView"));
        char *text = host_exception_text(mrb, exception);
        std::printf("%s\n", text ? text : "exception");
        std::fflush(stdout);
        std::exit(-1);
    }
    state->runtime = runtime;
    mrb_gc_register(mrb, runtime);
}

void game_tick(game_state *state) {
    mrb_value ticks = mrb_int_value(state->mrb, (mrb_int)SDL_GetTicks64());
    host_call(state->mrb, state->runtime, "tick", 1, &ticks);
}
