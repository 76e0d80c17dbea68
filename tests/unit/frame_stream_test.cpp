// The bytes between the threads: thread-stream items and their pool and
// queue, every render command's record through its writer and reader, and
// event batches. (The draw methods' exact words are in draw_methods_test.)
#include "frame_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

using render_support::text;

namespace {

class ThreadStream : public ::testing::Test {
protected:
    threadstream *s = nullptr;
    void SetUp() override {
        ASSERT_TRUE(threadstream_init());
        s = threadstream_allocate();
    }
    void TearDown() override {
        threadstream_free(s);
        threadstream_quit();
    }
    uint32_t word_at(size_t offset) {
        uint32_t v;
        std::memcpy(&v, s->buffer + offset, 4);
        return v;
    }
};

TEST_F(ThreadStream, ItemsHaveTheirExactLayoutAndReadBack) {
    EXPECT_TRUE(threadstream_pack_string(s, "") && threadstream_pack_string(s, nullptr) &&
                threadstream_pack_int(s, 7) && threadstream_pack_buffer(s, "abcd", 4));
    // "": length, NUL and padding; NULL: the absent marker alone.
    EXPECT_EQ(s->write_pos, 28u);
    EXPECT_EQ(std::vector<uint32_t>({word_at(0), word_at(4), word_at(8), word_at(12), word_at(16)}),
              std::vector<uint32_t>({0, 0, 0xFFFFFFFFu, 7, 4}));
    EXPECT_EQ(std::memcmp(s->buffer + 20, "abcd", 5), 0);
    uint64_t length = 99;
    EXPECT_STREQ(threadstream_unpack_string(s, &length), "");
    EXPECT_EQ(threadstream_unpack_string(s, &length), nullptr);
    EXPECT_EQ(threadstream_unpack_int(s), 7);
    EXPECT_STREQ(threadstream_unpack_buffer(s, &length), "abcd");
    EXPECT_EQ(length, 4u);
    EXPECT_TRUE(threadstream_eos(s) && !s->error);

    // Growth doubles only when the item does not fit.
    s->write_pos = 1020;
    EXPECT_TRUE(threadstream_claim_space(s, 4) && s->capacity == 1024u);
    EXPECT_TRUE(threadstream_pack_buffer(s, "0123456789", 10) && s->capacity == 2048u && s->write_pos == 1036u);
    EXPECT_TRUE(threadstream_claim_space(s, 10000) && s->capacity == 16384u);
}

TEST_F(ThreadStream, FailuresAreStickyAndShortReadsStayInsideTheData) {
    // A length the 32-bit field cannot carry (0xFFFFFFFF would read back as
    // absent) is refused, and nothing is written after it.
    EXPECT_EQ(threadstream_pack_buffer(s, "x", 0xFFFFFFFFull), 0);
    EXPECT_EQ(threadstream_pack_int(s, 1), 0);
    EXPECT_TRUE(s->error && s->write_pos == 0 && threadstream_eos(s));
    threadstream *failed = s;
    threadstream_free(s);
    s = threadstream_allocate();
    EXPECT_TRUE(s == failed && !s->error) << "recycled clean";

    threadstream_pack_int(s, 5);
    s->write_pos = 2;
    EXPECT_EQ(threadstream_unpack_int(s), 0);
    EXPECT_TRUE(s->error && s->read_pos == 0);
    s->error = 0;
    s->write_pos = 0;
    threadstream_pack_int(s, 100); // a length promising 100 bytes
    threadstream_pack_int(s, 0);
    uint64_t length = 7;
    EXPECT_STREQ(threadstream_unpack_buffer(s, &length), "");
    EXPECT_TRUE(length == 0 && s->error && s->read_pos == 4);
    EXPECT_EQ(threadstream_unpack_size_t(s), 0u);
}

TEST_F(ThreadStream, PoolIsLastInFirstOutAndQueuesFirstInFirstOut) {
    threadstream *a = threadstream_allocate(), *b = threadstream_allocate();
    threadstream_free(a);
    threadstream_free(b);
    EXPECT_EQ(threadstream_allocate(), b);
    EXPECT_EQ(threadstream_allocate(), a);
    threadstreamqueue *q = threadstreamqueue_allocate();
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    threadstreamqueue_putitem(q, a);
    threadstreamqueue_putitem(q, b);
    EXPECT_EQ(threadstreamqueue_getcount(q), 2);
    EXPECT_EQ(threadstreamqueue_getitem(q), a);
    EXPECT_EQ(threadstreamqueue_getcount(q), 1);
    EXPECT_EQ(a->next, nullptr);
    // Freeing a queue returns what it still holds to the pool.
    threadstreamqueue_free(q);
    EXPECT_EQ(threadstream_allocate(), b);
    threadstream_free(a);
    threadstream_free(b);
}

// Writes the record, reads it back and writes what was read: both streams
// must hold the same bytes, and the first must be read to its end.
template <class R, class Write, class Read> void expect_round_trip(const R &record, Write write, Read read, bool opcode = true) {
    threadstream *a = threadstream_allocate(), *b = threadstream_allocate();
    R back;
    write(a, &record);
    if (opcode) threadstream_unpack_int(a);
    read(a, &back);
    write(b, &back);
    EXPECT_TRUE(threadstream_eos(a) && !a->error && a->write_pos == b->write_pos &&
                std::memcmp(a->buffer, b->buffer, a->write_pos) == 0) << typeid(R).name();
    threadstream_free(a);
    threadstream_free(b);
}

TEST_F(ThreadStream, EveryCommandReadsBackWhatItsWriterWrote) {
    const uint32_t pixels[2] = {0x11223344u, 0xFFFFFFFFu};
    auto line = [](threadstream *t, const shape_command *c) { return frame_write_shape(t, RENDER_CMD_LINE, c); };
    expect_round_trip(shape_command{1.5f, -2, 3e9f, 4, 5, -6, 300, 255}, line, frame_read_shape);
    expect_round_trip(sprite_command{{"a\0b", 3}, 1, 2, 3, 4, 45, 10, 20, 30, 40, 5, 6, 7, 8, 9, 10, 11, 12, 1, 0, .25f, .75f},
                      frame_write_sprite, frame_read_sprite);
    expect_round_trip(label_command{5, 6, text("hi"), {nullptr, 0}, 2.5f, 1, 10, 20, 30, 40}, frame_write_label,
                      frame_read_label);
    expect_round_trip(screenshot_command{text("s.png"), 1, 2, 3, 4, 5, 6, 7, 8, 9}, frame_write_screenshot,
                      frame_read_screenshot);
    expect_round_trip(set_grid_command{640, 360, -1}, frame_write_set_grid, frame_read_set_grid);
    expect_round_trip(passes_command{2, 1}, frame_write_passes, frame_read_passes);
    expect_round_trip(pass_header{1, 2, 3, 4, text(""), 40, 30, 1}, frame_write_pass_header, frame_read_pass_header, false);
    expect_round_trip(pixel_array_command{text("px"), 2, 1, {(const char *)pixels, 8}}, frame_write_pixel_array,
                      frame_read_pixel_array);
    frame_write_text_command(s, RENDER_CMD_OPEN_URL, text("http://x"));
    frame_write_flag_command(s, RENDER_CMD_TOGGLE_CURSOR, 1);
    EXPECT_EQ(threadstream_unpack_int(s), RENDER_CMD_OPEN_URL);
    EXPECT_STREQ(frame_read_text_command(s).bytes, "http://x");
    EXPECT_EQ(threadstream_unpack_int(s), RENDER_CMD_TOGGLE_CURSOR);
    EXPECT_EQ(frame_read_flag_command(s), 1u);

    // Cut inside a sprite's numbers: the fields that are there read back,
    // the rest as 0, and the stream is marked damaged.
    sprite_command sprite{}, back;
    sprite.path = text("p"), sprite.h = 4, sprite.angle = 45, sprite.angle_anchor_y = 1;
    frame_write_sprite(s, &sprite);
    s->write_pos -= 17 * 4;
    threadstream_unpack_int(s);
    frame_read_sprite(s, &back);
    EXPECT_TRUE(back.h == 4 && back.angle == 0 && back.angle_anchor_y == 0 && s->error);
}

TEST_F(ThreadStream, EventBatchesCarryWholeEventsAndADamagedCountDropsThem) {
    ASSERT_TRUE(event_batch_start(s));
    for (int i = 0; i < 3; ++i) {
        SDL_Event *slot = event_batch_slot(s);
        *slot = SDL_Event{};
        slot->user.type = SDL_USEREVENT;
        slot->user.code = 100 + i;
        event_batch_add(s);
    }
    EXPECT_EQ(s->write_pos, 176u);
    ASSERT_EQ(event_batch_open(s), 3u);
    SDL_Event back;
    for (int i = 0; i < 3; ++i) {
        event_batch_next(s, &back);
        EXPECT_EQ(back.user.code, 100 + i);
    }
    s->read_pos = 0;
    s->write_pos -= 1; // the last event is no longer whole
    EXPECT_EQ(event_batch_open(s), 0u);
}

} // namespace
