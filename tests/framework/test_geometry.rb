# Geometry over hashes and game objects.

class Box
  include QMX::Geometry
  attr_accessor :x, :y, :w, :h

  def initialize(x, y, w, h)
    @x = x
    @y = y
    @w = w
    @h = h
  end

  def left
    x
  end

  def right
    x + w
  end

  def bottom
    y
  end

  def top
    y + h
  end

  def shift_rect(dx, dy)
    Box.new(x + dx, y + dy, w, h)
  end
end

def box_hash(x, y, w, h)
  { x: x, y: y, w: w, h: h }
end

def test_intersection_needs_an_overlap_beyond_the_tolerance
  a = box_hash(0, 0, 10, 10)
  refute a.intersect_rect?(box_hash(10, 0, 10, 10))
  assert a.intersect_rect?(box_hash(10, 0, 10, 10), 0)
  refute a.intersect_rect?(box_hash(9.9, 0, 10, 10))
  assert a.intersect_rect?(box_hash(9.7, 0, 10, 10))
  refute a.intersect_rect?(box_hash(0, 10.5, 10, 10), 0)
  assert Box.new(0, 0, 10, 10).intersect_rect?(box_hash(5, 5, 10, 10))
  assert QMX::Geometry.intersect_rect?(box_hash(5, 5, 10, 10), Box.new(0, 0, 10, 10))
end

def test_intersection_explains_a_missing_accessor
  error = assert_raises(RuntimeError) { QMX::Geometry.intersect_rect?(box_hash(0, 0, 1, 1), Object.new) }
  assert error.message.start_with?("* ERROR:\n:intersect_rect? failed for\n- rect_one: "), error.message
  assert error.message.include?("* FAILURE REASON:\nrect_two needs to implement the following methods: " \
                                "[:left, :right, :top, :bottom]"), error.message
end

def test_containment_circles_and_distance
  outer = box_hash(0, 0, 100, 100)
  assert outer.inside_rect?(outer)
  refute box_hash(-0.05, 0, 10, 10).inside_rect?(outer)
  assert box_hash(-0.05, 0, 10, 10).inside_rect?(outer, 0.05)
  refute({ x: 3, y: 4 }.point_inside_circle?({ x: 0, y: 0 }, 5))
  assert({ x: 3, y: 4 }.point_inside_circle?({ x: 0, y: 0 }, 5.01))
  assert_equal 5.0, QMX::Geometry.distance({ x: 0, y: 0 }, { x: 3, y: 4 })
  error = assert_raises(RuntimeError) { QMX::Geometry.distance({ x: 0 }, Object.new) }
  assert error.message.start_with?(":distance failed for point_one: "), error.message
end

def test_angles_in_degrees
  origin = { x: 0, y: 0 }
  angles = [{ x: 10, y: 0 }, { x: 0, y: 10 }, { x: -10, y: 0 }, { x: 0, y: -10 }].map { |p| origin.angle_to(p) }
  [360.0, 90.0, 180.0, 270.0].each_with_index { |angle, i| assert_in_delta angle, angles[i], 0.000001 }
  assert_equal 360.0, angles[0]
  assert_equal 180.0, origin.angle_from({ x: 10, y: 0 })
  assert_in_delta 45.0, QMX::Geometry.angle_between_lines({ x: 0, y: 0, x2: 1, y2: 1 }, { x: 0, y: 0, x2: 1, y2: 0 })
  error = assert_raises(RuntimeError) { origin.angle_given_point({ x: 1, y: 1 }) }
  assert_equal ":angle_given_point has been deprecated use :angle_from instead.", error.message
  error = assert_raises(RuntimeError) { origin.intersects_rect?(origin) }
  assert error.message.start_with?("intersects_rect? (with an \"s\") has been deprecated.\n"), error.message
end

def test_lines
  g = QMX::Geometry
  assert_equal [nil, 99, 0.5], [g.line_slope({ x: 1, y: 0, x2: 1, y2: 5 }),
                                g.line_slope({ x: 1, y: 0, x2: 1, y2: 5 }, replace_infinity: 99),
                                g.line_slope({ x: 0, y: 0, x2: 2, y2: 1 })]
  assert_equal 1.0, g.line_y_intercept({ x: 2, y: 2, x2: 4, y2: 3 })
  assert_equal({ x: 0.5, y: 1.0 }, g.line_rise_run({ x: 0, y: 0, x2: 2, y2: 4 }))
  assert_equal({ x: -1.0, y: 0.5 }, g.line_rise_run({ x: 0, y: 0, x2: -4, y2: 2 }))
  assert_equal({ x: 1.0, y: 1.0 }, g.line_rise_run({ x: 0, y: 0, x2: 3, y2: 3 }))
  assert_equal({ x: 0.0, y: 0.0 }, g.line_rise_run({ x: 1, y: 1, x2: 1, y2: 1 }))
  assert_equal({ x: 0, y: 10, w: 10, h: -10 }, g.line_rect({ x: 10, y: 0, x2: 0, y2: 10 }))
end

def refute_equal_sides(a, b)
  refute a == b, "expected different sides, got #{a} twice"
end

def test_side_of_a_line_does_not_depend_on_the_order_of_its_ends
  g = QMX::Geometry
  forward = { x: 0, y: 0, x2: 10, y2: 10 }
  backward = { x: 10, y: 10, x2: 0, y2: 0 }
  assert_equal [:left, :on, :right], [{ x: 0, y: 5 }, { x: 5, y: 5 }, { x: 5, y: 0 }].map { |p| g.ray_test(p, forward) }
  assert_equal [:left, :on, :right], [{ x: 0, y: 5 }, { x: 5, y: 5 }, { x: 5, y: 0 }].map { |p| g.ray_test(p, backward) }
  falling = { x: 0, y: 10, x2: 10, y2: 0 }
  assert_equal g.ray_test({ x: 0, y: 0 }, falling), g.ray_test({ x: 0, y: 0 }, { x: 10, y: 0, x2: 0, y2: 10 })
  refute_equal_sides g.ray_test({ x: 0, y: 0 }, falling), g.ray_test({ x: 10, y: 10 }, falling)
end

def test_line_intersections_including_horizontal_and_vertical_lines
  g = QMX::Geometry
  assert_equal [5.0, 5.0], g.line_intersect({ x: 0, y: 0, x2: 10, y2: 10 }, { x: 0, y: 10, x2: 10, y2: 0 })
  assert_equal [3.0, 3.0], g.line_intersect({ x: 0, y: 0, x2: 10, y2: 10 }, { x: 0, y: 3, x2: 10, y2: 3 })
  assert_equal [4.0, 4.0], g.line_intersect({ x: 4, y: 0, x2: 4, y2: 10 }, { x: 0, y: 0, x2: 10, y2: 10 })
  assert_equal [4.0, 2.0], g.line_intersect({ x: 0, y: 2, x2: 9, y2: 2 }, { x: 4, y: -5, x2: 4, y2: 5 })
  parallel = g.line_intersect({ x: 0, y: 0, x2: 1, y2: 0 }, { x: 0, y: 1, x2: 1, y2: 1 })
  refute parallel.all? { |v| v.finite? }
  assert g.line_intersect({ x: 0, y: 0, x2: 0, y2: 1 }, { x: 1, y: 0, x2: 1, y2: 1 }).all?(&:nan?)
end

def test_scaling_keeps_what_it_should
  hash = { x: 10, y: 10, w: 100, h: 100, path: "p" }
  scaled = hash.scale_rect(2, 0.5)
  assert_equal({ x: -40.0, y: -40.0, w: 200, h: 200, path: "p" }, scaled)
  assert_equal 10, hash.x
  assert_equal scaled, QMX::Geometry.scale_rect(hash, 2, [0.5, 0.5])
  box = Box.new(0, 0, 10, 20)
  assert box.scale_rect_extended(percentage_x: 3, anchor_x: 1).equal?(box)
  assert_equal [-20, 0, 30, 20], [box.x, box.y, box.w, box.h]
  if QMX::Primitive::ConversionCapabilities.method_defined?(:w)
    array = [10, 10, 100, 100, "p"]
    assert_equal [-40.0, -40.0, 200, 200, "p"], QMX::Geometry.scale_rect(array, 2, 0.5)
    assert_equal [10, 10, 100, 100, "p"], array
  end
  error = assert_raises(RuntimeError) { QMX::Geometry.scale_rect(Object.new, 2) }
  assert error.message.start_with?(":scale_rect failed for rect: "), error.message
end

def test_squares_centring_and_moving
  assert_equal [95.0, 95.0, 10, 10], QMX::Geometry.to_square(10, 100, 100)
  assert_equal [100, 90.0, 10, 10], QMX::Geometry.to_square(10, 100, 100, 0, 1)
  centred = { x: 0, y: 50, w: 10, h: 10 }.center_inside_rect_x(box_hash(0, 0, 100, 100))
  assert_equal [45.0, 0], [centred.x, centred.y]
  centred = box_hash(7, 7, 10, 20).center_inside_rect(box_hash(0, 0, 100, 100))
  assert_equal [45.0, 40.0], [centred.x, centred.y]
  box = Box.new(0, 0, 10, 10).center_inside_rect_y(box_hash(5, 0, 100, 100))
  assert_equal [5, 45.0], [box.x, box.y]
  error = assert_raises(RuntimeError) { QMX::Geometry.center_inside_rect(Object.new, box_hash(0, 0, 1, 1)) }
  assert error.message.start_with?("* ERROR:\ncenter_inside_rect for self QMX::Geometry and other_rect "), error.message
  assert_equal [90, 95], [Box.new(100, 100, 20, 10).anchor_rect(0.5, 0.5).x, Box.new(100, 100, 20, 10).anchor_rect(0.5, 0.5).y]
  line = { x: 0, y: 0, x2: 5, y2: 5 }
  assert_equal({ x: 1, y: 2, x2: 6, y2: 7 }, QMX::Geometry.shift_line(line, 1, 2))
  assert_equal 0, line.x
  error = assert_raises(RuntimeError) { QMX::Geometry.shift_line(Box.new(0, 0, 1, 1), 1, 1) }
  assert error.message.start_with?("shift_line for "), error.message
  assert_equal 0.5, QMX::Geometry.cubic_bezier(0.5, 0, 0.25, 0.75, 1.0)
end

class Crate
  attr_rect
  attr_accessor :x, :y, :w, :h

  def initialize(x, y, w, h)
    @x = x
    @y = y
    @w = w
    @h = h
  end
end

def test_the_same_questions_over_arrays_and_attr_rect_objects
  crate = Crate.new(0, 0, 10, 10)
  assert crate.intersect_rect?([5, 5, 10, 10])
  refute crate.intersect_rect?({ x: 10, y: 0, w: 10, h: 10 })
  assert [2, 2, 4, 4].inside_rect?(crate)
  assert QMX::Geometry.intersect_rect?([0, 0, 10, 10], Crate.new(9, 9, 5, 5))
  assert_equal 360.0, [0, 0].angle_to([10, 0])
  assert_equal 5.0, QMX::Geometry.distance(Crate.new(0, 0, 1, 1), [3, 4])
  scaled = crate.scale_rect(0.5, 0.5)
  assert scaled.equal?(crate)
  assert_equal [2.5, 2.5, 5.0, 5.0], [crate.x, crate.y, crate.w, crate.h]
end
