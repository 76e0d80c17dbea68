# Output collections (what a push adds, how arrays get marked, ids, the
# background colour, the per-frame clearing) and the registries of args.

class OutputsTestRuntime < Struct.new(:logical_width, :logical_height, :load_status)
  def production = true
  def log(obj, sender = nil) = original_puts(obj)
  # The grid announces its origin through the drawer; nothing looks at it here.
  def ffi_draw = self
  def set_grid(*) = nil
end

def outputs
  $qmx = OutputsTestRuntime.new(1280, 720, :ready)
  Kernel.global_tick_count = 0
  QMX::Outputs.new
end

def test_what_a_push_adds
  solids = outputs.solids
  [nil, false, 5, 2.5, "s", :sym, [], true].each { |v| assert solids.equal?(solids << v) }
  assert_equal 0, solids.length
  solids << [[0, 0, 10, 10], nil, [20, 20, 10, 10]]
  assert_equal [[[0, 0, 10, 10], [20, 20, 10, 10]], [:solid, :solid]], [solids, solids.map(&:primitive_marker)]
  # A colour as the second element, or a point first: one primitive.
  lines = outputs.lines << [[1, 2], [3, 4, 5]]
  assert_equal [1, :line], [lines.length, lines[0].primitive_marker]
  assert_equal [[0, 0, 5, 5, "a.png"]], outputs.sprites << [[[[0, 0], 5, 5, "a.png"]]]
  # Marked entries, Hashes and objects are kept as they are.
  out = outputs
  hash = { x: 1, y: 2, w: 3, h: 4, id: :player }
  marked = [5, 5, 5, 5].border
  entity = QMX::OpenEntity.new
  out.solids << hash << [marked] << entity
  assert_equal [hash, marked, entity].map(&:object_id), out.solids.map(&:object_id)
  assert_equal [:border, hash.object_id], [marked.primitive_marker, out.solids[:player].object_id]
  out.clear_non_static
  assert_equal [nil, 0], [out.solids[:player], out.solids.length]
  # A list of Hashes takes a shorter road into a collection, which must end
  # exactly where the general one does.
  out = outputs
  a, b, c = { x: 1, path: "a.png", id: :a }, { x: 2 }, { x: 3, path: "c.png", id: :c }
  out.sprites << [a, b, c]
  assert_equal [a, b, c, a, c].map(&:object_id), [*out.sprites, out.sprites[:a], out.sprites[:c]].map(&:object_id)
  out.static_sprites << out.sprites
  assert_equal out.sprites.map(&:object_id), out.static_sprites.map(&:object_id)
  out.solids << [{ x: 1 }, [0, 0, 10, 10], nil, { x: 2 }]
  assert_equal [3, :solid], [out.solids.length, out.solids[1].primitive_marker]
end

def test_mixed_collections_refuse_unmarked_arrays_and_background_colours_are_checked
  out = outputs
  out.primitives << [0, 0, 1, 1].solid << { x: 0, y: 0, text: "hi" }
  e = assert_raises(RuntimeError) { out.primitives << [0, 0, 10, 10].rect }
  assert e.message.start_with?("* ERROR:\nCannot add [0, 0, 10, 10] to outputs.(primitives|debug|reserved).\n\nAuto-guessing"), e.message
  e = assert_raises(RuntimeError) { out.static_debug << [:solid, 0, 0, 1, 1] }
  assert e.message.include?("[0, 0, 1, 1].solid\n"), e.message
  assert_equal 2, out.primitives.length
  e = assert_raises(RuntimeError) { out.sprites << Object.new }
  assert e.message.include?("cannot be added to args.outputs.sprites"), e.message
  [-> { out.solids = [] }, -> { out.sprites + [1] }].each { |reassign| assert_raises(RuntimeError) { reassign.call } }
  # The background colour is checked and completed.
  out = outputs
  out.background_color = [10, 20, 30]
  assert_equal [10, 20, 30, 255], out.background_color
  e = assert_raises(RuntimeError) { out.background_color = ["x"] }
  assert e.message.start_with?("* ERROR: Failed to set background_color for Output.\nThe ~value~ sent to\n\n  args.outputs.background_color=\n\nlooks invalid\n\n  [\"x\"] (Array)"), e.message
  [7, [1, 2, "3"]].each { |bad| assert_raises(RuntimeError) { out.background_color = bad } }
  assert_equal [10, 20, 30, 255], out.background_color
  out.background_color = [1.9, nil, 3, 4]
  assert_equal [1, 230, 3, 4], out.background_color
  # Until the game has loaded the screen is black.
  $qmx.load_status = :vellumcore_started
  assert_equal [0, 0, 0], out.background_color
end

def test_statics_outlive_the_frame_and_screenshots_the_first_tick
  out = outputs
  Kernel.tick_count = 0
  out.static_sprites << { x: 1, path: "s.png", id: :bg }
  out.sprites << { x: 1, path: "s.png" }
  out.screenshots << { x: 0, y: 0, w: 10, h: 10, path: "shot.png" }
  out.reserved << { x: 0, text: "console" }
  out.background_color = [1, 2, 3]
  out.clear_non_static
  assert_equal [1, 0, 1, 1], [out.static_sprites.length, out.sprites.length, out.screenshots.length, out.reserved.length]
  assert_equal [[230, 230, 230, 255], 1], [out.background_color, out.static_sprites[:bg].x]
  Kernel.tick_count = 1
  out.clear_non_static
  out.clear_non_static_reserved
  assert_equal [0, 0], [out.screenshots.length, out.reserved.length]
ensure
  Kernel.tick_count = -1
end

def test_render_targets_and_pixel_arrays_are_made_once_per_name_and_frame
  outputs
  args = QMX::Args.new($qmx, :recording)
  assert_equal [-1, 5], [args.tick_count, (args.tick_count = 5) && args.state.tick_count]
  a = args.render_target(:a)
  assert a.equal?(args.render_target("a")) && a.equal?(args.outputs[:a]) && args.solids.equal?(args.outputs.solids)
  assert_equal [1, "a", [255, 255, 255, 0]], [args.passes.length, a.target, a.background_color]
  args.clear_render_targets
  refute a.equal?(args.render_target(:a))
  p = args.pixel_array(:p)
  assert p.equal?(args.pixel_array("p"))
  assert_equal [0, 0, []], [p.width, p.height, p.pixels]
  args.clear_pixel_arrays
  assert_equal({}, args.pixel_arrays)
  e = assert_raises(RuntimeError) { args.vellum }
  assert e.message.start_with?("* ERROR:\nArgs#vellum has been deprecated use Args#qmx instead"), e.message
end
