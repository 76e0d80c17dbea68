# Output collections: what a push adds, how arrays get marked, ids, the
# background colour, sounds and the per-frame clearing.

class OutputsTestRuntime
  attr_accessor :logical_width, :logical_height, :load_status

  def initialize
    @logical_width = 1280
    @logical_height = 720
    @load_status = :ready
  end

  def production
    true
  end

  def log(obj, sender = nil)
    original_puts obj
  end
end

def outputs
  $qmx = OutputsTestRuntime.new
  Kernel.global_tick_count = 0
  QMX::Outputs.new
end

def test_plain_values_and_empty_arrays_add_nothing
  solids = outputs.solids
  [nil, false, 5, 2.5, "s", :sym, [], true].each do |v|
    assert solids.equal?(solids << v)
  end
  assert_equal 0, solids.length
end

def test_arrays_of_arrays_add_one_marked_primitive_each
  solids = outputs.solids
  solids << [[0, 0, 10, 10], nil, [20, 20, 10, 10]]
  assert_equal [[0, 0, 10, 10], [20, 20, 10, 10]], solids
  assert_equal [:solid, :solid], solids.map(&:primitive_marker)
  solids << [30, 30, 5, 5]
  assert_equal 3, solids.length
  # A colour as the second element, or a point first: one primitive.
  lines = outputs.lines
  lines << [[1, 2], [3, 4, 5]]
  assert_equal 1, lines.length
  assert_equal :line, lines[0].primitive_marker
  sprites = outputs.sprites
  sprites << [[[[0, 0], 5, 5, "a.png"]]]
  assert_equal 1, sprites.length
  assert_equal [0, 0, 5, 5, "a.png"], sprites[0]
end

def test_marked_entries_hashes_and_objects_are_kept_as_they_are
  out = outputs
  hash = { x: 1, y: 2, w: 3, h: 4, id: :player }
  marked = [5, 5, 5, 5].border
  entity = QMX::OpenEntity.new
  out.solids << hash << [marked] << entity
  assert out.solids[0].equal?(hash)
  assert out.solids[1].equal?(marked)
  assert out.solids[2].equal?(entity)
  assert_equal :border, marked.primitive_marker
  assert out.solids[:player].equal?(hash)
  out.clear_non_static
  assert_equal nil, out.solids[:player]
  assert_equal 0, out.solids.length
end

def test_mixed_collections_refuse_unmarked_arrays
  out = outputs
  out.primitives << [0, 0, 1, 1].solid << { x: 0, y: 0, text: "hi" }
  assert_equal 2, out.primitives.length
  e = assert_raises(RuntimeError) { out.primitives << [0, 0, 10, 10].rect }
  assert e.message.start_with?("* ERROR:\nCannot add [0, 0, 10, 10] to outputs.(primitives|debug|reserved).\n\nAuto-guessing"), e.message
  e = assert_raises(RuntimeError) { out.static_debug << [:solid, 0, 0, 1, 1] }
  assert e.message.include?("The symbol marker has been deprecated"), e.message
  assert e.message.include?("[0, 0, 1, 1].solid\n"), e.message
  assert_equal 2, out.primitives.length
end

def test_pushing_something_that_is_not_a_primitive_says_so
  e = assert_raises(RuntimeError) { outputs.sprites << Object.new }
  assert e.message.include?("cannot be added to args.outputs.sprites"), e.message
end

def test_the_push_counters_count
  $perf_counter_outputs_push_count = 0
  $perf_counter_primitive_is_array = 0
  out = outputs
  out.solids << [[0, 0, 1, 1], [1, 1, 1, 1]]
  out.solids << { x: 0 }
  assert_equal [2, 2], [$perf_counter_outputs_push_count, $perf_counter_primitive_is_array]
end

def test_background_colour_is_checked_and_completed
  out = outputs
  out.background_color = [10, 20, 30]
  assert_equal [10, 20, 30, 255], out.background_color
  e = assert_raises(RuntimeError) { out.background_color = ["x"] }
  assert e.message.start_with?("* ERROR: Failed to set background_color for Output.\nThe ~value~ sent to\n\n  args.outputs.background_color=\n\nlooks invalid\n\n  [\"x\"] (Array)"), e.message
  assert_raises(RuntimeError) { out.background_color = 7 }
  assert_raises(RuntimeError) { out.background_color = [1, 2, "3"] }
  assert_equal [10, 20, 30, 255], out.background_color
  out.background_color = [1.9, nil, 3, 4]
  assert_equal [1, 230, 3, 4], out.background_color
  target = QMX::Outputs.new(target: :minimap)
  e = assert_raises(RuntimeError) { target.background_color = [:red] }
  assert e.message.include?("args.outputs[:minimap].background_color="), e.message
  # Until the game has loaded the screen is black.
  $qmx.load_status = :vellumcore_started
  assert_equal [0, 0, 0], out.background_color
end

def test_sounds_become_sound_records_after_the_tick
  out = outputs
  out.sounds << "sounds/jump.wav" << nil
  out.tick
  assert out.sounds[0].is_a?(QMX::Sound)
  assert_equal "sounds/jump.wav", out.sounds[0].path
  assert_equal nil, out.sounds[1]
  e = assert_raises(RuntimeError) { QMX::Sound.parse(5) }
  assert_equal "* ERROR: I don't know how to parse 5 into a QMX::Sound.", e.message
  s = QMX::Sound.new(path: "a.ogg")
  assert QMX::Sound.parse(s).equal?(s)
end

def test_statics_outlive_the_frame_and_screenshots_the_first_tick
  out = outputs
  Kernel.tick_count = 0
  out.static_sprites << { x: 1, path: "s.png", id: :bg }
  out.sprites << { x: 1, path: "s.png" }
  out.screenshots << { x: 0, y: 0, w: 10, h: 10, path: "shot.png" }
  out.background_color = [1, 2, 3]
  out.clear_non_static
  assert_equal [1, 0, 1], [out.static_sprites.length, out.sprites.length, out.screenshots.length]
  assert_equal [230, 230, 230, 255], out.background_color
  assert_equal 1, out.static_sprites[:bg].x
  Kernel.tick_count = 1
  out.clear_non_static
  assert_equal 0, out.screenshots.length
  out.reserved << { x: 0, text: "console" }
  out.clear_non_static
  assert_equal 1, out.reserved.length
  out.clear_non_static_reserved
  assert_equal 0, out.reserved.length
  out.clear
  assert_equal [0, nil], [out.static_sprites.length, out.static_sprites[:bg]]
ensure
  Kernel.tick_count = -1
end

def test_reassigning_a_collection_is_refused
  out = outputs
  e = assert_raises(RuntimeError) { out.solids = [] }
  assert_equal "* ERROR:\nThe solids property on outputs no longer supports\nreassignment. Please use the << operator instead. Or if you need to\nclear it use the .clear method instead.\n\n", e.message
  e = assert_raises(RuntimeError) { out.static_background_color = [0, 0, 0] }
  assert_equal "* ERROR:\nThe property outputs.static_background_color= has been renamed.\nUse outputs.background_color= instead.\n\n", e.message
  e = assert_raises(RuntimeError) { out.sprites + [1] }
  assert_equal "* ERROR:\nThe + has been deprecated on the output collection\nnamed args.outputs.sprites.\n\n", e.message
end

def test_serialize_lists_the_collections
  out = outputs
  out.solids << { x: 1 }
  s = out.serialize
  assert_equal [:solids, :sprites, :lines, :labels, :sounds, :borders, :primitives, :static_solids,
                :static_borders, :static_sprites, :static_lines, :static_labels, :static_primitives], s.keys
  assert_equal [{ x: 1 }], s[:solids]
  assert_equal s.to_s, out.inspect
end
