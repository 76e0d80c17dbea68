// The garbage collector paced by the frame.
//
// mruby's collector, left alone, is generational: each major cycle starts by
// sweeping the whole heap at once and ends with a full collection, a freeze
// that grows with the live heap (over 100 ms with a million live objects).
// Without generations every phase is incremental. The interpreter then
// steps it by allocation, one slice of marking or sweeping for every 1,024
// new objects, wherever in the game's code that allocation falls; and that
// pace alone falls behind a game that pushes fresh objects into long-lived
// containers while marking runs (each is queued for marking with all its
// entries), so that a cycle would never end.
//
// So the work is done at the end of each frame, while no Ruby runs: at
// least a few times the interpreter's pace for what the frame allocated
// (more when a cycle runs long), and beyond that for as long as the frame
// has time left before the next one is due. Between frames the
// interpreter's own pace is held back by an allowance larger than a frame's
// allocations, so it steps only in a tick that allocates far more than
// usual. The next cycle also starts at the end of a frame, when the coming
// frame's allocations would start it.
#include "collector.h"

#include "host_call.h"

#include <mruby/array.h>
#include <mruby/hash.h>

#include <SDL2/SDL.h>
#include <malloc.h>

namespace {

// The least time a frame gives a cycle under way, also when the frame is
// already late.
constexpr uint64_t MIN_SLICE_US = 1000;
// The most, so that the renderer keeps its share of a small machine.
constexpr uint64_t MAX_SLICE_US = 8000;
// Left free before the next frame is due.
constexpr uint64_t MARGIN_US = 1500;
// The interpreter's own slices come one per this many new objects; a frame
// takes at least this many times as many for what it allocated, within the
// longest slice. Fresh objects pushed into marked containers need about
// two and a half times the interpreter's pace to be marked.
constexpr size_t STEP_OBJECTS = 1024;
constexpr size_t PACE = 4;
// A cycle that has run this many frames is falling behind what the game
// allocates (frames normally finish one in a few dozen): its frames then
// take their share in full whatever it costs, and each time it runs that
// many more the share doubles, up to eight times.
constexpr unsigned LONG_CYCLE_FRAMES = 120;
constexpr unsigned MOST_PACE_DOUBLINGS = 3;
// Free memory glibc keeps at the top of a heap instead of handing it back
// to the kernel. The slices free what the game dropped within a frame or
// two, so a game that makes and drops a few large blocks a frame (request
// bodies of half a megabyte, say) leaves megabytes free at the top of the
// simulation thread's heap every frame. glibc returns that to the kernel as
// soon as it passes the trim threshold, which it derives from the largest
// block it last unmapped (about a megabyte here), and the next frame's
// blocks then fault in every page afresh. Raising the trim threshold
// instead would fix the mmap threshold at its 128 KiB start, so that every
// such block would be mapped and unmapped on its own, at the same cost.
constexpr int TOP_PAD_BYTES = 16 << 20;
// Objects a tick may make before the interpreter takes slices itself, at
// least; and as a share of the heap that the last cycle kept.
constexpr size_t ALLOWANCE_MIN = 16384;
constexpr size_t ALLOWANCE_SHARE = 8;
// Marking one object visits all its entries at once, which for a
// collection of millions takes milliseconds. Such a one is left for the
// start of the next frame's slice rather than begun near the end of this one.
constexpr size_t LARGE_ENTRIES = 100000;

// The interpreter's object count when the last slice ended, and the frames
// the cycle under way has run (simulation thread only).
size_t live_after_slice = 0;
unsigned cycle_frames = 0;

uint64_t counter_ticks(uint64_t microseconds) {
    return SDL_GetPerformanceFrequency() * microseconds / 1000000;
}

bool collecting(const mrb_gc &gc) {
    return gc.state != MRB_GC_STATE_ROOT && !gc.disabled && !gc.iterating;
}

size_t allocation_allowance(const mrb_gc &gc) {
    size_t share = gc.live_after_mark / ALLOWANCE_SHARE;
    return share > ALLOWANCE_MIN ? share : ALLOWANCE_MIN;
}

// How many entries marking the next gray object visits, for the kinds that
// can hold millions.
size_t next_marking_entries(mrb_state *mrb) {
    const mrb_gc &gc = mrb->gc;
    if (gc.state != MRB_GC_STATE_MARK || !gc.gray_list) return 0;
    RBasic *next = gc.gray_list;
    switch (next->tt) {
    case MRB_TT_ARRAY: return (size_t)ARY_LEN((RArray *)next);
    case MRB_TT_HASH: return 2 * (size_t)mrb_hash_size(mrb, mrb_obj_value(next));
    default: return 0;
    }
}

} // namespace

void collector_init(mrb_state *mrb) {
    // The sweep frees a few thousand small blocks a frame. glibc would hold
    // them in its fast bins until the next large request merges them all at
    // once, tens of milliseconds after a cycle over millions of objects.
    mallopt(M_MXFAST, 0);
    mallopt(M_TOP_PAD, TOP_PAD_BYTES);
    int arena = mrb_gc_arena_save(mrb);
    mrb_value off = mrb_false_value();
    host_call(mrb, mrb_obj_value(mrb_module_get(mrb, "GC")), "generational_mode=", 1, &off);
    mrb_gc_arena_restore(mrb, arena);
}

void collector_frame_end(mrb_state *mrb, uint64_t deadline) {
    mrb_gc &gc = mrb->gc;
    size_t allocated = gc.live > live_after_slice ? gc.live - live_after_slice : 0;
    live_after_slice = gc.live;
    if (gc.disabled || gc.iterating) return;
    // A game that turned generations back on is left to the interpreter's
    // own pace, but a major cycle under way still gets its slices.
    bool paced = !gc.generational;
    size_t allowance = allocation_allowance(gc);
    if (gc.state == MRB_GC_STATE_ROOT && (!paced || gc.live + allowance < gc.threshold)) {
        cycle_frames = 0;
        return;
    }

    uint64_t now = SDL_GetPerformanceCounter();
    uint64_t longest = now + counter_ticks(MAX_SLICE_US);
    uint64_t end = now + counter_ticks(MIN_SLICE_US);
    uint64_t margin = counter_ticks(MARGIN_US);
    if (deadline > end + margin) end = deadline - margin;
    if (end > longest) end = longest;
    unsigned doublings = cycle_frames / LONG_CYCLE_FRAMES;
    bool behind = doublings > 0;
    if (doublings > MOST_PACE_DOUBLINGS) doublings = MOST_PACE_DOUBLINGS;
    size_t due = ((allocated * PACE) << doublings) / STEP_OBJECTS;

    size_t steps = 0;
    for (;;) {
        mrb_incremental_gc(mrb);
        ++steps;
        if (!collecting(gc)) break;
        uint64_t at = SDL_GetPerformanceCounter();
        if (steps < due) {
            if (!behind && at >= longest) break;
            continue;
        }
        if (at >= end || next_marking_entries(mrb) >= LARGE_ENTRIES) break;
    }
    if (paced && gc.state != MRB_GC_STATE_ROOT) gc.threshold = gc.live + allowance;
    cycle_frames = gc.state == MRB_GC_STATE_ROOT ? 0 : cycle_frames + 1;
    live_after_slice = gc.live;
}
