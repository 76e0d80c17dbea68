# How a render pass becomes drawer calls: collection order, kinds in mixed
# collections, attribute conversion, hooks, pixel arrays and failures. The
# drawer records its calls instead of writing a frame stream.

class RecordingDrawer
  def calls = (@calls ||= [])
  def kinds = calls.map(&:first)

  def method_missing(name, *args) = (calls << [name, *args]) && nil
end

DispatchArgs = Struct.new(:outputs, :pixel_arrays)

# A runtime object without its start-up: only what drawing reads.
def dispatch_runtime(production: false)
  runtime = QMX::Runtime.allocate
  runtime.instance_variable_set(:@ffi_draw, RecordingDrawer.new)
  runtime.instance_variable_set(:@args, DispatchArgs.new(QMX::Outputs.new(width: 1280, height: 720), {}))
  runtime.instance_variable_set(:@production, production)
  def runtime.reports = (@reports ||= [])
  def runtime.pretty_print_exception_and_export!(e) = reports << e
  def runtime.drawer = @ffi_draw
  def runtime.log(obj, sender = nil) = original_puts(obj)
  def runtime.pass = @args.outputs
  $qmx = runtime
end

def test_collections_draw_in_their_fixed_order_and_debug_ones_not_in_production
  runtime = dispatch_runtime
  pass = runtime.pass
  { static_reserved: { x: 1, y: 1, w: 1, h: 1 }.solid, reserved: { x: 1, y: 1, w: 1, h: 1 }.border,
    static_debug: { x: 1, y: 1, x2: 2, y2: 2 }, debug: { x: 1, y: 1, text: "d" }, static_borders: [0, 0, 1, 1],
    borders: [0, 0, 1, 1], static_lines: [0, 0, 1, 1], lines: [0, 0, 1, 1], static_labels: [0, 0, "s"],
    labels: [0, 0, "l"], static_primitives: [0, 0, 1, 1].border, primitives: [0, 0, 1, 1].line,
    static_sprites: [0, 0, 1, 1, "s.png"], sprites: [0, 0, 1, 1, "p.png"], static_solids: [0, 0, 1, 1, 9],
    solids: [0, 0, 1, 1, 8] }.each { |collection, primitive| pass.send(collection) << primitive }
  runtime.primitives(pass)
  assert_equal [:draw_solid, :draw_solid, :draw_sprite_3, :draw_sprite_3, :draw_line, :draw_border, :draw_label,
                :draw_label, :draw_line, :draw_line, :draw_border, :draw_border, :draw_label, :draw_line,
                :draw_border, :draw_solid], runtime.drawer.kinds
  assert_equal 8, runtime.drawer.calls[0][5], "non-static solids come first"

  runtime.instance_variable_set(:@production, true)
  runtime.drawer.calls.clear
  runtime.primitives(pass)
  assert_equal [14, [:draw_border, :draw_solid]], [runtime.drawer.calls.length, runtime.drawer.kinds.last(2)]
end

def test_attributes_reach_the_drawer_mixed_collections_draw_by_kind_and_failures_explain_themselves
  runtime = dispatch_runtime
  runtime.pass.solids << [nil, { x: 1, y: 2, w: 3, h: 4 }]
  runtime.pass.sprites << { x: 1, y: 2, w: 3, h: 4, path: :my_target, flip_vertically: 1 }
  runtime.pass.labels << { x: 1, y: 2 }
  runtime.primitives(runtime.pass)
  assert_equal [[:draw_solid, 1, 2, 3, 4, nil, nil, nil, nil],
                [:draw_sprite_3, 1, 2, 3, 4, "my_target", nil, nil, nil, nil, nil, nil, nil, nil, nil, false, true,
                 nil, nil, nil, nil, nil, nil],
                [:draw_label, 1, 2, "", nil, nil, nil, nil, nil, nil, nil]], runtime.drawer.calls
  runtime = dispatch_runtime
  pass = runtime.pass
  [{ x: 0, y: 0, w: 5, h: 5, path: "a.png" }, { x: 0, y: 0, text: "t", path: "ignored.png" }, { x: 0, y: 0, x2: 5, y2: 5 },
   { x: 0, y: 0, w: 5, h: 5, primitive_marker: :border }, { x: 1, y: 2, w: 3, h: 4 }].each { |h| pass.primitives << h }
  pass.labels << { x: 0, y: 0, text: "never" }
  runtime.primitives(pass)
  # The report and the pause are checked end to end.
  assert_equal [[:draw_sprite_3, :draw_label, :draw_line, :draw_border], "t", 1],
               [runtime.drawer.kinds, runtime.drawer.calls[1][3], runtime.reports.length]
  # An attribute that raises is explained with the contract.
  runtime = dispatch_runtime
  box = Object.new
  def box.primitive_marker = :solid
  def box.x = raise(ArgumentError, "no x here")
  runtime.pass.primitives << box
  runtime.primitives(runtime.pass)
  message = runtime.reports[0].message
  assert message.include?(" for rendering (solid).\n\nA primitive must respond to :primitive_marker") &&
         message.include?(QMX::Help.solid_border_contract + "\nno x here\n"), message
end

def test_an_object_can_draw_itself_and_the_game_can_replace_the_walk
  runtime = dispatch_runtime
  sprite = Object.new
  def sprite.draw_override(ffi_draw) = ffi_draw.draw_solid(7, 7, 7, 7, nil, nil, nil, nil)
  def sprite.x = raise("attributes must not be read")
  runtime.pass.sprites << sprite
  runtime.primitives(runtime.pass)
  assert_equal [[:draw_solid, 7, 7, 7, 7, nil, nil, nil, nil]], runtime.drawer.calls

  runtime.drawer.calls.clear
  $top_level.define_singleton_method(:primitives_override) { true }
  $top_level.define_singleton_method(:tick_render) do |args, p|
    $qmx.drawer.draw_line(1, 1, 2, 2, nil, nil, nil, nil)
    [args, p]
  end
  assert runtime.primitives(runtime.pass)[1].equal?(runtime.pass)
  assert_equal [:draw_line], runtime.drawer.kinds
ensure
  $top_level.singleton_class.send(:remove_method, :primitives_override)
  $top_level.singleton_class.send(:remove_method, :tick_render)
end

# Screenshots and drawn pixel arrays are probed end to end.
def test_pixel_arrays_upload_only_when_their_size_matches
  runtime = dispatch_runtime
  arrays = runtime.instance_variable_get(:@args).pixel_arrays
  { "short" => [1, 2, 3], "full" => [1, 2, 3, 4] }.each do |name, pixels|
    arrays[name] = QMX::PixelArray.new
    arrays[name].width = arrays[name].height = 2
    arrays[name].pixels = pixels
  end
  runtime.pixel_arrays
  assert_equal [[:upload_pixel_array, "full", 2, 2, [1, 2, 3, 4]]], runtime.drawer.calls
end
