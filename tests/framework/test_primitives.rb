# Arrays as primitives: marking, positional fields, the hashes they answer,
# and the attribute mixins of a game's own classes. The geometry questions
# themselves are in test_geometry.rb.

def test_fields_by_position_accessors_that_mark_and_ambiguous_questions_refused
  [[[10, 20, 30, 40].solid, [:primitive_marker, :x, :y, :w, :h, :r, :right, :top], [:solid, 10, 20, 30, 40, nil, 40, 60]],
   # Element 4 holding a path: the array looks like a sprite.
   [[0, 0, 1, 1, "p.png", 5, 6, 7].solid, [:r, :g, :b, :a], [0, 0, 0, 255]],
   [[1, 2, "t"].label, [:size_enum, :alignment_enum, :font], [0, 0, nil]],
   [[1, 2, "t", 2, 1].label, [:size_enum, :alignment_enum], [2, 1]],
   [[1, 2, "t", 1, 2, 3, 4, 5, 6, "f.ttf"].label, [:text, :r, :g, :b, :a, :font], ["t", 3, 4, 5, 6, "f.ttf"]],
   [[0, 0, 3, 4].rect, [:width, :height], [3, 4]]].each do |array, readers, values|
    assert_equal values, readers.map { |reader| array.send(reader) }, array.inspect
  end
  s = [10, 20, 30, 40].solid
  s.r = 200
  assert_equal [10, 20, 30, 40, 200], s
  e = assert_raises(RuntimeError) { [1, 2, "t"].label.size_enum = 3 }
  assert_equal "* ERROR:\nIt doesn't look like this label is structured in such a way that allows for text_size.\n\n", e.message
  # An accessor marks an unmarked array; ambiguous questions are refused.
  pt = [1, 2]
  assert_equal [1, :pending], [pt.x, pt.primitive_marker]
  assert_equal({ x: 1, y: 2, primitive_marker: :point }, pt.to_hash)
  assert_equal [[0, 0, 10, 10], :sprite], [[[0, 0], 10, 10].rect, [0, 0, 1, 1, "a.png"].tap(&:path).primitive_marker]
  [:a, :to_hash, :associate].each do |m|
    e = assert_raises(RuntimeError) { [1, 2, 3].send(m) }
    assert e.message.start_with?("* ERROR:\nThe invocation of :#{m} is ambiguous on [1, 2, 3]"), e.message
  end
  # Moving a rectangle answers a new array.
  r = [10, 10, 20, 20, 255].solid
  assert_equal [[15, 10, 20, 20, [255]], [15, 7, 20, 20, 255], [10, 10, 20, 20, 255]],
               [r.rect_shift_right(5), r.rect_shift(5, -3).solid, r]
  assert_equal :pending, [0, 0, 3, 3, 1].rect.rect.primitive_marker
end

# Marks are mixed in once per array: a later one must still win.
def test_drawable_arrays_answer_with_everything_they_draw_and_a_later_mark_wins
  a = [0, 0, 5, 5].rect
  2.times { a.mark_as_solid! }
  assert_equal :solid, a.primitive_marker
  solid = [1, 2, 3, 4, 5, 6, 7, 8].solid
  assert_equal({ x: 1, y: 2, w: 3, h: 4, r: 5, g: 6, b: 7, a: 8, primitive_marker: :solid }, solid.to_hash)
  assert_equal :border, [1, 2, 3, 4, 5].border.to_hash[:primitive_marker]
  label = [1, 2, "hi", 1, 2, 3, 4, 5, 6].label
  assert_equal ["hi", 3], [label.to_hash[:text], label.to_hash[:r]]
  sprite = [0, 0, 8, 8, "s.png", 0, 255, 1, 2, 3, 0, 0, 4, 4, false, true].sprite
  hash = sprite.to_hash
  assert_equal ["s.png", true, 1, :sprite], [hash[:path], hash[:flip_vertically], hash[:r], hash[:primitive_marker]]
  assert_equal({ x: 0, y: 0, x2: 5, y2: 5, r: 7, g: nil, b: nil, a: nil, primitive_marker: :line },
               [0, 0, 5, 5, 7].solid.line.to_hash)
  merged = [sprite.merge(x: 5), label.merge(x: 5)]
  assert_equal [[5, "s.png", :sprite], [5, "hi", :label]],
               merged.map { |m| [m[:x], m[:path] || m[:text], m.primitive_marker] }
  # A rect has no drawable kind (it is still pending): merging gives its plain hash.
  assert_equal({ x: 9, y: 0, w: 2, h: 2, primitive_marker: :rect }, [0, 0, 2, 2].rect.merge(x: 9))
end

class PendingThing
  def primitive_marker = :pending
end

def test_kind_conversions_mark_every_entry_and_mixins_make_objects_primitives
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

  def initialize = (@x, @y, @w, @h, @path = 10, 20, 30, 40, "hero.png")
  # Attribute mixins make objects primitives.
  hero = Hero.new
  assert_equal [:sprite, 40, 60, 10, 20], [hero.primitive_marker, hero.right, hero.top, hero.left, hero.bottom]
  assert hero.sprite.equal?(hero)
  hero.x1 = 5
  assert_equal 5, hero.x
end
