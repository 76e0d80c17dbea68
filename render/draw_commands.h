#pragma once

#include "../host/threadstream.h"

struct render_context;

// Interprets one frame stream against the window's renderer, from its read
// position. stale: an older frame, interpreted only for render targets,
// screenshots and one-shot commands. replay: the kept frame again, without
// its one-shot commands. The renderer's target is the screen afterwards.
void draw_commands_execute(render_context *context, threadstream *frame, int stale, int replay);
// Remembers the directory that screenshots are written to and forgets any
// grid transform.
void draw_init(render_context *context, const char *screenshot_dir);
