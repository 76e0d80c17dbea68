# The configuration screen for joysticks without a mapping, driven the way the
# host drives it: raw joystick events, keyboard keys and one tick per frame.
# A whole configuration, saved and used after a restart, is tested end to end
# (tests/e2e/input_test.cpp).

class ConfigRuntime
  attr_reader :ffi_misc, :platform, :logical_width, :logical_height, :args, :config, :calls

  def initialize
    @calls = []
    @ffi_misc, @platform, @logical_width, @logical_height = self, "Linux", 1280, 720
    @args = Struct.new(:inputs, :outputs).new(QMX::Inputs.new, Struct.new(:primitives).new([]))
    @config = QMX::Controller::Config.new(self)
    Kernel.global_tick_count = 100
  end

  [:close_raw_joystick, :add_controller_config, :convert_rawjoystick_to_controller].each do |name|
    define_method(name) { |arg| @calls << [name, arg]; nil }
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

  def until_steady = 100.times { frame }
  def texts = @args.outputs.primitives.select { |p| p[:primitive_marker] == :label }.map { |p| p[:text] }
  def prompt = texts.find { |t| t.start_with?("Please press the ") }
end

GUID = "03008f60000000000000504944564944"
PAD = 3

def press(runtime, button)
  runtime.config.rawjoystick_button(PAD, button, true)
  runtime.config.rawjoystick_button(PAD, button, false)
end

def configuring(*more)
  runtime = ConfigRuntime.new
  runtime.config.rawjoystick_connected(PAD, "Pad, Deluxe", GUID)
  more.each { |id, name, guid| runtime.config.rawjoystick_connected(id, name, guid) }
  runtime.until_steady
  runtime
end

def test_learning_parts_refuses_reused_controls_and_wobbles
  runtime = configuring
  2.times { press(runtime, 0) }
  runtime.frame
  assert_equal "Please press the B button.", runtime.prompt
  refute runtime.config.set_binding("b0"), "one control cannot serve two parts"
  runtime.frame(:backspace)
  assert_equal "Please press the A button.", runtime.prompt
  [5, 0].each { |button| press(runtime, button) }
  runtime.frame
  assert_equal "Please press the X button.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?(",a:b5,b:b0")
  # A stick half learned alone stays a half; a small wobble is no push.
  runtime = configuring
  4.times { runtime.frame(:space) }
  [0, -16000, -32000, 0].each { |value| runtime.config.rawjoystick_axis(PAD, 2, value) }
  runtime.frame(:space)
  [0, 7500, 15000, 0].each { |value| runtime.config.rawjoystick_axis(PAD, 3, value) }
  runtime.frame
  assert_equal "Please press the left stick up.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?(",platform:Linux,-leftx:-a2")
end

def test_escape_twins_and_disconnects
  runtime = configuring([8, "Second", "05000000aaaa"])
  press(runtime, 0)
  24.times { runtime.frame(:space) }
  assert runtime.frame && runtime.texts.include?("Now play around with the controller, and make sure it feels right!")
  assert runtime.frame(:escape)
  runtime.frame
  assert_equal "Please press the A button.", runtime.prompt
  assert runtime.config.build_binding_string.end_with?("platform:Linux,")
  # Escape while learning: the joystick is closed and the next one follows.
  runtime.frame(:escape)
  runtime.until_steady
  assert_equal [[:close_raw_joystick, PAD]], runtime.calls
  runtime.until_steady
  assert_equal [true, "Please press the A button."], [runtime.texts.include?("Second"), runtime.prompt]
  # Twins are converted together, and disconnects close waiting joysticks only.
  runtime = configuring([9, "Pad, Deluxe", GUID], [-1, "Broken", GUID])
  26.times { runtime.frame(:space) }
  assert_equal [[:convert_rawjoystick_to_controller, PAD], [:convert_rawjoystick_to_controller, 9]], runtime.calls[1..]
  runtime.until_steady
  refute runtime.frame, "the twin never gets a screen of its own"
  runtime = configuring([12, "Other", GUID])
  [12, 77, -1].each { |id| runtime.config.rawjoystick_disconnected(id) }
  assert_equal [[:close_raw_joystick, 12]], runtime.calls
  assert runtime.config.should_tick?
  # Events of other joysticks are ignored.
  runtime.config.rawjoystick_button(12, 0, true)
  runtime.frame
  assert_equal "Please press the A button.", runtime.prompt
  # The joystick being configured going away ends the screen; it is closed
  # once.
  runtime.config.rawjoystick_disconnected(PAD)
  runtime.until_steady
  assert_equal [[:close_raw_joystick, 12], [:close_raw_joystick, PAD]], runtime.calls
  refute runtime.config.should_tick?
  # Joysticks without an id or a GUID are never configured.
  runtime = ConfigRuntime.new
  runtime.config.rawjoystick_connected(-1, "Gone", GUID)
  runtime.config.rawjoystick_connected(4, "No GUID", nil)
  assert_equal [false, [], false], [!!runtime.frame, runtime.args.outputs.primitives, runtime.config.should_tick?]
end
