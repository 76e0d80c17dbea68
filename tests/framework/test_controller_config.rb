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

def test_the_try_out_shows_controls_and_learns_nothing_new
  runtime = configuring("Plain Pad")
  runtime.until_steady
  press(runtime, 1)
  24.times { runtime.frame(:space) }
  runtime.config.rawjoystick_button(PAD, 1, true)
  runtime.config.rawjoystick_button(PAD, 7, true)
  runtime.frame
  assert runtime.texts.include?("[ESCAPE]: Reconfigure, [SPACE]: Save this configuration")
  assert_equal [[919, 282]], runtime.highlights
  runtime.frame(:space)
  assert_equal [:add_controller_config, "#{GUID},Plain Pad,platform:Linux,a:b1"], runtime.ffi_misc.calls.first
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

  # Joysticks without an id or a GUID are never configured.
  runtime = ConfigRuntime.new
  runtime.config.rawjoystick_connected(-1, "Gone", GUID)
  runtime.config.rawjoystick_connected(4, "No GUID", nil)
  refute runtime.frame
  assert_equal [], runtime.args.outputs.primitives
  refute runtime.config.should_tick?
end
