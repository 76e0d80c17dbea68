# args: the per-frame registries of render targets and pixel arrays, its
# shortcuts, and the state it carries from frame to frame.

class ArgsTestDrawer
  attr_reader :calls

  def initialize
    @calls = []
  end

  def method_missing(name, *args)
    @calls << [name, *args]
    nil
  end
end

class ArgsTestRuntime
  attr_accessor :logical_width, :logical_height, :load_status, :ffi_draw

  def initialize
    @logical_width = 1280
    @logical_height = 720
    @load_status = :ready
    @ffi_draw = ArgsTestDrawer.new
  end

  def production
    true
  end

  def log(obj, sender = nil)
    original_puts obj
  end
end

def new_args
  $qmx = ArgsTestRuntime.new
  QMX::Args.new($qmx, :recording)
end

def test_render_targets_are_made_once_per_name_and_frame
  args = new_args
  a = args.render_target(:a)
  assert a.equal?(args.render_target("a"))
  assert_equal 1, args.passes.length
  assert_equal "a", a.target
  assert a.equal?(args.outputs[:a])
  Kernel.global_tick_count = 0
  assert_equal [255, 255, 255, 0], a.background_color
  args.clear_render_targets
  refute a.equal?(args.render_target(:a))
  assert_equal({}, QMX::Args.new($qmx, nil).render_targets)
end

def test_pixel_arrays_live_for_one_frame
  args = new_args
  p = args.pixel_array(:p)
  assert p.equal?(args.pixel_array("p"))
  assert_equal [0, 0, []], [p.width, p.height, p.pixels]
  args.clear_pixel_arrays
  assert_equal({}, args.pixel_arrays)
end

def test_args_starts_before_the_first_tick
  args = new_args
  assert_equal(-1, args.tick_count)
  assert_equal 5, (args.tick_count = 5)
  assert_equal 5, args.state.tick_count
  assert args.qmx.equal?($qmx)
  assert args.solids.equal?(args.outputs.solids)
  assert args.static_primitives.equal?(args.outputs.static_primitives)
  assert_equal :recording, args.recording
  assert_equal({}, args.audio)
  assert_equal String, args.string
end

def test_deprecated_names_explain_their_replacement
  args = new_args
  e = assert_raises(RuntimeError) { args.vellum }
  assert_equal "* ERROR:\nArgs#vellum has been deprecated use Args#qmx instead (just rename args.vellum to args.qmx and you should be good to go).\n\n", e.message
  e = assert_raises(RuntimeError) { args.game }
  assert_equal "* ERROR:\nArgs#game has been deprecated use Args#state instead (just rename args.game to args.state and you should be good to go).\n\n", e.message
end

def test_state_survives_a_save_and_load
  args = new_args
  s = args.state
  s.a = [1]
  s.b = s.a
  s.player.hp = 3
  text = s.to_s
  loaded = QMX::OpenEntity.parse_serialization_data(QMX::LiteralReader.parse(text))
  assert_equal [[1], [1], 3, -1], [loaded.a, loaded.b, loaded.player.hp, loaded.tick_count]
  assert loaded.a.equal?(loaded.b)
  newest = [loaded.entity_id, loaded.player.entity_id].max
  assert args.state.new_entity(:coin).entity_id > newest
end
