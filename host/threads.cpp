// The main thread's loop, the 60 Hz simulation thread, orderly shutdown and
// the crash handler.
#include "engine.h"
#include "host_call.h"

#include "../audio/audio.h"
#include "../bridge/http_client.h"
#include "../bridge/http_server.h"
#include "../render/main_frame.h"
#include "../render/render_context.h"
#include "controllers.h"

#include <physfs.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <unistd.h>

SDL_atomic_t engine_quit_flag;

namespace {

constexpr int SIMULATION_STACK_SIZE = 8 * 1024 * 1024;
constexpr int CRASH_BACKTRACE_DEPTH = 10;

void write_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written <= 0) return;
        text += written;
        length -= (size_t)written;
    }
}

} // namespace

void main_thread_loop() {
    SDL_AtomicSet(&engine_quit_flag, 0);
    draw_iteration(the_render_context);
    SDL_Thread *simulation =
        SDL_CreateThreadWithStackSize(simulation_thread_main, "simulation", SIMULATION_STACK_SIZE, nullptr);
    if (!simulation) startup_failure("Couldn't create simulation thread: %s", SDL_GetError());
    while (SDL_AtomicGet(&engine_quit_flag) == 0) draw_iteration(the_render_context);
    SDL_WaitThread(simulation, nullptr);
    std::exit(engine_shutdown());
}

int simulation_run_paced(bool (*frame)(void *), void *data) {
    const Uint64 frequency = SDL_GetPerformanceFrequency();
    Uint64 target = SDL_GetPerformanceCounter();
    int frames = 0;
    if (SDL_AtomicGet(&engine_quit_flag) == 0) {
        const Uint64 period = frequency / 60;
        const Uint64 millisecond = frequency / 1000;
        for (;;) {
            if (!frame(data)) break;
            ++frames;
            // The schedule is absolute: a late frame is followed by frames
            // that run back to back until the schedule is caught up.
            target += period;
            for (;;) {
                int64_t remaining = (int64_t)(target - SDL_GetPerformanceCounter());
                if (remaining < 1) break;
                if ((Uint64)remaining >= millisecond) SDL_Delay(1);
            }
            if (SDL_AtomicGet(&engine_quit_flag) != 0) break;
        }
    }
    SDL_AtomicSet(&engine_quit_flag, 1);
    return frames;
}

int simulation_thread_main(void *) {
    simulation_run_paced([](void *) { return simulation_frame(); }, nullptr);
    return 0;
}

int engine_shutdown() {
    http_quit();
    game_state *state = &the_game_state;
    int status = 0;
    if (state->mrb) {
        mrb_value answer = host_call(state->mrb, state->runtime, "quit!");
        // A small positive Integer is a failure status; anything else is success.
        mrb_int value = mrb_integer_p(answer) ? mrb_integer(answer) : 0;
        if (value > 0 && value < 126) status = (int)value;
    }
    audio_quit();
    render_context_delete(the_render_context);
    the_render_context = nullptr;
    httpserver_quit();
    game_controllers_close();
    threadstream_quit();
    SDL_Quit();
    PHYSFS_deinit();
    return status;
}

// Only async-signal-safe calls from here on: write(2), backtrace (loaded
// ahead of time by crash_handler_install) and _exit.
void crash_signal_handler(int signal_number) {
    void *frames[CRASH_BACKTRACE_DEPTH];
    int count = backtrace(frames, CRASH_BACKTRACE_DEPTH);
    char line[32] = "Error: signal ";
    size_t length = std::strlen(line);
    char digits[12];
    int digit_count = 0;
    unsigned value = (unsigned)signal_number;
    do {
        digits[digit_count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value && digit_count < 11);
    while (digit_count) line[length++] = digits[--digit_count];
    line[length++] = ':';
    line[length++] = '\n';
    write_all(STDERR_FILENO, line, length);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    _exit(1);
}

void crash_handler_install() {
    // The first backtrace call loads libgcc; doing it here keeps the handler
    // from allocating inside a signal.
    void *warm_up[1];
    backtrace(warm_up, 1);
    std::signal(SIGSEGV, crash_signal_handler);
}
