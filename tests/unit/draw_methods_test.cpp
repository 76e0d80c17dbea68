// FFI::Draw from Ruby: the exact words every method appends, its defaults,
// and what it refuses.
#include "render_support.h"
#include "bridge/ffi.h"

#include "host/engine.h"
#include "host/host_call.h"
#include "tests/common/ruby_eval.h"
#include "render/draw_methods.h"
#include "render/image_api.h"
#include "render/text_measure.h"
#include "render/text_methods.h"

#include <bit>
#include <cstring>

using namespace render_support;

namespace {

using Words = std::vector<uint32_t>;
Words operator+(Words a, const Words &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Words I(std::initializer_list<int32_t> is) { return Words(is.begin(), is.end()); }
Words F(std::initializer_list<float> fs) {
    Words out;
    for (float f : fs) out.push_back(std::bit_cast<uint32_t>(f));
    return out;
}
// A string item: length word, bytes, NUL, padding to a word.
Words S(const std::string &text) {
    Words out(1 + (text.size() + 4) / 4, 0);
    out[0] = (uint32_t)text.size();
    std::memcpy(&out[1], text.data(), text.size());
    return out;
}
const Words SPRITE_TAIL = F({0, 0, -1, -1, 0, 0, -1, -1}) + I({0, 0}) + F({0.5f, 0.5f});
const Words WHITE = I({255, 255, 255, 255});

// Every method with its defaults, and the exact words it appends.
const struct { const char *call; Words expected; } ENCODINGS[] = {
    {"$d.draw_solid(10, 20, 30.5, 40, nil, nil, nil, nil)",
     {0x01, 0x41200000, 0x41a00000, 0x41f40000, 0x42200000, 0, 0, 0, 0xff}},
    {"$d.set_grid(640, 360, -1)", {0x07, 0x44200000, 0x43b40000, 0xffffffff}},
    {"$d.set_grid(1.9, 2, 3.9)", I({7}) + F({1.9f, 2}) + I({3})},
    {"$d.draw_border(1, 2, 3, 4, 5, 6, 7, 8)", I({5}) + F({1, 2, 3, 4}) + I({5, 6, 7, 8})},
    {"$d.draw_line(1.5, :x, '3', 4, 127.9, -0.5, 1e20, nil)", I({4}) + F({1.5f, 0, 0, 4}) + I({127, 0, 2147483647, 255})},
    // Integers keep their low 32 bits; Floats truncate and saturate.
    {"$d.draw_solid(0, 0, 0, 0, 0x1_0000_0005, -1, 0, 0)", I({1}) + F({0, 0, 0, 0}) + I({5, -1, 0, 0})},
    {"$d.draw_border(0, 0, 0, 0, Float::NAN, -1e20, -3.9, 2.0)", I({5}) + F({0, 0, 0, 0}) + I({0, INT32_MIN, -3, 2})},
    {"$d.draw_sprite(1, 2, 3, 4, 'a.png')", I({2}) + S("a.png") + F({1, 2, 3, 4, 0}) + WHITE + SPRITE_TAIL},
    {"$d.draw_sprite_3(1, 2, 3, 4, 'a.png', nil, nil, nil, nil, nil, nil, nil, nil, nil, false, nil, nil, nil, nil, "
     "nil, nil, nil)",
     I({2}) + S("a.png") + F({1, 2, 3, 4, 0}) + WHITE + SPRITE_TAIL},
    // Alpha comes before red in the call and after blue in the stream; the
    // source rectangle comes after the anchors in the call and before the flips.
    {"$d.draw_sprite_3(1, 2, 3, 4, 'b', 45, 128, 10, 20, 30, 5, 6, 7, 8, true, 0, 0.25, 0.75, 11, 12, 13, 14)",
     I({2}) + S("b") + F({1, 2, 3, 4, 45}) + I({10, 20, 30, 128}) + F({5, 6, 7, 8, 11, 12, 13, 14}) + I({1, 1}) +
         F({0.25f, 0.75f})},
    {"$d.draw_sprite_2(1, 2, 3, 4, 'c', 90, 7)", I({2}) + S("c") + F({1, 2, 3, 4, 90}) + I({255, 255, 255, 7}) + SPRITE_TAIL},
    {"$d.draw_sprite_2(1, 2, 3, 4, 'c', nil, nil)", I({2}) + S("c") + F({1, 2, 3, 4, 0}) + WHITE + SPRITE_TAIL},
    {"$d.draw_sprite(0, 0, 0, 0, \"a\\0b\")", I({2}) + S(std::string("a\0b", 3)) + F({0, 0, 0, 0, 0}) + WHITE + SPRITE_TAIL},
    {"$d.draw_label(5, 6, 'hi', 2, 1, 10, 20, 30, 40, nil)",
     I({3}) + F({5, 6}) + S("hi") + I({-1}) + F({2}) + I({1, 10, 20, 30, 40})},
    {"$d.draw_label(nil, nil, '', nil, nil, nil, nil, nil, nil, 'f.ttf')",
     I({3}) + F({0, 0}) + S("") + S("f.ttf") + F({0}) + I({0, 0, 0, 0, 255})},
    {"$d.draw_screenshot('s.png', 1, 2, 3, 4, nil, nil, nil, nil, nil, 1, 1, 1, 1, true, true, 1, 1, 1, 1, 1, 1)",
     I({6}) + S("s.png") + F({1, 2, 3, 4}) + I({0, 0, 0, 0, 0})},
    {"$d.draw_screenshot('s.png', 1, 2, 3, 4, 5, 6, 7, 8, 9, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil)",
     I({6}) + S("s.png") + F({1, 2, 3, 4}) + I({5, 7, 8, 9, 6})},
    {"$d.unload_sprite('gone.png')", I({10}) + S("gone.png")},
    {"$d.openurl('http://x')", I({14}) + S("http://x")},
    {"$d.toggle_cursor(0); $d.toggle_cursor(nil); $d.toggle_cursor(false); $d.toggle_fullscreen(:yes)",
     I({11, 1, 11, 0, 11, 0, 12, 1})},
    {"$d.upload_pixel_array('px', 2, 2, [1, 2, 3, 0xFFFFFFFF, 5, 6])", I({13}) + S("px") + I({2, 2, 16, 1, 2, 3, -1, 0})},
};

class DrawMethods : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;

    void SetUp() override {
        ASSERT_TRUE(threadstream_init());
        mrb = mrb_open();
        RClass *ffi = mrb_define_module(mrb, "FFI");
        draw_methods_define(mrb, mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class));
        current_frame_stream = threadstream_allocate();
        // Padding bytes are never written; zero them so whole words compare.
        std::memset(current_frame_stream->buffer, 0, current_frame_stream->capacity);
        eval("$d = FFI::Draw.new");
    }
    void TearDown() override {
        threadstream_free(current_frame_stream);
        current_frame_stream = nullptr;
        mrb_close(mrb);
        threadstream_quit();
    }

    // The class of what the code raised, or "".
    std::string eval(const char *code) {
        std::string answer = ruby_eval(mrb, code);
        return answer.starts_with("raised ") ? answer.substr(7) : "";
    }
    // The words appended since the last call.
    Words appended() {
        threadstream *s = current_frame_stream;
        Words out((s->write_pos - s->read_pos) / 4);
        std::memcpy(out.data(), s->buffer + s->read_pos, out.size() * 4);
        s->read_pos = s->write_pos;
        return out;
    }
};

TEST_F(DrawMethods, EveryMethodAppendsTheExactWordsWithItsDefaults) {
    for (const auto &c : ENCODINGS) {
        EXPECT_EQ(eval(c.call), "") << c.call;
        EXPECT_EQ(appended(), c.expected) << c.call;
    }
}

TEST_F(DrawMethods, WrongArgumentsRaiseOrAreRefusedBeforeAnythingIsAppended) {
    const struct { const char *call, *raises; } cases[] = {
        {"$d.draw_sprite(1, 2, 3, 4, nil)", "TypeError"},
        {"$d.draw_label(1, 2, nil, 0, 0, 0, 0, 0, 0, nil)", "TypeError"}, {"$d.set_grid(nil, 0, 1)", "TypeError"},
        {"$d.unload_sprite(\"a\\0b\")", "ArgumentError"}, {"$d.upload_pixel_array('px', 1, 1, nil)", "TypeError"},
        {"$d.draw_solid(1, 2, 3)", "ArgumentError"}, {"$d.toggle_cursor", "ArgumentError"},
        {"$d.draw_sprite_3(1, 2, 3, 4, 'a')", "ArgumentError"},
        // Too few pixels, sizes below 1, and sizes whose 32-bit byte count
        // wraps append nothing at all.
        {"$d.upload_pixel_array('px', 2, 2, [1, 2, 3])", ""}, {"$d.upload_pixel_array('px', -2, -2, [1, 2, 3, 4])", ""},
        {"$d.upload_pixel_array('px', 0, 5, [])", ""}, {"$d.upload_pixel_array('px', 32768, 32768, [1])", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(eval(c.call), c.raises) << c.call;
    EXPECT_EQ(current_frame_stream->write_pos, 0u);
    EXPECT_EQ(current_frame_stream->error, 0);
}

TEST_F(DrawMethods, BetweenFramesEveryMethodAnswersNilAndWritesNothing) {
    threadstream *kept = current_frame_stream;
    current_frame_stream = nullptr;
    for (const auto &c : ENCODINGS) {
        mrb_value result = mrb_load_string(mrb, c.call);
        EXPECT_TRUE(!mrb->exc && mrb_nil_p(result)) << c.call;
    }
    current_frame_stream = kept;
    EXPECT_EQ(kept->write_pos, 0u);
}

TEST_F(DrawMethods, ExtensionUploadsAppendTheSameCommandAndRefuseSizesTheyCannotCarry) {
    const uint32_t pixels[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0x80FFFFFFu};
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    EXPECT_EQ(appended(), I({13}) + S("ext") + I({2, 2, 16}) + Words(pixels, pixels + 4) + I({0}));
    // Sizes that would read far past the caller's pixels queue nothing;
    // missing pixels travel as the absent buffer.
    for (int32_t w : {-2, 0, 32768}) vlx_upload_pixel_array("bad", w, w == 32768 ? w : 3, pixels);
    vlx_upload_pixel_array("ext", 1, 1, nullptr);
    EXPECT_EQ(appended(), I({13}) + S("ext") + I({1, 1, -1}));
    threadstream *kept = current_frame_stream;
    current_frame_stream = nullptr; // between frames nothing is written anywhere
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    current_frame_stream = kept;
    EXPECT_EQ(kept->error, 0);
}

// calcstringbox on a real render context: measuring from Ruby.
class CalcStringBox : public RenderTest {};

TEST_F(CalcStringBox, AnswersTwoFloatsFromTheNamedOrDefaultFont) {
    mrb_state *mrb = mrb_open();
    RClass *misc = mrb_define_class_under(mrb, mrb_define_module(mrb, "FFI"), "Misc", mrb->object_class);
    mrb_define_method(mrb, misc, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
    ffi_render_context = context;
    mrb_value box = mrb_load_string(mrb, "FFI::Misc.new.calcstringbox('Hello', 40, 'missing.ttf')");
    float w = 0, h = 0;
    measure_text(context, "Hello", 40, nullptr, &w, &h);
    ASSERT_TRUE(mrb_array_p(box) && RARRAY_LEN(box) == 2 && mrb_float_p(mrb_ary_ref(mrb, box, 0)));
    EXPECT_EQ(std::pair(mrb_float(mrb_ary_ref(mrb, box, 0)), mrb_float(mrb_ary_ref(mrb, box, 1))),
              std::pair((double)w, (double)h));
    ffi_render_context = nullptr;
    mrb_close(mrb);
}

} // namespace
