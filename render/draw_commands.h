#pragma once

#include "../host/threadstream.h"

struct render_context;

// Interprets one frame stream against the window's renderer.
void draw_commands_execute(render_context *context, threadstream *frame, int stale, int replay);
// Remembers the directory that screenshots are written to.
void draw_init(render_context *context, const char *screenshot_dir);
