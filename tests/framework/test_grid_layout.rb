# The grid's origin modes and the layout's rectangles.

class RecordingDraw
  attr_reader :grids

  def initialize
    @grids = []
  end

  def set_grid(x, y, direction)
    @grids << [x, y, direction]
    :sent
  end
end

class SizedRuntime
  attr_accessor :logical_width, :logical_height, :args
  attr_reader :ffi_draw

  def initialize(w = 1280, h = 720)
    @logical_width = w
    @logical_height = h
    @ffi_draw = RecordingDraw.new
  end
end

class GridArgs
  attr_accessor :grid
end

def test_the_grid_starts_bottom_left_and_sends_each_mode_once
  runtime = SizedRuntime.new
  grid = QMX::Grid.new(runtime)
  assert_equal [[0.0, 720, -1.0]], runtime.ffi_draw.grids
  assert_equal [:bottom_left, 720, 720, 640.0, 360.0], [grid.name, grid.transform_y(0), grid.top, grid.center_x, grid.center_y]
  assert_equal 33, grid.untransform_y(grid.transform_y(33))
  assert_equal nil, grid.origin_bottom_left!
  assert_equal :sent, grid.origin_center!
  assert_equal nil, grid.origin_center!
  assert_equal [[0.0, 720, -1.0], [640.0, 360.0, -1.0]], runtime.ffi_draw.grids
  assert_equal [640.0, 360.0, 260.0, -640.0, -360.0, 640.0], [grid.transform_x(0), grid.transform_y(0), grid.transform_y(100),
                                                             grid.left, grid.bottom, grid.right]
  assert_equal [0.0, 0.0], [grid.center_x, grid.center_y]
  assert_equal [-640.0, -360.0, 1280, 720], grid.rect.to_a
  assert_equal [640.0, -360.0], grid.bottom_right.to_a
  grid.origin_bottom_left!
  assert_equal 3, runtime.ffi_draw.grids.length
end

def test_the_grid_reads_the_logical_size_each_time
  runtime = SizedRuntime.new
  grid = QMX::Grid.new(runtime)
  runtime.logical_width = 1000
  assert_equal [1000, 500.0, 1280], [grid.w, grid.w_half, grid.right]
  grid.origin_center!
  assert_equal 500.0, grid.right
end

def test_layout_measurements_at_1280_by_720
  layout = QMX::Layout.new(1280, 720)
  assert_equal({ x: 20.0, y: 52.0, w: 1240, h: 616 }, layout.control_rect)
  assert_equal [12, 24, 8, 16, 44], [layout.row_count, layout.col_count, layout.gutter_width, layout.outer_gutter,
                                     layout.cell_width]
  assert_equal({ x: 0, y: 0, w: 1280, h: 720 }, layout.logical_rect)
  assert_equal({ u: 64, w: 1024, h: 576 }, layout.u_for_16x9(1024, 768))
  assert_equal({ u: 66, w: 1056, h: 594 }, layout.u_for_16x9(1280, 600))
  layout.device.check_math!
  assert_equal 33, layout.font_size_cell.to_i
  assert layout.inspect.start_with?("{:device=>{:name=>\"Device\", :w=>1280, :h=>720, :aspect=>{:w=>1280, :h=>720, :u=>80}")
end

def test_layout_rectangles
  layout = QMX::Layout.new(1280, 720)
  assert_equal({ x: 20, y: 624, w: 44, h: 44, row: 0, col: 0 }, layout.rect(row: 0, col: 0))
  assert_equal({ x: 1216, y: 52, w: 44, h: 44, row: 11, col: 23 }, layout.rect(row: 11, col: 23))
  assert_equal 96, layout.rect(row: 0, col: 0, w: 2)[:w]
  row = layout.rect(row: 2)
  assert_equal [20.0, 1240], [row[:x], row[:w]]
  assert_equal 30, layout.rect(row: 0, col: 0, dx: 10)[:x]
  first = layout.rect(row: 3, dy: 5)[:y]
  assert_equal first, layout.rect(row: 3, dy: 5)[:y]
  wide = layout.rect(row: 0, col: 0, include_row_gutter: true, dw: 1)
  assert_equal [12, 61], [wide[:x], wide[:w]]
  error = assert_raises(RuntimeError) { layout.rect({}) }
  assert error.message.start_with?("LayoutTheory::rect unable to process opts {"), error.message
end

def test_a_rectangle_limited_in_size_stays_centred_in_its_cells
  layout = QMX::Layout.new(1280, 720)
  cell = layout.rect(row: 0, col: 0, w: 2, h: 2)
  small = layout.rect(row: 0, col: 0, w: 2, h: 2, max_width: 40, max_height: 20)
  assert_equal [40, 20], [small[:w], small[:h]]
  assert_equal cell[:x] + cell[:w] / 2.0, small[:x] + small[:w] / 2.0
  assert_equal cell[:y] + cell[:h] / 2.0, small[:y] + small[:h] / 2.0
  assert_equal cell, layout.rect(row: 0, col: 0, w: 2, h: 2, max_width: 500, max_height: -1)
end

def test_centre_mode_shifts_by_half_the_logical_size
  saved = $qmx
  [[1280, 720], [1000, 500]].each do |w, h|
    runtime = SizedRuntime.new(w, h)
    runtime.args = GridArgs.new
    runtime.args.grid = QMX::Grid.new(runtime)
    $qmx = runtime
    layout = QMX::Layout.new(w, h)
    bottom_left = layout.rect(row: 1, col: 1)
    runtime.args.grid.origin_center!
    centred = layout.rect(row: 1, col: 1)
    assert_equal [bottom_left[:x] - w / 2, bottom_left[:y] - h / 2], [centred[:x], centred[:y]]
  end
ensure
  $qmx = saved
end
