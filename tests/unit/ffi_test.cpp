// The FFI module seen from Ruby: its classes, CPtr ownership, Array#value and
// the file methods over a virtual file system with separate game and base
// directories.
#include "bridge/ffi.h"
#include "host/fileio.h"
#include "host/host_call.h"

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

class FfiTest : public ::testing::Test {
protected:
    std::string root, game, base;
    game_state state{};
    mrb_state *mrb = nullptr;

    void SetUp() override {
        char pattern[] = "/tmp/vellum-ffi-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        game = root + "/game";
        base = root + "/base";
        fs::create_directories(game);
        fs::create_directories(base);
        ASSERT_TRUE(PHYSFS_init(nullptr));
        ASSERT_TRUE(PHYSFS_mount(base.c_str(), nullptr, 0));
        ASSERT_TRUE(PHYSFS_mount(game.c_str(), nullptr, 0));
        ASSERT_TRUE(PHYSFS_setWriteDir(base.c_str()));
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        state.mrb = mrb;
        state.game_dir = SDL_strdup(game.c_str());
        state.base_dir = SDL_strdup(base.c_str());
        ffi_init(&state, nullptr);
    }

    void TearDown() override {
        mrb_close(mrb);
        SDL_free(state.game_dir);
        SDL_free(state.base_dir);
        PHYSFS_deinit();
        fs::remove_all(root);
    }

    // Runs Ruby source; a raised exception fails the test and answers nil.
    mrb_value eval(const std::string &source) {
        mrb_value result = mrb_load_nstring(mrb, source.data(), source.size());
        if (mrb->exc) {
            char *text = host_exception_text(mrb, mrb_obj_value(mrb->exc));
            ADD_FAILURE() << source << "\nraised " << (text ? text : "?");
            SDL_free(text);
            mrb->exc = nullptr;
            return mrb_nil_value();
        }
        return result;
    }

    std::string eval_inspect(const std::string &source) {
        mrb_value value = eval(source);
        mrb_value text = mrb_inspect(mrb, value);
        return std::string(RSTRING_PTR(text), RSTRING_LEN(text));
    }

    // The class name of the exception the source raises, or "" when none.
    std::string raised_by(const std::string &source) {
        mrb_load_nstring(mrb, source.data(), source.size());
        if (!mrb->exc) return "";
        std::string name = mrb_obj_classname(mrb, mrb_obj_value(mrb->exc));
        mrb->exc = nullptr;
        return name;
    }

    static std::string bytes_of(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(FfiTest, TheModuleHoldsPlainClassesWithTheFileMethods) {
    EXPECT_EQ(eval_inspect("[FFI::File, FFI::Misc, FFI::MRB, FFI::CPtr, FFI::Compiler].map(&:superclass).uniq"),
              "[Object]");
    EXPECT_EQ(eval_inspect("FFI::File.instance_methods(false).sort"),
              "[:append, :append_root, :get_base_dir, :get_game_dir, :load_image, :mtime, :path_exists, :read, "
              ":write, :write_root]");
    EXPECT_EQ(mrb_class_ptr(eval("FFI::File")), state.ffi_file_class);
    EXPECT_EQ(mrb_class_ptr(eval("FFI")), state.ffi_module);
}

TEST_F(FfiTest, ArrayValueCountsFromTheEndAndAnswersNilOutside) {
    EXPECT_EQ(eval_inspect("a = [1, 2, 3]; [a.value(0), a.value(-1), a.value(3), a.value(-4), [].value(0), a]"),
              "[1, 3, nil, nil, nil, [1, 2, 3]]");
    EXPECT_EQ(eval_inspect("[1, 2, 3].value(1.9)"), "2");
    EXPECT_EQ(raised_by("[1].value('0')"), "TypeError");
}

struct canary {
    char bytes[16] = "still here";
};

TEST_F(FfiTest, ACPtrNeverFreesWhatItWraps) {
    EXPECT_EQ(eval_inspect("c = FFI::CPtr.new; [c.class, c.equal?(c.send(:initialize))]"), "[FFI::CPtr, true]");
    EXPECT_EQ(ffi_cptr_get(mrb, eval("FFI::CPtr.new")), nullptr);

    // A record on the stack: freeing it would be caught by the sanitizer.
    canary record;
    int arena = mrb_gc_arena_save(mrb);
    for (int i = 0; i < 50; ++i) {
        mrb_value wrapped = ffi_cptr_new(mrb, &record);
        ASSERT_EQ(ffi_cptr_get(mrb, wrapped), &record);
    }
    mrb_gc_arena_restore(mrb, arena);
    eval("GC.start");
    EXPECT_STREQ(record.bytes, "still here");
    EXPECT_EQ(ffi_cptr_get(mrb, eval("'not a pointer'")), nullptr);
}

TEST_F(FfiTest, WritesLandInTheGameDirectoryByteForByte) {
    EXPECT_EQ(eval_inspect("FFI::File.new.write('d1/d2/f.bin', \"a\\0b\")"), "true");
    EXPECT_EQ(bytes_of(game + "/d1/d2/f.bin"), std::string("a\0b", 3));
    EXPECT_FALSE(fs::exists(base + "/d1"));
    EXPECT_EQ(eval_inspect("s = FFI::File.new.read('d1/d2/f.bin'); [s.bytesize, s.bytes]"), "[3, [97, 0, 98]]");

    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.append('log.txt', 'a'), f.append('log.txt', 'b')]"),
              "[true, true]");
    EXPECT_EQ(bytes_of(game + "/log.txt"), "ab");
    EXPECT_EQ(eval_inspect("FFI::File.new.write('empty.txt', '')"), "true");
    EXPECT_TRUE(fs::is_regular_file(game + "/empty.txt"));
    EXPECT_EQ(fs::file_size(game + "/empty.txt"), 0u);
    EXPECT_EQ(eval_inspect("FFI::File.new.read('empty.txt')"), "\"\"");
}

TEST_F(FfiTest, EachWriterSelectsItsOwnDirectory) {
    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.write_root('logs/r.txt', 'root'), f.append_root('logs/r.txt', '!')]"),
              "[true, true]");
    EXPECT_EQ(bytes_of(base + "/logs/r.txt"), "root!");
    EXPECT_STREQ(PHYSFS_getWriteDir(), base.c_str());
    // The base directory stays selected, yet the next game write goes home.
    EXPECT_EQ(eval_inspect("FFI::File.new.write('g.txt', 'game')"), "true");
    EXPECT_EQ(bytes_of(game + "/g.txt"), "game");
    EXPECT_FALSE(fs::exists(base + "/g.txt"));
    EXPECT_STREQ(PHYSFS_getWriteDir(), game.c_str());
    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.get_game_dir, f.get_base_dir]"),
              "[\"" + game + "\", \"" + base + "\"]");
}

// The screenshot writer selects its own directory from the main thread while
// Ruby writes from the simulation thread; neither may land in the other's.
TEST_F(FfiTest, RubyWritesStayInTheirDirectoryWhileAnotherThreadWrites) {
    std::string shots = root + "/shots";
    fs::create_directories(shots);
    std::thread other([&] {
        for (int i = 0; i < 200; ++i)
            storefile_write_override(shots.c_str(), ("s" + std::to_string(i) + ".png").c_str(), "p", 1);
    });
    EXPECT_EQ(eval_inspect("f = FFI::File.new; (0...200).map { |i| f.write(\"g#{i}.txt\", 'g') }.uniq"), "[true]");
    other.join();
    int misplaced = 0;
    for (int i = 0; i < 200; ++i) {
        if (!fs::exists(game + "/g" + std::to_string(i) + ".txt")) ++misplaced;
        if (!fs::exists(shots + "/s" + std::to_string(i) + ".png")) ++misplaced;
    }
    EXPECT_EQ(misplaced, 0);
    EXPECT_FALSE(fs::exists(shots + "/g0.txt"));
    EXPECT_FALSE(fs::exists(game + "/s0.png"));
}

TEST_F(FfiTest, UnsafeOrFailedWritesAnswerFalseAndWriteNothing) {
    EXPECT_EQ(eval_inspect("FFI::File.new.write('../x', 'y')"), "false");
    EXPECT_EQ(eval_inspect("FFI::File.new.write_root('a/../../x', 'y')"), "false");
    EXPECT_FALSE(fs::exists(root + "/x"));
    // A file where a folder is needed.
    eval("FFI::File.new.write('plain', 'x')");
    EXPECT_EQ(eval_inspect("FFI::File.new.write('plain/inner.txt', 'x')"), "false");

    EXPECT_EQ(raised_by("FFI::File.new.write(:sym, 'x')"), "TypeError");
    EXPECT_EQ(raised_by("FFI::File.new.write('t.txt', 5)"), "TypeError");
    EXPECT_EQ(raised_by("FFI::File.new.append_root(nil, 'x')"), "TypeError");
    EXPECT_EQ(raised_by("FFI::File.new.write(\"n\\0ul.txt\", 'x')"), "ArgumentError");
    EXPECT_FALSE(fs::exists(game + "/t.txt"));
    EXPECT_FALSE(fs::exists(game + "/sym"));
}

TEST_F(FfiTest, QueriesSearchEveryMount) {
    std::ofstream(base + "/in_base.txt") << "b";
    fs::create_directories(game + "/folder");
    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.mtime('nope'), f.path_exists('nope'), f.read('nope')]"),
              "[-1, false, nil]");
    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.path_exists('in_base.txt'), f.path_exists('folder')]"),
              "[true, true]");
    mrb_value mtime = eval("FFI::File.new.mtime('in_base.txt')");
    ASSERT_TRUE(mrb_integer_p(mtime));
    EXPECT_NEAR((double)mrb_integer(mtime), (double)time(nullptr), 60.0);
}

TEST_F(FfiTest, LoadImageAnswersPixelsAsLittleEndianNumbers) {
    // Opaque red then opaque blue, one row.
    std::vector<unsigned char> rgba = {255, 0, 0, 255, 0, 0, 255, 255};
    ASSERT_EQ(lodepng::encode(game + "/two.png", rgba, 2, 1), 0u);
    EXPECT_EQ(eval_inspect("FFI::File.new.load_image('two.png')"), "[[4278190335, 4294901760], 2, 1]");
    std::ofstream(game + "/broken.png") << "not an image";
    EXPECT_EQ(eval_inspect("f = FFI::File.new; [f.load_image('broken.png'), f.load_image('missing.png')]"),
              "[nil, nil]");
}

} // namespace
