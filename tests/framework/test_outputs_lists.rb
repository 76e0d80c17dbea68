# Pushing whole lists: a list of Hashes takes a shorter road into the
# collection, which must end exactly where the general one does.

class ListsTestRuntime
  def logical_width = 1280
  def logical_height = 720
  def production = true
  def load_status = :ready
  def log(obj, _sender = nil) = original_puts(obj)
end

def list_outputs
  $qmx = ListsTestRuntime.new
  QMX::Outputs.new
end

def test_a_list_of_hashes_is_appended_in_order_with_its_ids
  sprites = list_outputs.sprites
  a = { x: 1, path: "a.png", id: :a }
  b = { x: 2 } # no marker of its own: still appended as it is
  c = { x: 3, path: "c.png", id: :c }
  sprites << [a, b, c]
  assert_equal [a, b, c, a, c].map(&:object_id), [*sprites, sprites[:a], sprites[:c]].map(&:object_id)
end

def test_a_list_mixing_hashes_with_other_shapes_goes_the_general_way
  sprites = list_outputs.sprites
  arrays_before = $perf_counter_primitive_is_array
  list = [{ x: 1, path: "a.png" }, [0, 0, 10, 10, "b.png"], nil, { x: 2, path: "c.png" }]
  sprites << list
  assert_equal [3, :sprite], [sprites.length, sprites[1].primitive_marker]
  assert_equal arrays_before + 1, $perf_counter_primitive_is_array
end

def test_a_collection_pushed_into_another_keeps_its_hashes
  out = list_outputs
  out.static_sprites << [{ x: 1, path: "a.png" }, { x: 2, path: "b.png" }]
  out.sprites << out.static_sprites
  assert_equal out.static_sprites.map(&:object_id), out.sprites.map(&:object_id)
end
