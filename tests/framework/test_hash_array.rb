# Hashes as primitives, and the Array list helpers.

def test_hash_accessors_and_fallbacks
  rect = { x: 10, y: 20, w: 30, h: 40 }
  assert_equal [40, 60, 10, 20], [rect.right, rect.top, rect.left, rect.bottom]
  nested = { rect: { x: 1, y: 2, w: 3, h: 4 } }
  assert_equal [1, 2, 3, 4, nil], [nested.x, nested.y, nested.w, nested.h, nested.left]
  assert_equal [5, 6], [{ point: { x: 5, y: 6 } }.x, { point: { x: 5, y: 6 } }.y]
  assert_equal [nil, nil, nil], [{}.x, {}.path, {}.angle]
  assert_equal nil, { x: 1 }.right
  assert_equal({ x: 1, y: 2 }, { x: 1 }.rect.merge(y: 2))
end

def test_hash_colours_come_from_rgb_arrays
  assert_equal [10, 20, 30, nil], [{ rgb: [10, 20, 30] }.r, { rgb: [10, 20, 30] }.g, { rgb: [10, 20, 30] }.b,
                                   { rgb: [10, 20, 30] }.a]
  assert_equal 4, { rgba: [1, 2, 3, 4] }.a
  assert_equal 99, { r: 99, rgb: [1, 2, 3], rgba: [4, 5, 6, 7] }.r
  assert_equal 6, { rgba: { r: 5, g: 6 } }.g
end

def test_hash_setters_write_their_keys
  h = {}
  assert_equal 5, (h.x1 = 5)
  h.dx = 2
  h.w = 3
  h.flip_vertically = true
  h.path = "p.png"
  assert_equal({ x: 5, dx: 2, w: 3, flip_vertically: true, path: "p.png" }, h)
  h.x = 7
  assert_equal [7, 7, 2], [h.x, h.x1, h.dx]
end

def test_hash_kind
  assert_equal :label, { path: "a", text: "b" }.primitive_marker
  assert_equal :sprite, { path: "a" }.primitive_marker
  assert_equal :line, { x2: 1 }.primitive_marker
  assert_equal nil, { x: 0, y: 0, w: 1, h: 1 }.primitive_marker
  h = { x: 0, y: 0, w: 1, h: 1 }
  assert h.solid.equal?(h)
  assert_equal :solid, h.primitive_marker
  assert_equal :border, { text: "t" }.border.primitive_marker
end

def test_hash_include_is_a_key_test
  h = { name: "ok", 5 => :five }
  assert h.include?(:name)
  assert h.include?(5)
  refute h.include?("ok")
  refute h.include?("name")
end

def test_hash_moves_and_copies
  h = { w: 10 }
  assert_equal({ w: 10, x: 5, y: 5 }, h.shift_rect(5, 5))
  assert_equal({ w: 10 }, h)
  anchored = { x: 100, y: 100, w: 20, h: 10 }.anchor_rect(0.5, 0.5)
  assert_equal [90.0, 95.0], [anchored.x, anchored.y]
  assert_equal [100, 100], [{ x: 100, y: 100, w: 20, h: 10 }.anchor_rect(0, 0).x, 100]
  assert_equal 3, { a: 1 }.associate(b: 2) { |merged| merged.length + 1 }
  assert_equal({ a: 1, b: 2 }, { a: 1 }.associate(b: 2))
end

def test_pretty_format_layout
  assert_equal "{\n  :a => 1,\n    :b => \"x\"\n}", Hash.pretty_format({ a: 1, b: "x" })
  nested = { a: { b: nil } }.pretty_format
  assert_equal "{\n  :a => {\n          :b => nil\n        }\n}", nested
  assert_equal "{\n..\"k\" => :v\n}", { "k" => :v }.pretty_format(".")
end

def test_array_products_and_shapes
  assert_equal [[1, 1], [1, 2], [2, 1], [2, 2]], [1, 2].product
  assert_equal [[1, 3], [2, 3]], [1, 2].product([3])
  assert_equal [1, 3, 2, 2, 3, 2], [1, 2].product([3]) { |x, y, last, other_last| [x, y, last] }
  assert_equal [[0, 0, 1], [0, 1, 2], [1, 0, 3], [1, 1, 4]], [[1, 2], [3, 4]].map_2d { |r, c, v| [r, c, v] }
  assert_equal [[1, 2], [3]], [1, 2, 3].to_a_pairs
  assert_equal({ a: 1 }, [[:a, 1]].pairs_to_hash)
  assert_equal [[:a, 1], [:b, 2]], [:a, :b].map_with_index(1) { |e, i| [e, i] }
  assert_equal [2, 3], [1, 2, 3].rest
  assert [1, 2, 3].include_any?(9, 3)
  refute [1, 2, 3].include_any?(9, 8)
end

def test_array_filters
  assert_equal [1, false], [1, nil, false].reject_nil
  assert_equal [1], [1, nil, false].reject_false
  assert_equal [1], [1, nil, false].reject_falsey
end

def test_array_plus_explains_a_wrong_operand
  assert_equal [1, 2, 3, 4], [1, 2] + (3..4)
  assert_equal [1, 2, 3], [1, 2] << 3
  assert_equal [1, [:k, :v]], [1] + { k: :v }
  error = assert_raises(RuntimeError) { [1, 2] + 3 }
  assert error.message.start_with?("* ERROR:\nInteger doesn't look like an Array.\n\n3\n\nAttempted to invoke :+ against"),
         error.message
  assert error.message.end_with?("expects an Array.\n\n"), error.message
end

def test_sample_is_uniform
  assert_equal nil, [].sample
  assert_equal :only, [:only].sample
  srand(11)
  counts = Hash.new(0)
  4000.times { counts[[0, 1, 2, 3].sample] += 1 }
  counts.each_value { |count| assert count > 850 && count < 1150, counts.inspect }
end

def test_array_deprecations
  error = assert_raises(RuntimeError) { [].any_intersects_rect?({}) }
  assert error.message.start_with?("* ERROR:\n~Array#any_intersects_rect?~ (with an \"s\") has been removed.\n"), error.message
  refute [{ x: 0, y: 0, w: 1, h: 1 }].any_intersect_rect?({ x: 5, y: 5, w: 1, h: 1 })
  assert [{ x: 0, y: 0, w: 1, h: 1 }, { x: 5, y: 5, w: 2, h: 2 }].any_intersect_rect?({ x: 5, y: 5, w: 1, h: 1 })
end
