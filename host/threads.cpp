// The main thread's loop, the 60 Hz simulation thread, orderly shutdown and
// the crash handler.
#include "engine.h"
#include "fileio.h"
#include "host_call.h"

#include "../audio/audio.h"
#include "../bridge/http_client.h"
#include "../bridge/http_server.h"
#include "../render/main_frame.h"
#include "../render/render_context.h"
#include "controllers.h"

#include <physfs.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

SDL_atomic_t engine_quit_flag;
uint64_t simulation_held_back_ticks = 0;
uint64_t simulation_frame_due = 0;

namespace {

constexpr int SIMULATION_STACK_SIZE = 8 * 1024 * 1024;
constexpr int CRASH_BACKTRACE_DEPTH = 10;
// How long a quit request may wait for the game's tick to return.
constexpr Uint64 QUIT_GRACE_MS = 3000;
// The crash handler runs on a stack of its own, so that it can still report
// when the thread's stack is what overflowed. One per thread that runs engine
// code: the main thread and the simulation thread.
constexpr size_t CRASH_STACK_SIZE = 64 * 1024;
alignas(16) unsigned char main_crash_stack[CRASH_STACK_SIZE];
alignas(16) unsigned char simulation_crash_stack[CRASH_STACK_SIZE];
// The signals that end a process with a core dump: a fault in the engine, in
// a native extension or in a library (a trap, a bad system call, the CPU time
// limit). SIGQUIT stays a request to quit, and SIGXFSZ is ignored instead
// (engine_startup): a write past the file-size limit fails as a write.
const int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGXCPU};

// Quit signals received so far, and how many became quit events. A signal
// handler may not push events itself, so the main loop forwards them.
std::atomic<int> quit_signals{0};
int quit_signals_forwarded = 0;
// SDL ticks plus one when the first quit event was seen; 0 while none has been.
std::atomic<Uint64> quit_asked_at{0};

// Answers the signal stack it replaces, which a thread gives back before it
// ends (a sanitizer's runtime frees the one it made itself).
stack_t use_crash_stack(unsigned char *stack) {
    stack_t alternate = {}, previous = {};
    alternate.ss_sp = stack;
    alternate.ss_size = CRASH_STACK_SIZE;
    sigaltstack(&alternate, &previous);
    return previous;
}

// A second request to quit ends the process at once: the first one may be
// waiting for a tick that never returns.
void quit_signal_handler(int signal_number) {
    if (quit_signals.fetch_add(1) == 0) return;
    static const char message[] = "Quit requested again: exiting at once.\n";
    fd_write_all(STDERR_FILENO, message, sizeof(message) - 1);
    _exit(128 + signal_number);
}

int note_quit_request(void *, SDL_Event *event) {
    Uint64 zero = 0;
    if (event->type == SDL_QUIT) quit_asked_at.compare_exchange_strong(zero, SDL_GetTicks64() + 1);
    return 1;
}

// Ruby cannot be interrupted safely, but the process can end: a tick that
// does not return after a quit request (an endless loop, a main file that
// blocks while it loads) must not leave an engine only SIGKILL can stop.
void watch_quit_request() {
    int received = quit_signals.load();
    if (received > quit_signals_forwarded) {
        quit_signals_forwarded = received;
        SDL_Event quit = {};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    }
    Uint64 asked = quit_asked_at.load();
    if (asked && SDL_GetTicks64() + 1 > asked + QUIT_GRACE_MS) {
        std::fprintf(stderr,
                     "the game's tick did not return within %d seconds of the request to quit; "
                     "ending the process without shutting down.\n",
                     (int)(QUIT_GRACE_MS / 1000));
        std::fflush(stderr);
        _exit(1);
    }
}

// The programs the engine starts (the game's shell commands, the browser for
// a link) would inherit the signal mask of the thread that forked them, and
// SDL's threads block the quit signals: such a child could be neither
// interrupted nor terminated. Each one starts with no signal blocked, and
// with the file-size signal that the engine ignores back to its default.
void reset_signals_in_child() {
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    signal(SIGXFSZ, SIG_DFL);
}

} // namespace

void quit_signals_install() {
    // The engine turns SIGINT and SIGTERM into quit events itself, so that it
    // can count them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action = {};
    action.sa_handler = quit_signal_handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    pthread_atfork(nullptr, nullptr, reset_signals_in_child);
}

void main_thread_loop() {
    SDL_AtomicSet(&engine_quit_flag, 0);
    SDL_AddEventWatch(note_quit_request, nullptr);
    draw_iteration(the_render_context);
    SDL_Thread *simulation =
        SDL_CreateThreadWithStackSize(simulation_thread_main, "simulation", SIMULATION_STACK_SIZE, nullptr);
    if (!simulation) startup_failure("Couldn't create simulation thread: %s", SDL_GetError());
    while (SDL_AtomicGet(&engine_quit_flag) == 0) {
        watch_quit_request();
        draw_iteration(the_render_context);
    }
    SDL_WaitThread(simulation, nullptr);
    // A screenshot asked for in the last frames before a quit is still taken.
    draw_remaining_frames(the_render_context);
    std::exit(engine_shutdown());
}

int simulation_run_paced(bool (*frame)(void *), void *data) {
    const Uint64 frequency = SDL_GetPerformanceFrequency();
    Uint64 target = SDL_GetPerformanceCounter();
    simulation_held_back_ticks = 0;
    int frames = 0;
    if (SDL_AtomicGet(&engine_quit_flag) == 0) {
        const Uint64 period = frequency / 60;
        const Uint64 millisecond = frequency / 1000;
        for (;;) {
            simulation_frame_due = target + period;
            if (!frame(data)) break;
            ++frames;
            // The schedule is absolute: a late frame is followed by frames
            // that run back to back until the schedule is caught up. Only the
            // time the renderer held the game back moves it on.
            target += period + simulation_held_back_ticks;
            simulation_held_back_ticks = 0;
            for (;;) {
                int64_t remaining = (int64_t)(target - SDL_GetPerformanceCounter());
                if (remaining < 1) break;
                if ((Uint64)remaining >= millisecond) SDL_Delay(1);
            }
            if (SDL_AtomicGet(&engine_quit_flag) != 0) break;
        }
    }
    simulation_frame_due = 0;
    SDL_AtomicSet(&engine_quit_flag, 1);
    return frames;
}

int simulation_thread_main(void *) {
    stack_t previous = use_crash_stack(simulation_crash_stack);
    simulation_run_paced([](void *) { return simulation_frame(); }, nullptr);
    sigaltstack(&previous, nullptr);
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

namespace {

// Ends the process from the crash handler. A build with the address
// sanitizer looks up the thread's stack before every call to a function that
// never returns, such as _exit; from the alternate stack that lookup reads
// /proc and allocates, and a signal that came while the interrupted code held
// the allocator's lock then hung the process instead of ending it. The system
// call underneath allocates nothing in any build.
void crash_exit() {
    for (;;) syscall(SYS_exit_group, 1);
}

} // namespace

// Only async-signal-safe calls from here on: write(2) through fd_write_all,
// backtrace (loaded ahead of time by crash_handler_install) and exit_group. The
// headline goes out before the backtrace: walking a stack that damaged code
// has smashed can fault again, and the report must say at least which
// signal ended the run.
void crash_signal_handler(int signal_number) {
    // The handler runs with its own signal unblocked, so a fault while it
    // walks the stack comes back here and ends the process quietly.
    static thread_local volatile sig_atomic_t reporting = 0;
    if (reporting) crash_exit();
    reporting = 1;
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
    fd_write_all(STDERR_FILENO, line, length);
    void *frames[CRASH_BACKTRACE_DEPTH];
    int count = backtrace(frames, CRASH_BACKTRACE_DEPTH);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    crash_exit();
    __builtin_unreachable();
}

void crash_handler_install() {
    // The first backtrace call loads libgcc; doing it here keeps the handler
    // from allocating inside a signal.
    void *warm_up[1];
    backtrace(warm_up, 1);
    use_crash_stack(main_crash_stack);
    struct sigaction action = {};
    action.sa_handler = crash_signal_handler;
    action.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal_number : CRASH_SIGNALS) sigaction(signal_number, &action, nullptr);
}
