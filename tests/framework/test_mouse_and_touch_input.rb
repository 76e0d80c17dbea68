# Mouse and touch events through the runtime's entry points.

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

  attr_reader :args, :recording, :recorded

  def initialize
    @args = Args.new(QMX::Inputs.new, Grid.new)
    @recording = Recording.new(false)
    @recorded = []
    @current_touch_count = 0
    c_bridge_init(self)
  end

  def record_input_history(*event)
    @recorded << event
  end

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

def test_moves_land_in_game_coordinates_with_y_up
  Kernel.tick_count = 30
  Kernel.global_tick_count = 500
  runtime = PointerRuntime.new
  runtime.mouse_move(100, 20)
  mouse = runtime.mouse
  assert_equal [100.0, 700.0], mouse.point
  assert_equal true, mouse.moved
  assert_equal 30, mouse.moved_at
  assert_equal 500, mouse.global_moved_at
  assert_equal [[:mouse_move, 100, 20, 2]], runtime.recorded
  mouse.clear
  assert_equal nil, mouse.moved
  assert_equal [100.0, 700.0], mouse.position
end

def test_clicks_releases_and_buttons
  Kernel.tick_count = 4
  Kernel.global_tick_count = 40
  runtime = PointerRuntime.new
  mouse = runtime.mouse
  runtime.mouse_move(10, 700)
  runtime.mouse_button_pressed(1)
  runtime.mouse_button_pressed(3)
  assert_equal 0b101, mouse.button_bits
  assert mouse.button_left
  assert mouse.button_right
  refute mouse.button_middle
  assert_equal [10.0, 20.0], mouse.click.point
  assert_equal [10.0, 20.0], runtime.args.inputs.click
  assert_equal mouse.click, mouse.down

  runtime.mouse_move(30, 690)
  runtime.mouse_button_up(1)
  assert_equal 0b100, mouse.button_bits
  refute mouse.button_left
  assert mouse.button_right
  assert_equal [30.0, 30.0], mouse.up.point
  assert_equal [:mouse_button_up, 1, 0, 1], runtime.recorded.last

  serialized = mouse.serialize
  assert_equal [:click, :down, :up, :x, :y, :moved, :moved_at, :has_focus], serialized.keys
  assert_equal({ x: 10.0, y: 20.0, created_at: 4, global_created_at: 40 }, serialized[:click])

  # The click survives one clear as previous_click, with its own ticks.
  Kernel.tick_count = 5
  Kernel.global_tick_count = 41
  mouse.clear
  assert_equal nil, mouse.click
  assert_equal nil, mouse.up
  assert_equal nil, runtime.args.inputs.click
  assert_equal({ x: 10.0, y: 20.0, created_at: 4, global_created_at: 40 }, mouse.previous_click.to_hash)
  assert_equal 1, mouse.previous_click.created_at_elapsed

  runtime.update_mouse_buttons(0b11010)
  assert_equal [false, true, false, true, true],
               [mouse.button_left, mouse.button_middle, mouse.button_right, mouse.button_x1, mouse.button_x2]

  runtime.mouse_pressed(0, 0)
  assert mouse.button_left
  runtime.mouse_up(0, 0)
  refute mouse.button_left
end

def test_wheel_steps_in_one_frame_add_up
  Kernel.tick_count = 9
  runtime = PointerRuntime.new
  runtime.mouse_wheel(0, 1)
  runtime.mouse_wheel(0, 1)
  runtime.mouse_wheel(-1, 0)
  wheel = runtime.mouse.wheel
  assert_equal(-1, wheel.x)
  assert_equal 2, wheel.y
  assert_equal 9, wheel.created_at
  runtime.mouse.clear
  assert_equal nil, runtime.mouse.wheel
end

def test_two_fingers_and_their_order
  Kernel.tick_count = 1
  runtime = PointerRuntime.new
  inputs = runtime.args.inputs
  runtime.finger_down(11, 100, 100)
  runtime.finger_down(22, 200, 600)
  assert_equal [100.0, 620.0], inputs.finger_one.point
  assert_equal [200.0, 120.0], inputs.finger_two.point
  assert_equal 1, inputs.finger_two.touch_order

  Kernel.tick_count = 2
  runtime.finger_move(22, 210, 610)
  runtime.finger_move(99, 0, 0)
  assert_equal [210.0, 110.0], inputs.finger_two.point
  assert_equal 2, inputs.finger_two.moved_at
  assert_equal 1, inputs.finger_two.down_at
  assert_equal [11, 22], inputs.touch.keys

  runtime.finger_up(11)
  assert_equal nil, inputs.finger_one
  assert inputs.finger_two
  runtime.finger_up(22)
  assert_equal nil, inputs.finger_two
  assert inputs.touch.empty?

  # With every finger lifted the order starts again.
  runtime.finger_down(33, 5, 5)
  assert_equal 0, inputs.finger_one.touch_order
  assert_equal [5.0, 715.0], inputs.finger_one.position
  assert_equal [], runtime.recorded
end

def test_replay_drops_live_pointer_input
  runtime = PointerRuntime.new
  runtime.recording.replaying = true
  runtime.mouse_move(1, 1)
  runtime.mouse_button_pressed(1)
  runtime.mouse_wheel(0, 1)
  runtime.finger_down(1, 1, 1)
  assert_equal [0, 0], runtime.mouse.point
  assert_equal nil, runtime.mouse.click
  assert_equal nil, runtime.mouse.wheel
  assert runtime.args.inputs.touch.empty?
  runtime.mouse_move(1.0, 2.0, :replay)
  runtime.mouse_button_pressed(1.0, :replay)
  assert_equal [1.0, 718.0], runtime.mouse.point
  assert runtime.mouse.button_left
end

def test_inputs_clear_resets_the_frame
  runtime = PointerRuntime.new
  inputs = runtime.args.inputs
  runtime.finger_down(1, 1, 1)
  runtime.mouse_button_pressed(1)
  inputs.http_requests << :request
  inputs.keyboard.key_down.set([:a])
  inputs.controller_one.activate_down(:a)
  inputs.clear
  assert_equal nil, inputs.finger_one
  assert inputs.touch.empty?
  assert_equal [], inputs.http_requests
  assert_equal nil, inputs.mouse.click
  refute inputs.keyboard.key_down.a
  assert_equal nil, inputs.controller_one.key_down.a
end

def test_the_pointer_against_rectangles_and_circles
  runtime = PointerRuntime.new
  mouse = runtime.mouse
  runtime.mouse_move(110, 600)
  button = { x: 100, y: 100, w: 50, h: 30 }
  assert mouse.inside_rect?(button)
  assert mouse.intersect_rect?(button)
  assert mouse.inside_circle?({ x: 110, y: 110 }, 15)
  refute mouse.inside_circle?({ x: 110, y: 110 }, 10), "a point on the circle is outside"
  # Edges count as inside; one pixel off does not.
  runtime.mouse_move(150, 590)
  assert mouse.inside_rect?(button)
  runtime.mouse_move(151, 590)
  refute mouse.inside_rect?(button)
  refute mouse.intersect_rect?(button)
  runtime.mouse_button_pressed(1)
  refute mouse.click.inside_rect?(button)
  assert mouse.click.inside_rect?({ x: 151, y: 130, w: 1, h: 1 })

  touch = runtime.finger_down(1, 120, 610)
  assert touch.inside_rect?(button)
  assert touch.inside_circle?({ x: 120, y: 110 }, 1)
  refute touch.inside_circle?({ x: 130, y: 110 }, 10)
end
