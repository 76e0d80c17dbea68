# Arrays as primitives: marking, positional fields, the hashes they answer,
# and the attribute mixins of a game's own classes. The geometry questions
# themselves are in test_geometry.rb.

def test_a_marked_array_reads_its_fields_by_position
  s = [10, 20, 30, 40].solid
  assert_equal :solid, s.primitive_marker
  assert_equal [10, 20, 30, 40, nil], [s.x, s.y, s.w, s.h, s.r]
  s.r = 200
  assert_equal [10, 20, 30, 40, 200], s
  assert_equal [40, 60], [s.right, s.top]
  # Element 4 holding a path: the array looks like a sprite.
  looks = [0, 0, 1, 1, "p.png", 5, 6, 7].solid
  assert_equal [0, 0, 0, 255], [looks.r, looks.g, looks.b, looks.a]
  plain = [1, 2, "t"].label
  assert_equal [0, 0, nil], [plain.size_enum, plain.alignment_enum, plain.font]
  e = assert_raises(RuntimeError) { plain.size_enum = 3 }
  assert_equal "* ERROR:\nIt doesn't look like this label is structured in such a way that allows for text_size.\n\n", e.message
  assert_equal [2, 1], [[1, 2, "t", 2, 1].label.size_enum, [1, 2, "t", 2, 1].label.alignment_enum]
  assert_equal [255, 0, 0, nil], [1, 2, "t", 255, 0, 0].label.values_at(3..6)
  full = [1, 2, "t", 1, 2, 3, 4, 5, 6, "f.ttf"].label
  assert_equal ["t", 3, 4, 5, 6, "f.ttf"], [full.text, full.r, full.g, full.b, full.a, full.font]
end

def test_an_accessor_marks_an_unmarked_array_and_ambiguous_questions_are_refused
  pt = [1, 2]
  assert_equal [1, :pending], [pt.x, pt.primitive_marker]
  assert_equal({ x: 1, y: 2, primitive_marker: :point }, pt.to_hash)
  assert_equal [0, 0, 10, 10], [[0, 0], 10, 10].rect
  assert_equal [3, 4], [[0, 0, 3, 4].width, [0, 0, 3, 4].height]
  assert_equal :sprite, [0, 0, 1, 1, "a.png"].tap(&:path).primitive_marker
  [:a, :to_hash, :associate].each do |m|
    e = assert_raises(RuntimeError) { [1, 2, 3].send(m) }
    assert e.message.start_with?("* ERROR:\nThe invocation of :#{m} is ambiguous on [1, 2, 3]"), e.message
  end
end

def test_a_later_mark_wins
  a = [0, 0, 5, 5].rect
  a.mark_as_solid!
  a.mark_as_solid!
  assert_equal :solid, a.primitive_marker
  assert_equal({ x: 0, y: 0, x2: 5, y2: 5, r: 7, g: nil, b: nil, a: nil, primitive_marker: :line },
               [0, 0, 5, 5, 7].solid.line.to_hash)
end

def test_drawable_arrays_answer_with_everything_they_draw
  solid = [1, 2, 3, 4, 5, 6, 7, 8].solid
  assert_equal({ x: 1, y: 2, w: 3, h: 4, r: 5, g: 6, b: 7, a: 8, primitive_marker: :solid }, solid.to_hash)
  assert_equal :border, [1, 2, 3, 4, 5].border.to_hash[:primitive_marker]
  label = [1, 2, "hi", 1, 2, 3, 4, 5, 6].label
  assert_equal ["hi", 3], [label.to_hash[:text], label.to_hash[:r]]
  sprite = [0, 0, 8, 8, "s.png", 0, 255, 1, 2, 3, 0, 0, 4, 4, false, true].sprite
  hash = sprite.to_hash
  assert_equal ["s.png", true, 1, :sprite], [hash[:path], hash[:flip_vertically], hash[:r], hash[:primitive_marker]]
  line = [0, 0, 9, 9, 1].line
  assert_equal({ x: 0, y: 0, x2: 9, y2: 9, r: 1, g: nil, b: nil, a: nil, primitive_marker: :line }, line.to_hash)

  merged = sprite.merge(x: 5)
  assert_equal [5, "s.png", :sprite], [merged[:x], merged[:path], merged.primitive_marker]
  merged = label.merge(x: 5)
  assert_equal [5, "hi", :label], [merged[:x], merged[:text], merged.primitive_marker]
  # A rect has no drawable kind (it is still pending): merging gives its plain hash.
  assert_equal({ x: 9, y: 0, w: 2, h: 2, primitive_marker: :rect }, [0, 0, 2, 2].rect.merge(x: 9))
end

def test_rect_helpers_return_new_arrays
  r = [10, 10, 20, 20, 255].solid
  assert_equal [15, 10, 20, 20, [255]], r.rect_shift_right(5)
  assert_equal [10, 10, 20, 20, 255], r
  assert_equal [15, 7, 20, 20, 255], r.rect_shift(5, -3).solid
  assert_equal :pending, [0, 0, 3, 3, 1].rect.rect.primitive_marker
end

class PendingThing
  def primitive_marker = :pending
end

def test_array_kind_conversions_mark_every_entry
  list = [[0, 0, 1, 1], [2, 2, 1, 1]]
  assert list.solids.equal?(list)
  assert_equal [:solid, :solid], list.map(&:primitive_marker)
  nested = [[[0, 0, 1, 1, "a.png"]], { x: 1, path: "b.png" }].sprites
  assert_equal [2, :sprite], [nested.length, nested[0].primitive_marker]
  # Entries already of a kind keep it.
  assert_equal [:solid], [[0, 0, 1, 1].solid].labels.map(&:primitive_marker)
  e = assert_raises(StandardError) { [PendingThing.new].labels }
  assert e.message.start_with?("* ERROR:\nArray#labels\nFailed to convert"), e.message
end

class Hero
  attr_sprite

  def initialize
    @x, @y, @w, @h, @path = 10, 20, 30, 40, "hero.png"
  end
end

def test_attribute_mixins_make_objects_primitives
  hero = Hero.new
  assert_equal [:sprite, 40, 60, 10, 20], [hero.primitive_marker, hero.right, hero.top, hero.left, hero.bottom]
  assert hero.sprite.equal?(hero)
  hero.x1 = 5
  assert_equal 5, hero.x
end
