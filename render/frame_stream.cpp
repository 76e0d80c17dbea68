#include "frame_stream.h"

#include <cstddef>
#include <type_traits>

namespace {

constexpr uint64_t EVENT_COUNT_SIZE = 8;
constexpr uint64_t EVENT_RECORD_SIZE = sizeof(SDL_Event);
static_assert(sizeof(SDL_Event) == 56, "event batches carry SDL 2's 56-byte events");

// The bytes of a record from one field up to and including another.
#define FIELD_RUN(type, first, last) (offsetof(type, last) + 4 - offsetof(type, first))

static_assert(FIELD_RUN(shape_command, x, a) == 8 * 4);
static_assert(FIELD_RUN(sprite_command, x, angle_anchor_y) == 21 * 4);
static_assert(FIELD_RUN(label_command, x, y) == 2 * 4 && FIELD_RUN(label_command, size_enum, a) == 6 * 4);
static_assert(FIELD_RUN(screenshot_command, x, a) == 9 * 4);
static_assert(FIELD_RUN(set_grid_command, origin_x, y_direction) == 3 * 4);
static_assert(FIELD_RUN(passes_command, count, screenshot) == 2 * 4);
static_assert(FIELD_RUN(pass_header, r, a) == 4 * 4 && FIELD_RUN(pass_header, w, transient) == 3 * 4);
static_assert(FIELD_RUN(pixel_array_command, w, h) == 2 * 4);

} // namespace

#define WRITE_RUN(stream, record, first, last)                                                                     \
    threadstream_pack_words(stream, &(record)->first, FIELD_RUN(std::remove_cvref_t<decltype(*(record))>, first, last))
#define READ_RUN(stream, record, first, last)                                                                      \
    threadstream_unpack_words(stream, &(record)->first, FIELD_RUN(std::remove_cvref_t<decltype(*(record))>, first, last))

int frame_write_opcode(threadstream *stream, int32_t opcode) { return threadstream_pack_int(stream, opcode); }

int frame_write_shape(threadstream *stream, int32_t opcode, const shape_command *command) {
    return frame_write_opcode(stream, opcode) && WRITE_RUN(stream, command, x, a);
}

void frame_read_shape(threadstream *stream, shape_command *command) { READ_RUN(stream, command, x, a); }

int frame_write_sprite(threadstream *stream, const sprite_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_SPRITE) && threadstream_pack_text(stream, command->path) &&
           WRITE_RUN(stream, command, x, angle_anchor_y);
}

void frame_read_sprite(threadstream *stream, sprite_command *command) {
    command->path = threadstream_unpack_text(stream);
    READ_RUN(stream, command, x, angle_anchor_y);
}

int frame_write_label(threadstream *stream, const label_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_LABEL) && WRITE_RUN(stream, command, x, y) &&
           threadstream_pack_text(stream, command->text) && threadstream_pack_text(stream, command->font) &&
           WRITE_RUN(stream, command, size_enum, a);
}

void frame_read_label(threadstream *stream, label_command *command) {
    READ_RUN(stream, command, x, y);
    command->text = threadstream_unpack_text(stream);
    command->font = threadstream_unpack_text(stream);
    READ_RUN(stream, command, size_enum, a);
}

int frame_write_screenshot(threadstream *stream, const screenshot_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_SCREENSHOT) && threadstream_pack_text(stream, command->path) &&
           WRITE_RUN(stream, command, x, a);
}

void frame_read_screenshot(threadstream *stream, screenshot_command *command) {
    command->path = threadstream_unpack_text(stream);
    READ_RUN(stream, command, x, a);
}

int frame_write_set_grid(threadstream *stream, const set_grid_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_SET_GRID) && WRITE_RUN(stream, command, origin_x, y_direction);
}

void frame_read_set_grid(threadstream *stream, set_grid_command *command) {
    READ_RUN(stream, command, origin_x, y_direction);
}

int frame_write_passes(threadstream *stream, const passes_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_PASSES) && WRITE_RUN(stream, command, count, screenshot);
}

void frame_read_passes(threadstream *stream, passes_command *command) { READ_RUN(stream, command, count, screenshot); }

int frame_write_pass_header(threadstream *stream, const pass_header *header) {
    return WRITE_RUN(stream, header, r, a) && threadstream_pack_text(stream, header->target) &&
           WRITE_RUN(stream, header, w, transient);
}

void frame_read_pass_header(threadstream *stream, pass_header *header) {
    READ_RUN(stream, header, r, a);
    header->target = threadstream_unpack_text(stream);
    READ_RUN(stream, header, w, transient);
}

int frame_write_pixel_array(threadstream *stream, const pixel_array_command *command) {
    return frame_write_opcode(stream, RENDER_CMD_UPLOAD_PIXEL_ARRAY) && threadstream_pack_text(stream, command->name) &&
           WRITE_RUN(stream, command, w, h) && threadstream_pack_text(stream, command->pixels);
}

void frame_read_pixel_array(threadstream *stream, pixel_array_command *command) {
    command->name = threadstream_unpack_text(stream);
    READ_RUN(stream, command, w, h);
    command->pixels = threadstream_unpack_text(stream);
}

int frame_write_text_command(threadstream *stream, int32_t opcode, threadstream_text text) {
    return frame_write_opcode(stream, opcode) && threadstream_pack_text(stream, text);
}

threadstream_text frame_read_text_command(threadstream *stream) { return threadstream_unpack_text(stream); }

int frame_write_flag_command(threadstream *stream, int32_t opcode, uint32_t flag) {
    return frame_write_opcode(stream, opcode) && threadstream_pack_int(stream, (int32_t)flag);
}

uint32_t frame_read_flag_command(threadstream *stream) { return (uint32_t)threadstream_unpack_int(stream); }

bool event_batch_start(threadstream *batch) {
    const uint64_t none = 0;
    return threadstream_pack_words(batch, &none, EVENT_COUNT_SIZE);
}

SDL_Event *event_batch_slot(threadstream *batch) {
    if (!threadstream_claim_space(batch, EVENT_RECORD_SIZE)) return nullptr;
    return (SDL_Event *)(batch->buffer + batch->write_pos);
}

uint64_t event_batch_size(const threadstream *batch) {
    uint64_t count = 0;
    if (batch->write_pos >= EVENT_COUNT_SIZE) SDL_memcpy(&count, batch->buffer, EVENT_COUNT_SIZE);
    return count;
}

void event_batch_add(threadstream *batch) {
    // The count is kept up to date in place, so the batch is whole after
    // every event.
    uint64_t count = event_batch_size(batch) + 1;
    SDL_memcpy(batch->buffer, &count, EVENT_COUNT_SIZE);
    batch->write_pos += EVENT_RECORD_SIZE;
}

uint64_t event_batch_open(threadstream *batch) {
    uint64_t count = threadstream_unpack_size_t(batch);
    uint64_t available = batch->write_pos >= batch->read_pos ? batch->write_pos - batch->read_pos : 0;
    // A count that overruns the batch drops the whole batch.
    return !batch->error && count <= available / EVENT_RECORD_SIZE ? count : 0;
}

void event_batch_next(threadstream *batch, SDL_Event *event) {
    SDL_memcpy(event, batch->buffer + batch->read_pos, EVENT_RECORD_SIZE);
    batch->read_pos += EVENT_RECORD_SIZE;
}
