// The interpreter's garbage collector, paced by the frame: its work is done
// in slices at the end of each simulation frame, and a collection never
// stops the game for a pass over the whole heap.
#pragma once

#include "mruby_api.h"

#include <cstdint>

// Takes the collector out of its generational mode, whose major cycles
// sweep the whole heap in one go at their start and end with a full
// collection. Call once, right after the interpreter is opened.
void collector_init(mrb_state *mrb);

// At the end of a frame, while no Ruby runs: steps the collection under way
// (starting the next one when the coming frame would) at least in
// proportion to what was allocated since the last call, and then until it
// is done or `deadline` (a performance-counter time, when the next frame is
// due) comes near; a frame already late still gives it a short slice. Does
// nothing while the game has collection disabled.
void collector_frame_end(mrb_state *mrb, uint64_t deadline);
