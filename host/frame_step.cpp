// One simulation frame: inputs into the runtime, the game's tick, the frame's
// render commands out to the main thread, and the decision to stop.
#include "engine.h"
#include "host_call.h"
#include "runtime_glue.h"

#include "../audio/audio_sync.h"

#include "../render/render_context.h"

namespace {

constexpr size_t SDL_EVENT_RECORD_SIZE = sizeof(SDL_Event);
static_assert(sizeof(SDL_Event) == 56, "event batches carry SDL 2's 56-byte events");

void dispatch_event(game_state *state, const SDL_Event &event) {
    switch (event.type) {
    case SDL_QUIT:
        state->player1_key_states[CONTROLLER_QUIT_SLOT] = 1;
        break;
    default:
        break;
    }
}

void drain_event_batches(game_state *state) {
    threadstreamqueue *queue = the_render_context ? the_render_context->event_queue : nullptr;
    while (threadstream *batch = threadstreamqueue_getitem(queue)) {
        uint64_t count = threadstream_unpack_size_t(batch);
        uint64_t available = batch->write_pos - batch->read_pos;
        if (!batch->error && count <= available / SDL_EVENT_RECORD_SIZE) {
            for (uint64_t i = 0; i < count; ++i) {
                SDL_Event event;
                SDL_memcpy(&event, batch->buffer + batch->read_pos, SDL_EVENT_RECORD_SIZE);
                batch->read_pos += SDL_EVENT_RECORD_SIZE;
                dispatch_event(state, event);
            }
        }
        threadstream_free(batch);
    }
}

} // namespace

void submit_frame_stream() {
    threadstream *stream = current_frame_stream;
    current_frame_stream = nullptr;
    if (!stream) return;
    if (stream->error || !the_render_context)
        threadstream_free(stream);
    else
        threadstreamqueue_putitem(the_render_context->frame_queue, stream);
}

bool simulation_frame() {
    game_state *state = &the_game_state;
    current_frame_stream = threadstream_allocate();
    if (!current_frame_stream) return false;
    mrb_state *mrb = state->mrb;
    int arena = mrb_gc_arena_save(mrb);

    drain_event_batches(state);
    game_tick(state);
    submit_frame_stream();
    audio_sync(state);

    bool quit = mrb_test(host_call(mrb, state->runtime, "quit_requested?"));
    if (state->player1_key_states[CONTROLLER_QUIT_SLOT] || state->player2_key_states[CONTROLLER_QUIT_SLOT])
        quit = true;
    mrb_gc_arena_restore(mrb, arena);
    return !quit;
}
