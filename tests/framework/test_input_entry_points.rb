# Keyboard, mouse, touch and controller events through the runtime's entry
# points into args.inputs. What a game sees frame by frame from real SDL
# events and pads is tested end to end (tests/e2e/input_test.cpp).

# A runtime with just what the entry points use: args.inputs, a grid with its
# origin at the bottom left of a 720-pixel-high screen, a recording that may
# be replaying, the console's toggle key and the touch count.
class InputRuntime
  include QMX::Runtime::CBridge
  attr_reader :args, :recorded
  attr_accessor :replaying, :game_input_acts

  def initialize
    @args, @recorded, @touches = Struct.new(:inputs, :grid).new(QMX::Inputs.new, self), [], 0
    c_bridge_init(self)
  end

  def recording; self; end
  def console; self; end
  def console_toggle_keys; [:backtick!]; end
  def is_replaying?; @replaying; end
  def __game_input_acts__?(recorded_kind = true); @game_input_acts == true; end
  def stop_replay; @replaying = false; end
  def record_input_history(*event); @recorded << event; end
  def untransform_x(x); x.to_f; end
  def untransform_y(y); 720.0 - y; end
  def reset_touch_count; @touches = 0; end
  def increase_touch_count; (@touches += 1) - 1; end
  def inputs; @args.inputs; end
end

SHIFT, CTRL, NUM_LOCK, CAPS_LOCK, SCROLL_LOCK = 1, 64, 0x1000, 0x2000, 0x8000
SDLK_LSHIFT, SDLK_F1 = 0x400000E1, 0x4000003A

def test_characters_and_names_follow_shift_but_not_the_lock_keys
  # Caps Lock with Shift types the small letter; another modifier besides
  # shift turns shifting off; Num Lock alone is no modifier.
  { [49, SHIFT | NUM_LOCK] => "!", [49, SHIFT | SCROLL_LOCK] => "!", [97, 2 | NUM_LOCK] => "A",
    [97, SHIFT | CAPS_LOCK] => "a", [49, NUM_LOCK] => "1", [256, SHIFT] => nil
  }.each { |(code, mod), char| assert_equal char, QMX::KeyboardKeys.char_with_shift(code, mod), "#{code}, #{mod}" }
  { [49, SHIFT | NUM_LOCK] => [:exclamation_point, :shift], [97, SHIFT | CAPS_LOCK] => [:a, :shift],
    [49, SHIFT | CTRL] => [:one, :control, :shift], [0x40000050, 0xFC3] => [:left, :alt, :meta, :control, :shift],
    [SDLK_LSHIFT, 0] => [:shift_left, :shift], [SDLK_F1, 0] => nil
  }.each { |(code, mod), names| assert_equal names, QMX::KeyboardKeys.sdl_to_key(code, mod), "#{code}, #{mod}" }
  # Pressing shift (SDL reports its own modifier too) names shift once; a
  # key without names still tells its code.
  runtime = InputRuntime.new
  [[SDLK_LSHIFT, SHIFT], [SDLK_F1, 0]].each { |key| runtime.key_down_raw(*key) }
  assert_equal [[:shift, :shift_left], SDLK_F1], [runtime.inputs.keyboard.key_down.truthy_keys - [:raw_key],
                                                  runtime.inputs.keyboard.key_down.raw_key]
end

# The naming and shift tables are typed by hand: every key a player types,
# with or without shift, must come out as declared key names that read back.
def test_every_typed_key_gets_declared_names_that_read_back
  Kernel.tick_count = 7
  # "#" and "%" have names without readers of their own ("hash" is every
  # object's); they read through get and truthy_keys.
  declared = QMX::KeyboardKeys::KEY_NAMES + [:hash, :percent_sign]
  codes = (32..126).to_a + [8, 9, 13, 27, 127, 167, 178, 186] + QMX::KeyboardKeys::NAVIGATION_KEYS + (0x400000E0..0x400000E7).to_a
  codes.product([0, SHIFT]).each do |code, mod|
    names = QMX::KeyboardKeys.sdl_to_key(code, mod)
    (keys = QMX::KeyboardKeys.new).set(names)
    assert_equal [[], names.uniq.sort, [7] * names.size], [names - declared, keys.truthy_keys.sort, keys.get(names).map(&:last)],
                 "#{code}, #{mod}"
  end
ensure
  Kernel.tick_count = -1
end

# A held key is not pressed again; "!" reads consume a key only when they
# answer true; unknown names read nil once, then false; bad names raise.
def test_key_reads
  keyboard = (runtime = InputRuntime.new).inputs.keyboard
  Kernel.tick_count = 3
  keyboard.key_held.set([:a])
  Kernel.tick_count = 4
  runtime.key_down_raw(97, SHIFT)
  assert_equal [nil, 4, 3], [keyboard.key_down.a, keyboard.key_down.shift, keyboard.key_held.a]

  Kernel.tick_count = 12
  down = (runtime = InputRuntime.new).inputs.keyboard.key_down
  [32, 97, 98, 99].each { |key| runtime.key_down_raw(key, 0) }
  assert_equal [12, false], [down.space!, down.space]
  refute down.all?([:a, :z!])
  assert down.all?([:a, :b!])
  assert_equal [true, false], [!!down.a, !!down.b]
  assert down.any?([:z, :a!])
  refute down.a
  assert_equal [[:c, 12], [:d, nil]], down.get([:c!, :d])
  refute down.c

  keys = QMX::KeyboardKeys.new
  assert_equal [nil, false], [keys.percent_sign, keys.percent_sign]
  error = assert_raises(RuntimeError) { keys.send(:"what?") }
  assert error.message.start_with?("* ERROR:\nThere is no member on the keyboard called what?")
  assert_raises(RuntimeError) { keys.set([:"bad name"]) }
ensure
  Kernel.tick_count = -1
end

# A diagonal gives a two-element vector; arrows count from the frame after
# their press and on the frame of their release, letters at once.
def test_directions_of_keyboard_and_controller
  Kernel.tick_count = 1
  inputs = QMX::Inputs.new
  keyboard, pad = inputs.keyboard, inputs.controller_one
  keyboard.key_down.set([:left])
  pad.activate_down(:up)
  assert_equal [nil, nil, nil], [keyboard.left, pad.up, inputs.directional_vector]
  keyboard.key_held.set([:left, :up])
  [:up, :left].each { |key| pad.activate_held(key) }
  [keyboard, pad].map(&:directional_vector).each do |vector|
    assert_equal 2, vector.size
    vector.each_with_index { |v, i| assert_in_delta(i.even? ? -0.7071 : 0.7071, v, 0.0001) }
  end
  pad.activate_up(:up)
  assert pad.up
  inputs = QMX::Inputs.new
  inputs.controller_one.activate_held(:left)
  inputs.keyboard.key_up.set([:right])
  assert_equal [1, 0], inputs.directional_vector, "the keyboard first"
  inputs.keyboard.key_down.set([:w])
  assert inputs.keyboard.up
end

def test_replay_drops_live_input_except_the_console_toggle
  runtime = InputRuntime.new
  inputs = runtime.inputs
  runtime.replaying = true
  [[:key_down_raw, 97, 0], [:mouse_move, 1, 1], [:mouse_button_pressed, 1], [:mouse_wheel, 0, 1],
   [:finger_down, 1, 1, 1], [:controller_key_up, 1, 15], [:left_analog_x_player_1, 5000]].each { |c| runtime.send(*c) }
  assert_equal [nil, [0, 0], nil, nil, nil, nil, 0, []],
               [inputs.keyboard.key_down.a, inputs.mouse.point, inputs.mouse.click, inputs.mouse.wheel, inputs.finger_one,
                inputs.controller_one.key_up.a, inputs.controller_one.left_analog_x_raw, runtime.recorded]

  # Replayed events arrive with Float values and the :replay sender.
  [[:key_down_raw, 49.0, 1.0], [:mouse_move, 1.0, 2.0], [:mouse_button_pressed, 1.0],
   [:key_up_player_one, 15.0]].each { |c| runtime.send(*c, :replay) }
  assert inputs.keyboard.key_down.exclamation_point && inputs.controller_one.key_up.a
  assert_equal [1.0, 718.0, true], [inputs.mouse.x, inputs.mouse.y, inputs.mouse.button_left]
  # The game's own input acts during a replay, its backtick too, which
  # opens no console and so does not end the replay.
  runtime.game_input_acts = true
  [[:key_down_raw, 96, 0], [:mouse_move, 3, 3]].each { |c| runtime.send(*c) }
  assert_equal [true, 3.0], [runtime.replaying, inputs.mouse.x]
  assert inputs.keyboard.key_down.backtick
  runtime.game_input_acts = false
  # The player's backtick opens the console: it ends the replay and counts.
  inputs.keyboard.key_down.clear
  runtime.key_down_raw(96, 0)
  assert !runtime.replaying && inputs.keyboard.key_down.backtick
end

def test_mouse_buttons_the_click_kept_for_one_more_frame_and_fingers
  Kernel.tick_count, Kernel.global_tick_count = 4, 40
  runtime = InputRuntime.new
  mouse = runtime.inputs.mouse
  [[:mouse_move, 10, 700], [:mouse_button_pressed, 1], [:mouse_button_pressed, 3], [:mouse_button_up, 1]].each { |c| runtime.send(*c) }
  buttons = -> { [mouse.button_left, mouse.button_middle, mouse.button_right, mouse.button_x1, mouse.button_x2] }
  assert_equal [false, false, true, false, false], buttons.call
  runtime.update_mouse_buttons(0b11010)
  assert_equal [false, true, false, true, true], buttons.call
  Kernel.tick_count = 5
  runtime.inputs.clear
  assert_equal [nil, nil], [mouse.click, runtime.inputs.click]
  assert_equal({ x: 10.0, y: 20.0, created_at: 4, global_created_at: 40 }, mouse.previous_click.to_hash)
  assert mouse.inside_circle?({ x: 10, y: 25 }, 5.01)

  # Two fingers and their order.
  Kernel.tick_count = 1
  inputs = (runtime = InputRuntime.new).inputs
  [[11, 100, 100], [22, 200, 600]].each { |f| runtime.finger_down(*f) }
  assert_equal [[100.0, 620.0], [200.0, 120.0]], [inputs.finger_one.point, inputs.finger_two.point]
  assert inputs.finger_two.inside_rect?({ x: 190, y: 110, w: 20, h: 20 })
  Kernel.tick_count = 2
  runtime.finger_move(22, 210, 610)
  runtime.finger_move(99, 0, 0)
  assert_equal [210.0, 110.0, 2, 1], inputs.finger_two.point + [inputs.finger_two.moved_at, inputs.finger_two.down_at]
  runtime.finger_up(11)
  assert_equal [nil, true], [inputs.finger_one, !!inputs.finger_two]
  runtime.finger_up(22)
  # With every finger lifted the order starts again.
  runtime.finger_down(33, 5, 5)
  assert_equal 0, inputs.finger_one.touch_order
ensure
  Kernel.tick_count = -1
end

def test_controller_keys_are_recorded_for_the_right_player_and_sticks_cut_to_thousands
  Kernel.tick_count = 10
  runtime = InputRuntime.new
  runtime.controller_key_down(1, 15)
  runtime.controller_key_held(2, 1)
  assert_equal [[:key_down_player_one, 15, 0, 1], [:key_held_player_two, 1, 0, 1]], runtime.recorded
  Kernel.tick_count = 11
  runtime.controller_key_held(2, 1)
  assert_equal 11, runtime.inputs.controller_two.key_held.up, "held keeps the tick of its first frame"
  assert_raises(KeyError) { runtime.controller_key_down(1, 5) }

  # Stick values are cut to thousands and y points up.
  one, two = runtime.inputs.controller_one, runtime.inputs.controller_two
  [[:left_analog_x_player_1, 32767], [:right_analog_x_player_2, -32768], [:right_analog_y_player_2, 7999]].each { |c| runtime.send(*c) }
  assert_equal [32000, 1.0, -32000, -1.0, -7000, 0.0], [one.left_analog_x_raw, one.left_analog_x_perc, two.right_analog_x_raw,
                                                       two.right_analog_x_perc, two.right_analog_y_raw, two.right_analog_y_perc]
  # Changes within the same thousand are not reported, nor recorded.
  runtime.recorded.clear
  [[1, 1500], [1, 1999], [2, 500], [2, -500]].each { |player, value| runtime.send(:"left_analog_x_player_#{player}", value) }
  assert_equal [[:left_analog_x_player_1, 1000, 0, 1], [:left_analog_x_player_2, 0, 0, 1]], runtime.recorded
end

# Exception reports and saved state show input objects as their serialized
# Hash, printed as data that the saved-state reader takes back.
def test_input_objects_print_as_data
  Kernel.tick_count = 5
  runtime = InputRuntime.new
  inputs = runtime.inputs
  inputs.controller_one.activate_up(:b)
  [:a, :b].each { |key| inputs.controller_one.activate_down(key) }
  runtime.key_down_raw(113, 0)
  [[:mouse_move, 3, 700], [:mouse_button_pressed, 1], [:finger_down, 1, 4, 4]].each { |c| runtime.send(*c) }
  inputs.text << "q"
  assert_equal({ key_down: { a: 6, b: 6 }, key_held: {}, key_up: {} }, inputs.serialize[:controller_one])
  assert_equal [{ q: 5, char: "q", raw_key: 113, truthy_keys: [:q, :char, :raw_key] }, ["q"]],
               [inputs.serialize[:keyboard][:key_down], inputs.serialize[:text]]
  [inputs.keyboard, inputs.keyboard.key_down, inputs.mouse, inputs.finger_one, QMX::Layout.new(1280, 720)].each do |shown|
    assert_equal [shown.serialize, shown.inspect], [QMX::LiteralReader.parse(shown.inspect), shown.to_s]
  end
ensure
  Kernel.tick_count = -1
end

# Shortcuts such as ctrl_b read a key let go while Control is still down,
# and a name two held keys share (both Shift keys) stays held until the
# last of them goes up.
def test_modifiers_stay_held_until_their_own_keys_go_up
  Kernel.tick_count = 1
  runtime = InputRuntime.new
  keyboard = runtime.inputs.keyboard
  frame = ->(*events) { events.each { |e| runtime.send(*e) }; keyboard.start_tick; seen = keyboard.ctrl_b; keyboard.finish_tick; seen }
  frame.call([:key_down_raw, 0x400000E0, CTRL], [:key_down_raw, 0x400000E1, CTRL | SHIFT], [:key_down_raw, 0x400000E5, CTRL | 2])
  frame.call([:key_down_raw, 98, CTRL | 3])
  assert frame.call([:key_up_raw, 98, CTRL | 3]), "B let go under Control"
  frame.call([:key_up_raw, 0x400000E1, CTRL | 2])
  assert_equal [true, true, false], [!!keyboard.key_held.control, !!keyboard.key_held.shift, !!keyboard.key_held.shift_left]
  frame.call([:key_up_raw, 0x400000E5, CTRL])
  refute keyboard.key_held.shift
ensure
  Kernel.tick_count = -1
end
