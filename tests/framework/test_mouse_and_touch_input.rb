# Mouse buttons and touch fingers through the runtime's entry points. Moves,
# clicks and the wheel are tested end to end (tests/e2e/input_test.cpp).

class PointerRuntime
  include QMX::Runtime::CBridge
  # The game's grid with its origin at the bottom left of a 1280 x 720 screen.
  class Grid
    def untransform_x(x)
      x - 0.0
    end

    def untransform_y(y)
      720 + y * -1.0
    end
  end
  Args = Struct.new(:inputs, :grid)
  Recording = Struct.new(:replaying) do
    def is_replaying?
      replaying
    end
  end

  attr_reader :args, :recording

  def initialize
    @args = Args.new(QMX::Inputs.new, Grid.new)
    @recording = Recording.new(false)
    @current_touch_count = 0
    c_bridge_init(self)
  end

  def record_input_history(*event); end

  def reset_touch_count
    @current_touch_count = 0
  end

  def increase_touch_count
    count = @current_touch_count
    @current_touch_count += 1
    count
  end

  def mouse
    @args.inputs.mouse
  end
end

def test_buttons_and_the_click_kept_for_one_more_frame
  Kernel.tick_count = 4
  Kernel.global_tick_count = 40
  runtime = PointerRuntime.new
  mouse = runtime.mouse
  runtime.mouse_move(10, 700)
  runtime.mouse_button_pressed(1)
  runtime.mouse_button_pressed(3)
  assert_equal [true, false, true], [mouse.button_left, mouse.button_middle, mouse.button_right]
  runtime.mouse_button_up(1)
  assert_equal [false, false, true], [mouse.button_left, mouse.button_middle, mouse.button_right]
  runtime.update_mouse_buttons(0b11010)
  assert_equal [false, true, false, true, true],
               [mouse.button_left, mouse.button_middle, mouse.button_right, mouse.button_x1, mouse.button_x2]

  assert_equal [:click, :down, :up, :x, :y, :moved, :moved_at, :has_focus], mouse.serialize.keys
  Kernel.tick_count = 5
  mouse.clear
  assert_equal nil, mouse.click
  assert_equal nil, runtime.args.inputs.click
  assert_equal({ x: 10.0, y: 20.0, created_at: 4, global_created_at: 40 }, mouse.previous_click.to_hash)
  assert_equal 1, mouse.previous_click.created_at_elapsed
  assert mouse.inside_circle?({ x: 10, y: 25 }, 5.01)
  refute mouse.inside_circle?({ x: 10, y: 25 }, 5), "a point on the circle is outside"
end

def test_two_fingers_and_their_order
  Kernel.tick_count = 1
  runtime = PointerRuntime.new
  inputs = runtime.args.inputs
  runtime.finger_down(11, 100, 100)
  runtime.finger_down(22, 200, 600)
  assert_equal [100.0, 620.0], inputs.finger_one.point
  assert_equal [200.0, 120.0], inputs.finger_two.point
  assert inputs.finger_two.inside_rect?({ x: 190, y: 110, w: 20, h: 20 })

  Kernel.tick_count = 2
  runtime.finger_move(22, 210, 610)
  runtime.finger_move(99, 0, 0)
  assert_equal [210.0, 110.0], inputs.finger_two.point
  assert_equal [2, 1], [inputs.finger_two.moved_at, inputs.finger_two.down_at]
  assert_equal [11, 22], inputs.touch.keys

  runtime.finger_up(11)
  assert_equal nil, inputs.finger_one
  assert inputs.finger_two
  runtime.finger_up(22)
  assert_equal nil, inputs.finger_two
  # With every finger lifted the order starts again.
  runtime.finger_down(33, 5, 5)
  assert_equal 0, inputs.finger_one.touch_order
end

def test_replay_drops_live_pointer_input_and_clear_ends_the_frame
  runtime = PointerRuntime.new
  inputs = runtime.args.inputs
  runtime.recording.replaying = true
  runtime.mouse_move(1, 1)
  runtime.mouse_button_pressed(1)
  runtime.mouse_wheel(0, 1)
  runtime.finger_down(1, 1, 1)
  assert_equal [0, 0], runtime.mouse.point
  assert_equal [nil, nil], [runtime.mouse.click, runtime.mouse.wheel]
  assert inputs.touch.empty?
  runtime.mouse_move(1.0, 2.0, :replay)
  runtime.mouse_button_pressed(1.0, :replay)
  runtime.finger_down(1, 1, 1, :replay)
  assert_equal [1.0, 718.0], runtime.mouse.point
  assert runtime.mouse.button_left

  inputs.http_requests << :request
  inputs.keyboard.key_down.set([:a])
  inputs.controller_one.activate_down(:a)
  inputs.clear
  assert_equal [nil, nil], [inputs.finger_one, inputs.mouse.click]
  assert inputs.touch.empty?
  assert_equal [], inputs.http_requests
  refute inputs.keyboard.key_down.a
  assert_equal nil, inputs.controller_one.key_down.a
end
