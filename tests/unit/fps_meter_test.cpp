#include "host/fps_meter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FpsMeter, SettlesOnTheCallRateAcrossTheTickCounterWrapping) {
    // 100 calls a second starting just before the counter wraps, and 60 a
    // second in ticks of 16 and 17 ms as a real clock gives them.
    const struct { uint32_t start; int calls, per_second; } runs[] = {{0xFFFFFFFFu - 4000, 600, 100}, {0, 600, 60}};
    for (auto r : runs) {
        fps_meter meter = {};
        uint32_t result = 0;
        for (int i = 1; i <= r.calls; ++i) result = fps_iteration_at(&meter, r.start + (uint32_t)(i * 1000 / r.per_second));
        EXPECT_EQ(result, (uint32_t)r.per_second) << r.start;
    }
    // Slots close at exactly 125 ms; no time passed divides by nothing.
    fps_meter meter = {};
    EXPECT_EQ(fps_iteration_at(&meter, 0), 0u);
    fps_iteration_at(&meter, 124);
    EXPECT_EQ(meter.slot_index, 0);
    fps_iteration_at(&meter, 125);
    EXPECT_TRUE(meter.slot_index == 1 && meter.sum_ms == 125u && meter.sum_frames == 3u);
}

TEST(Utf8, DecodesValidSequencesAndRejectsEverythingElse) {
    const struct { std::string bytes; uint32_t code; long advanced; } cases[] = {
        {"A", 'A', 1}, {"", 0, 0}, {"\xC3\xA9", 0xE9, 2}, {"\xE2\x82\xAC", 0x20AC, 3}, {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xC0\x80", UTF8_INVALID, 2},     // overlong
        {"\xC3", UTF8_INVALID, 1},         // cut short by the terminator
        {"\x80", UTF8_INVALID, 1},         // stray continuation
        {"\xED\xA0\x80", UTF8_INVALID, 3}, // surrogates, every one of them
        {"\xED\xA0\x81", UTF8_INVALID, 3}, {"\xED\xBF\xBF", UTF8_INVALID, 3},
        {"\xEF\xBF\xBE", UTF8_INVALID, 3},     // 0xFFFE
        {"\xF4\x90\x80\x80", UTF8_INVALID, 4}, // beyond 0x10FFFF
        {"\xFC\x80\x80\x80\x80\x80", UTF8_INVALID, 6}, {"\xFC", UTF8_INVALID, 1}, {"\xE2\x82Z", UTF8_INVALID, 1},
    };
    for (const auto &c : cases) {
        const char *p = c.bytes.c_str();
        EXPECT_EQ(utf8codepoint(&p), c.code) << c.bytes.size() << " bytes";
        EXPECT_EQ(p - c.bytes.c_str(), c.advanced) << c.bytes.size() << " bytes";
    }
}

} // namespace
