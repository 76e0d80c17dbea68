# The runtime's frame pipeline driven the way the host drives it: reload
# list, tick(milliseconds), reload_complete; over native services that keep
# their files in memory.

module FFI
  class File
    attr_accessor :files, :mtimes, :writes, :refuse_writes

    def initialize
      @files = {}
      @mtimes = {}
      @writes = []
      @refuse_writes = false
    end

    def mtime(path)
      @files.key?(path) ? (@mtimes[path] || 1000) : -1
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
        !@refuse_writes
      end
    end
  end

  class Misc
    def device_size
      [1280.0, 720.0]
    end
  end

  class MRB
    def parse(source)
      source.include?("def (") ? "line 1:5: syntax error, unexpected '('\n" : "Syntax OK"
    end
  end

  class Draw
    def method_missing(name, *args)
      nil
    end
  end
end

# The game: its tick and boot, with a hook a test can set.
class PipelineGame
  attr_reader :ticks, :boots
  attr_accessor :on_tick

  def initialize
    @ticks = []
    @boots = 0
  end

  def boot(args)
    @boots += 1
  end

  def tick(args)
    @ticks << Kernel.tick_count
    @on_tick.call(args) if @on_tick
  end
end

def new_runtime(argv = "./vellumcore mygame", files = { "app/main.rb" => "def tick(args); end\n" })
  $qmx = nil
  $top_level = PipelineGame.new
  Kernel.tick_count = -1
  Kernel.global_tick_count = -1
  runtime = QMX::Runtime.new("Linux", false, 1280, 720, argv, "./vellumcore")
  runtime.ffi_file.files = files
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
  runtime
end

# One host frame: hand over the reload list, tick, report completion.
# Answers the paths it loaded.
def host_frame(runtime, milliseconds)
  list = runtime.get_ruby_reload_list
  loaded = []
  loaded << list.shift until list.empty?
  runtime.tick(milliseconds)
  runtime.reload_complete if loaded.length > 0
  loaded
end

# Frames until the game's first tick has run; answers the next time.
def start_game(runtime)
  host_frame(runtime, 0)
  host_frame(runtime, 16)
  host_frame(runtime, 32)
  48
end

def writes_to(runtime, path)
  runtime.ffi_file.writes.select { |w| w[1] == path }
end

def test_the_game_ticks_from_the_frame_after_its_main_file_loaded
  runtime = new_runtime
  game = $top_level
  host_frame(runtime, 0)
  assert_equal :main_rb_first_time_load, runtime.load_status
  assert_equal ["app/main.rb"], runtime.get_ruby_reload_list.dup
  host_frame(runtime, 16)
  assert_equal :ready, runtime.load_status
  assert_equal 1, game.boots
  assert_equal [], game.ticks
  host_frame(runtime, 32)
  host_frame(runtime, 48)
  assert_equal [0, 1], game.ticks
  assert_equal 1, Kernel.global_tick_count
  assert_equal 1, runtime.args.state.tick_count
  assert_equal "1", writes_to(runtime, "tmp/src_backup/boot.txt").length.to_s
end

def test_a_game_shipped_as_bytecode_only_becomes_ready
  runtime = new_runtime("./vellumcore mygame", { "app/main.rbc" => "RITE0300..." })
  start_game(runtime)
  assert_equal :ready, runtime.load_status
  assert_equal [0], $top_level.ticks
end

def test_a_main_file_with_a_syntax_error_is_not_loaded_but_reported
  runtime = new_runtime("./vellumcore mygame", { "app/main.rb" => "def (\n" })
  host_frame(runtime, 0)
  assert_equal [], runtime.get_ruby_reload_list
  assert runtime.paused?
  report = writes_to(runtime, "exceptions/current.txt").last
  assert report, "an exception report was written"
  assert report[2].include?("Failed to reload app/main.rb."), report[2]
  assert report[2].include?("syntax error, unexpected '('"), report[2]
end

def test_calls_closer_than_13_ms_are_skipped_and_a_clock_that_goes_back_is_not
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  before = game.ticks.length
  6.times { |i| host_frame(runtime, at + 10 * i) }
  assert_equal 3, game.ticks.length - before, "every second call 10 ms apart"
  at += 60
  before = game.ticks.length
  4.times { |i| host_frame(runtime, at + 13 * i) }
  assert_equal 4, game.ticks.length - before, "every call 13 ms apart"
  before = game.ticks.length
  host_frame(runtime, 5)
  assert_equal 1, game.ticks.length - before, "a clock that went back"
end

def test_the_speed_option_runs_that_many_steps_per_call
  [["--speed 3", 3], ["--speed 0", 1], ["--speed -2", 2], ["", 1]].each do |option, steps|
    runtime = new_runtime("./vellumcore mygame #{option}")
    start_game(runtime)
    game = $top_level
    before = game.ticks.length
    host_frame(runtime, 100)
    assert_equal steps, game.ticks.length - before, option
  end
end

def test_slow_motion_runs_the_game_on_one_step_in_factor_plus_one
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  slow = true
  game.on_tick = lambda { |args| args.qmx.slowmo!(2) if slow }
  ran = []
  9.times do |i|
    before = game.ticks.length
    host_frame(runtime, at + 16 * i)
    ran << (game.ticks.length - before)
  end
  assert_equal [1, 0, 0, 1, 0, 0, 1, 0, 0], ran
  assert runtime.logged.include?("~def tick args~ SlowMo factor has been set to a factor of 2.")
  slow = false
  at += 16 * 9
  ran = []
  5.times do |i|
    before = game.ticks.length
    host_frame(runtime, at + 16 * i)
    ran << (game.ticks.length - before)
  end
  assert_equal [1, 1, 1, 1, 1], ran
end

def test_an_exception_in_the_game_is_exported_and_pauses_it
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  game.on_tick = lambda { |args| raise "boom" if Kernel.tick_count == 5 }
  10.times { |i| host_frame(runtime, at + 16 * i) }
  assert_equal [0, 1, 2, 3, 4, 5], game.ticks
  assert runtime.paused?
  assert_equal 5, Kernel.tick_count

  current = writes_to(runtime, "exceptions/current.txt")
  tick_file = writes_to(runtime, "exceptions/game_state_5.txt")
  assert_equal 1, current.length
  assert_equal 1, tick_file.length
  assert_equal current[0][2], tick_file[0][2]
  assert_equal :write_root, current[0][0]
  text = current[0][2]
  assert text.include?("# * EXCEPTION"), text
  assert text.include?("boom"), text
  assert text.include?("\n\nGame State:\n{"), text
  assert runtime.logged.include?("Game state and exception will be written to exceptions/game_state_5.txt and exceptions/current.txt.")

  # Unpausing (as a completed reload does) lets the game go on.
  game.on_tick = nil
  runtime.unpause!
  host_frame(runtime, at + 1000)
  assert_equal 6, game.ticks.last
end

def test_a_failed_export_is_logged_and_not_answered_as_success
  runtime = new_runtime
  start_game(runtime)
  runtime.ffi_file.refuse_writes = true
  assert_equal nil, runtime.export!("a comment")
  assert runtime.logged.any? { |line| line.start_with?("* ERROR:\nExporting the game state failed:\n\nExport exception: ") }
  assert runtime.logged.any? { |line| line.include?("Original comments: a comment.\n") }
  runtime.ffi_file.refuse_writes = false
  assert_equal "exceptions/named.txt", runtime.export!(nil, "exceptions/named.txt")
end

def test_a_scheduled_callback_runs_at_its_tick_and_once_per_tick
  runtime = new_runtime
  at = start_game(runtime)
  seen = []
  runtime.schedule_callback(3) { seen << Kernel.tick_count }
  error = assert_raises(RuntimeError) { runtime.schedule_callback(3) { } }
  assert_equal "Callback has already been scheduled for tick 3. If you meant to do this, execute $qmx.scheduled_callbacks.clear first.", error.message
  6.times { |i| host_frame(runtime, at + 16 * i) }
  assert_equal [3], seen
end

def test_a_notification_fades_in_and_out_over_the_reserved_outputs
  runtime = new_runtime
  at = start_game(runtime)
  runtime.notify!("Saved.")
  alphas = []
  310.times do |i|
    host_frame(runtime, at + 16 * i)
    reserved = runtime.args.outputs.reserved
    label = reserved.find { |p| p[:text] }
    alphas << (label ? label[:a] : nil)
    if i == 20
      assert_equal 3, reserved.length
      assert_equal "Saved.", label[:text]
      assert_equal [60, 30], [label[:x], label[:y]]
    end
  end
  assert alphas[1] < alphas[5], "fades in"
  assert_equal 255, alphas[100].to_i
  assert alphas[295] < 255 && alphas[295] > alphas[298], "fades out"
  assert_equal nil, alphas[305]

  # The same message does not start again; production shows none.
  runtime.notify!("Again.")
  started = runtime.instance_variable_get(:@global_notification_at)
  runtime.notify!("Again.")
  assert_equal started, runtime.instance_variable_get(:@global_notification_at)
  runtime.instance_variable_set(:@production, true)
  runtime.notify!("Hidden.")
  assert_equal "Again.", runtime.instance_variable_get(:@notification_message)
end

def test_sounds_of_the_outputs_become_entries_of_the_audio_hash
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  game.on_tick = lambda do |args|
    args.outputs.sounds << "sounds/jump.wav" << "music/theme.ogg" if Kernel.tick_count == 1
    args.outputs.sounds << "music/other.ogg" if Kernel.tick_count == 2
  end
  host_frame(runtime, at)
  audio = runtime.audio
  assert_equal({ input: "sounds/jump.wav" }, audio[:QMX_LEGACY_AUDIO_API_SOUND_1])
  assert_equal({ input: "music/theme.ogg", looping: true }, audio[:QMX_LEGACY_AUDIO_API_MUSIC])
  host_frame(runtime, at + 16)
  assert_equal({ input: "music/other.ogg", looping: true }, runtime.audio[:QMX_LEGACY_AUDIO_API_MUSIC])
  runtime.stop_music
  runtime.migrate_legacy_sounds
  refute runtime.audio.key?(:QMX_LEGACY_AUDIO_API_MUSIC)
end

def test_the_screen_pass_is_last_and_outputs_clear_each_frame
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  game.on_tick = lambda do |args|
    args.render_target(:minimap).solids << { x: 0, y: 0, w: 4, h: 4 }
    args.outputs.solids << { x: 1, y: 1, w: 2, h: 2 } if Kernel.tick_count == 1
  end
  host_frame(runtime, at)
  passes = runtime.passes
  assert_equal ["minimap", nil], passes.map { |p| runtime.target(p) }
  assert_equal [1280, 720], [runtime.render_width(passes[1]), runtime.render_height(passes[1])]
  assert_equal 1, runtime.args.outputs.solids.length
  host_frame(runtime, at + 16)
  assert_equal 0, runtime.args.outputs.solids.length
  assert_equal [nil, 0, 0, false], [runtime.target(nil), runtime.render_width(nil), runtime.render_height(nil), runtime.render_transient(nil)]
end

def test_a_completed_reload_unpauses_and_a_reset_restarts_the_ticks
  runtime = new_runtime
  at = start_game(runtime)
  game = $top_level
  game.on_tick = lambda { |args| raise "boom" if Kernel.tick_count == 2 }
  4.times { |i| host_frame(runtime, at + 16 * i) }
  assert runtime.paused?
  game.on_tick = nil
  runtime.ffi_file.files["app/other.rb"] = "x = 1\n"
  runtime.require("app/other.rb")
  host_frame(runtime, at + 100)
  refute runtime.paused?
  assert runtime.logged.include?("* INFO: =app/other.rb= reloaded. (#{Kernel.global_tick_count}, #{Kernel.tick_count})")

  host_frame(runtime, at + 200)
  runtime.reset(seed: 42)
  assert_equal 42, runtime.seed
  assert_equal(-1, Kernel.tick_count)
  host_frame(runtime, at + 300)
  assert_equal 0, game.ticks.last
end

def test_a_change_saved_right_after_a_load_is_loaded_on_a_later_scan
  runtime = new_runtime
  at = start_game(runtime)
  runtime.ffi_file.mtimes["app/main.rb"] = 2000
  loaded = []
  150.times { |i| loaded += host_frame(runtime, at + 16 * i) }
  assert_equal ["app/main.rb"], loaded
  assert_equal 1, runtime.logged.count { |l| l.start_with?("** INFO: =app/main.rb= queued") && !l.include?("(-1, -1)") }

  # Unchanged since: nothing more is loaded.
  loaded = []
  150.times { |i| loaded += host_frame(runtime, at + 3000 + 16 * i) }
  assert_equal [], loaded
end
