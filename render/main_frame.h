#pragma once

struct render_context;

// One turn of the main thread: hand new events to the simulation thread,
// draw the queued frames (or the kept one again), present.
void draw_iteration(render_context *context);
