# The runtime's frame-rate accounting, draw dispatch, saved state, reset and
# smaller services, over native services written for the test.

module FFI
  class File
    attr_accessor :files, :writes

    def initialize
      @files = {}
      @writes = []
    end

    def mtime(path)
      @files.key?(path) ? 1000 : -1
    end

    def path_exists(path)
      @files.key?(path)
    end

    def read(path)
      @files[path]
    end

    [:write, :append, :write_root, :append_root].each do |name|
      define_method(name) do |path, data|
        @writes << [name, path, data]
        true
      end
    end

    def get_game_dir
      " /home/me//games///space "
    end
  end

  class Misc
    def device_size
      [1024.0, 576.0]
    end

    # Every character measures 30 x 60 at size 40.
    def calcstringbox(text, size, font)
      [text.length * 30.0, 60.0]
    end
  end

  class MRB
    def parse(source)
      "Syntax OK"
    end
  end

  class Draw
    attr_reader :calls

    def method_missing(name, *args)
      (@calls ||= []) << [name, *args]
      nil
    end
  end
end

def new_runtime(argv = "./vellumcore mygame")
  $qmx = nil
  Kernel.tick_count = -1
  Kernel.global_tick_count = -1
  runtime = QMX::Runtime.new("Linux", false, 1280, 720, argv, "./vellumcore")
  # Kept for the assertions; printed too, since the test harness reports
  # through the runtime that $qmx names.
  def runtime.log(obj, sender = nil)
    (@logged ||= []) << obj.to_s
    original_puts obj.to_s
    nil
  end
  def runtime.logged
    @logged || []
  end
  def runtime.log_important(*args)
    (@important ||= []) << args.join("\n")
  end
  def runtime.important
    @important || []
  end
  runtime
end

def draw_calls(runtime)
  calls = runtime.ffi_draw.calls || []
  result = calls.dup
  calls.clear
  result
end

# --- Frame-rate accounting ----------------------------------------------------

# Runs checks spread evenly over whole seconds of a clock the test owns.
def run_checks(runtime, checks, seconds)
  clock = runtime.instance_variable_get(:@test_clock) || 0
  checks.times do |i|
    runtime.instance_variable_set(:@test_clock, clock + (i + 1) * seconds / checks)
    runtime.check_framerate
  end
end

def new_framerate_runtime
  runtime = new_runtime
  runtime.instance_variable_set(:@test_clock, 0)
  def runtime.framerate_clock
    @test_clock
  end
  runtime.framerate_init
  runtime.reset_framerate_calculation
  Kernel.tick_count = 1000
  runtime
end

def test_the_average_is_checks_per_whole_second_and_60_before_one_has_passed
  runtime = new_framerate_runtime
  run_checks(runtime, 30, 0)
  assert_equal 60, runtime.current_framerate
  runtime.reset_framerate_calculation
  run_checks(runtime, 240, 5)
  assert_in_delta 48.0, runtime.current_framerate, 0.01
  runtime.reset_framerate_calculation
  run_checks(runtime, 300, 5)
  assert_equal 60, runtime.current_framerate
end

def test_only_a_falling_average_below_50_warns
  runtime = new_framerate_runtime
  # The average settles from 60 (nothing measured) to 48: that is a drop.
  run_checks(runtime, 240, 5)
  assert_equal 1, runtime.important.length
  warning = runtime.important[0]
  assert warning.start_with?("* WARNING:\nYour average framerate dropped below 60 fps for two seconds.\n\nThe average FPS was 48.0.\n"), warning
  assert warning.include?("** Primitive Counts\n  PRIMITIVE   COUNT, STATIC COUNT\n  solids      0, 0\n"), warning

  # Holding steady at 48 warns no more.
  run_checks(runtime, 240, 5)
  assert_equal 1, runtime.important.length
  assert_equal [], runtime.logged.select { |l| l.include?("dropped below 60 fps") }

  # Falling further warns again, as a plain log entry.
  run_checks(runtime, 100, 5)
  assert_equal 1, runtime.important.length
  assert runtime.logged.any? { |l| l.include?("dropped below 60 fps") }
end

def test_a_paused_game_or_an_early_tick_never_warns
  runtime = new_framerate_runtime
  runtime.pause!
  run_checks(runtime, 480, 20)
  assert_equal 60, runtime.current_framerate
  runtime.unpause!
  Kernel.tick_count = 100
  run_checks(runtime, 240, 5)
  run_checks(runtime, 100, 5)
  assert_equal [], runtime.important
end

def test_while_the_console_is_visible_no_warning_shows_but_the_averages_move_on
  runtime = new_framerate_runtime
  console = Object.new
  def console.visible?
    true
  end
  runtime.instance_variable_set(:@console, console)
  run_checks(runtime, 240, 5)
  run_checks(runtime, 100, 5)
  assert_equal [], runtime.important
  assert runtime.instance_variable_get(:@previous_framerate) < 48
  assert runtime.instance_variable_get(:@last_framerate) < 48
end

def test_the_diagnostics_panel_shows_the_counters
  runtime = new_runtime
  $perf_counter_outputs_push_count = 7
  panel = runtime.framerate_diagnostics_primitives
  assert_equal({ x: 0, y: 627, w: 500, h: 93, r: 0, g: 0, b: 0, a: 128, primitive_marker: :solid }, panel[0])
  assert_equal ["More Info via Vellumcore Console: $qmx.framerate_diagnostics", "FPS: 60.00",
                "Draw Calls: 7", "Array Primitives: #{$perf_counter_primitive_is_array}", "Mouse: [0, 0]"],
               panel[1..-1].map { |label| label[:text] }
  assert_equal [715, 700, 685, 670, 655], panel[1..-1].map { |label| label[:y] }
end

# --- Draw dispatch ----------------------------------------------------------------

def test_collections_draw_in_order_and_empty_slots_are_skipped
  runtime = new_runtime
  pass = runtime.args.outputs
  draw_calls(runtime)
  pass.solids << nil
  pass.solids << { x: 1, y: 2, w: 3, h: 4 }
  pass.labels << { x: 5, y: 6, text: nil }
  pass.sprites << { x: 0, y: 0, w: 8, h: 8, path: :minimap, flip_horizontally: 1 }
  pass.static_lines << { x: 0, y: 0, x2: 9, y2: 9 }
  runtime.primitives(pass)
  assert_equal [
    [:draw_solid, 1, 2, 3, 4, nil, nil, nil, nil],
    [:draw_sprite_3, 0, 0, 8, 8, "minimap", nil, nil, nil, nil, nil, nil, nil, nil, nil, true, false,
     nil, nil, nil, nil, nil, nil],
    [:draw_label, 5, 6, "", nil, nil, nil, nil, nil, nil, nil],
    [:draw_line, 0, 0, 9, 9, nil, nil, nil, nil],
  ], draw_calls(runtime)
end

def test_mixed_collections_route_by_kind_and_an_unknown_kind_pauses_the_game
  runtime = new_runtime
  pass = runtime.args.outputs
  draw_calls(runtime)
  pass.primitives << { x: 0, y: 0, w: 1, h: 1, path: "a.png" }
  pass.primitives << { x: 0, y: 0, text: "hi", path: "b.png" }
  pass.primitives << { x: 0, y: 0, x2: 1, y2: 1 }
  pass.primitives << { x: 0, y: 0, w: 1, h: 1, primitive_marker: :border }
  pass.primitives << { x: 0, y: 0, w: 1, h: 1 }
  pass.labels << { x: 0, y: 0, text: "never" }
  runtime.primitives(pass)
  assert_equal [:draw_sprite_3, :draw_label, :draw_line, :draw_border], draw_calls(runtime).map(&:first)
  assert runtime.paused?
  report = runtime.ffi_file.writes.select { |w| w[1] == "exceptions/current.txt" }.last[2]
  assert report.include?("I don't know how to use the above Hash with SDL's FFI."), report
end

def test_a_primitive_that_cannot_be_converted_names_the_contract
  runtime = new_runtime
  broken = Object.new
  def broken.x
    raise ArgumentError, "no x here"
  end
  error = assert_raises(ArgumentError) { runtime.draw_solid(broken) }
  assert error.message.start_with?("* ERROR:\nFailed to convert #{broken} for rendering (solid).\n"), error.message
  assert error.message.include?(QMX::Help.solid_border_contract), error.message
  assert error.message.end_with?("no x here\n"), error.message
end

def test_debug_collections_are_left_out_in_production_and_overrides_take_over
  runtime = new_runtime
  pass = runtime.args.outputs
  pass.debug << { x: 0, y: 0, w: 1, h: 1, primitive_marker: :solid }
  pass.reserved << { x: 0, y: 0, w: 1, h: 1, primitive_marker: :border }
  overriding = Object.new
  def overriding.draw_override(drawer)
    drawer.draw_line(1, 1, 2, 2, 0, 0, 0, 255)
  end
  def overriding.x
    raise "attributes must not be read"
  end
  pass.sprites << overriding
  draw_calls(runtime)
  runtime.primitives(pass)
  assert_equal [:draw_line, :draw_solid, :draw_border], draw_calls(runtime).map(&:first)
  runtime.instance_variable_set(:@production, true)
  runtime.primitives(pass)
  assert_equal [:draw_line, :draw_border], draw_calls(runtime).map(&:first)

  game = Object.new
  def game.primitives_override; end
  def game.tick_render(args, pass)
    $qmx.ffi_draw.draw_solid(9, 9, 9, 9, nil, nil, nil, nil)
    :rendered
  end
  $top_level = game
  assert_equal :rendered, runtime.primitives(pass)
  assert_equal [[:draw_solid, 9, 9, 9, 9, nil, nil, nil, nil]], draw_calls(runtime)
ensure
  $top_level = self
end

def test_only_pixel_arrays_of_the_right_size_are_uploaded
  runtime = new_runtime
  short = runtime.args.pixel_array(:short)
  short.width = 2
  short.height = 2
  short.pixels = [1, 2, 3]
  full = runtime.args.pixel_array(:full)
  full.width = 2
  full.height = 2
  full.pixels = [1, 2, 3, 4]
  draw_calls(runtime)
  runtime.pixel_arrays
  assert_equal [[:upload_pixel_array, "full", 2, 2, [1, 2, 3, 4]]], draw_calls(runtime)
end

def test_screenshots_are_drawn_only_when_there_are_some
  runtime = new_runtime
  refute runtime.take_screenshot
  runtime.args.outputs.screenshots << { x: 0, y: 0, w: 10, h: 10, path: "shot.png", r: 1, g: 2, b: 3, a: 0 }
  assert runtime.take_screenshot
  draw_calls(runtime)
  runtime.draw_screenshots
  assert_equal [[:draw_screenshot, "shot.png", 0, 0, 10, 10, nil, 0, 1, 2, 3, nil, nil, nil, nil, false, false,
                 nil, nil, nil, nil, nil, nil]], draw_calls(runtime)
end

# --- Saved state -----------------------------------------------------------------

def test_saved_state_loads_back_without_running_anything
  runtime = new_runtime
  state = runtime.args.state
  state.score = 10
  state.names = ["a", "b"]
  state.player.x = 3
  text = runtime.serialize_state("game_state.txt", state)
  assert runtime.ffi_file.writes.any? { |w| w[0] == :write && w[1] == "game_state.txt" && w[2] == text }
  runtime.ffi_file.files["game_state.txt"] = text
  loaded = runtime.deserialize_state("game_state.txt")
  assert_equal 10, loaded.score
  assert_equal ["a", "b"], loaded.names
  assert_equal 3, loaded.player.x
  assert_equal 10, runtime.deserialize_state(text).score

  $pwned = nil
  error = assert_raises(Exception) { runtime.deserialize_state('{:a=>($pwned = 1)}') }
  assert error.message.start_with?("Failed to eval: {:a=>($pwned = 1)}."), error.message
  assert_equal nil, $pwned
  # A name that is not a file is neither read as state nor run.
  assert_equal nil, runtime.deserialize_state("$pwned = 2")
  assert_equal nil, $pwned
end

def test_loading_state_with_a_tick_count_sets_the_game_tick
  runtime = new_runtime
  runtime.deserialize_state("{:entity_id=>1, :tick_count=>321}")
  assert_equal 321, Kernel.tick_count
end

# --- Reset, logging, quitting and small services ------------------------------------

def test_reset_waits_for_the_first_tick_and_happens_once_per_frame
  runtime = new_runtime
  Kernel.tick_count = 0
  runtime.reset(seed: 7)
  refute runtime.seed == 7
  Kernel.tick_count = 10
  Kernel.global_tick_count = 500
  runtime.args.state.score = 5
  runtime.reset(seed: 42)
  runtime.reset(seed: 43)
  assert_equal 42, runtime.seed
  assert_equal(-1, Kernel.tick_count)
  assert_equal nil, runtime.args.state.score
  first = rand
  srand(42)
  assert_equal rand, first
  Kernel.tick_count = 3
  Kernel.global_tick_count = 501
  runtime.reset(seed: 43)
  assert_equal 43, runtime.seed
end

def test_log_levels_and_the_messages_a_game_author_sees
  runtime = new_runtime
  runtime.log_level = :loud
  assert_equal :on, runtime.log_level
  runtime.log_level = :off
  assert runtime.logged.include?("* IMPORTANT: Log level has been changed to: [off] from [on].")
  Kernel.global_tick_count = 77
  runtime.request_quit
  assert runtime.quit_requested?
  assert runtime.logged.include?("* INFO: Quit requested (77).")
end

def test_the_runtime_knows_where_it_runs
  runtime = new_runtime("./vellumcore games/space --speed 2")
  assert_equal [1024.0, 576.0], [runtime.device_width, runtime.device_height]
  assert_equal "games/space/app/main.rb", runtime.game_directory("/app/main.rb")
  assert_equal "/home/me/games/space", runtime.get_game_dir
  assert_equal "./vellumcore games/space --speed 2", runtime.argv
  assert_equal "2.8", runtime.version
  assert_equal runtime, TopLevelView === runtime ? runtime : nil
end

def test_text_is_measured_at_40_and_scaled
  runtime = new_runtime
  # 90 x 60 at size 40; size_enum 0 is 22 points against the 102 of size 40.
  assert_equal [(90 * 22 / 102.0 + 0.6).ceil, (60 * 22 / 102.0).ceil], runtime.calcstringbox("abc")
end

def test_removed_settings_name_their_replacements
  runtime = new_runtime
  error = assert_raises(RuntimeError) { runtime.take_screenshot = true }
  assert error.message.include?("args.outputs.screenshots")
  error = assert_raises(RuntimeError) { runtime.on_tick(5) { } }
  assert_equal "* ERROR: qmx.on_tick TICKCOUNT { BLOCK } has been deprecated. Use qmx.schedule_callback TICKCOUNT { BLOCK } instead.", error.message
  refute runtime.take_screenshot
end

def test_cursor_and_fullscreen_commands_go_out_only_on_a_change
  runtime = new_runtime
  draw_calls(runtime)
  runtime.show_cursor
  runtime.hide_cursor
  runtime.hide_cursor
  runtime.set_window_fullscreen(false)
  runtime.set_window_fullscreen
  runtime.set_window_fullscreen(true)
  assert_equal [[:toggle_cursor, false], [:toggle_fullscreen, true]], draw_calls(runtime)
  refute runtime.cursor_shown?
end
