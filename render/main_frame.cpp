#include "main_frame.h"

#include "draw_commands.h"
#include "frame_stream.h"
#include "render_context.h"

namespace {

// Frames per second of the simulation thread.
constexpr uint64_t SIMULATION_RATE = 60;
constexpr Uint32 UNFOCUSED_DELAY_MS = 50;

void queue_event_batch(render_context *context) {
    threadstream *batch = threadstream_allocate();
    if (!batch) return;
    if (event_batch_start(batch)) {
        // Events are polled straight into the stream's buffer.
        while (SDL_Event *slot = event_batch_slot(batch)) {
            if (!SDL_PollEvent(slot)) break;
            if (slot->type == SDL_WINDOWEVENT && slot->window.windowID == context->window_id &&
                slot->window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                SDL_GetRendererOutputSize(context->renderer, &context->output_width, &context->output_height);
            event_batch_add(batch);
        }
    }
    if (batch->error || event_batch_size(batch) == 0)
        threadstream_free(batch);
    else
        threadstreamqueue_putitem(context->event_queue, batch);
}

void present(render_context *context) {
    SDL_RenderPresent(context->renderer);
    context->last_present = SDL_GetPerformanceCounter();
}

void draw_frame(render_context *context, threadstream *frame, int replay) {
    context->screen_not_cleared = 1;
    draw_commands_execute(context, frame, 0, replay);
    if (context->screen_not_cleared) {
        SDL_SetRenderDrawColor(context->renderer, context->last_screen_background[0],
                               context->last_screen_background[1], context->last_screen_background[2], 255);
        SDL_RenderClear(context->renderer);
    }
    frame->read_pos = 0;
    context->kept_frame = frame;
    present(context);
}

// With nothing new, rather than replay the kept frame as fast as the renderer
// presents (renderers without a working vertical sync present at once, and
// some that claim one do too), wait for the simulation thread's next frame
// until one frame period has passed since the last present. A present that
// really waits for vertical sync has used up the period already.
int wait_for_frames(render_context *context) {
    int waiting = threadstreamqueue_getcount(context->frame_queue);
    if (waiting > 0) return waiting;
    const uint64_t deadline = context->last_present + SDL_GetPerformanceFrequency() / SIMULATION_RATE;
    while ((waiting = threadstreamqueue_getcount(context->frame_queue)) == 0 && SDL_GetPerformanceCounter() < deadline)
        SDL_Delay(1);
    return waiting;
}

} // namespace

void draw_iteration(render_context *context) {
    if (!context) return;
    queue_event_batch(context);

    int waiting = wait_for_frames(context);
    threadstream *frame = nullptr;
    if (waiting >= 1) {
        threadstream_free(context->kept_frame);
        context->kept_frame = nullptr;
        frame = threadstreamqueue_getitem(context->frame_queue);
        for (int i = 1; i < waiting && frame; ++i) {
            draw_commands_execute(context, frame, 1, 0);
            threadstream_free(frame);
            frame = threadstreamqueue_getitem(context->frame_queue);
        }
        if (frame) draw_frame(context, frame, 0);
    } else if (context->kept_frame) {
        frame = context->kept_frame;
        draw_frame(context, frame, 1);
    }
    if (!frame) {
        SDL_SetRenderDrawColor(context->renderer, 0, 0, 0, 255);
        SDL_RenderClear(context->renderer);
        present(context);
    }
    if (SDL_AtomicGet(&context->keyboard_focus) == 0) SDL_Delay(UNFOCUSED_DELAY_MS);
    SDL_AtomicSet(&context->render_fps, (int)fps_iteration(&context->render_fps_meter));
}

void draw_remaining_frames(render_context *context) {
    if (!context) return;
    while (threadstream *frame = threadstreamqueue_getitem(context->frame_queue)) {
        draw_commands_execute(context, frame, 1, 0);
        threadstream_free(frame);
    }
}
