// The simulation frame against a runtime object written for the test: the
// exact bytes of the frame stream, what reaches Ruby from the inputs, and a
// runtime that raises or answers the wrong kinds of values.
#include "host/bytecode_check.h"
#include "host/controllers.h"
#include "host/engine.h"
#include "host/frame_step.h"
#include "host/host_call.h"
#include "render/frame_stream.h"
#include "render/render_context.h"
#include "tests/common/ruby_eval.h"
#include "vfs_fixture.h"

#include <mruby/dump.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Records the calls it does not answer itself. (Through real methods: host
// calls into method_missing lose their arguments in this interpreter.)
const char *const fake_runtime_source = R"RUBY(
FakePass = Struct.new(:mark, :target, :width, :height, :transient, :background_color, :raise_in_primitives)

class FakeRuntime
  attr_accessor :calls, :passes_value, :take_screenshot, :reload_list, :quit_value
  def initialize
    @calls, @reload_list, @passes_value = [], [], []
  end

  %i[mouse_button_pressed window_mouse_focus_changed window_keyboard_focus_changed rawjoystick_disconnected].each do |name|
    define_method(name) { |*args| @calls << [name, *args] }
  end

  def passes = (@calls << [:passes]) && @passes_value
  def quit_requested? = @quit_value

  def get_ruby_reload_list = @reload_list
  def reload_failed(path, e) = @calls << [:reload_failed, path, e.class, e.message]
  def pixel_arrays = Probe.pack(13)
  def target(pass) = pass&.target
  def render_transient(pass) = pass ? pass.transient : false
  def render_width(pass) = pass ? pass.width : 0
  def render_height(pass) = pass ? pass.height : 0
  def draw_screenshots = Probe.pack(6)

  def primitives(pass)
    @calls << [:primitives, pass&.mark]
    Probe.pack(1)
    raise "primitives failed" if pass.nil? || pass.raise_in_primitives
    Probe.pack(1)
  end
end
$rt = FakeRuntime.new
)RUBY";

mrb_value probe_pack(mrb_state *mrb, mrb_value) {
    mrb_int value;
    mrb_get_args(mrb, "i", &value);
    threadstream_pack_int(current_frame_stream, (int32_t)value);
    return mrb_nil_value();
}

std::vector<int32_t> words_of(const threadstream *stream) {
    std::vector<int32_t> words(stream->write_pos / 4);
    if (!words.empty()) std::memcpy(words.data(), stream->buffer, words.size() * 4);
    return words;
}

class FrameStep : public VfsTest {
protected:
    mrb_state *mrb = nullptr;
    threadstream *stream = nullptr;
    render_context context{};

    void SetUp() override {
        VfsTest::SetUp();
        ASSERT_TRUE(threadstream_init());
        mrb = mrb_open();
        mrb_define_module_function(mrb, mrb_define_module(mrb, "Probe"), "pack", probe_pack, MRB_ARGS_REQ(1));
        the_game_state = game_state{};
        the_game_state.mrb = mrb;
        eval(fake_runtime_source);
        the_game_state.runtime = eval("$rt");
        current_frame_stream = stream = threadstream_allocate();
        context.window_id = 7;
        context.event_queue = threadstreamqueue_allocate();
        context.frame_queue = threadstreamqueue_allocate();
    }

    void TearDown() override {
        current_frame_stream = nullptr;
        threadstream_free(stream);
        for (threadstreamqueue *queue : {context.event_queue, context.frame_queue}) {
            while (threadstream *s = threadstreamqueue_getitem(queue)) threadstream_free(s);
            threadstreamqueue_free(queue);
        }
        mrb_close(mrb);
        the_game_state = game_state{};
        threadstream_quit();
        VfsTest::TearDown();
    }

    mrb_value eval(const std::string &source) {
        mrb_value value = mrb_load_nstring(mrb, source.data(), source.size());
        EXPECT_EQ(mrb->exc, nullptr) << source;
        mrb->exc = nullptr;
        return value;
    }

    std::string ruby(const std::string &source) { return ruby_eval(mrb, source); }
    std::string calls() { return ruby("s = $rt.calls.dup; $rt.calls.clear; s"); }

    SDL_Event event(Uint32 type) {
        SDL_Event e{};
        e.type = type;
        return e;
    }

    void queue_batch(const std::vector<SDL_Event> &events, uint64_t stated_count) {
        threadstream *batch = threadstream_allocate();
        ASSERT_TRUE(event_batch_start(batch));
        for (const SDL_Event &e : events) {
            *event_batch_slot(batch) = e;
            event_batch_add(batch);
        }
        std::memcpy(batch->buffer, &stated_count, 8); // what a damaged batch might claim
        threadstreamqueue_putitem(context.event_queue, batch);
    }

    std::string bytecode_of(const char *source) {
        mrb_state *compiler = mrb_open();
        mrbc_context *cxt = mrbc_context_new(compiler);
        cxt->no_exec = TRUE;
        mrb_value proc = mrb_load_string_cxt(compiler, source, cxt);
        uint8_t *bin = nullptr;
        size_t size = 0;
        EXPECT_EQ(mrb_dump_irep(compiler, mrb_proc_ptr(proc)->body.irep, 0, &bin, &size), MRB_DUMP_OK);
        std::string bytes((const char *)bin, size);
        mrb_free(compiler, bin);
        mrbc_context_free(compiler, cxt);
        mrb_close(compiler);
        return bytes;
    }
};

// --- Output side: the frame stream -------------------------------------------

TEST_F(FrameStep, AFrameWritesUploadsThenHeaderThenPassesThenScreenshots) {
    eval(R"RUBY(
      screen = FakePass.new(:screen, "rt", 100.7, 50, 0, [10, 20, 127.9])
      $rt.passes_value = [screen, nil]
      $rt.take_screenshot = 1
    )RUBY");
    frame_write_render_passes(&the_game_state);
    const int32_t rt_string = 'r' | ('t' << 8); // length 2, "rt", NUL, padding
    std::vector<int32_t> expected = {
        13,                                        // pixel-array upload first
        RENDER_CMD_PASSES, 2, 1,                   // two passes, screenshot wanted
        10, 20, 127, 0,                            // colour: Float truncated, missing alpha 0
        2, rt_string, 100, 50, 1,                  // target, size, transient (0 is truthy)
        1, 1, RENDER_CMD_END_PASS,                 // the pass's commands and its end
        0, 0, 0, 0, (int32_t)THREADSTREAM_ABSENT,  // a nil pass: screen, no colour
        0, 0, 0,                                   // zero size, not transient
        1, RENDER_CMD_END_PASS,                    // closed although primitives raised
        6,                                         // screenshots after the last pass
    };
    EXPECT_EQ(words_of(stream), expected);
    EXPECT_EQ(calls(), "[[:passes], [:primitives, :screen], [:primitives, nil]]");
    // Passes that are not an Array, or a call that raises, make an empty frame.
    eval("$rt.take_screenshot = nil");
    for (const char *setup : {"$rt.passes_value = 5", "$rt.passes_value = nil",
                              "$rt.passes_value = [nil]; def $rt.passes = (@calls << [:passes]) && raise('x')"}) {
        eval(setup);
        stream->write_pos = 0;
        frame_write_render_passes(&the_game_state);
        EXPECT_EQ(words_of(stream), (std::vector<int32_t>{13, RENDER_CMD_PASSES, 0, 0})) << setup;
        EXPECT_EQ(calls(), "[[:passes]]") << setup;
    }
}

TEST_F(FrameStep, AFailedStreamIsDroppedQuitFollowsTruthinessAndHostCallsLeaveNoExceptionBehind) {
    render_context *saved = the_render_context;
    the_render_context = &context;
    submit_frame_stream();
    current_frame_stream = threadstream_allocate();
    current_frame_stream->error = 1;
    submit_frame_stream();
    EXPECT_TRUE(current_frame_stream == nullptr && threadstreamqueue_getcount(context.frame_queue) == 1);
    the_render_context = saved;
    stream = nullptr; // now owned by the queue, freed in TearDown

    EXPECT_FALSE(frame_quit_requested(&the_game_state));
    eval("$rt.quit_value = 0");
    EXPECT_TRUE(frame_quit_requested(&the_game_state));
    eval("$rt.quit_value = true; def $rt.quit_requested? = raise('no answer')");
    EXPECT_FALSE(frame_quit_requested(&the_game_state));
    EXPECT_EQ(mrb->exc, nullptr);
    the_game_state.player2_key_states[CONTROLLER_QUIT_SLOT] = 1;
    EXPECT_TRUE(frame_quit_requested(&the_game_state));
    // Host calls leave no exception behind and skip missing methods once reported.
    mrb_value runtime = the_game_state.runtime;
    eval("def $rt.fails; raise 'inside'; end; def $rt.answer(a, b); a + b; end");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(mrb_nil_p(host_call(mrb, runtime, "fails")));
    EXPECT_EQ(mrb->exc, nullptr);
    // A call after one that raised gets its own answer, not a stale error.
    mrb_value args[2] = {mrb_int_value(mrb, 2), mrb_int_value(mrb, 3)};
    mrb_value answer = host_call(mrb, runtime, "answer", 2, args);
    EXPECT_TRUE(mrb_integer_p(answer) && mrb_integer(answer) == 5);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(mrb_nil_p(host_call(mrb, runtime, "no_such_entry_point")));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("inside (RuntimeError)"), std::string::npos) << log;
    const std::string missing = "FakeRuntime has no method no_such_entry_point";
    EXPECT_NE(log.find(missing), std::string::npos) << log;
    EXPECT_EQ(log.find(missing), log.rfind(missing)) << "reported once: " << log;
}

// --- Input side ------------------------------------------------------------------

// Keys, text, the mouse, raw joystick input and controller key reports reach
// a game end to end (tests/e2e/input_test.cpp); the window's own events show
// only here.
TEST_F(FrameStep, FocusOfThisWindowQuitAndAnUnpluggedJoystickReachTheRuntimeInBatchOrder) {
    std::vector<SDL_Event> events;
    const std::tuple<Uint32, Uint8, int, int> steps[] = {
        {8, SDL_WINDOWEVENT_FOCUS_GAINED, 1, 0}, // another window: nothing happens
        {7, SDL_WINDOWEVENT_ENTER, 1, 0},        {7, SDL_WINDOWEVENT_FOCUS_GAINED, 1, 1},
        {7, SDL_WINDOWEVENT_LEAVE, 0, 1},        {7, SDL_WINDOWEVENT_FOCUS_LOST, 0, 0}, {7, SDL_WINDOWEVENT_MOVED, 0, 0}};
    SDL_AtomicSet(&context.mouse_focus, 1);
    for (auto [window, kind, mouse, keyboard] : steps) {
        SDL_Event e = event(SDL_WINDOWEVENT);
        e.window.windowID = window;
        e.window.event = kind;
        frame_dispatch_event(&the_game_state, &context, e);
        EXPECT_EQ(std::pair(SDL_AtomicGet(&context.mouse_focus), SDL_AtomicGet(&context.keyboard_focus)),
                  std::pair(mouse, keyboard)) << (int)kind;
    }
    SDL_Event removed = event(SDL_JOYDEVICEREMOVED), press[4];
    removed.jdevice.which = 4;
    for (Uint8 button = 1; button <= 3; ++button) {
        press[button] = event(SDL_MOUSEBUTTONDOWN);
        press[button].button.button = button;
    }
    // Batches are dispatched oldest first; one whose count overruns it is dropped whole.
    queue_batch({press[1], removed, event(SDL_QUIT)}, 3);
    queue_batch({press[2], press[2]}, 3);
    queue_batch({press[3]}, 1);
    frame_dispatch_event_batches(&the_game_state, &context);
    EXPECT_EQ(calls(), "[[:window_mouse_focus_changed, true], [:window_keyboard_focus_changed, true], "
                       "[:window_mouse_focus_changed, false], [:window_keyboard_focus_changed, false], "
                       "[:mouse_button_pressed, 1], [:rawjoystick_disconnected, 4], [:mouse_button_pressed, 3]]");
    EXPECT_EQ(the_game_state.player1_key_states[CONTROLLER_QUIT_SLOT], 1u);
    EXPECT_EQ(threadstreamqueue_getcount(context.event_queue), 0);
}

// --- Input side: loading the files the runtime names ---------------------------

TEST_F(FrameStep, ReloadPathsLoadByTheirExtensionInTheSameFrameAndBadEntriesOrListsAreSkipped) {
    put("app/compiled.RBC", bytecode_of("$loaded = ($loaded || []) + [:bytecode]"));
    put("app/main.rb", "$loaded = ($loaded || []) + [:source]\n$file = __FILE__\n$rt.reload_list << 'app/later.rb'\n");
    put("app/noext", "$loaded = ($loaded || []) + [:no_extension]\n");
    put("app/later.rb", "$loaded << :queued_while_loading\n");
    put("app/broken.rb", "raise 'broken on load'\n");
    put("app/bad.rbc", "RITE0300 but not really bytecode");
    eval("$rt.reload_list = ['app/compiled.RBC', 'missing.rb', 42, 'app/broken.rb', 'app/bad.rbc', "
         "'app/main.rb', \"app/main.rb\\0x\", 'app/noext']");
    // The count is the list's length when it was handed over.
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 8);
    EXPECT_EQ(ruby("[$loaded, $file, $rt.reload_list]"),
              "[[:bytecode, :source, :no_extension, :queued_while_loading], \"app/main.rb\", []]");
    // The two that failed are reported to the runtime, and nothing is left pending.
    EXPECT_EQ(calls(), "[[:reload_failed, \"app/broken.rb\", RuntimeError, \"broken on load\"], "
                       "[:reload_failed, \"app/bad.rbc\", ScriptError, \"app/bad.rbc cannot be loaded: "
                       "its recorded size does not match the file (cut off or damaged).\"]]");
    EXPECT_EQ(mrb->exc, nullptr);
    // Blocks made at a file's top level keep its locals after later loads.
    put("app/first.rb", "name = :first\n$first = proc { [self, name] }\n");
    put("app/second.rb", "other = :second\n$second = -> { other }\n");
    put("app/third.rb", "Third = Struct.new(:a) do\n  def doubled = a * 2\nend\n");
    eval("$rt.reload_list = ['app/first.rb', 'app/second.rb', 'app/third.rb']");
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 3);
    // A deep call grows (and moves) the interpreter's stack; the collector
    // then walks the blocks' environments.
    EXPECT_EQ(ruby("r = $first.call; def deep(n) = n.zero? ? 0 : 1 + deep(n - 1); deep(400); GC.start; "
                   "[r, $first.call, $second.call, Third.new(21).doubled]"),
              "[[main, :first], [main, :first], :second, 42]");
    // A list that is not an Array, or a call that raises, loads nothing.
    for (const char *value : {"nil", "'app/main.rb'", "5"}) {
        eval(std::string("$rt.reload_list = ") + value);
        EXPECT_EQ(frame_load_reload_list(&the_game_state), 0) << value;
    }
    eval("def $rt.get_ruby_reload_list; raise 'no list'; end");
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 0);
    EXPECT_EQ(mrb->exc, nullptr);
}

// Each damaged form of a compiled file is refused before the interpreter
// reads it; the file compiled here passes.
TEST_F(FrameStep, CompiledFilesThatAreCutOffForeignOrDamagedAreRefused) {
    const std::string good = bytecode_of("$loaded = :good");
    const char *reason = nullptr;
    ASSERT_EQ(bytecode_check((const uint8_t *)good.data(), good.size(), &reason), 1) << reason;
    auto with_size = [](std::string bytes, uint32_t size) {
        for (int i = 0; i < 4; ++i) bytes[8 + i] = (char)(size >> (24 - 8 * i));
        return bytes;
    };
    std::string foreign = good, wrong_code = good;
    foreign[7] = '1';
    wrong_code[20 + 8 + 1] = '2'; // the first section's instruction version
    std::string cut = good.substr(0, good.size() - 5);
    const std::vector<std::tuple<std::string, std::string>> cases = {
        {"", "it is not compiled Ruby"},
        {foreign, "it was compiled for another version of the interpreter"},
        {cut, "its recorded size does not match the file (cut off or damaged)"},
        {with_size(good.substr(0, 40), 40), "a section runs past the end of the file"},
        {with_size(cut, (uint32_t)cut.size()), "it has no end marker (cut off)"},
        {with_size(good + "tail", (uint32_t)good.size() + 4), "there is data after its end marker"},
        {wrong_code, "its code was compiled for another version of the interpreter"},
    };
    for (const auto &[bytes, expected] : cases) {
        reason = nullptr;
        EXPECT_EQ(bytecode_check((const uint8_t *)bytes.data(), bytes.size(), &reason), 0) << expected;
        EXPECT_EQ(std::string(reason ? reason : ""), expected);
    }
}

} // namespace
