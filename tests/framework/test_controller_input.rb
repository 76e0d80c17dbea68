# Controller key slots and stick values through the runtime's entry points.

class PadRuntime
  include QMX::Runtime::CBridge
  Args = Struct.new(:inputs)
  Recording = Struct.new(:replaying) do
    def is_replaying?
      replaying
    end
  end

  attr_reader :args, :recording, :recorded

  def initialize
    @args = Args.new(QMX::Inputs.new)
    @recording = Recording.new(false)
    @recorded = []
    c_bridge_init(self)
  end

  def record_input_history(*event)
    @recorded << event
  end

  def one
    @args.inputs.controller_one
  end

  def two
    @args.inputs.controller_two
  end
end

SLOT_UP = 1
SLOT_A = 15
SLOT_DIRECTIONAL_RIGHT = 27

def test_a_button_goes_down_then_held_then_up
  runtime = PadRuntime.new
  pad = runtime.one
  Kernel.tick_count = 10
  runtime.controller_key_down(1, SLOT_A)
  assert_equal 11, pad.key_down.a
  assert_equal nil, pad.key_held.a
  pad.key_down.clear

  Kernel.tick_count = 11
  runtime.controller_key_held(1, SLOT_A)
  assert_equal nil, pad.key_down.a
  assert_equal 12, pad.key_held.a
  Kernel.tick_count = 12
  runtime.controller_key_held(1, SLOT_A)
  assert_equal 12, pad.key_held.a, "held keeps the tick of its first frame"

  Kernel.tick_count = 13
  runtime.controller_key_up(1, SLOT_A)
  assert_equal nil, pad.key_held.a
  assert_equal 14, pad.key_up.a
  assert_equal [:a], pad.key_up.truthy_keys
  assert_equal [], runtime.two.key_up.truthy_keys

  assert_equal [[:key_down_player_one, SLOT_A, 0, 1], [:key_held_player_one, SLOT_A, 0, 1],
                [:key_held_player_one, SLOT_A, 0, 1], [:key_up_player_one, SLOT_A, 0, 1]], runtime.recorded
end

def test_replayed_controller_keys_reach_the_right_player
  runtime = PadRuntime.new
  runtime.recording.replaying = true
  runtime.controller_key_down(2, SLOT_UP)
  assert_equal nil, runtime.two.key_down.up
  runtime.key_down_player_two(1.0, :replay)
  assert runtime.two.key_down.up
  runtime.key_held_player_one(SLOT_DIRECTIONAL_RIGHT.to_f, :replay)
  assert runtime.one.key_held.directional_right
  refute runtime.one.right, "the d-pad slot alone is no direction"
  runtime.key_held_player_one(4.0, :replay)
  assert runtime.one.right
  assert_equal [1, 0], runtime.args.inputs.directional_vector
end

def test_slots_without_a_key_and_unknown_events_raise
  runtime = PadRuntime.new
  assert_raises(KeyError) { runtime.controller_key_down(1, 5) }
  assert_raises(KeyError) { runtime.controller_key_down(1, 0) }
  error = assert_raises(RuntimeError) { runtime.controller_key_event(2, SLOT_A, :key_sideways) }
  assert_equal "  * ERROR:\n  Layout#set_key failed for player_num: 2, raw_key: 15, event: key_sideways.\n\n", error.message
  assert_equal [], runtime.recorded
end

def test_stick_values_are_cut_to_thousands_and_y_points_up
  runtime = PadRuntime.new
  pad = runtime.one
  runtime.left_analog_y_player_1(-25000)
  assert_equal 25000, pad.left_analog_y_raw
  assert_equal 0.75, pad.left_analog_y_perc
  runtime.left_analog_x_player_1(32767)
  assert_equal 32000, pad.left_analog_x_raw
  assert_equal 1.0, pad.left_analog_x_perc
  runtime.right_analog_x_player_2(-32768)
  assert_equal(-32000, runtime.two.right_analog_x_raw)
  assert_equal(-1.0, runtime.two.right_analog_x_perc)
  runtime.right_analog_y_player_2(7999)
  assert_equal(-7000, runtime.two.right_analog_y_raw)
  assert_equal 0.0, runtime.two.right_analog_y_perc
  assert_equal 0, pad.right_analog_x_raw

  # Changes within the same thousand are not reported, nor recorded.
  runtime.recorded.clear
  runtime.left_analog_x_player_1(1500)
  runtime.left_analog_x_player_1(1999)
  runtime.left_analog_x_player_2(500)
  runtime.left_analog_x_player_2(-500)
  assert_equal [[:left_analog_x_player_1, 1000, 0, 1], [:left_analog_x_player_2, 0, 0, 1]], runtime.recorded
  assert_equal 1000, pad.left_analog_x_raw
  assert_equal 0.0, pad.left_analog_x_perc
end

def test_controller_direction_helpers
  Kernel.tick_count = 0
  pad = QMX::Controller.new
  pad.activate_down(:up)
  refute pad.up, "a direction counts from the frame after its press"
  assert_equal nil, pad.directional_vector
  pad.activate_held(:up)
  pad.activate_held(:left)
  vector = pad.directional_vector
  assert_equal 2, vector.size
  assert_in_delta(-0.7071, vector[0], 0.0001)
  assert_in_delta 0.7071, vector[1], 0.0001
  assert_equal 1, pad.up_down
  assert_equal(-1, pad.left_right)
  assert pad.left
  pad.activate_up(:left)
  assert pad.left, "released this frame still counts"
  assert pad.key_up.left
  # Any other key by name: pressed this frame or held.
  pad.activate_down(:r2)
  assert pad.r2
  refute pad.l2
  pad.clear
  assert_equal [], pad.key_held.truthy_keys
  assert_equal [], pad.key_up.truthy_keys
end

def test_the_keyboard_steers_before_the_first_controller
  Kernel.tick_count = 0
  inputs = QMX::Inputs.new
  inputs.controller_one.activate_held(:down)
  assert_equal(-1, inputs.up_down)
  assert_equal [0, -1], inputs.directional_vector
  inputs.keyboard.key_held.set([:right])
  assert_equal [1, 0], inputs.directional_vector
  assert_equal 1, inputs.left_right
  assert_equal(-1, inputs.up_down)
end

def test_inputs_serialize_for_the_exception_export
  Kernel.tick_count = 5
  inputs = QMX::Inputs.new
  inputs.controller_one.activate_down(:a)
  inputs.controller_one.activate_up(:b)
  inputs.controller_one.activate_down(:b)
  inputs.keyboard.key_down.set([:q])
  inputs.text << "q"
  data = inputs.serialize
  assert_equal [:controller_one, :controller_two, :keyboard, :mouse, :text], data.keys
  assert_equal({ key_down: { a: 6, b: 6 }, key_held: {}, key_up: {} }, data[:controller_one])
  assert_equal({ q: 5, truthy_keys: [:q] }, data[:keyboard][:key_down])
  assert_equal false, data[:keyboard][:has_focus]
  assert_equal ["q"], data[:text]
  assert data.to_s.include?(":controller_two=>{:key_down=>{}")
end
