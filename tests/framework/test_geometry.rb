# Geometry over hashes, arrays and game objects.

# A game's own rectangle class.
Crate = Struct.new(:x, :y, :w, :h) do
  attr_rect
  def shift_rect(dx, dy) = Crate.new(x + dx, y + dy, w, h)
end

def box(x, y, w, h) = { x: x, y: y, w: w, h: h }

def test_intersection_tolerance_and_the_same_questions_over_every_kind_of_rectangle
  a = box(0, 0, 10, 10)
  [[box(10, 0, 10, 10), nil, false], [box(10, 0, 10, 10), 0, true], [box(9.9, 0, 10, 10), nil, false],
   [box(9.7, 0, 10, 10), nil, true], [box(0, 10.5, 10, 10), 0, false], [box(Float::NAN, 0, 10, 10), nil, false],
   [box(0, Float::NAN, 10, 10), 0, false], [box(0, 0, Float::NAN, 10), 0, false]].each do |other, tolerance, expected|
    assert_equal expected, tolerance ? a.intersect_rect?(other, tolerance) : a.intersect_rect?(other), other.inspect
  end
  refute box(Float::NAN, 0, 10, 10).intersect_rect?(a)
  error = assert_raises(NoMethodError) { QMX::Geometry.intersect_rect?(box(0, 0, 1, 1), Object.new) }
  assert error.message.start_with?("* ERROR:\n:intersect_rect? failed for\n- rect_one: "), error.message
  assert error.message.include?("* FAILURE REASON:\nrect_two needs to implement the following methods: " \
                                "[:left, :right, :top, :bottom]"), error.message
  # The same questions over hashes, arrays and attr_rect objects.
  crate = Crate.new(0, 0, 10, 10)
  assert_equal [true, false, true, true, false, true],
               [crate.intersect_rect?([5, 5, 10, 10]), crate.intersect_rect?(box(10, 0, 10, 10)),
                QMX::Geometry.intersect_rect?([0, 0, 10, 10], Crate.new(9, 9, 5, 5)), [2, 2, 4, 4].inside_rect?(crate),
                box(-0.05, 0, 10, 10).inside_rect?(box(0, 0, 100, 100)), box(-0.05, 0, 10, 10).inside_rect?(box(0, 0, 100, 100), 0.05)]
  assert_equal [false, true], [5, 5.01].map { |r| { x: 3, y: 4 }.point_inside_circle?({ x: 0, y: 0 }, r) }
  assert_equal [5.0, 5.0], [QMX::Geometry.distance({ x: 0, y: 0 }, { x: 3, y: 4 }),
                            QMX::Geometry.distance(Crate.new(0, 0, 1, 1), [3, 4])]
  assert crate.scale_rect(0.5, 0.5).equal?(crate)
  assert_equal [2.5, 2.5, 5.0, 5.0], crate.to_a
  # Angles in degrees, the one along the x axis reading 360.
  origin = { x: 0, y: 0 }
  angles = [[10, 0], [0, 10], [-10, 0], [0, -10]].map { |x, y| origin.angle_to({ x: x, y: y }) }
  [360.0, 90.0, 180.0, 270.0].zip(angles).each { |expected, angle| assert_in_delta expected, angle, 0.000001 }
  assert_equal [360.0, 180.0], [[0, 0].angle_to([10, 0]), origin.angle_from({ x: 10, y: 0 })]
  # Between lines, vertical ones included.
  vertical, horizontal, rising = { x: 0, y: 0, x2: 0, y2: 5 }, { x: 0, y: 0, x2: 1, y2: 0 }, { x: 0, y: 0, x2: 1, y2: 1 }
  [[rising, horizontal, 45.0], [vertical, horizontal, 90.0], [horizontal, vertical, 90.0], [vertical, rising, 45.0],
   [rising, vertical, -45.0], [vertical, vertical, 0.0]].each do |one, two, expected|
    assert_in_delta expected, QMX::Geometry.angle_between_lines(one, two), 0.000001, [one, two].inspect
  end
end

def test_lines_and_their_intersections_including_horizontal_and_vertical_ones
  g = QMX::Geometry
  assert_equal [nil, 99, 0.5, 1.0], [g.line_slope({ x: 1, y: 0, x2: 1, y2: 5 }),
                                     g.line_slope({ x: 1, y: 0, x2: 1, y2: 5 }, replace_infinity: 99),
                                     g.line_slope({ x: 0, y: 0, x2: 2, y2: 1 }), g.line_y_intercept({ x: 2, y: 2, x2: 4, y2: 3 })]
  assert_equal [{ x: 0.5, y: 1.0 }, { x: -1.0, y: 0.5 }, { x: 0.0, y: 0.0 }],
               [[2, 4], [-4, 2], [0, 0]].map { |x2, y2| g.line_rise_run({ x: 0, y: 0, x2: x2, y2: y2 }) }
  assert_equal({ x: 0, y: 10, w: 10, h: -10 }, g.line_rect({ x: 10, y: 0, x2: 0, y2: 10 }))
  # The side of a line does not depend on the order of its ends.
  points = [{ x: 0, y: 5 }, { x: 5, y: 5 }, { x: 5, y: 0 }]
  [{ x: 0, y: 0, x2: 10, y2: 10 }, { x: 10, y: 10, x2: 0, y2: 0 }].each do |line|
    assert_equal [:left, :on, :right], points.map { |p| g.ray_test(p, line) }
  end
  # Intersections, horizontal and vertical lines included.
  diagonal = { x: 0, y: 0, x2: 10, y2: 10 }
  assert_equal [5.0, 5.0], g.line_intersect(diagonal, { x: 0, y: 10, x2: 10, y2: 0 })
  assert_equal [3.0, 3.0], g.line_intersect(diagonal, { x: 0, y: 3, x2: 10, y2: 3 })
  assert_equal [4.0, 4.0], g.line_intersect({ x: 4, y: 0, x2: 4, y2: 10 }, diagonal)
  assert_equal [4.0, 2.0], g.line_intersect({ x: 0, y: 2, x2: 9, y2: 2 }, { x: 4, y: -5, x2: 4, y2: 5 })
  refute g.line_intersect({ x: 0, y: 0, x2: 1, y2: 0 }, { x: 0, y: 1, x2: 1, y2: 1 }).all?(&:finite?)
  assert g.line_intersect({ x: 0, y: 0, x2: 0, y2: 1 }, { x: 1, y: 0, x2: 1, y2: 1 }).all?(&:nan?)
end

def test_scaling_centring_and_moving_copy_what_they_should
  hash, array = { x: 10, y: 10, w: 100, h: 100, path: "p" }, [10, 10, 100, 100, "p"]
  assert_equal [{ x: -40.0, y: -40.0, w: 200, h: 200, path: "p" }, [-40.0, -40.0, 200, 200, "p"]],
               [hash.scale_rect(2, 0.5), QMX::Geometry.scale_rect(array, 2, [0.5, 0.5])]
  assert_equal [10, [10, 10, 100, 100, "p"]], [hash.x, array]
  crate = Crate.new(0, 0, 10, 20)
  assert crate.scale_rect_extended(percentage_x: 3, anchor_x: 1).equal?(crate)
  assert_equal [-20, 0, 30, 20], crate.to_a
  assert_equal [[95.0, 95.0, 10, 10], [100, 90.0, 10, 10]], [QMX::Geometry.to_square(10, 100, 100),
                                                            QMX::Geometry.to_square(10, 100, 100, 0, 1)]
  assert_equal [[45.0, 40.0], [5, 45.0], [90, 95]],
               [box(7, 7, 10, 20).center_inside_rect(box(0, 0, 100, 100)).values_at(:x, :y),
                Crate.new(0, 0, 10, 10).center_inside_rect_y(box(5, 0, 100, 100)).to_a.first(2),
                Crate.new(100, 100, 20, 10).anchor_rect(0.5, 0.5).to_a.first(2)]
  line = { x: 0, y: 0, x2: 5, y2: 5 }
  assert_equal [{ x: 1, y: 2, x2: 6, y2: 7 }, 0], [QMX::Geometry.shift_line(line, 1, 2), line.x]
end
