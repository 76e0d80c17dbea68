# The configuration screen for joysticks without a mapping, driven the way the
# host drives it: raw joystick events, keyboard keys and one tick per frame.

class ConfigRuntime
  class FakeMisc
    attr_reader :calls

    def initialize
      @calls = []
    end

    [:close_raw_joystick, :add_controller_config, :convert_rawjoystick_to_controller].each do |name|
      define_method(name) { |arg| @calls << [name, arg]; nil }
    end
  end
  Outputs = Struct.new(:primitives)
  Args = Struct.new(:inputs, :outputs)

  attr_reader :ffi_misc, :platform, :logical_width, :logical_height, :args, :config

  def initialize
    @ffi_misc = FakeMisc.new
    @platform = "Linux"
    @logical_width = 1280
    @logical_height = 720
    @args = Args.new(QMX::Inputs.new, Outputs.new([]))
    @config = QMX::Controller::Config.new(self)
    Kernel.global_tick_count = 100
  end

  # One frame: the keys pressed this frame, the screen's tick, then the
  # frame's per-frame state cleared.
  def frame(*keys)
    @args.outputs.primitives = []
    @args.inputs.keyboard.key_down.set(keys) unless keys.empty?
    result = @config.tick(@args)
    @args.inputs.keyboard.key_down.clear
    Kernel.global_tick_count += 1
    result
  end

  def until_steady
    100.times { frame }
  end

  def texts
    @args.outputs.primitives.select { |p| p[:primitive_marker] == :label }.map { |p| p[:text] }
  end

  def highlights
    @args.outputs.primitives.select { |p| p[:primitive_marker] == :border && p[:w] == 41 }.map { |p| [p[:x], p[:y]] }
  end

  def prompt
    texts.find { |t| t.start_with?("Please press the ") }
  end
end

GUID = "03008f60000000000000504944564944"
PAD = 3

def press(runtime, button)
  runtime.config.rawjoystick_button(PAD, button, true)
  runtime.config.rawjoystick_button(PAD, button, false)
end

def push(runtime, axis, far)
  runtime.config.rawjoystick_axis(PAD, axis, 0)
  runtime.config.rawjoystick_axis(PAD, axis, far / 2)
  runtime.config.rawjoystick_axis(PAD, axis, far)
  runtime.config.rawjoystick_axis(PAD, axis, 0)
end

def hat(runtime, value)
  runtime.config.rawjoystick_hat(PAD, 0, value)
  runtime.config.rawjoystick_hat(PAD, 0, 0)
end

def configuring(name = "Pad, Deluxe")
  runtime = ConfigRuntime.new
  runtime.config.rawjoystick_connected(PAD, name, GUID)
  runtime
end

def test_a_full_configuration_run_builds_and_saves_the_mapping
  runtime = configuring
  config = runtime.config
  refute config.should_tick?
  assert runtime.frame
  assert config.should_tick?
  # Nothing is learned while the screen fades in.
  press(runtime, 0)
  assert_equal nil, runtime.prompt
  runtime.until_steady
  assert_equal "Please press the A button.", runtime.prompt
  assert runtime.texts.include?("We don't recognize this controller, so tell us about it!")
  assert runtime.texts.include?("Pad, Deluxe")
  assert_equal [[919, 282]], runtime.highlights

  (0..3).each { |b| press(runtime, b) }
  runtime.frame
  assert_equal "Please press the left stick left.", runtime.prompt
  push(runtime, 0, -30000)
  push(runtime, 0, 30000)
  push(runtime, 1, 30000)
  push(runtime, 1, -30000)
  runtime.frame
  assert_equal "Please press the left stick button.", runtime.prompt
  9.times { runtime.frame(:space) }
  assert_equal "Please press the right trigger.", runtime.prompt
  runtime.frame(:space)
  [1, 2, 4, 8].each { |value| hat(runtime, value) }
  runtime.frame
  assert_equal "Please press the select/back button.", runtime.prompt
  3.times { runtime.frame(:space) }

  # The try-out lights what is pressed and learns nothing new.
  config.rawjoystick_button(PAD, 1, true)
  config.rawjoystick_button(PAD, 7, true)
  config.rawjoystick_axis(PAD, 1, -20000)
  assert runtime.frame
  assert runtime.texts.include?("Now play around with the controller, and make sure it feels right!")
  assert_equal [[466, 218], [960, 323]], runtime.highlights
  config.rawjoystick_button(PAD, 1, false)
  config.rawjoystick_axis(PAD, 1, 0)

  expected = "#{GUID},Pad  Deluxe,platform:Linux,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1~," \
             "dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8"
  assert_equal expected, config.build_binding_string

  runtime.frame(:space)
  assert_equal [[:add_controller_config, expected], [:convert_rawjoystick_to_controller, PAD]],
               runtime.ffi_misc.calls
  assert config.should_tick?, "the screen fades out first"
  runtime.until_steady
  refute config.should_tick?
  refute runtime.frame
  # The saved joystick became a controller: it is not closed.
  assert_equal 2, runtime.ffi_misc.calls.size
end

def test_one_control_cannot_serve_two_parts_and_backspace_frees_it
  runtime = configuring
  runtime.until_steady
  press(runtime, 0)
  press(runtime, 0)
  runtime.frame
  assert_equal "Please press the B button.", runtime.prompt
  refute runtime.config.set_binding("b0")

  runtime.frame(:backspace)
  assert_equal "Please press the A button.", runtime.prompt
  press(runtime, 5)
  press(runtime, 0)
  runtime.frame
  assert_equal "Please press the X button.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?(",a:b5,b:b0")
  # Backspace on the first part stays there.
  runtime.frame(:backspace)
  runtime.frame(:backspace)
  runtime.frame(:backspace)
  assert_equal "Please press the A button.", runtime.prompt
end

def test_skipping_every_part_saves_an_empty_mapping
  runtime = configuring("Plain Pad")
  runtime.until_steady
  25.times { runtime.frame(:space) }
  runtime.frame
  assert runtime.texts.include?("[ESCAPE]: Reconfigure, [SPACE]: Save this configuration")
  runtime.frame(:space)
  assert_equal [:add_controller_config, "#{GUID},Plain Pad,platform:Linux,"], runtime.ffi_misc.calls.first
end

def test_a_stick_half_learned_alone_stays_a_half
  runtime = configuring
  runtime.until_steady
  4.times { runtime.frame(:space) }
  push(runtime, 2, -32000)
  runtime.frame(:space)
  runtime.frame
  assert_equal "Please press the left stick up.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?(",platform:Linux,-leftx:-a2")
  # A small wobble is no push.
  push(runtime, 3, 15000)
  runtime.frame
  assert_equal "Please press the left stick up.", runtime.prompt
end

def test_escape_ignores_the_joystick_and_the_next_one_follows
  runtime = configuring
  runtime.config.rawjoystick_connected(8, "Second", "05000000aaaa")
  runtime.until_steady
  press(runtime, 0)
  runtime.frame(:escape)
  runtime.until_steady
  assert_equal [:close_raw_joystick, PAD], runtime.ffi_misc.calls.first
  runtime.until_steady
  assert runtime.texts.include?("Second")
  assert_equal "Please press the A button.", runtime.prompt
end

def test_escape_during_the_try_out_starts_over
  runtime = configuring
  runtime.until_steady
  press(runtime, 0)
  24.times { runtime.frame(:space) }
  assert runtime.frame
  assert runtime.texts.include?("Now play around with the controller, and make sure it feels right!")
  assert runtime.frame(:escape)
  runtime.frame
  assert_equal "Please press the A button.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?("platform:Linux,")
  press(runtime, 0)
  runtime.frame
  assert_equal "Please press the B button.", runtime.prompt
end

def test_identical_pads_are_converted_together
  runtime = configuring
  runtime.config.rawjoystick_connected(9, "Pad, Deluxe", GUID)
  runtime.config.rawjoystick_connected(-1, "Broken", GUID)
  runtime.until_steady
  26.times { runtime.frame(:space) }
  calls = runtime.ffi_misc.calls
  assert_equal [:convert_rawjoystick_to_controller, PAD], calls[1]
  assert_equal [:convert_rawjoystick_to_controller, 9], calls[2]
  assert_equal 3, calls.size
  runtime.until_steady
  refute runtime.frame, "the twin never gets a screen of its own"
end

def test_disconnects_close_waiting_joysticks_only
  runtime = configuring
  runtime.config.rawjoystick_connected(12, "Other", GUID)
  runtime.config.rawjoystick_disconnected(12)
  runtime.config.rawjoystick_disconnected(77)
  runtime.config.rawjoystick_disconnected(-1)
  assert_equal [[:close_raw_joystick, 12]], runtime.ffi_misc.calls
  runtime.frame
  runtime.config.rawjoystick_disconnected(PAD)
  assert_equal 1, runtime.ffi_misc.calls.size
  assert runtime.config.should_tick?
  # Events of other joysticks are ignored.
  runtime.until_steady
  runtime.config.rawjoystick_button(12, 0, true)
  runtime.frame
  assert_equal "Please press the A button.", runtime.prompt
end

def test_without_a_usable_joystick_nothing_shows
  runtime = ConfigRuntime.new
  runtime.config.rawjoystick_connected(-1, "Gone", GUID)
  runtime.config.rawjoystick_connected(4, "No GUID", nil)
  refute runtime.frame
  assert_equal [], runtime.args.outputs.primitives
  refute runtime.config.should_tick?
end

def test_the_highlight_pulses
  runtime = configuring
  runtime.until_steady
  alphas = []
  30.times do
    runtime.frame
    alphas << runtime.args.outputs.primitives.find { |p| p[:primitive_marker] == :border }[:a]
  end
  assert alphas.max <= 255
  assert alphas.min >= 0
  assert alphas.each_cons(2).any? { |a, b| b < a }, "the highlight fades again"
  borders = runtime.args.outputs.primitives.select { |p| p[:primitive_marker] == :border }
  assert_equal [[919, 282, 41], [918, 281, 43], [917, 280, 45]], borders.map { |b| [b[:x], b[:y], b[:w]] }
  assert_equal [[255, 0, 0]], borders.map { |b| [b[:r], b[:g], b[:b]] }.uniq
end
