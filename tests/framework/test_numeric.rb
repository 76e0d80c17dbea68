# Numbers: tick-time helpers, nil-tolerant operators, wrapping and the small
# arithmetic words games use.

def with_tick(tick)
  saved = Kernel.tick_count
  Kernel.tick_count = tick
  yield
ensure
  Kernel.tick_count = saved
end

def test_operators_tolerate_nil_tick_time_helpers_and_entity_ids
  values = [nil + 5, nil - 5, nil * 5, nil - [1], 5 + nil, 5.0 * nil, 5 > nil,
            5.send(:+, 3), 5.0.send(:*, 2)]
  assert_equal [[5, -5, 0, [], nil, nil, false, 8, 10.0], [nil, nil, nil]], [values, [5 - false, 5 / nil, 2.5 - nil]]
  assert_equal [false, false, false, false], [5 >= nil, 5 < nil, 5.0 <= false, 5.0 > nil]
  # Calls by name keep the interpreter's answers for numbers.
  assert_equal [2, 1.5, true, false], [7.send(:/, 3), 3.0.send(:/, 2), 3.send(:<, 4), 3.0.send(:>=, 4)]
  assert_raises(ZeroDivisionError) { 5.send(:/, 0) }
  error = assert_raises(RuntimeError) { 5 + "a" }
  assert error.message.start_with?("* ERROR:\nAttempted to invoke :+ on 5 with the right hand argument of:\n\na\n\n" \
                                   "The object above is not a Numeric.\n\n"), error.message
  error = assert_raises(RuntimeError) { 2.5 * :x }
  assert error.message.include?("Attempted to invoke :* on 2.5"), error.message
  # Tick-time helpers read the tick counter; numbers equal an entity id.
  with_tick(20) do
    assert_equal [10, 5, false, true, 0.5], [10.elapsed_time, 10.elapsed_time(15), 10.elapsed?(10), 20.new?,
                                             10.elapsed_time_percent(20)]
  end
  with_tick(21) { assert 10.elapsed?(10) }
  entity = QMX::OpenEntity.allocate
  entity.define_singleton_method(:entity_id) { 7 }
  assert_equal [true, false, false, false], [7 == entity, 8 == entity, 7 == nil, 7 == "7"]
end

def test_frame_index_follows_the_tick_or_its_override
  [[0, 0], [6, 1], [20, 3], [21, 0], [22, nil]].each do |tick, frame|
    with_tick(tick) { assert_equal frame, 0.frame_index(4, 5, false), "tick #{tick}" }
  end
  with_tick(22) { assert_equal 0, 0.frame_index(4, 5, true) }
  with_tick(0) { assert_equal 3, 0.frame_index(4, 1, true) }
  with_tick(5) { assert_equal nil, 10.frame_index(4, 5, true) }
  with_tick(12) { assert_equal 0.frame_index(4, 5, true), 0.frame_index(count: 4, hold_for: 5, repeat: true) }
  # The override stands for "now" everywhere, whatever the real tick is.
  with_tick(1000) do
    assert_equal [1, nil, nil, 2], [0.frame_index(4, 5, false, 6), 0.frame_index(4, 5, false, 22),
                                    50.frame_index(4, 5, true, 10),
                                    0.frame_index(count: 4, hold_for: 5, tick_count_override: 11)]
  end
  error = assert_raises(RuntimeError) { 0.frame_index(4) }
  assert error.message.start_with?("* ERROR:\n[4]\n"), error.message
end

def test_clamp_wrap_and_the_small_arithmetic_words
  assert_equal [1, 5, 9, 0, 10], [11, 25, -1, 0, 10].map { |v| v.clamp_wrap(0, 10) }
  assert_equal [1, 3, 0, 10], [11.clamp_wrap(10, 0), 7.clamp_wrap(3, 3), -10.clamp_wrap(0, 10), 20.clamp_wrap(0, 10)]
  assert_in_delta 0.5, 10.5.clamp_wrap(0, 10)
  assert_in_delta 359.0, -1.0.clamp_wrap(0, 360)
  # Far outside the range costs one step, not one per period.
  assert_equal [7, 3], [(10**15 + 7).clamp_wrap(0, 10), (-(10**15) + 3).clamp_wrap(0, 10)]
  assert_in_delta 3.0, (1.0e12 + 3).clamp_wrap(-5.0, 5.0), 0.01
  assert Float::NAN.clamp_wrap(0, 10).nan?
  assert_equal Float::INFINITY, Float::INFINITY.clamp_wrap(0, 10)
  # The small arithmetic words.
  assert_equal [0.5, 1, 0, 1, 1, 0], [5, 15, -3].map { |v| v.percentage_of(10) } + [0, 4, -4].map { |v| v.percentage_of(0) }
  assert_equal [7, 10, 10, 8], [5.towards(10, 2), 9.towards(10, 2), 12.towards(10, 2), 10.towards(0, 2)]
  assert_equal [15, -15, 0, 2, -3, 2.5], [17.ifloor(5), -17.ifloor(5), -1.idiv(5), 10.idiv(4), -7.idiv(2), 5.fdiv(2)]
  assert_equal [1, -1, 0, 255, 0], [9.sign, -2.5.sign, 0.sign, 300.to_byte, -4.to_byte]
  assert_equal [1000, -1000, 5.0], [Float::INFINITY, -Float::INFINITY, 5.0].map { |v| v.replace_infinity(1000) }
  assert_equal [[nil, nil, nil], [0, 1, 2]], [3.map { |i| i }, 3.map_with_index { |i| i }]
  assert_equal "* ERROR:\nA block is required for Numeric#map.\n\n", assert_raises(RuntimeError) { 3.map }.message
end

