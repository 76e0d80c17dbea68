# How a render pass becomes drawer calls: collection order, kinds in mixed
# collections, attribute conversion, hooks, pixel arrays and failures. The
# drawer records its calls instead of writing a frame stream.

class RecordingDrawer
  attr_reader :calls

  def initialize
    @calls = []
  end

  [:draw_solid, :draw_sprite_3, :draw_label, :draw_line, :draw_border, :draw_screenshot,
   :upload_pixel_array].each do |name|
    define_method(name) do |*args|
      @calls << [name, *args]
      nil
    end
  end

  def kinds
    @calls.map(&:first)
  end
end

class DispatchArgs
  attr_accessor :outputs, :pixel_arrays
end

# A runtime object without its start-up: only what drawing reads.
def dispatch_runtime(production: false)
  runtime = QMX::Runtime.allocate
  drawer = RecordingDrawer.new
  args = DispatchArgs.new
  args.outputs = QMX::Outputs.new(width: 1280, height: 720)
  args.pixel_arrays = {}
  runtime.instance_variable_set(:@ffi_draw, drawer)
  runtime.instance_variable_set(:@args, args)
  runtime.instance_variable_set(:@production, production)
  reports = []
  runtime.define_singleton_method(:pretty_print_exception_and_export!) { |e| reports << e }
  runtime.define_singleton_method(:reports) { reports }
  $qmx = runtime
  runtime
end

def drawer_of(runtime)
  runtime.instance_variable_get(:@ffi_draw)
end

def pass_of(runtime)
  runtime.instance_variable_get(:@args).outputs
end

def test_collections_draw_in_their_fixed_order
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.static_reserved << { x: 1, y: 1, w: 1, h: 1 }.solid
  pass.reserved << { x: 1, y: 1, w: 1, h: 1 }.border
  pass.static_debug << { x: 1, y: 1, x2: 2, y2: 2 }
  pass.debug << { x: 1, y: 1, text: "d" }
  pass.static_borders << [0, 0, 1, 1]
  pass.borders << [0, 0, 1, 1]
  pass.static_lines << [0, 0, 1, 1]
  pass.lines << [0, 0, 1, 1]
  pass.static_labels << [0, 0, "s"]
  pass.labels << [0, 0, "l"]
  pass.static_primitives << [0, 0, 1, 1].border
  pass.primitives << [0, 0, 1, 1].line
  pass.static_sprites << [0, 0, 1, 1, "s.png"]
  pass.sprites << [0, 0, 1, 1, "p.png"]
  pass.static_solids << [0, 0, 1, 1, 9]
  pass.solids << [0, 0, 1, 1, 8]
  assert_equal nil, runtime.primitives(pass)
  assert_equal [:draw_solid, :draw_solid, :draw_sprite_3, :draw_sprite_3, :draw_line, :draw_border, :draw_label,
                :draw_label, :draw_line, :draw_line, :draw_border, :draw_border, :draw_label, :draw_line,
                :draw_border, :draw_solid], drawer_of(runtime).kinds
  assert_equal 8, drawer_of(runtime).calls[0][5], "non-static solids come first"

  production = dispatch_runtime(production: true)
  pass = pass_of(production)
  pass.debug << { x: 1, y: 1, text: "d" }
  pass.static_debug << { x: 1, y: 1, text: "d" }
  pass.reserved << { x: 1, y: 1, text: "r" }
  production.primitives(pass)
  assert_equal [[:draw_label, 1, 1, "r", nil, nil, nil, nil, nil, nil, nil]], drawer_of(production).calls
end

def test_missing_attributes_reach_the_drawer_as_nil
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.solids << [nil, { x: 1, y: 2, w: 3, h: 4 }]
  pass.sprites << { x: 1, y: 2, w: 3, h: 4, path: :my_target, flip_vertically: 1 }
  pass.labels << { x: 1, y: 2 }
  runtime.primitives(pass)
  assert_equal [:draw_solid, 1, 2, 3, 4, nil, nil, nil, nil], drawer_of(runtime).calls[0]
  assert_equal [:draw_sprite_3, 1, 2, 3, 4, "my_target", nil, nil, nil, nil, nil, nil, nil, nil, nil, false, true,
                nil, nil, nil, nil, nil, nil], drawer_of(runtime).calls[1]
  assert_equal [:draw_label, 1, 2, "", nil, nil, nil, nil, nil, nil, nil], drawer_of(runtime).calls[2]
end

def test_mixed_collections_draw_each_hash_by_its_kind
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.primitives << { x: 0, y: 0, w: 5, h: 5, path: "a.png" }
  pass.primitives << { x: 0, y: 0, text: "t", path: "ignored.png" }
  pass.primitives << { x: 0, y: 0, x2: 5, y2: 5 }
  pass.primitives << { x: 0, y: 0, w: 5, h: 5, primitive_marker: :border }
  runtime.primitives(pass)
  assert_equal [:draw_sprite_3, :draw_label, :draw_line, :draw_border], drawer_of(runtime).kinds
  assert_equal "t", drawer_of(runtime).calls[1][3]
  assert_equal [], runtime.reports
end

def test_a_primitive_of_unknown_kind_stops_the_pass_and_pauses
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.primitives << { x: 0, y: 0, w: 5, h: 5, path: "before.png" }
  pass.primitives << { x: 1, y: 2, w: 3, h: 4 }
  pass.labels << { x: 0, y: 0, text: "never" }
  runtime.primitives(pass)
  assert_equal [:draw_sprite_3], drawer_of(runtime).kinds
  assert runtime.paused?
  assert_equal 1, runtime.reports.length
  message = runtime.reports[0].message
  assert message.start_with?("* ERROR:\n{:x=>1, :y=>2, :w=>3, :h=>4}\n\nI don't know how to use the above Hash with SDL's FFI."), message
end

class ExplodingBox
  def primitive_marker
    :solid
  end

  def x
    raise ArgumentError, "no x here"
  end
end

def test_an_attribute_that_raises_is_explained_with_the_contract
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.primitives << ExplodingBox.new
  runtime.primitives(pass)
  error = runtime.reports[0]
  assert error.is_a?(ArgumentError)
  assert error.message.start_with?("* ERROR:\nFailed to convert "), error.message
  assert error.message.include?(" for rendering (solid).\n\nA primitive must respond to :primitive_marker"), error.message
  assert error.message.include?(QMX::Help.solid_border_contract + "\nno x here\n"), error.message
end

class OverridingSprite
  attr_reader :drawn_with

  def draw_override(ffi_draw)
    @drawn_with = ffi_draw
    ffi_draw.draw_solid(7, 7, 7, 7, nil, nil, nil, nil)
    :overridden
  end

  def x
    raise "attributes must not be read"
  end
end

def test_an_object_can_draw_itself
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  sprite = OverridingSprite.new
  pass.sprites << sprite
  runtime.primitives(pass)
  assert sprite.drawn_with.equal?(drawer_of(runtime))
  assert_equal [[:draw_solid, 7, 7, 7, 7, nil, nil, nil, nil]], drawer_of(runtime).calls
  assert_equal [], runtime.reports
  assert_equal :overridden, runtime.draw_sprite(sprite)
end

def test_a_top_level_override_replaces_the_walk
  runtime = dispatch_runtime
  pass = pass_of(runtime)
  pass.solids << [0, 0, 1, 1]
  $top_level.define_singleton_method(:primitives_override) { true }
  $top_level.define_singleton_method(:tick_render) do |args, p|
    $qmx.instance_variable_get(:@ffi_draw).draw_line(1, 1, 2, 2, nil, nil, nil, nil)
    [args, p]
  end
  result = runtime.primitives(pass)
  assert_equal [[:draw_line, 1, 1, 2, 2, nil, nil, nil, nil]], drawer_of(runtime).calls
  assert result[1].equal?(pass)
ensure
  $top_level.singleton_class.send(:remove_method, :primitives_override)
  $top_level.singleton_class.send(:remove_method, :tick_render)
end

def test_pixel_arrays_upload_only_when_their_size_matches
  runtime = dispatch_runtime
  args = runtime.instance_variable_get(:@args)
  short = QMX::PixelArray.new
  short.width = 2
  short.height = 2
  short.pixels = [1, 2, 3]
  full = QMX::PixelArray.new
  full.width = 2
  full.height = 2
  full.pixels = [1, 2, 3, 4]
  args.pixel_arrays = { "short" => short, "full" => full }
  runtime.pixel_arrays
  assert_equal [[:upload_pixel_array, "full", 2, 2, [1, 2, 3, 4]]], drawer_of(runtime).calls
end

def test_screenshots_put_the_path_first
  runtime = dispatch_runtime
  Kernel.tick_count = 1
  pass = pass_of(runtime)
  pass.screenshots << { x: 0, y: 0, w: 10, h: 20, path: :shot, r: 255, a: 9 }
  assert pass.screenshots.equal?(runtime.draw_screenshots)
  assert_equal [:draw_screenshot, "shot", 0, 0, 10, 20, nil, 9, 255, nil, nil, nil, nil, nil, nil, false, false,
                nil, nil, nil, nil, nil, nil], drawer_of(runtime).calls[0]
ensure
  Kernel.tick_count = -1
end
