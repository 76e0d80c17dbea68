#pragma once

struct render_context;

// One turn of the main thread: hand new events to the simulation thread,
// draw the queued frames (or the kept one again), present.
void draw_iteration(render_context *context);
// After the simulation thread has stopped: the frames it queued that were
// not drawn yet still take their screenshots and fill their render targets
// (interpreted as older frames are); nothing is presented.
void draw_remaining_frames(render_context *context);
