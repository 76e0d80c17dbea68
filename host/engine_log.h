// The native side's one logging path. Every message it logs goes through
// SDL's log: printed as SDL prints it and, once engine_log_init has named a
// folder, appended to "logs/log.txt" there too, beside the runtime's own
// messages, where authors look for them.
#pragma once

#include <cstddef>

// The log file becomes "<base_dir>/logs/log.txt". Called once at start-up
// outside production (a shipped game writes no logs), before any other
// thread exists.
void engine_log_init(const char *base_dir);

// The text as a log line may show it: each control byte (line breaks
// among them, which would start a forged line) as %XX. Heap text to free
// with SDL_free; NULL when memory runs out.
char *engine_log_escape(const char *text, size_t length);
