#include "draw_commands.h"

#include "render_context.h"

void draw_commands_execute(render_context *context, threadstream *frame, int /*stale*/, int /*replay*/) {
    if (!context || !frame || frame->read_pos >= frame->write_pos || frame->error) return;
}

void draw_init(render_context *, const char *) {}
