// One simulation frame: inputs into the runtime, the game's tick, the
// frame's render commands out to the main thread, and the decision to stop.
#include "frame_step.h"

#include "bytecode_check.h"
#include "collector.h"
#include "controllers.h"
#include "engine.h"
#include "fileio.h"
#include "fps_meter.h"
#include "host_call.h"
#include "runtime_glue.h"
#include "threadstream_ruby.h"

#include "../audio/audio_sync.h"
#include "../bridge/http_methods.h"
#include "../render/frame_stream.h"
#include "../render/render_context.h"

#include <cstring>
#include <string>

namespace {

// Belongs to the simulation thread.
fps_meter simulation_meter;

// One runtime call whose result is not needed: its garbage goes with it.
void notify_runtime(game_state *state, const char *method, mrb_int argc, const mrb_value *argv) {
    mrb_state *mrb = state->mrb;
    int arena = mrb_gc_arena_save(mrb);
    host_call(mrb, state->runtime, method, argc, argv);
    mrb_gc_arena_restore(mrb, arena);
}

void notify_runtime_ints(game_state *state, const char *method, int64_t a) {
    mrb_value args[1] = {mrb_int_value(state->mrb, (mrb_int)a)};
    notify_runtime(state, method, 1, args);
}

void notify_runtime_ints(game_state *state, const char *method, int64_t a, int64_t b) {
    mrb_value args[2] = {mrb_int_value(state->mrb, (mrb_int)a), mrb_int_value(state->mrb, (mrb_int)b)};
    notify_runtime(state, method, 2, args);
}

void notify_runtime_ints(game_state *state, const char *method, int64_t a, int64_t b, int64_t c) {
    mrb_state *mrb = state->mrb;
    mrb_value args[3] = {mrb_int_value(mrb, (mrb_int)a), mrb_int_value(mrb, (mrb_int)b),
                         mrb_int_value(mrb, (mrb_int)c)};
    notify_runtime(state, method, 3, args);
}

void notify_runtime_bool(game_state *state, const char *method, bool value) {
    mrb_value args[1] = {mrb_bool_value(value)};
    notify_runtime(state, method, 1, args);
}

bool has_bytecode_extension(const char *path) {
    const char *dot = std::strrchr(path, '.');
    return dot && SDL_strcasecmp(dot, ".rbc") == 0;
}

// "path:line:column: message", one line per error the parser kept.
std::string syntax_error_text(const char *path, const mrb_parser_state *parser) {
    std::string text;
    size_t kept = sizeof(parser->error_buffer) / sizeof(parser->error_buffer[0]);
    for (size_t i = 0; i < parser->nerr && i < kept; ++i) {
        const mrb_parser_message &error = parser->error_buffer[i];
        if (!text.empty()) text += "\n";
        text += std::string(path) + ":" + std::to_string(error.lineno) + ":" + std::to_string(error.column) + ": " +
                (error.message ? error.message : "syntax error");
    }
    return text;
}

// Runs one file in the interpreter. Answers the exception it raised (nil
// when none, or when the file cannot be read): taken off the interpreter, so
// that the loads and calls after it get their own answers, and kept alive in
// the caller's GC arena.
mrb_value load_ruby_file(mrb_state *mrb, const char *path) {
    size_t size = 0;
    char *bytes = (char *)loadfile(path, &size);
    if (!bytes) return mrb_nil_value(); // unreadable paths are dropped without a word
    if (has_bytecode_extension(path)) {
        const char *reason = nullptr;
        if (!bytecode_check((const uint8_t *)bytes, size, &reason)) {
            SDL_free(bytes);
            std::string text = std::string(path) + " cannot be loaded: " + reason + ".";
            mrb_value exception = mrb_exc_new(mrb, E_SCRIPT_ERROR, text.data(), text.size());
            mrb_gc_protect(mrb, exception);
            return exception;
        }
        // The bounded loader copies what it keeps, so the buffer can go.
        mrb_load_irep_buf(mrb, bytes, size);
    } else {
        // Editors may save a UTF-8 byte-order mark, which the parser would
        // take for code.
        const char *source = bytes;
        if (size >= 3 && std::memcmp(source, "\xEF\xBB\xBF", 3) == 0) source += 3, size -= 3;
        mrbc_context *context = mrbc_context_new(mrb);
        mrbc_filename(mrb, context, path);
        // The parser's errors are kept, not printed: the interpreter's own
        // SyntaxError says only "syntax error", and the author needs to know
        // where.
        context->capture_errors = TRUE;
        mrb_parser_state *parser = mrb_parse_nstring(mrb, source, size, context);
        if (parser && parser->nerr > 0) {
            std::string text = syntax_error_text(path, parser);
            mrb_parser_free(parser);
            mrbc_context_free(mrb, context);
            SDL_free(bytes);
            mrb_value exception = mrb_exc_new(mrb, E_SYNTAX_ERROR, text.data(), text.size());
            mrb_gc_protect(mrb, exception);
            return exception;
        }
        if (parser) mrb_load_exec(mrb, parser, context);
        mrbc_context_free(mrb, context);
    }
    host_finish_top_level(mrb);
    SDL_free(bytes);
    if (!mrb->exc) return mrb_nil_value();
    mrb_value exception = mrb_obj_value(mrb->exc);
    mrb->exc = nullptr;
    mrb_gc_protect(mrb, exception);
    return exception;
}

// A file that failed to load is logged like any exception, and the runtime
// is told, so that it reports it and does not count the file as loaded.
void report_failed_load(game_state *state, const std::string &path, mrb_value exception) {
    mrb_state *mrb = state->mrb;
    char *text = host_exception_text(mrb, exception);
    SDL_Log("%s", text ? text : "exception");
    SDL_free(text);
    mrb_value args[2] = {mrb_str_new(mrb, path.data(), path.size()), exception};
    host_call(mrb, state->runtime, "reload_failed", 2, args);
}

void open_raw_joystick(game_state *state, int device_index) {
    // Game controllers arrive as controller events instead.
    if (SDL_IsGameController(device_index)) return;
    SDL_Joystick *joystick = SDL_JoystickOpen(device_index);
    if (!joystick) return;
    SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
    if (id < 0) {
        SDL_JoystickClose(joystick);
        return;
    }
    char guid[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(joystick), guid, sizeof(guid));
    const char *name = SDL_JoystickName(joystick);
    mrb_state *mrb = state->mrb;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value args[3] = {mrb_int_value(mrb, id), mrb_str_new_cstr(mrb, name ? name : ""),
                         mrb_str_new_cstr(mrb, guid)};
    host_call(mrb, state->runtime, "rawjoystick_connected", 3, args);
    mrb_gc_arena_restore(mrb, arena);
    // The joystick stays open so that its events keep arriving.
}

void dispatch_window_event(game_state *state, render_context *context, const SDL_WindowEvent &event) {
    bool gained = false;
    switch (render_context_track_focus(context, event, &gained)) {
    case RENDER_FOCUS_MOUSE: notify_runtime_bool(state, "window_mouse_focus_changed", gained); break;
    case RENDER_FOCUS_KEYBOARD: notify_runtime_bool(state, "window_keyboard_focus_changed", gained); break;
    case RENDER_FOCUS_NONE: break;
    }
}

void report_key_slots(game_state *state, int player, controller_key_states &slots) {
    for (int slot = 0; slot < CONTROLLER_KEY_SLOTS; ++slot) {
        switch (slots[slot]) {
        case CONTROLLER_KEY_PRESSED:
            notify_runtime_ints(state, "controller_key_down", player, slot);
            slots[slot] = CONTROLLER_KEY_HELD;
            break;
        case CONTROLLER_KEY_HELD:
            notify_runtime_ints(state, "controller_key_held", player, slot);
            break;
        case CONTROLLER_KEY_RELEASED:
            notify_runtime_ints(state, "controller_key_up", player, slot);
            slots[slot] = CONTROLLER_KEY_UP;
            break;
        default:
            break;
        }
    }
}

} // namespace

int frame_load_reload_list(game_state *state) {
    mrb_state *mrb = state->mrb;
    mrb_value list = host_call(mrb, state->runtime, "get_ruby_reload_list");
    // Anything but an Array is an empty list.
    if (!mrb_array_p(list)) return 0;
    mrb_int count = RARRAY_LEN(list);
    // Files loaded here may add to the list; they load in this frame too.
    while (RARRAY_LEN(list) > 0) {
        mrb_value element = mrb_ary_shift(mrb, list);
        if (!mrb_string_p(element)) continue;
        // Copied at once: the collector does not see this C stack, and a path
        // with a NUL byte in it names no file.
        const char *bytes = RSTRING_PTR(element);
        size_t length = (size_t)RSTRING_LEN(element);
        if (std::memchr(bytes, 0, length)) continue;
        std::string path(bytes, length);
        int arena = mrb_gc_arena_save(mrb);
        mrb_value exception = load_ruby_file(mrb, path.c_str());
        if (!mrb_nil_p(exception)) report_failed_load(state, path, exception);
        mrb_gc_arena_restore(mrb, arena);
    }
    return count > INT32_MAX ? INT32_MAX : (int)count;
}

void frame_report_controller_keys(game_state *state) {
    report_key_slots(state, 1, state->player1_key_states);
    report_key_slots(state, 2, state->player2_key_states);
}

void frame_dispatch_event(game_state *state, render_context *context, const SDL_Event &event) {
    switch (event.type) {
    case SDL_QUIT:
        state->player1_key_states[CONTROLLER_QUIT_SLOT] = 1;
        break;
    case SDL_WINDOWEVENT:
        dispatch_window_event(state, context, event.window);
        break;
    case SDL_KEYDOWN:
        notify_runtime_ints(state, "key_down_raw", (int32_t)event.key.keysym.sym, (uint16_t)event.key.keysym.mod);
        break;
    case SDL_KEYUP:
        notify_runtime_ints(state, "key_up_raw", (int32_t)event.key.keysym.sym, (uint16_t)event.key.keysym.mod);
        break;
    case SDL_TEXTINPUT: {
        mrb_state *mrb = state->mrb;
        int arena = mrb_gc_arena_save(mrb);
        const char *text = event.text.text;
        mrb_value str = mrb_str_new(mrb, text, strnlen(text, sizeof(event.text.text)));
        host_call(mrb, state->runtime, "textinput", 1, &str);
        mrb_gc_arena_restore(mrb, arena);
        break;
    }
    case SDL_MOUSEMOTION:
        if (event.motion.which != SDL_TOUCH_MOUSEID)
            notify_runtime_ints(state, "mouse_move", event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.which != SDL_TOUCH_MOUSEID)
            notify_runtime_ints(state, "mouse_button_pressed", event.button.button);
        break;
    case SDL_MOUSEBUTTONUP:
        if (event.button.which != SDL_TOUCH_MOUSEID)
            notify_runtime_ints(state, "mouse_button_up", event.button.button);
        break;
    case SDL_MOUSEWHEEL:
        if (event.wheel.which != SDL_TOUCH_MOUSEID) {
            int sign = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
            notify_runtime_ints(state, "mouse_wheel", sign * event.wheel.x, sign * event.wheel.y);
        }
        break;
    case SDL_JOYAXISMOTION:
        notify_runtime_ints(state, "rawjoystick_axis", event.jaxis.which, event.jaxis.axis, event.jaxis.value);
        break;
    case SDL_JOYHATMOTION:
        notify_runtime_ints(state, "rawjoystick_hat", event.jhat.which, event.jhat.hat, event.jhat.value);
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: {
        mrb_state *mrb = state->mrb;
        mrb_value args[3] = {mrb_int_value(mrb, event.jbutton.which), mrb_int_value(mrb, event.jbutton.button),
                             mrb_bool_value(event.jbutton.state == SDL_PRESSED)};
        notify_runtime(state, "rawjoystick_button", 3, args);
        break;
    }
    case SDL_JOYDEVICEADDED:
        open_raw_joystick(state, event.jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        notify_runtime_ints(state, "rawjoystick_disconnected", event.jdevice.which);
        break;
    case SDL_CONTROLLERDEVICEADDED:
        open_game_controller(event.cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
        game_controller_removed(event.cdevice.which);
        break;
    default:
        break;
    }
}

void frame_dispatch_event_batches(game_state *state, render_context *context) {
    if (!context) return;
    while (threadstream *batch = threadstreamqueue_getitem(context->event_queue)) {
        for (uint64_t i = 0, count = event_batch_open(batch); i < count; ++i) {
            SDL_Event event;
            event_batch_next(batch, &event);
            frame_dispatch_event(state, context, event);
        }
        threadstream_free(batch);
    }
}

void frame_report_analog_sticks(game_state *state) {
    static const char *const player1[4] = {"left_analog_x_player_1", "left_analog_y_player_1",
                                           "right_analog_x_player_1", "right_analog_y_player_1"};
    static const char *const player2[4] = {"left_analog_x_player_2", "left_analog_y_player_2",
                                           "right_analog_x_player_2", "right_analog_y_player_2"};
    for (int i = 0; i < 4; ++i) notify_runtime_ints(state, player1[i], state->player1_axes[i]);
    for (int i = 0; i < 4; ++i) notify_runtime_ints(state, player2[i], state->player2_axes[i]);
}

void frame_report_missing_sprites(game_state *state, render_context *context) {
    // The renderer notes each path once.
    if (!context) return;
    mrb_state *mrb = state->mrb;
    missing_sprite_note *note = render_context_take_missing_sprites(context);
    while (note) {
        int arena = mrb_gc_arena_save(mrb);
        std::string message = std::string("* WARNING: The sprite =") + note->path +
                              "= could not be loaded (the file is missing or is not an image): a checkerboard is "
                              "drawn in its place.";
        // Logged as any object logs (the file, the console, standard output),
        // without a notification: the checkerboard already shows where.
        mrb_value text = mrb_str_new(mrb, message.data(), message.size());
        host_call(mrb, mrb_top_self(mrb), "log", 1, &text);
        mrb_gc_arena_restore(mrb, arena);
        missing_sprite_note *next = note->next;
        SDL_free(note);
        note = next;
    }
}

void frame_write_render_passes(game_state *state) {
    mrb_state *mrb = state->mrb;
    mrb_value runtime = state->runtime;
    notify_runtime(state, "pixel_arrays", 0, nullptr);

    mrb_value passes = host_call(mrb, runtime, "passes");
    // Anything but an Array has no passes.
    mrb_int count = mrb_array_p(passes) ? RARRAY_LEN(passes) : 0;
    if (count > INT32_MAX) count = INT32_MAX;
    bool screenshot = mrb_test(host_call(mrb, runtime, "take_screenshot"));
    passes_command frame = {(int32_t)count, screenshot ? 1u : 0u};
    frame_write_passes(current_frame_stream, &frame);

    for (mrb_int i = 0; i < count; ++i) {
        int arena = mrb_gc_arena_save(mrb);
        // nil when the Array has meanwhile become shorter.
        mrb_value pass = mrb_ary_entry(passes, i);
        mrb_gc_protect(mrb, pass);
        mrb_value target = host_call(mrb, runtime, "target", 1, &pass);
        mrb_value transient = host_call(mrb, runtime, "render_transient", 1, &pass);
        mrb_value width = host_call(mrb, runtime, "render_width", 1, &pass);
        mrb_value height = host_call(mrb, runtime, "render_height", 1, &pass);
        mrb_value color = host_call(mrb, pass, "background_color");

        int32_t background[4];
        for (mrb_int channel = 0; channel < 4; ++channel)
            background[channel] =
                threadstream_ruby_int(mrb_array_p(color) ? mrb_ary_entry(color, channel) : mrb_nil_value(), 0);
        pass_header header = {background[0],
                              background[1],
                              background[2],
                              background[3],
                              threadstream_ruby_text(target),
                              threadstream_ruby_int(width, 0),
                              threadstream_ruby_int(height, 0),
                              mrb_test(transient) ? 1u : 0u};
        frame_write_pass_header(current_frame_stream, &header);

        // The primitives append to the current frame stream themselves.
        host_call(mrb, runtime, "primitives", 1, &pass);
        // Closed whatever primitives did.
        frame_write_opcode(current_frame_stream, RENDER_CMD_END_PASS);
        mrb_gc_arena_restore(mrb, arena);
    }

    if (screenshot) notify_runtime(state, "draw_screenshots", 0, nullptr);
}

bool frame_quit_requested(game_state *state) {
    // A raising quit_requested? answers nil: it does not stop the game.
    bool quit = mrb_test(host_call(state->mrb, state->runtime, "quit_requested?"));
    return quit || state->player1_key_states[CONTROLLER_QUIT_SLOT] ||
           state->player2_key_states[CONTROLLER_QUIT_SLOT];
}

void submit_frame_stream() {
    threadstream *stream = current_frame_stream;
    current_frame_stream = nullptr;
    if (!stream) return;
    // A frame whose stream failed to grow part-way is dropped whole; the main
    // thread keeps showing the last frame it has.
    if (stream->error || !the_render_context)
        threadstream_free(stream);
    else
        threadstreamqueue_putitem(the_render_context->frame_queue, stream);
}

uint64_t frame_wait_for_renderer(render_context *context) {
    if (!context || threadstreamqueue_getcount(context->frame_queue) < FRAMES_QUEUED_MAX) return 0;
    // The main thread takes every queued frame on each turn as long as this
    // thread runs (it stops only after this thread has ended), so the wait
    // ends within one of its turns. This thread is the queue's only
    // producer: the frame it is about to make finds the room still there.
    uint64_t start = SDL_GetPerformanceCounter();
    threadstreamqueue_wait_below(context->frame_queue, FRAMES_QUEUED_MAX);
    return SDL_GetPerformanceCounter() - start;
}

bool simulation_frame() {
    game_state *state = &the_game_state;
    simulation_held_back_ticks += frame_wait_for_renderer(the_render_context);
    current_frame_stream = threadstream_allocate();
    if (!current_frame_stream) return false;
    mrb_state *mrb = state->mrb;
    render_context *context = the_render_context;

    uint32_t simulation_fps = fps_iteration(&simulation_meter);
    int rendering_fps = context ? SDL_AtomicGet(&context->render_fps) : 0;
    int arena = mrb_gc_arena_save(mrb);

    int reload_count = frame_load_reload_list(state);
    notify_runtime_ints(state, "current_fps", simulation_fps, rendering_fps);
    frame_report_controller_keys(state);
    frame_dispatch_event_batches(state, context);
    frame_report_missing_sprites(state, context);
    poll_game_controller(1);
    poll_game_controller(2);
    frame_report_analog_sticks(state);
    httpserver_hand_off(state);

    game_tick(state);
    if (reload_count >= 1) notify_runtime(state, "reload_complete", 0, nullptr);
    frame_write_render_passes(state);
    submit_frame_stream();
    audio_sync(state);
    http_requests_tick();

    bool quit = frame_quit_requested(state);
    mrb_gc_arena_restore(mrb, arena);
    collector_frame_end(mrb, simulation_frame_due);
    return !quit;
}
