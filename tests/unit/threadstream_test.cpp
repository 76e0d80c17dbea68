#include "host/threadstream.h"
#include "host/threadstream_ruby.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class ThreadStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(threadstream_init()); }
    void TearDown() override { threadstream_quit(); }
};

uint32_t word_at(const threadstream *s, size_t offset) {
    uint32_t v;
    std::memcpy(&v, s->buffer + offset, 4);
    return v;
}

TEST_F(ThreadStream, PacksItemsWithTheirExactLayoutAndUnpacksThemBack) {
    threadstream *s = threadstream_allocate();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->capacity, 1024u);
    EXPECT_EQ(threadstream_pack_string(s, ""), 1);
    EXPECT_EQ(threadstream_pack_string(s, nullptr), 1);
    EXPECT_EQ(threadstream_pack_int(s, 7), 1);
    EXPECT_EQ(threadstream_pack_buffer(s, "abcd", 4), 1);
    EXPECT_EQ(s->write_pos, 28u);

    // "": length 0, NUL, 3 bytes of padding.
    EXPECT_EQ(word_at(s, 0), 0u);
    EXPECT_EQ(s->buffer[4], 0);
    // NULL: the absent marker alone.
    EXPECT_EQ(word_at(s, 8), 0xFFFFFFFFu);
    EXPECT_EQ(word_at(s, 12), 7u);
    EXPECT_EQ(word_at(s, 16), 4u);
    EXPECT_EQ(std::memcmp(s->buffer + 20, "abcd", 5), 0);

    uint64_t length = 99;
    const char *empty = threadstream_unpack_string(s, &length);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(s->read_pos, 8u);
    length = 99;
    EXPECT_EQ(threadstream_unpack_string(s, &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(s->read_pos, 12u);
    EXPECT_EQ(threadstream_unpack_int(s), 7);
    EXPECT_STREQ(threadstream_unpack_buffer(s, &length), "abcd");
    EXPECT_EQ(length, 4u);
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_FALSE(s->error);
    threadstream_free(s);
}

TEST_F(ThreadStream, GrowsByDoublingOnlyWhenTheItemDoesNotFit) {
    threadstream *s = threadstream_allocate();
    s->write_pos = 1020;
    EXPECT_EQ(threadstream_claim_space(s, 4), 1);
    EXPECT_EQ(s->capacity, 1024u);
    EXPECT_EQ(threadstream_pack_buffer(s, "0123456789", 10), 1); // needs 1035
    EXPECT_EQ(s->capacity, 2048u);
    EXPECT_EQ(s->write_pos, 1036u);
    EXPECT_EQ(threadstream_claim_space(s, 10000), 1);
    EXPECT_EQ(s->capacity, 16384u);
    threadstream_free(s);
}

TEST_F(ThreadStream, ErrorFlagIsStickyUntilTheStreamIsRecycled) {
    threadstream *s = threadstream_allocate();
    // A length that cannot be carried in the 32-bit field is refused, and
    // 0xFFFFFFFF would read back as "absent".
    EXPECT_EQ(threadstream_pack_buffer(s, "x", 0xFFFFFFFFull), 0);
    EXPECT_EQ(s->error, 1);
    EXPECT_EQ(s->write_pos, 0u);
    EXPECT_EQ(threadstream_pack_int(s, 1), 0);
    EXPECT_EQ(s->write_pos, 0u);
    EXPECT_TRUE(threadstream_eos(s));

    threadstream_free(s);
    threadstream *again = threadstream_allocate();
    EXPECT_EQ(again, s);
    EXPECT_EQ(again->error, 0);
    EXPECT_EQ(threadstream_pack_int(again, 1), 1);
    threadstream_free(again);
}

TEST_F(ThreadStream, ShortReadsSetTheFlagAndNeverReadPastTheData) {
    threadstream *s = threadstream_allocate();
    threadstream_pack_int(s, 5);
    s->write_pos = 2; // only two bytes remain
    EXPECT_EQ(threadstream_unpack_int(s), 0);
    EXPECT_EQ(s->error, 1);
    EXPECT_EQ(s->read_pos, 0u);
    threadstream_free(s);

    s = threadstream_allocate();
    threadstream_pack_int(s, 100); // a length field promising 100 bytes
    threadstream_pack_int(s, 0);
    uint64_t length = 7;
    EXPECT_STREQ(threadstream_unpack_buffer(s, &length), "");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(s->error, 1);
    EXPECT_EQ(s->read_pos, 4u);
    EXPECT_EQ(threadstream_unpack_size_t(s), 0u);
    threadstream_free(s);

}

TEST_F(ThreadStream, PoolHandsBackTheLastFreedStreamFirst) {
    threadstream *a = threadstream_allocate(), *b = threadstream_allocate(), *c = threadstream_allocate();
    threadstream_free(a);
    threadstream_free(b);
    threadstream_free(c);
    EXPECT_EQ(threadstream_allocate(), c);
    EXPECT_EQ(threadstream_allocate(), b);
    EXPECT_EQ(threadstream_allocate(), a);
    threadstream_free(a);
    threadstream_free(b);
    threadstream_free(c);
}

TEST_F(ThreadStream, QueueIsFirstInFirstOutWithACountReadableWithoutTheLock) {
    threadstreamqueue *q = threadstreamqueue_allocate();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    threadstream *s1 = threadstream_allocate(), *s2 = threadstream_allocate();
    threadstreamqueue_putitem(q, s1);
    EXPECT_EQ(threadstreamqueue_getcount(q), 1);
    threadstreamqueue_putitem(q, s2);
    EXPECT_EQ(threadstreamqueue_getcount(q), 2);
    EXPECT_EQ(threadstreamqueue_getitem(q), s1);
    EXPECT_EQ(threadstreamqueue_getcount(q), 1);
    EXPECT_EQ(threadstreamqueue_getitem(q), s2);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    EXPECT_EQ(s1->next, nullptr);

    // Freeing a queue returns what it still holds to the pool.
    threadstreamqueue_putitem(q, s1);
    threadstreamqueue_putitem(q, s2);
    threadstreamqueue_free(q);
    EXPECT_EQ(threadstream_allocate(), s2);
    EXPECT_EQ(threadstream_allocate(), s1);
    threadstream_free(s1);
    threadstream_free(s2);
}

TEST_F(ThreadStream, RubyValuesPackByTheirTypeTag) {
    mrb_state *mrb = mrb_open();
    threadstream *s = threadstream_allocate();
    threadstream_pack_ruby_int(s, mrb_float_value(mrb, 3.9));
    threadstream_pack_ruby_int(s, mrb_float_value(mrb, -3.9));
    threadstream_pack_ruby_int(s, mrb_float_value(mrb, 1e20));
    threadstream_pack_ruby_int(s, mrb_float_value(mrb, 0.0 / 0.0));
    threadstream_pack_ruby_int(s, mrb_nil_value());
    threadstream_pack_ruby_int_or_default(s, mrb_nil_value(), 255);
    threadstream_pack_ruby_int_or_default(s, mrb_str_new_lit(mrb, "12"), 9);
    threadstream_pack_ruby_int(s, mrb_int_value(mrb, 0x100000005LL)); // low 32 bits
    threadstream_pack_ruby_float(s, mrb_int_value(mrb, 7));
    threadstream_pack_ruby_float_or_default(s, mrb_true_value(), 1.5f);
    threadstream_pack_ruby_string(s, mrb_str_new(mrb, "a\0b", 3));
    threadstream_pack_ruby_string(s, mrb_nil_value());

    const int32_t ints[] = {3, -3, 2147483647, 0, 0, 255, 9, 5};
    for (int32_t expected : ints) EXPECT_EQ(threadstream_unpack_int(s), expected);
    EXPECT_EQ(threadstream_unpack_float(s), 7.0f);
    EXPECT_EQ(threadstream_unpack_float(s), 1.5f);
    uint64_t length = 0;
    const char *bytes = threadstream_unpack_buffer(s, &length);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(bytes, "a\0b", 4), 0);
    EXPECT_EQ(threadstream_unpack_buffer(s, &length), nullptr);
    EXPECT_TRUE(threadstream_eos(s));
    threadstream_free(s);
    mrb_close(mrb);
}

} // namespace
