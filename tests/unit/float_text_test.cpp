// Floats as text and back: every double the C library formats reads back
// with the same bits, and so does every Float the framework's saved-state
// writer and reader carry.
#include "bridge/ffi.h"
#include "bridge/float_text.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "tests/common/ruby_eval.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

double from_bits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

uint64_t to_bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

std::string text_of(double value) {
    char text[FLOAT_TEXT_SIZE];
    size_t length = float_text_format(value, text);
    return std::string(text, length);
}

TEST(FloatText, EveryDoubleReadsBackBitForBitFromTheShortestLiteral) {
    std::vector<double> values = {0.0, -0.0, DBL_MIN, -DBL_MIN, DBL_MAX, -DBL_MAX, DBL_EPSILON, DBL_TRUE_MIN,
                                  from_bits(0x000f'ffff'ffff'ffffull), 3 / 7.0, 0.1, 1e20, 1e-7, 123.456};
    std::mt19937_64 random(20240607);
    for (int i = 0; i < 100'000; ++i) {
        double value = from_bits(random());
        if (!std::isnan(value)) values.push_back(value);
    }
    int changed = 0;
    for (double value : values) {
        std::string text = text_of(value);
        double back = 0;
        // A Ruby float literal: a point, never a bare exponent.
        bool literal = text.find('.') != std::string::npos && text.find(".e") == std::string::npos;
        if (!float_text_parse(text.data(), text.size(), &back) || to_bits(back) != to_bits(value) || !literal) {
            if (++changed <= 5) ADD_FAILURE() << text << " for bits " << std::hex << to_bits(value);
        }
    }
    EXPECT_EQ(changed, 0);
    // Short values stay short; the infinities and NaN are named by the caller.
    std::vector<std::string> texts;
    for (double value : std::vector<double>{0.1, 1e20, -0.0, 3 / 7.0, 5.0, 1.5e-300, HUGE_VAL, -HUGE_VAL, NAN}) texts.push_back(text_of(value));
    EXPECT_EQ(texts, (std::vector<std::string>{"0.1", "1.0e+20", "-0.0", "0.42857142857142855", "5.0", "1.5e-300",
                                               "inf", "-inf", "nan"}));
    double ignored = 7;
    for (const std::string &bad : std::vector<std::string>{"", "1.5x", "1.5 ", std::string("1\0", 2), "--1"})
        EXPECT_FALSE(float_text_parse(bad.data(), bad.size(), &ignored)) << bad;
    EXPECT_EQ(ignored, 7);
}

// The interpreter keeps Floats with their two lowest bits cleared; every
// such value, written and read as saved state, keeps its bits.
TEST(FloatText, SavedStateCarriesEveryFloatTheInterpreterHolds) {
    mrb_state *mrb = mrb_open();
    ASSERT_NE(mrb, nullptr);
    ffi_float_methods_define(mrb, mrb_define_module(mrb, "FFI"));
    mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
    host_finish_top_level(mrb);
    ASSERT_EQ(mrb->exc, nullptr);
    EXPECT_EQ(ruby_eval(mrb, R"RUBY(
        srand(20240607)
        values = [0.0, -0.0, Float::MAX, -Float::MAX, Float::MIN, Float::INFINITY, -Float::INFINITY, 3 / 7.0]
        values += [4, 0x000f_ffff_ffff_fffc].map { |bits| [bits].pack("Q").unpack1("D") }
        values += Array.new(100_000) { [rand(0x1_0000_0000), rand(0x1_0000_0000)].pack("L2").unpack1("D") }
        values = values.reject(&:nan?)
        back = QMX::LiteralReader.parse(QMX::LiteralWriter.write(values))
        [values.length > 99_000, back.length == values.length,
         values.each_index.count { |i| [values[i]].pack("D") != [back[i]].pack("D") }]
    )RUBY"),
              "[true, true, 0]");
    mrb_close(mrb);
}

} // namespace
