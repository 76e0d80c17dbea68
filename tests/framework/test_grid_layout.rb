# The grid's origin modes and the layout's rectangles.

RecordingDraw = Struct.new(:grids) do
  def set_grid(x, y, direction) = grids << [x, y, direction]
end
SizedRuntime = Struct.new(:logical_width, :logical_height, :ffi_draw, :args)

def sized_runtime(w = 1280, h = 720) = SizedRuntime.new(w, h, RecordingDraw.new([]))

# Where the renderer puts the origin is checked end to end.
def test_grid_transforms_follow_the_origin_and_the_logical_size
  grid = QMX::Grid.new(runtime = sized_runtime)
  assert_equal [[[0.0, 720, -1.0]], :bottom_left, 720, 720, 360.0, 33],
               [runtime.ffi_draw.grids, grid.name, grid.transform_y(0), grid.top, grid.center_y, grid.untransform_y(grid.transform_y(33))]
  grid.origin_center!
  assert_equal [640.0, 360.0, 260.0, 0.0, 0.0, [-640.0, -360.0, 1280, 720]],
               [grid.transform_x(0), grid.transform_y(0), grid.transform_y(100), grid.center_x, grid.center_y, grid.rect.to_a]
  grid = QMX::Grid.new(runtime = sized_runtime(1000, 720))
  runtime.logical_width = 900
  grid.origin_center!
  assert_equal [900, 450.0, 450.0], [grid.w, grid.w_half, grid.right]
end

def test_layout_cells_at_1280_by_720_and_limited_sizes_stay_centred
  layout = QMX::Layout.new(1280, 720)
  assert_equal [{ x: 20, y: 624, w: 44, h: 44, row: 0, col: 0 }, { x: 1216, y: 52, w: 44, h: 44, row: 11, col: 23 }],
               [layout.rect(row: 0, col: 0), layout.rect(row: 11, col: 23)]
  assert_equal [96, 30, 12, 61], [layout.rect(row: 0, col: 0, w: 2)[:w], layout.rect(row: 0, col: 0, dx: 10)[:x],
                                   *layout.rect(row: 0, col: 0, include_row_gutter: true, dw: 1).values_at(:x, :w)]
  # Offsets do not build up from one call to the next.
  assert_equal layout.rect(row: 3, dy: 5), layout.rect(row: 3, dy: 5)
  error = assert_raises(RuntimeError) { layout.rect({}) }
  assert error.message.start_with?("LayoutTheory::rect unable to process opts {"), error.message
  # A rectangle limited in size stays centred in its cells.
  cell = layout.rect(row: 0, col: 0, w: 2, h: 2)
  small = layout.rect(row: 0, col: 0, w: 2, h: 2, max_width: 40, max_height: 20)
  assert_equal [40, 20], [small[:w], small[:h]]
  centre = ->(r) { [r[:x] + r[:w] / 2.0, r[:y] + r[:h] / 2.0] }
  assert_equal centre.(cell), centre.(small)
  assert_equal cell, layout.rect(row: 0, col: 0, w: 2, h: 2, max_width: 500, max_height: -1)
end

def test_centre_mode_shifts_by_half_the_logical_size
  saved = $qmx
  [[1280, 720], [1000, 500]].each do |w, h|
    $qmx = sized_runtime(w, h)
    $qmx.args = Struct.new(:grid).new(QMX::Grid.new($qmx))
    layout = QMX::Layout.new(w, h)
    bottom_left = layout.rect(row: 1, col: 1)
    $qmx.args.grid.origin_center!
    centred = layout.rect(row: 1, col: 1)
    assert_equal [bottom_left[:x] - w / 2, bottom_left[:y] - h / 2], [centred[:x], centred[:y]]
  end
ensure
  $qmx = saved
end
