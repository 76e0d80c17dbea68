# Controller key slots and stick values through the runtime's entry points.
# Real pads are tested end to end (tests/e2e/input_test.cpp).

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

def test_keys_are_recorded_and_replayed_for_the_right_player
  Kernel.tick_count = 10
  runtime = PadRuntime.new
  runtime.controller_key_down(1, 15)
  runtime.controller_key_held(2, 1)
  assert_equal [[:key_down_player_one, 15, 0, 1], [:key_held_player_two, 1, 0, 1]], runtime.recorded
  Kernel.tick_count = 11
  runtime.controller_key_held(2, 1)
  assert_equal 11, runtime.two.key_held.up, "held keeps the tick of its first frame"

  runtime.recording.replaying = true
  runtime.controller_key_up(1, 15)
  assert_equal nil, runtime.one.key_up.a
  runtime.key_up_player_one(15.0, :replay)
  assert_equal 12, runtime.one.key_up.a
  assert_equal nil, runtime.one.key_down.a

  assert_raises(KeyError) { runtime.controller_key_down(1, 5, :replay) }
  error = assert_raises(RuntimeError) { runtime.controller_key_event(2, 15, :key_sideways, :replay) }
  assert_equal "  * ERROR:\n  Layout#set_key failed for player_num: 2, raw_key: 15, event: key_sideways.\n\n", error.message
end

def test_stick_values_are_cut_to_thousands_and_y_points_up
  runtime = PadRuntime.new
  pad = runtime.one
  runtime.left_analog_x_player_1(32767)
  assert_equal [32000, 1.0], [pad.left_analog_x_raw, pad.left_analog_x_perc]
  runtime.right_analog_x_player_2(-32768)
  assert_equal [-32000, -1.0], [runtime.two.right_analog_x_raw, runtime.two.right_analog_x_perc]
  runtime.right_analog_y_player_2(7999)
  assert_equal [-7000, 0.0], [runtime.two.right_analog_y_raw, runtime.two.right_analog_y_perc]

  # Changes within the same thousand are not reported, nor recorded.
  runtime.recorded.clear
  runtime.left_analog_x_player_1(1500)
  runtime.left_analog_x_player_1(1999)
  runtime.left_analog_x_player_2(500)
  runtime.left_analog_x_player_2(-500)
  assert_equal [[:left_analog_x_player_1, 1000, 0, 1], [:left_analog_x_player_2, 0, 0, 1]], runtime.recorded
  assert_equal [1000, 0.0], [pad.left_analog_x_raw, pad.left_analog_x_perc]
end

def test_controller_directions_and_the_keyboard_first
  Kernel.tick_count = 0
  inputs = QMX::Inputs.new
  pad = inputs.controller_one
  pad.activate_down(:up)
  refute pad.up, "a direction counts from the frame after its press"
  pad.activate_held(:up)
  pad.activate_held(:left)
  vector = pad.directional_vector
  assert_equal 2, vector.size
  assert_in_delta(-0.7071, vector[0], 0.0001)
  assert_in_delta 0.7071, vector[1], 0.0001
  pad.activate_up(:up)
  assert pad.up, "released this frame still counts"
  pad.activate_down(:r2)
  assert pad.r2
  refute pad.l2

  inputs.keyboard.key_held.set([:right])
  assert_equal [1, 0], inputs.directional_vector
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
  assert_equal ["q"], data[:text]
end
