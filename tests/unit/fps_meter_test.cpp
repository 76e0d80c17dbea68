#include "host/fps_meter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

uint32_t run_at_interval(fps_meter *meter, uint32_t start, uint32_t interval_ms, int calls) {
    uint32_t result = 0;
    for (int i = 1; i <= calls; ++i) result = fps_iteration_at(meter, start + (uint32_t)i * interval_ms);
    return result;
}

TEST(FpsMeter, SettlesOnTheCallRate) {
    fps_meter at_100 = {};
    EXPECT_EQ(run_at_interval(&at_100, 0, 10, 300), 100u);

    // 60 calls a second: ticks of 16 and 17 ms as a real clock gives them.
    fps_meter at_60 = {};
    uint32_t result = 0;
    for (int i = 1; i <= 600; ++i) result = fps_iteration_at(&at_60, (uint32_t)(i * 1000 / 60));
    EXPECT_EQ(result, 60u);
}

TEST(FpsMeter, KeepsCountingAcrossTheTickCounterWrapping) {
    fps_meter meter = {};
    uint32_t start = 0xFFFFFFFFu - 2000;
    run_at_interval(&meter, start - 2000, 10, 200);
    EXPECT_EQ(run_at_interval(&meter, start, 10, 400), 100u);
}

TEST(FpsMeter, SlotsCloseAtExactly125Milliseconds) {
    fps_meter meter = {};
    EXPECT_EQ(fps_iteration_at(&meter, 0), 0u); // no time, no division by zero
    fps_iteration_at(&meter, 124);
    EXPECT_EQ(meter.slot_index, 0);
    fps_iteration_at(&meter, 125);
    EXPECT_EQ(meter.slot_index, 1);
    EXPECT_EQ(meter.sum_ms, 125u);
    EXPECT_EQ(meter.sum_frames, 3u);
}

struct Decoded {
    uint32_t code;
    long advanced;
};

Decoded decode(const std::string &bytes) {
    const char *p = bytes.c_str();
    uint32_t code = utf8codepoint(&p);
    return {code, (long)(p - bytes.c_str())};
}

TEST(Utf8, DecodesValidSequencesAndRejectsEverythingElse) {
    struct Case {
        std::string bytes;
        uint32_t code;
        long advanced;
    } cases[] = {
        {"A", 'A', 1},
        {"", 0, 0},
        {"\xC3\xA9", 0xE9, 2},
        {"\xC0\x80", UTF8_INVALID, 2},          // overlong
        {"\xC3", UTF8_INVALID, 1},              // cut short by the terminator
        {"\x80", UTF8_INVALID, 1},              // stray continuation
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xED\xA0\x80", UTF8_INVALID, 3},      // surrogates, every one of them
        {"\xED\xA0\x81", UTF8_INVALID, 3},
        {"\xED\xBF\xBF", UTF8_INVALID, 3},
        {"\xEF\xBF\xBE", UTF8_INVALID, 3},      // 0xFFFE
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xF4\x90\x80\x80", UTF8_INVALID, 4},  // beyond 0x10FFFF
        {"\xFC\x80\x80\x80\x80\x80", UTF8_INVALID, 6},
        {"\xFC", UTF8_INVALID, 1},
        {"\xE2\x82Z", UTF8_INVALID, 1},
    };
    for (const Case &c : cases) {
        Decoded d = decode(c.bytes);
        EXPECT_EQ(d.code, c.code) << "bytes of length " << c.bytes.size();
        EXPECT_EQ(d.advanced, c.advanced) << "bytes of length " << c.bytes.size();
    }
}

} // namespace
