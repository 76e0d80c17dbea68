# Hashes as primitives, and the Array list helpers.

def test_hash_accessors_fallbacks_and_moves
  rect = { x: 10, y: 20, w: 30, h: 40 }
  assert_equal [40, 60, 10, 20], [rect.right, rect.top, rect.left, rect.bottom]
  nested = { rect: { x: 1, y: 2, w: 3, h: 4 } }
  assert_equal [1, 2, 3, 4, nil], [nested.x, nested.y, nested.w, nested.h, nested.left]
  assert_equal [5, 6], [{ point: { x: 5, y: 6 } }.x, { point: { x: 5, y: 6 } }.y]
  assert_equal [nil, nil, nil], [{}.x, {}.path, { x: 1 }.right]
  rgb = { rgb: [10, 20, 30] }
  assert_equal [10, 20, 30, nil, 4], [rgb.r, rgb.g, rgb.b, rgb.a, { rgba: [1, 2, 3, 4] }.a]
  assert_equal [99, 6], [{ r: 99, rgb: [1, 2, 3], rgba: [4, 5, 6, 7] }.r, { rgba: { r: 5, g: 6 } }.g]
  h = {}
  h.x1 = 5
  h.flip_vertically = true
  assert_equal({ x: 5, flip_vertically: true }, h)
  # How a Hash's keys name its kind is checked where passes are drawn.
  h = { w: 10 }
  assert_equal [{ w: 10, x: 5, y: 5 }, { w: 10 }], [h.shift_rect(5, 5), h]
  assert_equal [90.0, 95.0], { x: 100, y: 100, w: 20, h: 10 }.anchor_rect(0.5, 0.5).values_at(:x, :y)
end

def test_array_helpers_and_a_uniform_sample
  assert_equal [[[1, 1], [1, 2], [2, 1], [2, 2]], [[1, 2], [3]]], [[1, 2].product, [1, 2, 3].to_a_pairs]
  assert_equal [[0, 0, 1], [0, 1, 2], [1, 0, 3], [1, 1, 4]], [[1, 2], [3, 4]].map_2d { |r, c, v| [r, c, v] }
  assert_equal [[1, false], [1], [1]], [:reject_nil, :reject_false, :reject_falsey].map { |m| [1, nil, false].send(m) }
  assert_equal [[1, 2, 3, 4], [1, [:k, :v]]], [[1, 2] + (3..4), [1] + { k: :v }]
  error = assert_raises(RuntimeError) { [1, 2] + 3 }
  assert error.message.start_with?("* ERROR:\nInteger doesn't look like an Array.\n\n3\n\nAttempted to invoke :+ against"), error.message
  assert_equal [true, false], [[[0, 0, 1, 1], [5, 5, 2, 2]], [[0, 0, 1, 1]]].map { |list| list.any_intersect_rect?([5, 5, 1, 1]) }
  assert_equal [nil, :only], [[].sample, [:only].sample]
  srand(11)
  counts = Hash.new(0)
  4000.times { counts[[0, 1, 2, 3].sample] += 1 }
  counts.each_value { |count| assert count > 850 && count < 1150, counts.inspect }
end
