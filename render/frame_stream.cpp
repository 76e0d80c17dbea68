#include "frame_stream.h"

#include <cstddef>
#include <utility>

namespace {

constexpr uint64_t EVENT_COUNT_SIZE = 8;
constexpr uint64_t EVENT_RECORD_SIZE = sizeof(SDL_Event);
static_assert(sizeof(SDL_Event) == 56, "event batches carry SDL 2's 56-byte events");

// A record's layout in stream order: runs of 4-byte fields copied as they
// lie in the record, and string items (threadstream_text fields).
struct piece {
    uint32_t offset;
    uint32_t size; // bytes of a run; 0 for a string item
};
struct layout {
    size_t count;
    piece pieces[4];
};

// The bytes of a record from one field up to and including another.
#define FIELD_RUN(type, first, last) (offsetof(type, last) + 4 - offsetof(type, first))
#define RUN(type, first, last) piece{offsetof(type, first), FIELD_RUN(type, first, last)}
#define TEXT(type, field) piece{offsetof(type, field), 0}

// The runs must hold the number of fields the stream has there: a record
// that gains a field or padding in a run fails here.
static_assert(FIELD_RUN(shape_command, x, a) == 8 * 4);
static_assert(FIELD_RUN(sprite_command, x, angle_anchor_y) == 21 * 4);
static_assert(FIELD_RUN(label_command, x, y) == 2 * 4 && FIELD_RUN(label_command, size_enum, a) == 6 * 4);
static_assert(FIELD_RUN(screenshot_command, x, a) == 9 * 4);
static_assert(FIELD_RUN(set_grid_command, origin_x, y_direction) == 3 * 4);
static_assert(FIELD_RUN(passes_command, count, screenshot) == 2 * 4);
static_assert(FIELD_RUN(pass_header, r, a) == 4 * 4 && FIELD_RUN(pass_header, w, transient) == 3 * 4);
static_assert(FIELD_RUN(pixel_array_command, w, h) == 2 * 4);

constexpr layout SHAPE = {1, {RUN(shape_command, x, a)}};
constexpr layout SPRITE = {2, {TEXT(sprite_command, path), RUN(sprite_command, x, angle_anchor_y)}};
constexpr layout LABEL = {4,
                      {RUN(label_command, x, y), TEXT(label_command, text), TEXT(label_command, font),
                       RUN(label_command, size_enum, a)}};
constexpr layout SCREENSHOT = {2, {TEXT(screenshot_command, path), RUN(screenshot_command, x, a)}};
constexpr layout SET_GRID = {1, {RUN(set_grid_command, origin_x, y_direction)}};
constexpr layout PASSES = {1, {RUN(passes_command, count, screenshot)}};
constexpr layout PASS_HEADER = {3, {RUN(pass_header, r, a), TEXT(pass_header, target), RUN(pass_header, w, transient)}};
constexpr layout PIXEL_ARRAY = {
    3, {TEXT(pixel_array_command, name), RUN(pixel_array_command, w, h), TEXT(pixel_array_command, pixels)}};

constexpr int32_t NO_OPCODE = -1;

// Each piece's writer and reader are compiled with its size known, so that
// a run is copied without a call.
template <piece p> int write_piece(threadstream *stream, const char *base) {
    if constexpr (p.size != 0) return threadstream_pack_words(stream, base + p.offset, p.size);
    return threadstream_pack_text(stream, *(const threadstream_text *)(base + p.offset));
}

template <piece p> void read_piece(threadstream *stream, char *base) {
    if constexpr (p.size != 0)
        threadstream_unpack_words(stream, base + p.offset, p.size);
    else
        *(threadstream_text *)(base + p.offset) = threadstream_unpack_text(stream);
}

template <const layout &shape, size_t... i>
int write_pieces(threadstream *stream, const char *base, std::index_sequence<i...>) {
    return (write_piece<shape.pieces[i]>(stream, base) && ...);
}

template <const layout &shape, size_t... i> void read_pieces(threadstream *stream, char *base, std::index_sequence<i...>) {
    (read_piece<shape.pieces[i]>(stream, base), ...);
}

template <const layout &shape> int write_record(threadstream *stream, int32_t opcode, const void *record) {
    if (opcode != NO_OPCODE && !threadstream_pack_int(stream, opcode)) return 0;
    return write_pieces<shape>(stream, (const char *)record, std::make_index_sequence<shape.count>());
}

template <const layout &shape> void read_record(threadstream *stream, void *record) {
    read_pieces<shape>(stream, (char *)record, std::make_index_sequence<shape.count>());
}

} // namespace

int frame_write_opcode(threadstream *stream, int32_t opcode) { return threadstream_pack_int(stream, opcode); }

int frame_write_shape(threadstream *stream, int32_t opcode, const shape_command *command) {
    return write_record<SHAPE>(stream, opcode, command);
}

// The writer and the reader of a command with a fixed opcode.
#define RECORD_WRITER_AND_READER(name, record, opcode, shape)                                                       \
    int frame_write_##name(threadstream *stream, const record *command) {                                           \
        return write_record<shape>(stream, opcode, command);                                                        \
    }                                                                                                              \
    void frame_read_##name(threadstream *stream, record *command) { read_record<shape>(stream, command); }

RECORD_WRITER_AND_READER(sprite, sprite_command, RENDER_CMD_SPRITE, SPRITE)
RECORD_WRITER_AND_READER(label, label_command, RENDER_CMD_LABEL, LABEL)
RECORD_WRITER_AND_READER(screenshot, screenshot_command, RENDER_CMD_SCREENSHOT, SCREENSHOT)
RECORD_WRITER_AND_READER(set_grid, set_grid_command, RENDER_CMD_SET_GRID, SET_GRID)
RECORD_WRITER_AND_READER(passes, passes_command, RENDER_CMD_PASSES, PASSES)
RECORD_WRITER_AND_READER(pass_header, pass_header, NO_OPCODE, PASS_HEADER)
RECORD_WRITER_AND_READER(pixel_array, pixel_array_command, RENDER_CMD_UPLOAD_PIXEL_ARRAY, PIXEL_ARRAY)

void frame_read_shape(threadstream *stream, shape_command *command) { read_record<SHAPE>(stream, command); }

int frame_write_text_command(threadstream *stream, int32_t opcode, threadstream_text text) {
    return frame_write_opcode(stream, opcode) && threadstream_pack_text(stream, text);
}
int frame_write_flag_command(threadstream *stream, int32_t opcode, uint32_t flag) {
    return frame_write_opcode(stream, opcode) && threadstream_pack_int(stream, (int32_t)flag);
}

threadstream_text frame_read_text_command(threadstream *stream) { return threadstream_unpack_text(stream); }
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
