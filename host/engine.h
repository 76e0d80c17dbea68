// Process-wide pieces of the host shared between start-up, the two threads
// and shutdown.
#pragma once

#include "game_state.h"
#include "threadstream.h"

#include <SDL2/SDL.h>

struct render_context;

// Set by start-up, cleared by shutdown.
extern render_context *the_render_context;
// The frame stream being written on the simulation thread; NULL between a
// frame's submission and the next frame's start.
extern threadstream *current_frame_stream;
// 0 run, 1 stop: written only by main_thread_loop and simulation_thread_main.
extern SDL_atomic_t engine_quit_flag;

void engine_startup(int argc, char **argv);
[[noreturn]] void startup_failure(const char *format, ...) SDL_PRINTF_VARARG_FUNC(1);
[[noreturn]] void main_thread_loop();
int simulation_thread_main(void *unused);
// The simulation thread's 60 Hz loop around `frame`; sets the quit flag when
// it ends and answers how many frames ran.
int simulation_run_paced(bool (*frame)(void *), void *data);
// Answers the exit status the runtime asks for (0 unless, for instance, a
// test run had failures).
int engine_shutdown();
[[noreturn]] void crash_signal_handler(int signal_number);
// Prepares the crash handler (loads what backtrace needs) and installs it for
// SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS and SIGXCPU, on a
// signal stack of its own.
void crash_handler_install();
// Takes over SIGINT and SIGTERM from SDL (call before SDL_Init): each becomes
// a quit event, and a second one ends the process at once. Programs the
// engine starts begin with no signal blocked, whichever thread starts them.
void quit_signals_install();

// One simulation frame: true to go on, false to stop.
bool simulation_frame();
// Hands a finished frame stream to the main thread, or drops it when a write
// failed part-way. Clears current_frame_stream.
void submit_frame_stream();
// The most frames the simulation thread runs ahead of the renderer. Each
// queued frame holds a buffer as large as the frame's commands, and the
// stream pool keeps every buffer it has ever handed out, so frames piling up
// behind a renderer that stalls would hold memory for good; a game that asks
// more of the renderer than it can draw runs slower instead. Six is 100 ms of
// simulation: twice what the simulation makes while an unfocused window's
// main thread sleeps for one turn, so that a game in the background still
// runs at full rate.
constexpr int FRAMES_QUEUED_MAX = 6;
// Performance-counter ticks that simulation frames have waited for the
// renderer since the pacing loop last took them (simulation thread only).
// The loop moves its schedule on by them: time the engine held the game back
// is not made up afterwards by running frames back to back, which would
// fast-forward the game once the renderer keeps up again.
extern uint64_t simulation_held_back_ticks;
// The performance-counter time at which the simulation frame that runs now
// is due to end and the next one to start (simulation thread only; 0 outside
// the pacing loop). What the frame leaves of it goes to the collector.
extern uint64_t simulation_frame_due;

// The framework bytecode compiled into the executable.
extern "C" const uint8_t main_ruby[];
extern "C" const size_t main_ruby_size;
