# Keyboard events through the runtime's entry points into args.inputs. The
# frame-by-frame states are tested end to end (tests/e2e/input_test.cpp).

class KeyboardRuntime
  include QMX::Runtime::CBridge
  Args = Struct.new(:inputs)
  Recording = Struct.new(:replaying) do
    def is_replaying?
      replaying
    end

    def stop_replay
      self.replaying = false
    end
  end
  Console = Struct.new(:console_toggle_keys)

  attr_reader :args, :recording, :console, :recorded

  def initialize
    @args = Args.new(QMX::Inputs.new)
    @recording = Recording.new(false)
    @console = Console.new([:backtick!, :tilde!, :superscript_two!, :section_sign!, :ordinal_indicator!, :circumflex!])
    @recorded = []
    c_bridge_init(self)
  end

  def record_input_history(*event)
    @recorded << event
  end

  def keyboard
    @args.inputs.keyboard
  end
end

SHIFT = 1
CTRL = 64
NUM_LOCK = 0x1000
CAPS_LOCK = 0x2000
SCROLL_LOCK = 0x8000
SDLK_LSHIFT = 0x400000E1
SDLK_LEFT = 0x40000050
SDLK_F1 = 0x4000003A

def test_characters_and_names_follow_shift_but_not_the_lock_keys
  assert_equal "!", QMX::KeyboardKeys.char_with_shift(49, SHIFT | NUM_LOCK)
  assert_equal "!", QMX::KeyboardKeys.char_with_shift(49, SHIFT | SCROLL_LOCK)
  assert_equal [:exclamation_point, :shift], QMX::KeyboardKeys.sdl_to_key(49, SHIFT | NUM_LOCK)
  assert_equal "A", QMX::KeyboardKeys.char_with_shift(97, 2 | NUM_LOCK)
  # Caps Lock with Shift types the small letter, still naming a and shift.
  assert_equal "a", QMX::KeyboardKeys.char_with_shift(97, SHIFT | CAPS_LOCK)
  assert_equal [:a, :shift], QMX::KeyboardKeys.sdl_to_key(97, SHIFT | CAPS_LOCK)
  # Another modifier besides shift turns shifting off; Num Lock alone is none.
  assert_equal [:one, :control, :shift], QMX::KeyboardKeys.sdl_to_key(49, SHIFT | CTRL)
  assert_equal "1", QMX::KeyboardKeys.char_with_shift(49, NUM_LOCK)

  assert_equal [:left, :alt, :meta, :control, :shift], QMX::KeyboardKeys.sdl_to_key(SDLK_LEFT, 0xFC3)
  assert_equal [:shift_left, :shift], QMX::KeyboardKeys.sdl_to_key(SDLK_LSHIFT, 0)
  assert_equal [:enter], QMX::KeyboardKeys.sdl_to_key(13, 0)
  assert_equal [:delete], QMX::KeyboardKeys.sdl_to_key(127, 0)
  assert_equal [:superscript_two], QMX::KeyboardKeys.sdl_to_key(178, 0)
  assert_equal nil, QMX::KeyboardKeys.sdl_to_key(SDLK_F1, 0)
  assert_equal nil, QMX::KeyboardKeys.char_with_shift(256, SHIFT)

  # Pressing shift (SDL reports its own modifier too) names shift once; a
  # key without names still tells its code.
  runtime = KeyboardRuntime.new
  runtime.key_down_raw(SDLK_LSHIFT, SHIFT)
  assert_equal [:shift, :shift_left], runtime.keyboard.key_down.truthy_keys - [:raw_key]
  runtime.key_down_raw(SDLK_F1, 0)
  assert_equal SDLK_F1, runtime.keyboard.key_down.raw_key
  assert_equal [:key_down_raw, SDLK_F1, 0, 2, true], runtime.recorded.last
end

def test_a_held_key_is_not_pressed_again
  runtime = KeyboardRuntime.new
  keyboard = runtime.keyboard
  Kernel.tick_count = 3
  keyboard.key_held.set([:a])
  Kernel.tick_count = 4
  runtime.key_down_raw(97, SHIFT)
  refute keyboard.key_down.a
  assert_equal 4, keyboard.key_down.shift
  assert_equal 3, keyboard.key_held.a
end

def test_bang_reads_consume_keys_only_when_they_answer_true
  Kernel.tick_count = 12
  runtime = KeyboardRuntime.new
  down = runtime.keyboard.key_down
  [32, 97, 98, 99].each { |key| runtime.key_down_raw(key, 0) }
  assert_equal 12, down.space!
  assert_equal false, down.space
  refute down.all?([:a, :z!])
  assert down.a
  assert down.all?([:a, :b!])
  assert down.a
  refute down.b
  assert down.any?([:z, :a!])
  refute down.a
  assert_equal [[:c, 12], [:d, nil]], down.get([:c!, :d])
  refute down.c
end

def test_unknown_names_read_nil_once_then_false_and_bad_names_raise
  keys = QMX::KeyboardKeys.new
  assert_equal nil, keys.percent_sign
  assert_equal false, keys.percent_sign
  error = assert_raises(RuntimeError) { keys.send(:"what?") }
  assert error.message.start_with?("* ERROR:\nThere is no member on the keyboard called what?")
  assert error.message.include?("[A] => a")
  error = assert_raises(RuntimeError) { keys.set([:"bad name"]) }
  assert error.message.include?("bad name")

  # Every write shows in the listings, in a stable order.
  Kernel.tick_count = 2
  keys.set([:b, :a])
  keys.c = 5
  assert_equal [:a, :b, :c], keys.truthy_keys
  assert_equal({ a: 2, b: 2, c: 5, truthy_keys: [:a, :b, :c] }, keys.serialize)
  keys.clear
  assert_equal [], keys.truthy_keys
end

def test_direction_helpers_and_shortcuts
  Kernel.tick_count = 1
  keyboard = QMX::Keyboard.new
  keyboard.key_down.set([:left])
  refute keyboard.left, "the arrow counts from the frame after its press"
  assert_equal nil, keyboard.directional_vector
  keyboard.key_held.set([:left, :up])
  vector = keyboard.directional_vector
  assert_equal 2, vector.size
  assert_in_delta(-0.7071, vector[0], 0.0001)
  assert_in_delta 0.7071, vector[1], 0.0001

  keyboard = QMX::Keyboard.new
  keyboard.key_up.set([:right])
  assert_equal [1, 0], keyboard.directional_vector, "released this frame still counts"
  keyboard.key_down.set([:w, :p])
  assert keyboard.up, "the letter counts on the frame of its press"
  assert keyboard.p
  refute keyboard.q
  keyboard.key_up.set([:s])
  refute keyboard.ctrl_s
  keyboard.key_up.set([:control])
  assert keyboard.ctrl_s
end

def test_replay_drops_live_keys_except_the_console_toggle
  runtime = KeyboardRuntime.new
  runtime.recording.replaying = true
  assert_equal nil, runtime.key_down_raw(97, 0)
  assert_equal nil, runtime.key_up_raw(97, 0)
  refute runtime.keyboard.key_down.a
  assert_equal [], runtime.recorded

  # Replayed events arrive with Float values and the :replay sender.
  runtime.key_down_raw(49.0, 1.0, :replay)
  assert runtime.keyboard.key_down.exclamation_point
  runtime.key_up_raw(49.0, 1.0, :replay)
  assert runtime.keyboard.key_up.exclamation_point

  # The backtick opens the console: it ends the replay and counts.
  runtime.key_down_raw(96, 0)
  refute runtime.recording.replaying
  assert runtime.keyboard.key_down.backtick
end
