# args: the per-frame registries of render targets and pixel arrays, its
# shortcuts, and the state it carries from frame to frame.

class ArgsTestRuntime < Struct.new(:logical_width, :logical_height, :load_status)
  def production = true
  def log(obj, sender = nil) = original_puts(obj)
  def ffi_draw = ArgsTestDrawer.new
end

# Drawing is not looked at here.
class ArgsTestDrawer
  def method_missing(name, *args) = nil
end

def new_args
  $qmx = ArgsTestRuntime.new(1280, 720, :ready)
  QMX::Args.new($qmx, :recording)
end

def test_render_targets_and_pixel_arrays_are_made_once_per_name_and_frame
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

  p = args.pixel_array(:p)
  assert p.equal?(args.pixel_array("p"))
  assert_equal [0, 0, []], [p.width, p.height, p.pixels]
  args.clear_pixel_arrays
  assert_equal({}, args.pixel_arrays)
end

def test_args_starts_before_the_first_tick_and_old_names_explain_their_replacement
  args = new_args
  assert_equal(-1, args.tick_count)
  args.tick_count = 5
  assert_equal 5, args.state.tick_count
  assert args.solids.equal?(args.outputs.solids)
  e = assert_raises(RuntimeError) { args.vellum }
  assert_equal "* ERROR:\nArgs#vellum has been deprecated use Args#qmx instead (just rename args.vellum to args.qmx and you should be good to go).\n\n", e.message
end

def test_state_survives_a_save_and_load
  args = new_args
  s = args.state
  s.a = [1]
  s.b = s.a
  s.player.hp = 3
  loaded = QMX::OpenEntity.parse_serialization_data(QMX::LiteralReader.parse(s.to_s))
  assert_equal [[1], [1], 3, -1], [loaded.a, loaded.b, loaded.player.hp, loaded.tick_count]
  assert loaded.a.equal?(loaded.b)
  newest = [loaded.entity_id, loaded.player.entity_id].max
  assert args.state.new_entity(:coin).entity_id > newest
end
