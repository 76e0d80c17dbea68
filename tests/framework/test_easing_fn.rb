# Easing chains and splines, and the functional helpers.

SPLINE = [[0, 0.25, 0.75, 1.0], [1.0, 0.75, 0.25, 0]]

def test_easing_chains
  e = QMX::Easing
  assert_equal [0.5, 0, 1, 0.9375, 0.25], [e.ease(10, 40, 60), e.ease(10, 5, 60), e.ease(10, 70, 60),
                                           e.ease(0, 15, 60, :quad, :flip), e.ease(0, 30, 60, [:flip, [:quad]])]
  # An animation without duration is complete.
  assert_equal [1, 0, 1], [e.ease(10, 10, 0), e.ease(10, 10, 0, :flip), e.ease(10, 12, -5)]
  # quart is x^5 and quint x^6, as games have always had them.
  [[:quart, 0.03125], [:quint, 0.015625]].each { |name, y| assert_in_delta y, e.ease(0, 30, 60, name), 0.0000001 }
  seen = []
  assert_equal 1, e.ease(0, 30, 60, ->(x, start, duration) { seen << [x, start, duration]; x * 4 })
  assert_equal [[0.5, 0, 60], 0], [seen.last, e.ease(0, 30, 60, ->(x, *) { -1 })]
  error = assert_raises(RuntimeError) { e.ease(0, 1, 2, 5) }
  assert_equal "* ERROR:\nI don't know how to execute easing function with definition 5.\n\n", error.message
end

def test_splines_stay_within_their_curves
  e = QMX::Easing
  assert_equal [0.5, 1.0, 0.5, 0, 0], [15, 30, 45, 60, 90].map { |t| e.ease_spline(0, t, 60, SPLINE) }
  # Before the start the spline holds its first value instead of reading
  # curves from the end.
  assert_equal [0, 0, 0], [-1, -30, -1000].map { |t| e.ease_spline(0, t, 60, SPLINE) }
  three = [[0, 0, 0, 0], [1, 1, 1, 1], [2, 2, 2, 2]]
  [0, 30, 59].each_with_index { |t, i| assert_in_delta i, e.ease_spline(0, t, 60, three), 0.000001 }
  saved = Kernel.tick_count
  Kernel.tick_count = 15
  assert_equal [0.5, 1], [0.ease_spline(60, SPLINE), 15.ease(0)]
ensure
  Kernel.tick_count = saved
end

def test_fn_helpers_skip_nil_and_refuse_nan
  f = QMX::Fn
  assert_equal [6, 0, nil, nil], [f.add(1, nil, [2, [3]]), f.add, f.add(1, Float::NAN), f.add(Float::INFINITY)]
  assert_equal [-5, 5, nil], [f.sub(5), f.sub(10, 3, 2), f.sub]
  assert_equal [2.5, nil, nil, nil, 1, 0.25, 2.5], [f.div(10, 4), f.div(1, 0), f.div(0), f.div(5, nil, 0), f.div, f.div(4),
                                                    f./(5, 2)]
  assert_equal [2, -3, nil, 24, 0, 1], [f.idiv(10, 4), f.idiv(-7, 2), f.idiv(3, 0), f.mul(2, 3, 4), f.mul(2, 0), f.mul]
  assert_equal [3, nil, 2, 1, 3, nil, 2, nil], [f.lt(1, 2, 3), f.lt(1, 1), f.lte(1, 1, 2), f.gt(3, 2, 1), f.gte(3, 3), f.lt,
                                               f.lt(1, nil, 2), f.gt(1, [2, 3])]
  assert_equal [true, false, false, false, true, true], [f.eq?(1, 1, 1), f.eq?(1, 2), f.eq?(1, nil), f.eq?(nil, 1),
                                                          f.eq?(nil, nil), f.eq?]
  # The class keeps Module's own comparisons.
  assert_equal [false, true, true], [f == nil, f == QMX::Fn, f < Object]
  source = [1, 2]
  f.acopy(source) << 3
  assert_equal [[1, 2], [], nil, nil, [2, 4]],
               [source, f.acopy(nil), f.aget(nil, 0), f.amap(nil, :x), f.amap(source, ->(v) { v * 2 })]
  assert_equal [2, nil, true, 3, nil], [f.and(1, 2), f.and(1, nil), f.and, f.or(nil, false, 3), f.or(nil)]
  assert_equal [3, 2, 1], f.areduce([1, 2, 3], [], ->(element, aggregate) { [element] + aggregate })
end

