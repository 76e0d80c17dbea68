// The FFI module seen from Ruby: its classes, CPtr ownership, Array#value and
// the file methods over a virtual file system with separate game and base
// directories.
#include "bridge/ffi.h"
#include "host/fileio.h"
#include "host/host_call.h"
#include "tests/common/ruby_eval.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <lodepng.h>
#include <physfs.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FfiTest : public VfsTest {
protected:
    std::string game, base;
    game_state state{};
    mrb_state *mrb = nullptr;

    // The game directory is searched before the base directory.
    void SetUp() override {
        VfsTest::SetUp();
        game = dir + "/game", base = dir + "/base";
        fs::create_directories(game);
        fs::create_directories(base);
        ASSERT_TRUE(PHYSFS_mount(base.c_str(), nullptr, 0) && PHYSFS_mount(game.c_str(), nullptr, 0));
        state.mrb = mrb = mrb_open();
        state.game_dir = SDL_strdup(game.c_str());
        state.base_dir = SDL_strdup(base.c_str());
        ffi_init(&state, nullptr);
    }
    void TearDown() override {
        mrb_close(mrb);
        SDL_free(state.game_dir);
        SDL_free(state.base_dir);
        VfsTest::TearDown();
    }

    std::string ruby(const std::string &source) { return ruby_eval(mrb, source); }
};

TEST_F(FfiTest, TheModuleHoldsPlainClassesCPtrsAndArrayValue) {
    EXPECT_EQ(ruby("[FFI::File, FFI::Misc, FFI::MRB, FFI::CPtr, FFI::Compiler].map(&:superclass).uniq"), "[Object]");
    EXPECT_EQ(ruby("FFI::File.instance_methods(false).sort"),
              "[:append, :append_root, :get_base_dir, :get_game_dir, :load_image, :mtime, :path_exists, :read, "
              ":write, :write_root]");
    // Array#value counts from the end and answers nil outside.
    EXPECT_EQ(ruby("a = [1, 2, 3]; [a.value(0), a.value(-1), a.value(3), a.value(-4), [].value(0), a.value(1.9)]"),
              "[1, 3, nil, nil, nil, 2]");
    EXPECT_EQ(ruby("[1].value('0')"), "raised TypeError");
    // A CPtr never frees what it wraps (a record on the stack: freeing it
    // would be caught by the sanitizer).
    EXPECT_EQ(ffi_cptr_get(mrb, mrb_load_string(mrb, "FFI::CPtr.new")), nullptr);
    char record[16] = "still here";
    int arena = mrb_gc_arena_save(mrb);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(ffi_cptr_get(mrb, ffi_cptr_new(mrb, record)), record);
    mrb_gc_arena_restore(mrb, arena);
    ruby("GC.start");
    EXPECT_STREQ(record, "still here");
    EXPECT_EQ(ffi_cptr_get(mrb, mrb_load_string(mrb, "'not a pointer'")), nullptr);
}

TEST_F(FfiTest, EachWriterLandsByteForByteInItsOwnDirectory) {
    EXPECT_EQ(ruby("f = FFI::File.new; [f.write('d1/d2/f.bin', \"a\\0b\"), f.read('d1/d2/f.bin').bytes, "
                   "f.append('log.txt', 'a'), f.append('log.txt', 'b'), f.write_root('logs/r.txt', 'root'), "
                   "f.append_root('logs/r.txt', '!'), f.write('g.txt', 'game')]"),
              "[true, [97, 0, 98], true, true, true, true, true]");
    EXPECT_EQ(get("game/d1/d2/f.bin") + get("game/log.txt") + get("base/logs/r.txt") + get("game/g.txt"),
              std::string("a\0babroot!game", 14));
    // The base directory was selected last, yet the game write went home.
    EXPECT_FALSE(fs::exists(base + "/d1") || fs::exists(base + "/g.txt"));
    // Unsafe or failed writes answer false (or raise for wrong kinds) and write nothing.
    EXPECT_EQ(ruby("f = FFI::File.new; [f.write('../x', 'y'), f.write_root('a/../../x', 'y')]"), "[false, false]");
    for (const char *call : {"FFI::File.new.write(:sym, 'x')", "FFI::File.new.append_root(nil, 'x')"})
        EXPECT_EQ(ruby(call), "raised TypeError") << call;
    EXPECT_EQ(ruby("FFI::File.new.write(\"n\\0ul.txt\", 'x')"), "raised ArgumentError");
    for (const char *p : {"/x", "/game/sym", "/game/n"}) EXPECT_FALSE(fs::exists(dir + p)) << p;
}

// The screenshot writer selects its own directory from the main thread while
// Ruby writes from the simulation thread; neither may land in the other's.
TEST_F(FfiTest, RubyWritesStayInTheirDirectoryWhileAnotherThreadWrites) {
    std::string shots = dir + "/shots";
    fs::create_directories(shots);
    std::thread other([&] {
        for (int i = 0; i < 200; ++i) {
            std::string name = "s" + std::to_string(i) + ".png";
            (i & 1 ? appendfile_write_override : storefile_write_override)(shots.c_str(), name.c_str(), "p", 1);
        }
    });
    EXPECT_EQ(ruby("f = FFI::File.new; (0...200).map { |i| f.write(\"g#{i}.txt\", 'g') }.uniq"), "[true]");
    other.join();
    int misplaced = 0;
    for (int i = 0; i < 200; ++i) {
        std::string g = "/g" + std::to_string(i) + ".txt", s = "/s" + std::to_string(i) + ".png";
        misplaced += !fs::exists(game + g) + fs::exists(shots + g) + !fs::exists(shots + s) + fs::exists(game + s);
    }
    EXPECT_EQ(misplaced, 0);
}

TEST_F(FfiTest, QueriesSearchEveryMountAndImagesLoadAsLittleEndianNumbers) {
    std::ofstream(base + "/in_base.txt") << "b";
    fs::create_directories(game + "/folder");
    EXPECT_EQ(ruby("f = FFI::File.new; [f.mtime('nope'), f.path_exists('nope'), f.read('nope'), "
                   "f.path_exists('in_base.txt'), f.path_exists('folder'), "
                   "(f.mtime('in_base.txt') - " + std::to_string(time(nullptr)) + ").abs < 60]"),
              "[-1, false, nil, true, true, true]");
    // Opaque red then opaque blue, one row.
    ASSERT_EQ(lodepng::encode(game + "/two.png", {255, 0, 0, 255, 0, 0, 255, 255}, 2, 1), 0u);
    std::ofstream(game + "/broken.png") << "not an image";
    EXPECT_EQ(ruby("f = FFI::File.new; [f.load_image('two.png'), f.load_image('broken.png'), f.load_image('missing.png')]"),
              "[[[4278190335, 4294901760], 2, 1], nil, nil]");
}

TEST_F(FfiTest, EvalRunsAtTheTopLevelAndRaisesInTheCaller) {
    EXPECT_EQ(ruby("m = FFI::MRB.new; m.eval('@x = 5'); m.eval('def evald; 7; end'); "
                   "[@x, evald, (begin; m.eval(\"raise 'boom'\"); rescue => e; e.message; end)]"),
              "[5, 7, \"boom\"]");
    EXPECT_EQ(ruby("FFI::MRB.new.eval('1 +')"), "raised SyntaxError");
    // A block made by evaluated code outlives the call that made it.
    EXPECT_EQ(ruby("FFI::MRB.new.eval('@b = [1, 2].map { |v| v }.last'); GC.start; @b"), "2");
}

} // namespace
