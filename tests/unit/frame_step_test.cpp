// The simulation frame against a runtime object written for the test: what
// reaches Ruby from the inputs, the exact bytes of the frame stream the
// output side writes, and how the frame copes with a runtime that raises or
// answers the wrong kinds of values.
#include "host/controllers.h"
#include "host/engine.h"
#include "host/frame_step.h"
#include "host/host_call.h"
#include "render/frame_stream.h"
#include "render/render_context.h"
#include "vfs_fixture.h"

#include <mruby/dump.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Records every call it does not answer itself; the answers of the calls the
// host relies on can be set per test.
const char *const fake_runtime_source = R"RUBY(
class FakePass
  attr_accessor :target, :width, :height, :transient, :background_color, :mark, :raise_in_primitives
  def initialize(mark)
    @mark = mark
  end
end

class FakeRuntime
  attr_accessor :calls, :passes_value, :screenshot, :reload_list, :quit_value, :raise_in
  def initialize
    @calls = []
    @reload_list = []
    @passes_value = []
    @screenshot = false
    @quit_value = false
    @raise_in = []
  end

  # (Recorded through real methods: calls from the host into method_missing
  # do not carry their arguments in this interpreter.)
  [:current_fps, :controller_key_down, :controller_key_held, :controller_key_up, :key_down_raw, :key_up_raw,
   :textinput, :mouse_move, :mouse_button_pressed, :mouse_button_up, :mouse_wheel,
   :window_mouse_focus_changed, :window_keyboard_focus_changed, :rawjoystick_connected,
   :rawjoystick_disconnected, :rawjoystick_axis, :rawjoystick_hat, :rawjoystick_button,
   :left_analog_x_player_1, :left_analog_y_player_1, :right_analog_x_player_1, :right_analog_y_player_1,
   :left_analog_x_player_2, :left_analog_y_player_2, :right_analog_x_player_2, :right_analog_y_player_2,
   :tick, :reload_complete].each do |name|
    define_method(name) do |*args|
      @calls << [name, *args]
      raise "#{name} failed" if @raise_in.include?(name)
      nil
    end
  end

  def get_ruby_reload_list
    @calls << [:get_ruby_reload_list]
    @reload_list
  end

  def pixel_arrays
    @calls << [:pixel_arrays]
    Probe.pack(13)
  end

  def passes
    @calls << [:passes]
    raise "passes failed" if @raise_in.include?(:passes)
    @passes_value
  end

  def take_screenshot
    @screenshot
  end

  def target(pass)
    pass ? pass.target : nil
  end

  def render_transient(pass)
    pass ? pass.transient : false
  end

  def render_width(pass)
    pass ? pass.width : 0
  end

  def render_height(pass)
    pass ? pass.height : 0
  end

  def primitives(pass)
    @calls << [:primitives, pass && pass.mark]
    Probe.pack(1)
    raise "primitives failed" if pass.nil? || pass.raise_in_primitives
    Probe.pack(1)
  end

  def draw_screenshots
    @calls << [:draw_screenshots]
    Probe.pack(6)
  end

  def quit_requested?
    raise "quit failed" if @raise_in.include?(:quit_requested?)
    @quit_value
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
        RClass *probe = mrb_define_module(mrb, "Probe");
        mrb_define_module_function(mrb, probe, "pack", probe_pack, MRB_ARGS_REQ(1));
        the_game_state = game_state{};
        the_game_state.mrb = mrb;
        eval(fake_runtime_source);
        the_game_state.runtime = eval("$rt");
        stream = threadstream_allocate();
        current_frame_stream = stream;
        context.window_id = 7;
        context.event_queue = threadstreamqueue_allocate();
        context.frame_queue = threadstreamqueue_allocate();
    }

    void TearDown() override {
        current_frame_stream = nullptr;
        threadstream_free(stream);
        while (threadstream *s = threadstreamqueue_getitem(context.event_queue)) threadstream_free(s);
        while (threadstream *s = threadstreamqueue_getitem(context.frame_queue)) threadstream_free(s);
        threadstreamqueue_free(context.event_queue);
        threadstreamqueue_free(context.frame_queue);
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

    std::string ruby(const std::string &source) {
        mrb_value value = eval(source);
        return mrb_string_p(value) ? std::string(RSTRING_PTR(value), RSTRING_LEN(value)) : "<not a String>";
    }

    std::string calls() { return ruby("s = $rt.calls.inspect; $rt.calls.clear; s"); }

    SDL_Event event(Uint32 type) {
        SDL_Event e;
        SDL_zero(e);
        e.type = type;
        return e;
    }

    void queue_batch(const std::vector<SDL_Event> &events, uint64_t stated_count) {
        threadstream *batch = threadstream_allocate();
        ASSERT_TRUE(threadstream_claim_space(batch, 8 + events.size() * sizeof(SDL_Event)));
        std::memcpy(batch->buffer, &stated_count, 8);
        if (!events.empty()) std::memcpy(batch->buffer + 8, events.data(), events.size() * sizeof(SDL_Event));
        batch->write_pos = 8 + events.size() * sizeof(SDL_Event);
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
      screen = FakePass.new(:screen)
      screen.target = "rt"
      screen.width = 100.7
      screen.height = 50
      screen.transient = 0
      screen.background_color = [10, 20, 127.9]
      $rt.passes_value = [screen, nil]
      $rt.screenshot = 1
    )RUBY");
    frame_write_render_passes(&the_game_state, stream);

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
    EXPECT_EQ(calls(), "[[:pixel_arrays], [:passes], [:primitives, :screen], [:primitives, nil], "
                       "[:draw_screenshots]]");
}

TEST_F(FrameStep, PassesThatAreNotAnArrayWriteAnEmptyFrame) {
    for (const char *setup : {"$rt.passes_value = []", "$rt.passes_value = 5", "$rt.passes_value = nil",
                              "$rt.raise_in = [:passes]"}) {
        eval(setup);
        stream->write_pos = 0;
        frame_write_render_passes(&the_game_state, stream);
        std::vector<int32_t> expected = {13, RENDER_CMD_PASSES, 0, 0};
        EXPECT_EQ(words_of(stream), expected) << setup;
        EXPECT_EQ(calls(), "[[:pixel_arrays], [:passes]]") << setup;
        eval("$rt.raise_in = []");
    }
}

TEST_F(FrameStep, AStreamWhoseWriteFailedIsDroppedNotSubmitted) {
    render_context *saved = the_render_context;
    the_render_context = &context;

    threadstream_pack_int(stream, RENDER_CMD_PASSES);
    current_frame_stream = stream;
    submit_frame_stream();
    EXPECT_EQ(current_frame_stream, nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(context.frame_queue), 1);

    threadstream *failed = threadstream_allocate();
    failed->error = 1;
    current_frame_stream = failed;
    submit_frame_stream();
    EXPECT_EQ(current_frame_stream, nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(context.frame_queue), 1);

    the_render_context = saved;
    stream = nullptr; // now owned by the queue, freed in TearDown
}

TEST_F(FrameStep, QuitFollowsTruthinessAndTheQuitSlotsButNotAnException) {
    EXPECT_FALSE(frame_quit_requested(&the_game_state));
    eval("$rt.quit_value = 0");
    EXPECT_TRUE(frame_quit_requested(&the_game_state));
    eval("$rt.quit_value = true; $rt.raise_in = [:quit_requested?]");
    EXPECT_FALSE(frame_quit_requested(&the_game_state));
    EXPECT_EQ(mrb->exc, nullptr);
    the_game_state.player2_key_states[CONTROLLER_QUIT_SLOT] = 1;
    EXPECT_TRUE(frame_quit_requested(&the_game_state));
}

// --- Input side ------------------------------------------------------------------

TEST_F(FrameStep, ControllerSlotsAreReportedAndAdvanceEvenWhenTheCallRaises) {
    the_game_state.player1_key_states[1] = CONTROLLER_KEY_PRESSED;
    the_game_state.player1_key_states[15] = CONTROLLER_KEY_HELD;
    the_game_state.player2_key_states[27] = CONTROLLER_KEY_RELEASED;
    the_game_state.player2_key_states[3] = 9; // not a state: ignored
    eval("$rt.raise_in = [:controller_key_up]");
    frame_report_controller_keys(&the_game_state);
    EXPECT_EQ(calls(), "[[:controller_key_down, 1, 1], [:controller_key_held, 1, 15], [:controller_key_up, 2, 27]]");
    EXPECT_EQ(the_game_state.player1_key_states[1], (uint32_t)CONTROLLER_KEY_HELD);
    EXPECT_EQ(the_game_state.player1_key_states[15], (uint32_t)CONTROLLER_KEY_HELD);
    EXPECT_EQ(the_game_state.player2_key_states[27], (uint32_t)CONTROLLER_KEY_UP);
    EXPECT_EQ(mrb->exc, nullptr);

    frame_report_controller_keys(&the_game_state);
    EXPECT_EQ(calls(), "[[:controller_key_held, 1, 1], [:controller_key_held, 1, 15]]");
}

TEST_F(FrameStep, EventsReachTheirEntryPoints) {
    SDL_Event key = event(SDL_KEYDOWN);
    key.key.keysym.sym = SDLK_a;
    key.key.keysym.mod = KMOD_LSHIFT | KMOD_NUM;
    SDL_Event key_up = event(SDL_KEYUP);
    key_up.key.keysym.sym = SDLK_LEFT;
    SDL_Event text = event(SDL_TEXTINPUT);
    std::strcpy(text.text.text, "\xc3\xa9!");
    SDL_Event motion = event(SDL_MOUSEMOTION);
    motion.motion.x = 640;
    motion.motion.y = 12;
    SDL_Event press = event(SDL_MOUSEBUTTONDOWN);
    press.button.button = SDL_BUTTON_RIGHT;
    SDL_Event release = event(SDL_MOUSEBUTTONUP);
    release.button.button = SDL_BUTTON_LEFT;
    SDL_Event wheel = event(SDL_MOUSEWHEEL);
    wheel.wheel.x = 1;
    wheel.wheel.y = 2;
    wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    SDL_Event axis = event(SDL_JOYAXISMOTION);
    axis.jaxis.which = 4;
    axis.jaxis.axis = 1;
    axis.jaxis.value = -32768;
    SDL_Event hat = event(SDL_JOYHATMOTION);
    hat.jhat.which = 4;
    hat.jhat.value = SDL_HAT_LEFTUP;
    SDL_Event button = event(SDL_JOYBUTTONDOWN);
    button.jbutton.which = 4;
    button.jbutton.button = 3;
    button.jbutton.state = SDL_PRESSED;
    SDL_Event removed = event(SDL_JOYDEVICEREMOVED);
    removed.jdevice.which = 4;

    for (const SDL_Event &e : {key, key_up, text, motion, press, release, wheel, axis, hat, button, removed})
        frame_dispatch_event(&the_game_state, &context, e);
    EXPECT_EQ(calls(), "[[:key_down_raw, 97, 4097], [:key_up_raw, 1073741904, 0], [:textinput, \"\\xc3\\xa9!\"], "
                       "[:mouse_move, 640, 12], [:mouse_button_pressed, 3], [:mouse_button_up, 1], "
                       "[:mouse_wheel, -1, -2], [:rawjoystick_axis, 4, 1, -32768], [:rawjoystick_hat, 4, 0, 9], "
                       "[:rawjoystick_button, 4, 3, true], [:rawjoystick_disconnected, 4]]");
}

TEST_F(FrameStep, TouchMiceOtherWindowsAndQuitNeverReachRuby) {
    SDL_Event motion = event(SDL_MOUSEMOTION);
    motion.motion.which = SDL_TOUCH_MOUSEID;
    SDL_Event press = event(SDL_MOUSEBUTTONDOWN);
    press.button.which = SDL_TOUCH_MOUSEID;
    SDL_Event wheel = event(SDL_MOUSEWHEEL);
    wheel.wheel.which = SDL_TOUCH_MOUSEID;
    SDL_Event elsewhere = event(SDL_WINDOWEVENT);
    elsewhere.window.windowID = 8;
    elsewhere.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_Event quit = event(SDL_QUIT);
    for (const SDL_Event &e : {motion, press, wheel, elsewhere, quit})
        frame_dispatch_event(&the_game_state, &context, e);
    EXPECT_EQ(calls(), "[]");
    EXPECT_EQ(context.keyboard_focus, 0);
    EXPECT_EQ(the_game_state.player1_key_states[CONTROLLER_QUIT_SLOT], 1u);
    EXPECT_EQ(the_game_state.player2_key_states[CONTROLLER_QUIT_SLOT], 0u);
}

TEST_F(FrameStep, WindowFocusEventsSetTheFlagsAndTellTheRuntime) {
    SDL_Event e = event(SDL_WINDOWEVENT);
    e.window.windowID = 7;
    for (Uint8 kind : {SDL_WINDOWEVENT_ENTER, SDL_WINDOWEVENT_FOCUS_GAINED}) {
        e.window.event = kind;
        frame_dispatch_event(&the_game_state, &context, e);
    }
    EXPECT_EQ(context.mouse_focus, 1);
    EXPECT_EQ(context.keyboard_focus, 1);
    for (Uint8 kind : {SDL_WINDOWEVENT_LEAVE, SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_MOVED}) {
        e.window.event = kind;
        frame_dispatch_event(&the_game_state, &context, e);
    }
    EXPECT_EQ(context.mouse_focus, 0);
    EXPECT_EQ(context.keyboard_focus, 0);
    EXPECT_EQ(calls(), "[[:window_mouse_focus_changed, true], [:window_keyboard_focus_changed, true], "
                       "[:window_mouse_focus_changed, false], [:window_keyboard_focus_changed, false]]");
}

TEST_F(FrameStep, BatchesAreDispatchedOldestFirstAndAnOverrunningBatchIsDropped) {
    SDL_Event first = event(SDL_MOUSEBUTTONDOWN);
    first.button.button = 1;
    SDL_Event second = event(SDL_MOUSEBUTTONDOWN);
    second.button.button = 2;
    SDL_Event third = event(SDL_MOUSEBUTTONDOWN);
    third.button.button = 3;
    queue_batch({first}, 1);
    queue_batch({second, second}, 3); // claims more events than it holds
    queue_batch({third}, 1);
    frame_dispatch_event_batches(&the_game_state, &context);
    EXPECT_EQ(calls(), "[[:mouse_button_pressed, 1], [:mouse_button_pressed, 3]]");
    EXPECT_EQ(threadstreamqueue_getcount(context.event_queue), 0);
}

TEST_F(FrameStep, AnalogSticksAreReportedInOrderEveryFrame) {
    int32_t p1[4] = {1, -2, 3, -4};
    int32_t p2[4] = {32767, -32768, 0, 7};
    std::memcpy(the_game_state.player1_axes, p1, sizeof(p1));
    std::memcpy(the_game_state.player2_axes, p2, sizeof(p2));
    frame_report_analog_sticks(&the_game_state);
    EXPECT_EQ(calls(), "[[:left_analog_x_player_1, 1], [:left_analog_y_player_1, -2], "
                       "[:right_analog_x_player_1, 3], [:right_analog_y_player_1, -4], "
                       "[:left_analog_x_player_2, 32767], [:left_analog_y_player_2, -32768], "
                       "[:right_analog_x_player_2, 0], [:right_analog_y_player_2, 7]]");
}

// --- Input side: loading the files the runtime names ---------------------------

TEST_F(FrameStep, ReloadPathsLoadAsBytecodeOrSourceByTheirExtension) {
    put("app/compiled.RBC", bytecode_of("$loaded = ($loaded || []) + [:bytecode]"));
    put("app/main.rb", "$loaded = ($loaded || []) + [:source]\n$file = __FILE__\n");
    put("app/noext", "$loaded = ($loaded || []) + [:no_extension]\n");
    put("app/broken.rb", "raise 'broken on load'\n");
    put("app/bad.rbc", "RITE0300 but not really bytecode");
    eval("$rt.reload_list = ['app/compiled.RBC', 'missing.rb', 42, 'app/broken.rb', 'app/bad.rbc', "
         "'app/main.rb', \"app/main.rb\\0x\", 'app/noext']");
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 8);
    EXPECT_EQ(ruby("$loaded.inspect"), "[:bytecode, :source, :no_extension]");
    EXPECT_EQ(ruby("$file"), "app/main.rb");
    EXPECT_EQ(ruby("$rt.reload_list.inspect"), "[]");
    EXPECT_EQ(mrb->exc, nullptr);
}

TEST_F(FrameStep, FilesQueuedWhileLoadingLoadInTheSameFrame) {
    put("app/main.rb", "$rt.reload_list << 'app/other.rb'\n$order = [:main]\n");
    put("app/other.rb", "$order << :other\n");
    eval("$rt.reload_list = ['app/main.rb']");
    // The count is the list's length when it was handed over.
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 1);
    EXPECT_EQ(ruby("$order.inspect"), "[:main, :other]");
}

TEST_F(FrameStep, BlocksMadeAtAFilesTopLevelKeepItsLocalsAfterLaterLoads) {
    put("app/first.rb", "name = :first\n$first = proc { [self, name] }\n");
    put("app/second.rb", "other = :second\n$second = -> { other }\n");
    put("app/third.rb", "Third = Struct.new(:a) do\n  def doubled = a * 2\nend\n");
    eval("$rt.reload_list = ['app/first.rb', 'app/second.rb', 'app/third.rb']");
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 3);
    EXPECT_EQ(ruby("$first.call.inspect"), "[main, :first]");
    // A deep call grows (and moves) the interpreter's stack; the collector
    // then walks the blocks' environments.
    eval("def deep(n) = n.zero? ? 0 : 1 + deep(n - 1)\ndeep(400)\nGC.start");
    EXPECT_EQ(ruby("$first.call.inspect"), "[main, :first]");
    EXPECT_EQ(ruby("$second.call.inspect"), ":second");
    EXPECT_EQ(ruby("Third.new(21).doubled.inspect"), "42");
}

TEST_F(FrameStep, AReloadListThatIsNotAnArrayLoadsNothing) {
    for (const char *value : {"nil", "'app/main.rb'", "5"}) {
        eval(std::string("$rt.reload_list = ") + value);
        EXPECT_EQ(frame_load_reload_list(&the_game_state), 0) << value;
    }
    eval("def $rt.get_ruby_reload_list; raise 'no list'; end");
    EXPECT_EQ(frame_load_reload_list(&the_game_state), 0);
    EXPECT_EQ(mrb->exc, nullptr);
}

// --- The one way into Ruby -----------------------------------------------------

TEST_F(FrameStep, HostCallsLeaveNoExceptionBehindAndSkipMissingMethods) {
    mrb_value runtime = the_game_state.runtime;
    eval("def $rt.fails; raise 'inside'; end; def $rt.answer(a, b); a + b; end");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(mrb_nil_p(host_call(mrb, runtime, "fails")));
    EXPECT_EQ(mrb->exc, nullptr);
    mrb_value args[2] = {mrb_int_value(mrb, 2), mrb_int_value(mrb, 3)};
    // A call after one that raised gets its own answer, not a stale error.
    mrb_value answer = host_call(mrb, runtime, "answer", 2, args);
    ASSERT_TRUE(mrb_integer_p(answer));
    EXPECT_EQ(mrb_integer(answer), 5);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(mrb_nil_p(host_call(mrb, runtime, "no_such_entry_point")));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("inside (RuntimeError)"), std::string::npos) << log;
    const std::string missing = "FakeRuntime has no method no_such_entry_point";
    size_t first = log.find(missing);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(missing, first + 1), std::string::npos) << "reported once: " << log;
    EXPECT_EQ(ruby("$rt.calls.inspect"), "[]");
}

// --- Input side: devices plugged in and out ---------------------------------------

class FrameStepDevices : public FrameStep {
protected:
    void SetUp() override {
        FrameStep::SetUp();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    }
    void TearDown() override {
        game_controllers_close();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
        FrameStep::TearDown();
    }
    SDL_Event device_event(Uint32 type, Sint32 which) {
        SDL_Event e = event(type);
        if (type == SDL_JOYDEVICEADDED || type == SDL_JOYDEVICEREMOVED)
            e.jdevice.which = which;
        else
            e.cdevice.which = which;
        return e;
    }
};

TEST_F(FrameStepDevices, ARawJoystickIsOpenedAndAnnouncedWithItsGuid) {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_JOYDEVICEADDED, index));
    SDL_Joystick *opened = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
    ASSERT_NE(opened, nullptr); // stays open so its events keep coming
    char guid[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(opened), guid, sizeof(guid));
    EXPECT_EQ(calls(), "[[:rawjoystick_connected, " + std::to_string(SDL_JoystickInstanceID(opened)) + ", \"" +
                           SDL_JoystickName(opened) + "\", \"" + guid + "\"]]");
    SDL_JoystickClose(opened);
    SDL_JoystickDetachVirtual(index);
}

TEST_F(FrameStepDevices, GameControllersFillThePlayerSlotsOnceEach) {
    int a = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 1);
    int b = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 1);
    int c = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 1);
    ASSERT_GE(c, 0) << SDL_GetError();
    SDL_JoystickID id_a = SDL_JoystickGetDeviceInstanceID(a);

    // A game controller is not announced as a raw joystick.
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_JOYDEVICEADDED, a));
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_CONTROLLERDEVICEADDED, a));
    // The same device announced twice keeps one slot.
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_CONTROLLERDEVICEADDED, a));
    EXPECT_NE(player_controllers[0], nullptr);
    EXPECT_EQ(player_controllers[1], nullptr);
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_CONTROLLERDEVICEADDED, b));
    EXPECT_NE(player_controllers[1], nullptr);
    // A third controller is opened and closed again at once.
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_CONTROLLERDEVICEADDED, c));
    EXPECT_EQ(SDL_GameControllerFromInstanceID(SDL_JoystickGetDeviceInstanceID(c)), nullptr);
    EXPECT_EQ(calls(), "[]");

    SDL_GameController *second = player_controllers[1];
    frame_dispatch_event(&the_game_state, &context, device_event(SDL_CONTROLLERDEVICEREMOVED, id_a));
    EXPECT_EQ(player_controllers[0], nullptr);
    EXPECT_EQ(player_controllers[1], second);
    EXPECT_EQ(SDL_GameControllerFromInstanceID(id_a), nullptr);
    for (int index : {c, b, a}) SDL_JoystickDetachVirtual(index);
}

} // namespace
