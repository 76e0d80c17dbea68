// The sprite and label walks' native fast path must write exactly what the
// general Ruby path writes, and must step aside whenever the general path
// could do something else (fallback keys, defaults, redefined readers,
// draw_override).
#include "host/engine.h"
#include "render/draw_methods.h"
#include "render_support.h"
#include "tests/common/ruby_eval.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// draw_general goes sprite by sprite through the attribute readers;
// draw_walk is the runtime's walk, fast path included; fast_index answers
// where the fast path stopped.
const char WALKER[] = R"RUBY(
class FastPathBunny
  attr_sprite
  def initialize(x, y, path = "sprites/b.png") = (@x, @y, @w, @h, @path = x, y, 32, 32, path)
end
$walker = Object.new
$walker.extend(QMX::Runtime::Draw)
$walker.instance_variable_set(:@ffi_draw, $d = FFI::Draw.new)
def draw_general(list, kind = :sprite) = $walker.send(:draw_collection, list, :"draw_#{kind}")
def draw_walk(list, kind = :sprite)
  $walker.instance_variable_set(:@sprite_fast_path, $d.__sprite_fast_path_check__)
  $walker.send(:"draw_#{kind}_collection", list)
end
def fast_index(list, kind = :sprite) = $d.__sprite_fast_path_check__ && $d.send(:"__draw_#{kind}s__", list, 0)
)RUBY";

class SpriteFastPath : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;

    void SetUp() override {
        ASSERT_TRUE(threadstream_init());
        the_game_state.mrb = mrb = mrb_open();
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        draw_methods_define(mrb, mrb_class_get_under(mrb, mrb_module_get(mrb, "FFI"), "Draw"));
        current_frame_stream = threadstream_allocate();
        ASSERT_EQ(run(std::string(WALKER) + "; 0"), "0");
    }
    void TearDown() override {
        threadstream_free(current_frame_stream);
        current_frame_stream = nullptr;
        mrb_close(mrb);
        the_game_state.mrb = nullptr;
        threadstream_quit();
    }
    std::string run(const std::string &code) { return ruby_eval(mrb, code); }
    // The bytes a piece of Ruby appends to the frame stream.
    std::string bytes_of(const std::string &code) {
        threadstream *s = current_frame_stream;
        s->write_pos = 0;
        std::memset(s->buffer, 0, s->capacity);
        run(code);
        return std::string((const char *)s->buffer, s->write_pos);
    }
    // The same list drawn by the walk and by the general path.
    void expect_same_bytes(const std::string &list, bool draws = true, const std::string &kind = ":sprite") {
        std::string walk = bytes_of("draw_walk(" + list + ", " + kind + ")"),
                    general = bytes_of("draw_general(" + list + ", " + kind + ")");
        EXPECT_EQ(!general.empty(), draws) << list;
        EXPECT_EQ(walk, general) << list;
    }
};

TEST_F(SpriteFastPath, WritesWhatTheGeneralPathWritesForPlainShapes) {
    expect_same_bytes("[{ x: 1, y: 2.5, w: 32, h: 32, path: 'sprites/b.png' }]");
    expect_same_bytes("[{ x: 1, y: 2, w: 3, h: 4, path: 'p.png', angle: 45.5, a: 128, r: 10, g: 20, b: 30,"
                      "  tile_x: 1, tile_y: 2, tile_w: 3, tile_h: 4, flip_horizontally: true,"
                      "  flip_vertically: false, angle_anchor_x: 0.25, angle_anchor_y: 1,"
                      "  source_x: 5, source_y: 6, source_w: 7, source_h: 8, dx: 3, id: :me }]");
    // Values of other kinds take the drawer's defaults either way.
    expect_same_bytes("[{ x: 'a', y: nil, w: :w, h: 1e20, path: nil, r: -0.5, a: 127.9 }]");
    expect_same_bytes("[FastPathBunny.new(1, 2), nil, FastPathBunny.new(3.5, -4, nil), false]");
    expect_same_bytes("begin; b = FastPathBunny.new(1, 2); b.r = 5; b.flip_vertically = true; b.source_w = 9; [b]; end");
    // draw_override and order survive a mixed list.
    run("class Custom; def draw_override(d) = d.draw_solid(1, 2, 3, 4, 5, 6, 7, 8); end");
    expect_same_bytes("[{ x: 1, path: 'a' }, Custom.new, { x: 2, path: 'b' }, nil, FastPathBunny.new(3, 4)]");
}

TEST_F(SpriteFastPath, StepsAsideForShapesOnlyTheReadersUnderstandAndWhenReadersAreRedefined) {
    const struct { std::string list, index; bool draws = true; } cases[] = {
        {"[{ x: 1, path: 'p' }, { rect: [1, 2, 3, 4], path: 'p' }]", "1"},
        {"[{ x: 1, path: 'p', rgb: [1, 2, 3] }]", "0"},
        {"h = Hash.new(7); h[:path] = 'p'; [h]", "0"},
        {"[{ x: 1, path: :sym }]", "0"},
        {"[{ x: 1, path: 'p', flip_horizontally: 1 }]", "0"},
        {"class MyHash < Hash; end; h = MyHash.new; h[:path] = 'p'; [{ path: 'p' }, h]", "1"},
        {"h = { path: 'p' }; def h.x; 99; end; [h]", "0"},
        {"class LoudBunny < FastPathBunny; def x = 7; end; [FastPathBunny.new(1, 2), LoudBunny.new(1, 2)]", "1"},
        {"b = FastPathBunny.new(1, 2); def b.draw_override(d); end; [b]", "0", false},
        {"[{ path: 'p' }, [1, 2, 3, 4, 'p'].sprite]", "1"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run("fast_index(begin; " + c.list + "; end)"), c.index) << c.list;
        expect_same_bytes("begin; " + c.list + "; end", c.draws);
    }
    // Redefined readers turn it off for everyone.
    for (auto [list, redefine] : {std::pair{"[{ x: 1, y: 2, w: 3, h: 4, path: 'p' }]", "class Hash; def w = 64; end"},
                                  std::pair{"[FastPathBunny.new(1, 2)]", "module AttrSprite; def path = 'o.png'; end"}}) {
        EXPECT_EQ(run(std::string("fast_index(") + list + ")"), "1");
        EXPECT_EQ(run(std::string(redefine) + "; fast_index(" + list + ")"), "0") << redefine;
        expect_same_bytes(list);
    }
}

TEST_F(SpriteFastPath, LabelsWriteWhatTheGeneralPathWritesOrStepAside) {
    const struct { std::string list, index; } cases[] = {
        {"[{ x: 1, y: 2.5, text: 'hi' }, nil, { text: 'b', size_enum: -2.5, alignment_enum: 1, r: 1, g: 2, b: 3,"
         "  a: 4.5, font: 'f.ttf', id: 7 }]", "3"},
        // Other kinds of values take the drawer's defaults either way.
        {"[{ x: 'a', y: nil, text: nil, size_enum: :big, r: 1e12, a: -1 }, { text: false, font: false }]", "2"},
        {"[{ text: 'a' }, { text: 'b', rgb: [1, 2, 3] }]", "1"},
        {"[{ text: 'a', point: [1, 2] }]", "0"},
        {"[{ text: 42 }]", "0"},
        {"[{ text: 'a', font: :f }]", "0"},
        {"h = Hash.new(3); h[:text] = 'a'; [h]", "0"},
        {"class MyLabel < Hash; end; h = MyLabel.new; h[:text] = 'a'; [{ text: 'b' }, h]", "1"},
        {"h = { text: 'a' }; def h.y = 9; [h]", "0"},
        {"[{ text: 'a' }, [1, 2, 'c'].label]", "1"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run("fast_index(begin; " + c.list + "; end, :label)"), c.index) << c.list;
        expect_same_bytes("begin; " + c.list + "; end", true, ":label");
    }
    run("class Hash; def text = 'moved'; end");
    EXPECT_EQ(run("fast_index([{ text: 'a' }], :label)"), "0");
    expect_same_bytes("[{ text: 'a' }]", true, ":label");
}

// The simulation thread's side of a steady frame: once the frame stream has
// grown, walking the same primitives again allocates nothing natively.
TEST_F(SpriteFastPath, SteadyWalksAllocateNothing) {
    run("$labels = Array.new(300) { |i| { x: i, y: i, text: \"label #{i}\", r: 9 } }; "
        "$sprites = Array.new(300) { |i| i.even? ? { x: i, path: 'p.png' } : FastPathBunny.new(i, i) }; 0");
    auto frames = [&](int count) {
        for (int i = 0; i < count; ++i) {
            current_frame_stream->write_pos = 0;
            run("draw_walk($labels, :label); draw_walk($sprites); 0");
        }
    };
    frames(2);
    uint64_t written = current_frame_stream->write_pos;
    EXPECT_EQ(render_support::sdl_allocations_during([&] { frames(3); }), 0);
    EXPECT_GT(written, 600u * 40u);
}

// Pushing a list into an output collection notes the ids of its primitives:
// natively for lists of plain Hashes or of attr_sprite objects, exactly as
// the collection's Ruby steps would, which keep every other list.
TEST_F(SpriteFastPath, PushedListsNoteTheIdsTheRubyStepsWould) {
    run(R"RUBY(
      def pushed(list, native)
        c = QMX::Outputs.new(width: 1280, height: 720).sprites
        def c.__settled_list_noted__(*) = false unless native
        c << list
        [c.map(&:object_id), c.outputs_with_ids.map { |k, v| [k, v.object_id] }].inspect
      end
      def noted(list) = QMX::Outputs.new(width: 1280, height: 720).sprites.__settled_list_noted__(list, {})
      def with_id(o, id) = (o.id = id; o)
      0
    )RUBY");
    const struct { std::string list; bool native; } cases[] = {
        {"[{ id: :a, x: 1 }, { x: 2 }, { id: :a, x: 3 }, { id: 'b', path: 'p' }, { id: false }]", true},
        {"[with_id(FastPathBunny.new(1, 2), :a), FastPathBunny.new(3, 4), with_id(FastPathBunny.new(5, 6), :a)]", true},
        {"h = Hash.new(:dflt); h[:x] = 1; [{ id: :a }, h]", false},
        {"class IdHash < Hash; end; h = IdHash.new; h[:id] = :b; [{ id: :a }, h]", false},
        {"class OwnId < FastPathBunny; def id = :own; end; [FastPathBunny.new(1, 2), OwnId.new(3, 4)]", false},
        {"[{ id: :a }, with_id(FastPathBunny.new(1, 2), :b)]", false},
        {"[with_id(FastPathBunny.new(1, 2), :b), { id: :a }]", false},
        {"[{ id: :a }, nil]", false},
        {"[]", false},
    };
    for (const auto &c : cases) {
        std::string list = "begin; " + c.list + "; end";
        EXPECT_EQ(run("noted(" + list + ")"), c.native ? "true" : "false") << c.list;
        EXPECT_EQ(run("l = " + list + "; pushed(l, true) == pushed(l, false)"), "true") << c.list;
    }
    run("class Hash; def id = self[:x]; end");
    EXPECT_EQ(run("noted([{ id: :a, x: :b }])"), "false");
    EXPECT_EQ(run("l = [{ id: :a, x: :b }]; pushed(l, true) == pushed(l, false)"), "true");
}

// An interpreter without the framework, made after one with it, gets its
// drawer without inheriting anything the first one recorded.
TEST_F(SpriteFastPath, ABareInterpreterAfterAFrameworkOneDefinesItsDrawerCleanly) {
    mrb_state *bare = mrb_open();
    draw_methods_define(bare, mrb_define_class_under(bare, mrb_define_module(bare, "FFI"), "Draw", bare->object_class));
    EXPECT_EQ(bare->exc, nullptr);
    mrb_close(bare);
}

} // namespace
