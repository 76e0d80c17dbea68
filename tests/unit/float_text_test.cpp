// Saved Floats come back with the same bits: the framework's saved-state
// writer and reader carry every Float the interpreter holds, in the shortest
// text that the interpreter's own conversion reads back exactly.
#include "bridge/ffi.h"
#include "bridge/float_text.h"
#include "host/engine.h"
#include "host/host_call.h"
#include "tests/common/ruby_eval.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// 100,000 random bit patterns (every exponent, both signs, subnormals; the
// interpreter clears their two lowest bits) and the edges. NaN has no bits
// to keep. Some 5,000 of them are also read as game code reads them.
TEST(FloatText, SavedStateCarriesEveryFloatBitForBitInItsShortestText) {
    mrb_state *mrb = mrb_open();
    ASSERT_NE(mrb, nullptr);
    ffi_saved_text_methods_define(mrb, mrb_define_module(mrb, "FFI"));
    mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
    host_finish_top_level(mrb);
    ASSERT_EQ(mrb->exc, nullptr);
    EXPECT_EQ(ruby_eval(mrb, R"RUBY(
        srand(20240607)
        values = [0.0, -0.0, Float::MAX, -Float::MAX, Float::MIN, Float::INFINITY, -Float::INFINITY, 3 / 7.0]
        values += [4, 0x000f_ffff_ffff_fffc].map { |bits| [bits].pack("Q").unpack1("D") }
        values += (1..1000).map { |i| i / 7.0 } + (1..1000).map { |i| i * 0.01 }
        values += Array.new(100_000) { [rand(0x1_0000_0000), rand(0x1_0000_0000)].pack("L2").unpack1("D") }
        values = values.reject(&:nan?)
        back = QMX::LiteralReader.parse(QMX::LiteralWriter.write(values))
        # The texts are float literals that the game's own code reads as the
        # same values.
        sample = values.reject(&:infinite?).each_slice(20).map(&:first)
        code = eval(QMX::LiteralWriter.write(sample))
        [values.length > 101_000, back.length == values.length,
         values.each_index.count { |i| [values[i]].pack("D") != [back[i]].pack("D") },
         sample.each_index.count { |i| [sample[i]].pack("D") != [code[i]].pack("D") }]
    )RUBY"),
              "[true, true, 0, 0]");
    mrb_close(mrb);
    // Short values stay short and every text is a Ruby float literal laid
    // out as the interpreter prints; the infinities and NaN are named by the
    // writer itself.
    std::vector<std::string> texts;
    for (double value : std::vector<double>{0.1, 1e20, -0.0, 3 / 7.0, 5.0, 1.5e-300, 1e-5, HUGE_VAL, NAN}) {
        char text[FLOAT_TEXT_SIZE];
        texts.emplace_back(text, float_text_format(value, text));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"0.1", "1.0e+20", "-0.0", "0.4285714285714284", "5.0", "1.5e-300",
                                               "1.0e-05", "inf", "nan"}));
    double ignored = 7;
    for (const std::string &bad : std::vector<std::string>{"", "1.5x", "1.5 ", std::string("1\0", 2)})
        EXPECT_FALSE(float_text_parse(bad.data(), bad.size(), &ignored)) << bad;
    EXPECT_EQ(ignored, 7);
}

} // namespace
