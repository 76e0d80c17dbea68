// The FFI module seen from Ruby: its classes, CPtr ownership, Array#value and
// the file methods over a virtual file system with separate game and base
// directories.
#include "bridge/ffi.h"
#include "bridge/local_address.h"
#include "bridge/native_ext.h"
#include "render/render_context.h"
#include "host/fileio.h"
#include "host/host_call.h"
#include "tests/common/ruby_eval.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <gtest/gtest.h>
#include <lodepng.h>
#include <physfs.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <atomic>
#include <cstring>
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

TEST_F(FfiTest, CPtrsArrayValueAndEachWriterLandingByteForByteInItsOwnDirectory) {
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
    // Each writer lands byte for byte in its own directory.
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

TEST_F(FfiTest, QueriesImagesAndEval) {
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
    // Eval runs at the top level and raises in the caller.
    EXPECT_EQ(ruby("m = FFI::MRB.new; m.eval('@x = 5'); m.eval('def evald; 7; end'); "
                   "[@x, evald, (begin; m.eval(\"raise 'boom'\"); rescue => e; e.message; end)]"),
              "[5, 7, \"boom\"]");
    EXPECT_EQ(ruby("FFI::MRB.new.eval('1 +')"), "raised SyntaxError");
    // A block made by evaluated code outlives the call that made it.
    EXPECT_EQ(ruby("FFI::MRB.new.eval('@b = [1, 2].map { |v| v }.last'); GC.start; @b"), "2");
}

} // namespace

namespace {

// Trees in brief: an element as [name, attributes (when any), children...],
// text as its String, an instruction as "?target data".
const char *BRIEF = "def brief(n) = n[:type] == :content ? n[:data] : n[:type] == :pi ? \"?#{n[:name]} #{n[:data]}\" : "
                    "[n[:name], n[:attributes], *n[:children].map { |c| brief(c) }].compact; ";

std::string nested(const std::string &open, const std::string &close, int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
}

} // namespace

// Each document reaches Ruby as $doc, unquoted.
TEST_F(FfiTest, XmlAndJsonBecomeRubyValuesAndAnyFaultAnswersNil) {
    EXPECT_EQ(ruby("FFI::Misc.new.parse_xml(\"<a x='1'>hi</a>\", true)"),
              "{:type=>:element, :name=>nil, :children=>[{:type=>:element, :name=>\"a\", :children=>[{:type=>:content, "
              ":data=>\"hi\"}], :attributes=>{\"x\"=>\"1\"}}]}");
    std::string laughs = "<!DOCTYPE l [<!ENTITY l0 'ha'>";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " '" + nested("", "&l" + std::to_string(i - 1) + ";", 10) + "'>";
    const char *spaced = "<a x='' y=\"2\">\n  <b/>\n</a><?empty?>";
    const struct { std::string xml; bool strip; const char *brief; } cases[] = {
        {"<?xml version='1.0'?><!DOCTYPE a [<!ENTITY e 'mid'>]><?go now?>"
         "<a>x<b/>y &amp; &e;<!-- c --><![CDATA[<z>]]></a>",
         true, "[\"?go now\", [\"a\", \"x\", [\"b\"], \"y & mid<z>\"]]"},
        {spaced, false, "[[\"a\", {\"y\"=>\"2\"}, \"\\n  \", [\"b\"], \"\\n\"]]"},
        {spaced, true, "[[\"a\", {\"y\"=>\"2\"}, [\"b\"]]]"},
        // Nothing outside the document is read.
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>&e;</a>", true, "[[\"a\"]]"},
        {nested("<a>", "</a>", 3), true, "[[\"a\", [\"a\", [\"a\"]]]]"},
        {"", true, "nil"}, {"<a>", true, "nil"}, {"<a></a>junk", true, "nil"}, {"<a></b>", true, "nil"},
        {"<a>&nope;</a>", true, "nil"}, {std::string("<a>\0</a>", 8), true, "nil"},
        {"<" + std::string(9000, 'n') + "/>", true, "nil"}, {nested("<a>", "</a>", 100000), true, "nil"},
        {laughs + "]><l>&l9;</l>", true, "nil"},
    };
    for (const auto &c : cases) {
        mrb_gv_set(mrb, mrb_intern_lit(mrb, "$doc"), mrb_str_new(mrb, c.xml.data(), (mrb_int)c.xml.size()));
        EXPECT_EQ(ruby(std::string(BRIEF) + "(t = FFI::Misc.new.parse_xml($doc, " + (c.strip ? "true" : "false") +
                       ")) && brief(t)"), c.brief) << c.xml.substr(0, 60);
    }
    // Deep but within the parser's bounds: the builder does not recurse.
    mrb_gv_set(mrb, mrb_intern_lit(mrb, "$doc"), mrb_str_new_cstr(mrb, nested("<a>", "</a>", 4000).c_str()));
    EXPECT_EQ(ruby("FFI::Misc.new.parse_xml($doc, true).class"), "Hash");
    // JSON: whole numbers are read exactly from their text; beyond the
    // Integer range, and with a fraction left, they are Floats.
    const struct { std::string json; const char *value; } json_cases[] = {
        {"[1, 2.5, \"x\", null, true, false, 1e3, -0, {\"k\":1,\"k\":2}] \n",
         "[1, 2.5, \"x\", nil, true, false, 1000, 0, {\"k\"=>2}]"},
        {"{\"a\": {\"b\": [1]}, \"s\": \"\\u0041\\n\"}", "{\"a\"=>{\"b\"=>[1]}, \"s\"=>\"A\\n\"}"},
        {"[-9223372036854775808, 9223372036854775807, 1e300, -1e19, 0.1, 9223372036854775808, -9223372036854775809]",
         "[-9223372036854775808, 9223372036854775807, 1.0e+300, -1.0e+19, 0.1, 9.22337203685478e+18, "
         "-9.22337203685478e+18]"},
        {"{\"9\": [9007199254740993, 12345678901234567890e-1, 92233720368547758.07E2, 1.50e1, 3.0, 00, 1e-400, "
         "0.5e1, 1.0000000000000000001, 100000000000000000000e-2]}",
         "{\"9\"=>[9007199254740993, 1234567890123456789, 9223372036854775807, 15, 3, 0, 0.0, 5, 1.0, "
         "1000000000000000000]}"},
        {"", "nil"}, {"[1,", "nil"}, {"{\"a\"}", "nil"}, {"nul", "nil"}, {nested("[", "]", 100000), "nil"},
        // Only the first value is read.
        {"{\"a\":1}garbage", "{\"a\"=>1}"}, {"1 2", "1"},
    };
    for (const auto &c : json_cases) {
        mrb_gv_set(mrb, mrb_intern_lit(mrb, "$doc"), mrb_str_new_cstr(mrb, c.json.c_str()));
        EXPECT_EQ(ruby("FFI::Misc.new.parse_json($doc)"), c.value) << c.json.substr(0, 60);
    }
}

// The tree builder keeps its Symbols from parse to parse and its own list of
// open elements: the keys stay right in an interpreter whose symbol table
// differs, closing elements deep in a document returns to the right parent
// (with collections in between), and the collector setting the game chose
// is the same after every parse, failed ones included.
TEST_F(FfiTest, XmlTreesKeepTheirShapeAcrossInterpretersAndDepthAndLeaveTheCollectorAsItWas) {
    const std::string small = "<a x='1'>t<?p d?></a>";
    const char *small_tree = "{:type=>:element, :name=>nil, :children=>[{:type=>:element, :name=>\"a\", :children=>"
                             "[{:type=>:content, :data=>\"t\"}, {:type=>:pi, :name=>\"p\", :data=>\"d\"}], "
                             ":attributes=>{\"x\"=>\"1\"}}]}";
    mrb_gv_set(mrb, mrb_intern_lit(mrb, "$doc"), mrb_str_new_cstr(mrb, small.c_str()));
    EXPECT_EQ(ruby("FFI::Misc.new.parse_xml($doc, true)"), small_tree);
    // Names interned first give the tree's names other ids here.
    mrb_state *other = mrb_open();
    for (int i = 0; i < 50; ++i) mrb_intern_cstr(other, ("shifted" + std::to_string(i)).c_str());
    mrb_gv_set(other, mrb_intern_lit(other, "$tree"), xml_text_to_ruby(other, small.data(), small.size(), true));
    EXPECT_EQ(ruby_eval(other, "$tree"), small_tree);
    mrb_close(other);
    EXPECT_EQ(ruby("FFI::Misc.new.parse_xml($doc, true)"), small_tree);

    // 100 nested elements, then an element 30 deep and one beside the first.
    EXPECT_EQ(ruby("t = FFI::Misc.new.parse_xml('<r>' + '<d>' * 100 + 'x' + '</d>' * 70 + '<m/>' + '</d>' * 30 + "
                   "'<e/></r>', true); GC.start; levels = []; n = t[:children][0]; "
                   "(levels << n[:children].map { |c| c[:name] || c[:data] }; n = n[:children][0]) while n[:name]; "
                   "[levels.size, levels[0], levels[30], levels[100], levels.count(['d'])]"),
              "[101, [\"d\", \"e\"], [\"d\", \"m\"], [\"x\"], 98]");

    EXPECT_EQ(ruby("m = FFI::Misc.new; GC.disable; m.parse_xml('<a/>', true); m.parse_xml('<a>', true); "
                   "was_disabled = GC.enable; m.parse_xml('<a/>', true); m.parse_xml('<a>', true); "
                   "[was_disabled, GC.enable]"),
              "[true, false]");
}

// An interpreter that refuses large allocations, and then, as a process out
// of memory does, every allocation until the parse is over: each converter
// answers nil with the reason, describing it needs no memory, nothing is
// left pending, and the next document builds.
TEST(Converters, RunningOutOfMemoryWhileBuildingAnswersNilWithTheReason) {
    static bool refuse = false, exhausted = false, refuse_all_after = false;
    mrb_state *mrb = mrb_open_allocf(
        [](mrb_state *, void *p, size_t size, void *) -> void * {
            if (size == 0) return free(p), nullptr;
            if (refuse && size > 100000) exhausted = refuse_all_after;
            return exhausted || (refuse && size > 100000) ? nullptr : realloc(p, size);
        },
        nullptr);
    json_methods_define(mrb, mrb->object_class);
    static std::string logged;
    SDL_LogSetOutputFunction([](void *, int, SDL_LogPriority, const char *text) { logged += text; }, nullptr);
    const std::string big(200000, 'x'), xml = "<a>" + big + "</a>", json = "[\"" + big + "\"]";
    for (bool all_after : {false, true}) {
        std::string xml_failure, json_failure;
        refuse = true, refuse_all_after = all_after;
        mrb_value tree = xml_text_to_ruby(mrb, xml.data(), xml.size(), true, &xml_failure);
        exhausted = false;
        mrb_value value = json_text_to_ruby(mrb, json.c_str(), json.size(), &json_failure);
        refuse = exhausted = false;
        EXPECT_TRUE(mrb_nil_p(tree) && mrb_nil_p(value));
        EXPECT_EQ(xml_failure, "Out of memory at line 1, column 200004");
        EXPECT_EQ(json_failure, "Out of memory");
        EXPECT_EQ(mrb->exc, nullptr);
    }
    SDL_LogSetOutputFunction(nullptr, nullptr);
    EXPECT_EQ(logged, "");
    EXPECT_TRUE(mrb_hash_p(xml_text_to_ruby(mrb, "<a>x</a>", 8, true)));
    mrb_close(mrb);
}

TEST_F(FfiTest, SyntaxChecksAnswerTextAndListingsSurviveASyntaxError) {
    EXPECT_EQ(ruby("m = FFI::MRB.new; [m.parse('1 +'), m.parse('1 + 1'), m.parse('')]"),
              "[\"line 1:3: syntax error, unexpected $end\\n\", \"Syntax OK\", \"Syntax OK\"]");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ruby("c = FFI::Compiler.new; c.dump_codegen('1 +'); c.dump_codegen('def f; 4; end')"), "nil");
    std::string listing = testing::internal::GetCapturedStdout();
    // The empty program first, then the method's tree and code.
    size_t empty = listing.find("LOADNIL"), method = listing.find("DEF"), body = listing.find("LOADI_4");
    EXPECT_TRUE(empty < method && method < body && body != std::string::npos) << listing;
}

TEST_F(FfiTest, ClipboardWindowTitleDeviceSizeAndLocalAddress) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    render_context context{};
    context.window = SDL_CreateWindow("start", 0, 0, 320, 200, SDL_WINDOW_HIDDEN);
    context.window_width = 320, context.window_height = 200;
    ffi_render_context = &context;
    SDL_SetClipboardText("");
    EXPECT_EQ(ruby("m = FFI::Misc.new; m.set_window_title('Mine'); [m.getclipboard, m.device_size]"),
              "[\"\", [320.0, 200.0]]");
    SDL_SetClipboardText("pasted");
    EXPECT_EQ(ruby("FFI::Misc.new.getclipboard"), "\"pasted\"");
    EXPECT_STREQ(SDL_GetWindowTitle(context.window), "Mine");
    ffi_render_context = nullptr;
    SDL_DestroyWindow(context.window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    // This machine has a network address besides loopback.
    std::string address = ruby("FFI::Misc.new.get_local_ip_address");
    EXPECT_TRUE(address.find('.') != std::string::npos && address != "\"127.0.0.1\"") << address;
}

TEST(LocalAddress, TheFirstIpv4AddressWinsAndIpv6IsTheFallback) {
    const struct {
        std::vector<std::pair<const char *, const char *>> entries;
        size_t size;
        const char *chosen;
    } cases[] = {
        {{{"lo", "127.0.0.1"}, {"lo", "::1"}, {"lo0", "127.0.0.1"}, {"lo0", "::1"}}, 64, ""},
        {{{"lo", "::1"}, {"wlan0", "fe80::1"}, {"wlan0", "2001:db8::5"}}, 64, "fe80::1"},
        {{{"wlan0", "fe80::1"}, {nullptr, "10.0.0.1"}, {"eth0", nullptr}, {"wlan0", "192.168.1.20"},
          {"eth1", "10.0.0.2"}}, 64, "192.168.1.20"},
        {{{"wlan0", "192.168.1.20"}}, 12, ""},
    };
    for (const auto &c : cases) {
        std::vector<ifaddrs> list(c.entries.size());
        std::vector<sockaddr_in6> addresses(c.entries.size());
        for (size_t i = 0; i < list.size(); ++i) {
            auto [name, text] = c.entries[i];
            list[i] = {};
            list[i].ifa_next = i + 1 < list.size() ? &list[i + 1] : nullptr, list[i].ifa_name = (char *)name;
            sockaddr_in6 &address = addresses[i] = {};
            if (text) list[i].ifa_addr = (sockaddr *)&address;
            sockaddr_in &ipv4 = (sockaddr_in &)address;
            bool ipv6 = text && std::strchr(text, ':');
            if (ipv6) address.sin6_family = AF_INET6, inet_pton(AF_INET6, text, &address.sin6_addr);
            if (text && !ipv6) ipv4.sin_family = AF_INET, inet_pton(AF_INET, text, &ipv4.sin_addr);
        }
        char buffer[64] = "stale";
        EXPECT_EQ(network_choose_local_address(list.data(), buffer, c.size), *c.chosen ? 1 : 0) << c.chosen;
        EXPECT_STREQ(buffer, c.chosen);
    }
}

// A library packed into a mounted archive is copied out, loaded and deleted
// while another thread keeps switching the write directory (as screenshots do).
TEST_F(FfiTest, ExtensionsLoadFromArchivesWhileTheWriteDirectoryMovesAndTheirApiResolvesExactly) {
    fs::create_directories(dir + "/packed/native/linux");
    fs::copy_file(VELLUM_TEST_EXTENSION, dir + "/packed/native/linux/packed.so");
    ASSERT_EQ(std::system(("cd " + dir + "/packed && zip -qr ../ext.zip native").c_str()), 0);
    ASSERT_TRUE(PHYSFS_mount((dir + "/ext.zip").c_str(), nullptr, 0));
    std::string shots = dir + "/shots";
    fs::create_directories(shots);
    std::atomic<bool> loading{true};
    std::thread screenshots([&] {
        for (int i = 0; loading; ++i) storefile_write_override((i & 1 ? shots : game).c_str(), "shot.png", "p", 1);
    });
    EXPECT_EQ(ruby("m = FFI::Misc.new; (1..80).map { m.qmx_dlopen('packed') }.uniq"), "[nil]");
    loading = false;
    screenshots.join();
    EXPECT_EQ(ruby("FFI::TestExtension.new.greet('zip')"), "\"hello zip\"");
    for (const auto &file : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(file.path().string().find("sharedobjs"), std::string::npos) << file.path();
    // API names resolve exactly; foreign objects free only what they own.
    EXPECT_EQ(c_extension_api_lookup("mrb_raise"), (void *)mrb_raise);
    auto exc_get = (RClass * (*)(mrb_state *, const char *)) c_extension_api_lookup("mrb_exc_get");
    EXPECT_EQ(exc_get(mrb, "ArgumentError"), E_ARGUMENT_ERROR);
    for (const char *name : {"mrb_funcall", "MRB_RAISE", "mrb_raise ", ""})
        EXPECT_EQ(c_extension_api_lookup(name), nullptr) << name;
    // Data the record does not own lives on the stack: freeing it would be caught.
    char unowned[4];
    for (uint32_t kind : {1u, 2u}) {
        auto *record = (foreign_object *)malloc(sizeof(foreign_object));
        *record = {kind, unowned, kind == 2};
        vlx_free_foreign_object(nullptr, record);
    }
}
