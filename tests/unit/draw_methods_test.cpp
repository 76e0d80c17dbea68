// FFI::Draw from Ruby: the exact bytes every method appends, its defaults,
// and what it refuses.
#include "render_support.h"

#include "host/engine.h"
#include "host/host_call.h"
#include "render/draw_methods.h"
#include "render/text_measure.h"
#include "render/text_methods.h"

#include <cstring>

using namespace render_support;

namespace {

class DrawMethods : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;

    void SetUp() override {
        ASSERT_TRUE(threadstream_init());
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
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

    // Runs Ruby; answers the class name of what it raised, or "".
    std::string eval(const char *code) {
        mrb_load_string(mrb, code);
        if (!mrb->exc) return "";
        std::string name = mrb_obj_classname(mrb, mrb_obj_value(mrb->exc));
        mrb->exc = nullptr;
        return name;
    }
    // The words appended since the last call, as hex in stream order.
    std::string appended() {
        threadstream *s = current_frame_stream;
        std::string out;
        char word[10];
        for (uint64_t at = s->read_pos; at + 4 <= s->write_pos; at += 4) {
            uint32_t v;
            std::memcpy(&v, s->buffer + at, 4);
            SDL_snprintf(word, sizeof(word), "%s%08x", out.empty() ? "" : " ", v);
            out += word;
        }
        s->read_pos = s->write_pos;
        return out;
    }
    // Words as little-endian bytes, the way the format is written down.
    static std::string le(const char *spaced) {
        std::string out;
        for (const char *p = spaced; *p;) {
            if (*p == ' ') {
                out += ' ';
                ++p;
                continue;
            }
            char word[9] = {};
            std::memcpy(word, p, 8);
            p += 8;
            char swapped[9] = {word[6], word[7], word[4], word[5], word[2], word[3], word[0], word[1], 0};
            out += swapped;
        }
        return out;
    }
    static std::string words(std::initializer_list<float> fs) {
        std::string out;
        char word[10];
        for (float f : fs) {
            uint32_t v;
            std::memcpy(&v, &f, 4);
            SDL_snprintf(word, sizeof(word), "%s%08x", out.empty() ? "" : " ", v);
            out += word;
        }
        return out;
    }
    static std::string ints(std::initializer_list<int32_t> is) {
        std::string out;
        char word[10];
        for (int32_t i : is) {
            SDL_snprintf(word, sizeof(word), "%s%08x", out.empty() ? "" : " ", (uint32_t)i);
            out += word;
        }
        return out;
    }
    static std::string join(std::initializer_list<std::string> parts) {
        std::string out;
        for (const std::string &p : parts) {
            if (p.empty()) continue;
            if (!out.empty()) out += ' ';
            out += p;
        }
        return out;
    }
    // A string item: length word, bytes, NUL, padding.
    static std::string str(const char *text) {
        std::string bytes(text);
        bytes.push_back('\0');
        while (bytes.size() % 4) bytes.push_back('\0');
        std::string out = ints({(int32_t)std::strlen(text)});
        for (size_t i = 0; i < bytes.size(); i += 4) {
            uint32_t v;
            std::memcpy(&v, bytes.data() + i, 4);
            out += ' ' + ints({(int32_t)v});
        }
        return out;
    }
};

TEST_F(DrawMethods, SolidAndSetGridAppendTheExactWords) {
    EXPECT_EQ(eval("$d.draw_solid(10, 20, 30.5, 40, nil, nil, nil, nil)"), "");
    EXPECT_EQ(appended(), le("01000000 00002041 0000a041 0000f441 00002042 00000000 00000000 00000000 ff000000"));
    EXPECT_EQ(eval("$d.set_grid(640, 360, -1)"), "");
    EXPECT_EQ(appended(), le("07000000 00002044 0000b443 ffffffff"));
}

TEST_F(DrawMethods, RectangleShapedCommandsShareOneLayout) {
    eval("$d.draw_border(1, 2, 3, 4, 5, 6, 7, 8)");
    EXPECT_EQ(appended(), join({ints({5}), words({1, 2, 3, 4}), ints({5, 6, 7, 8})}));
    eval("$d.draw_line(1.5, :x, '3', 4, 127.9, -0.5, 1e20, nil)");
    EXPECT_EQ(appended(), join({ints({4}), words({1.5f, 0, 0, 4}), ints({127, 0, 2147483647, 255})}));
    // Integers keep their low 32 bits.
    eval("$d.draw_solid(0, 0, 0, 0, 0x1_0000_0005, -1, 0, 0)");
    EXPECT_EQ(appended(), join({ints({1}), words({0, 0, 0, 0}), ints({5, -1, 0, 0})}));
}

TEST_F(DrawMethods, SpritesFillTheirDefaultsInStreamOrder) {
    const std::string tail = join({words({0, 0, -1, -1, 0, 0, -1, -1}), ints({0, 0}), words({0.5f, 0.5f})});
    eval("$d.draw_sprite(1, 2, 3, 4, 'a.png')");
    std::string plain = appended();
    EXPECT_EQ(plain, join({ints({2}), str("a.png"), words({1, 2, 3, 4, 0}), ints({255, 255, 255, 255}), tail}));

    // Everything but the rectangle and path nil: the same fields as draw_sprite.
    eval("$d.draw_sprite_3(1, 2, 3, 4, 'a.png', nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, "
         "nil, nil, nil)");
    EXPECT_EQ(appended(), plain);

    // Alpha comes before red in the call and after blue in the stream; the
    // source rectangle comes after the anchors in the call and before the flips.
    eval("$d.draw_sprite_3(1, 2, 3, 4, 'b', 45, 128, 10, 20, 30, 5, 6, 7, 8, true, 0, 0.25, 0.75, 11, 12, 13, 14)");
    EXPECT_EQ(appended(), join({ints({2}), str("b"), words({1, 2, 3, 4, 45}), ints({10, 20, 30, 128}),
                                words({5, 6, 7, 8, 11, 12, 13, 14}), ints({1, 1}), words({0.25f, 0.75f})}));
    eval("$d.draw_sprite_3(1, 2, 3, 4, 'b', nil, nil, nil, nil, nil, nil, nil, nil, nil, false, nil, nil, nil, nil, "
         "nil, nil, nil)");
    EXPECT_NE(appended().find(ints({0, 0})), std::string::npos);

    eval("$d.draw_sprite_2(1, 2, 3, 4, 'c', 90, 7)");
    EXPECT_EQ(appended(), join({ints({2}), str("c"), words({1, 2, 3, 4, 90}), ints({255, 255, 255, 7}), tail}));
    eval("$d.draw_sprite_2(1, 2, 3, 4, 'c', nil, nil)");
    EXPECT_EQ(appended(), join({ints({2}), str("c"), words({1, 2, 3, 4, 0}), ints({255, 255, 255, 255}), tail}));

    // A path with a NUL byte keeps all its bytes.
    eval("$d.draw_sprite(0, 0, 0, 0, \"a\\0b\")");
    std::string with_nul = appended();
    EXPECT_EQ(with_nul.substr(9, 17), ints({3, 0x00620061}));
}

TEST_F(DrawMethods, LabelsCarryTheFontAsAbsentOrAString) {
    eval("$d.draw_label(5, 6, 'hi', 2, 1, 10, 20, 30, 40, nil)");
    EXPECT_EQ(appended(), join({ints({3}), words({5, 6}), str("hi"), ints({-1}), words({2}), ints({1, 10, 20, 30, 40})}));
    eval("$d.draw_label(nil, nil, '', nil, nil, nil, nil, nil, nil, 'f.ttf')");
    EXPECT_EQ(appended(), join({ints({3}), words({0, 0}), str(""), str("f.ttf"), words({0}), ints({0, 0, 0, 0, 255})}));
}

TEST_F(DrawMethods, ScreenshotsPackTheirTenFieldsWithAlphaDefaultZero) {
    eval("$d.draw_screenshot('s.png', 1, 2, 3, 4, nil, nil, nil, nil, nil, 1, 1, 1, 1, true, true, 1, 1, 1, 1, 1, 1)");
    EXPECT_EQ(appended(), join({ints({6}), str("s.png"), words({1, 2, 3, 4}), ints({0, 0, 0, 0, 0})}));
    eval("$d.draw_screenshot('s.png', 1, 2, 3, 4, 5, 6, 7, 8, 9, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil)");
    EXPECT_EQ(appended(), join({ints({6}), str("s.png"), words({1, 2, 3, 4}), ints({5, 7, 8, 9, 6})}));
}

TEST_F(DrawMethods, OneShotCommandsTakeTheirArgumentsByTheirLetter) {
    eval("$d.unload_sprite('gone.png')");
    EXPECT_EQ(appended(), join({ints({10}), str("gone.png")}));
    eval("$d.openurl('http://x')");
    EXPECT_EQ(appended(), join({ints({14}), str("http://x")}));
    eval("$d.toggle_cursor(0); $d.toggle_cursor(nil); $d.toggle_cursor(false); $d.toggle_fullscreen(:yes)");
    EXPECT_EQ(appended(), ints({11, 1, 11, 0, 11, 0, 12, 1}));
    eval("$d.set_grid(1.9, 2, 3.9)");
    EXPECT_EQ(appended(), join({ints({7}), words({1.9f, 2}), ints({3})}));
}

TEST_F(DrawMethods, PixelArraysPackExactlyWidthTimesHeightPixels) {
    eval("$d.upload_pixel_array('px', 2, 2, [1, 2, 3, 0xFFFFFFFF, 5, 6])");
    EXPECT_EQ(appended(), join({ints({13}), str("px"), ints({2, 2, 16, 1, 2, 3, -1, 0})}));
    // Too few pixels, sizes below 1, and sizes whose 32-bit byte count wraps
    // append nothing at all.
    uint64_t before = current_frame_stream->write_pos;
    EXPECT_EQ(eval("$d.upload_pixel_array('px', 2, 2, [1, 2, 3])"), "");
    EXPECT_EQ(eval("$d.upload_pixel_array('px', -2, -2, [1, 2, 3, 4])"), "");
    EXPECT_EQ(eval("$d.upload_pixel_array('px', 0, 5, [])"), "");
    EXPECT_EQ(eval("$d.upload_pixel_array('px', 32768, 32768, [1])"), "");
    EXPECT_EQ(current_frame_stream->write_pos, before);
    EXPECT_EQ(current_frame_stream->error, 0);
}

TEST_F(DrawMethods, WrongKindsAndCountsRaiseBeforeAnythingIsAppended) {
    uint64_t before = current_frame_stream->write_pos;
    EXPECT_EQ(eval("$d.draw_sprite(1, 2, 3, 4, nil)"), "TypeError");
    EXPECT_EQ(eval("$d.draw_sprite(1, 2, 3, 4, :sym)"), "TypeError");
    EXPECT_EQ(eval("$d.draw_label(1, 2, nil, 0, 0, 0, 0, 0, 0, nil)"), "TypeError");
    EXPECT_EQ(eval("$d.set_grid(nil, 0, 1)"), "TypeError");
    EXPECT_EQ(eval("$d.unload_sprite(\"a\\0b\")"), "ArgumentError");
    EXPECT_EQ(eval("$d.upload_pixel_array('px', 1, 1, nil)"), "TypeError");
    EXPECT_EQ(eval("$d.draw_solid(1, 2, 3)"), "ArgumentError");
    EXPECT_EQ(eval("$d.toggle_cursor"), "ArgumentError");
    EXPECT_EQ(eval("$d.draw_sprite_3(1, 2, 3, 4, 'a')"), "ArgumentError");
    EXPECT_EQ(current_frame_stream->write_pos, before);
}

TEST_F(DrawMethods, BetweenFramesEveryMethodAnswersNilAndWritesNothing) {
    threadstream *kept = current_frame_stream;
    current_frame_stream = nullptr;
    mrb_value result = mrb_load_string(mrb,
        "[$d.draw_solid(1,2,3,4,5,6,7,8), $d.draw_sprite(1,2,3,4,'a'), $d.draw_sprite_2(1,2,3,4,'a',0,0),"
        " $d.draw_sprite_3(1,2,3,4,'a',0,0,0,0,0,0,0,0,0,true,true,0,0,0,0,0,0), $d.draw_label(1,2,'t',0,0,0,0,0,0,nil),"
        " $d.draw_line(1,2,3,4,5,6,7,8), $d.draw_border(1,2,3,4,5,6,7,8),"
        " $d.draw_screenshot('s',1,2,3,4,0,0,0,0,0,0,0,0,0,true,true,0,0,0,0,0,0), $d.set_grid(1,2,3),"
        " $d.unload_sprite('a'), $d.toggle_cursor(true), $d.toggle_fullscreen(true),"
        " $d.upload_pixel_array('a', 1, 1, [1]), $d.openurl('u')].all?(&:nil?) && $d.draw_solid(0,0,0,0,0,0,0,0).nil?");
    EXPECT_FALSE(mrb->exc);
    EXPECT_TRUE(mrb_true_p(result));
    current_frame_stream = kept;
    EXPECT_EQ(kept->write_pos, 0u);
}

// calcstringbox on a real render context: measuring from Ruby.
class CalcStringBox : public RenderTest {};

TEST_F(CalcStringBox, AnswersTwoFloatsFromTheNamedOrDefaultFont) {
    mrb_state *mrb = mrb_open();
    RClass *misc = mrb_define_class_under(mrb, mrb_define_module(mrb, "FFI"), "Misc", mrb->object_class);
    mrb_define_method(mrb, misc, "calcstringbox", ffi_misc_calcstringbox, MRB_ARGS_REQ(3));
    render_context *saved = the_render_context;
    the_render_context = context;
    mrb_value box = mrb_load_string(mrb, "FFI::Misc.new.calcstringbox('Hello', 40, 'missing.ttf')");
    ASSERT_FALSE(mrb->exc);
    ASSERT_TRUE(mrb_array_p(box));
    ASSERT_EQ(RARRAY_LEN(box), 2);
    float w = 0, h = 0;
    measure_text(context, "Hello", 40, nullptr, &w, &h);
    EXPECT_TRUE(mrb_float_p(mrb_ary_ref(mrb, box, 0)));
    EXPECT_EQ(mrb_float(mrb_ary_ref(mrb, box, 0)), (double)w);
    EXPECT_EQ(mrb_float(mrb_ary_ref(mrb, box, 1)), (double)h);
    mrb_load_string(mrb, "FFI::Misc.new.calcstringbox('x', 'big', 'font.ttf')");
    EXPECT_TRUE(mrb->exc);
    the_render_context = saved;
    mrb_close(mrb);
}

} // namespace
