# The runtime driven the way the host drives it (reload list,
# tick(milliseconds), reload_complete), and its frame-rate accounting, saved
# state, reset and smaller services; over native services that keep their
# files in memory and record draw calls. How passes become draw calls is in
# test_render_dispatch.rb.

memory_ffi!

# The game: it counts its boots and ticks and runs a hook a test sets.
PipelineGame = Struct.new(:ticks, :boots, :on_tick) do
  def boot(args) = self.boots += 1
  def tick(args) = (ticks << Kernel.tick_count) && on_tick&.call(args)
end

def new_runtime(argv = "./vellumcore mygame", files = { "app/main.rb" => "def tick(args); end\n" })
  $qmx = nil
  $top_level = PipelineGame.new([], 0)
  Kernel.tick_count = Kernel.global_tick_count = -1
  runtime = QMX::Runtime.new("Linux", false, 1280, 720, argv, "./vellumcore")
  runtime.ffi_file.files = files
  # Kept for the assertions and printed, since the harness reports through $qmx.
  def runtime.log(obj, sender = nil) = (logged << obj.to_s) && original_puts(obj.to_s)
  def runtime.logged = (@logged ||= [])
  def runtime.log_important(*args) = important << args.join("\n")
  def runtime.important = (@important ||= [])
  runtime
end

# --- The tick pipeline ---------------------------------------------------------

# One host frame: hand over the reload list, load (a file whose text starts
# with "raise" fails, as the host reports it), tick, report completion.
# Answers the paths it loaded.
def host_frame(runtime, milliseconds)
  list = runtime.get_ruby_reload_list
  loaded = []
  until list.empty?
    loaded << (path = list.shift)
    runtime.reload_failed(path, RuntimeError.new("failed: #{path}")) if runtime.ffi_file.files[path].to_s.start_with?("raise")
  end
  runtime.tick(milliseconds)
  runtime.reload_complete if loaded.length > 0
  loaded
end

# A runtime whose game has run its first tick, and the next frame's time.
def started_runtime(*args)
  runtime = new_runtime(*args)
  [0, 16, 32].each { |ms| host_frame(runtime, ms) }
  [runtime, 48]
end

# How many game ticks ran in each of `count` frames `step` ms apart.
def ticks_per_frame(runtime, at, count, step = 16)
  Array.new(count) do |i|
    before = $top_level.ticks.length
    host_frame(runtime, at + step * i)
    $top_level.ticks.length - before
  end
end

def test_the_game_ticks_from_the_frame_after_its_main_file_loaded_unless_it_does_not_parse
  runtime = new_runtime
  [0, 16].each { |ms| host_frame(runtime, ms) }
  assert_equal [:ready, 1, []], [runtime.load_status, $top_level.boots, $top_level.ticks]
  [32, 48].each { |ms| host_frame(runtime, ms) }
  assert_equal [[0, 1], 1, 1], [$top_level.ticks, Kernel.global_tick_count, runtime.args.state.tick_count]
  # A game shipped as bytecode only starts too.
  started_runtime("./vellumcore mygame", { "app/main.rbc" => "RITE0300..." })
  assert_equal [:ready, [0]], [$qmx.load_status, $top_level.ticks]
  # One with a syntax error is not loaded but reported.
  runtime = new_runtime("./vellumcore mygame", { "app/main.rb" => "def (\n" })
  host_frame(runtime, 0)
  assert_equal [[], true], [runtime.get_ruby_reload_list, runtime.paused?]
  report = runtime.ffi_file.writes.select { |w| w[1] == "exceptions/current.txt" }.last[2]
  assert report.include?("syntax error, unexpected '('"), report
end

# Calls closer than 13 ms are skipped, a clock that goes back is not; the
# speed option runs that many steps per call; slow motion runs the game on
# one step in factor + 1.
def test_the_pace_of_ticks_follows_the_clock_the_speed_option_and_slow_motion
  runtime, at = started_runtime
  assert_equal [[1, 0, 1, 0, 1, 0], [1, 1, 1, 1], [1]],
               [ticks_per_frame(runtime, at, 6, 10), ticks_per_frame(runtime, at + 60, 4, 13), ticks_per_frame(runtime, 5, 1)]
  slow = true
  $top_level.on_tick = lambda { |args| args.qmx.slowmo!(2) if slow }
  assert_equal [1, 0, 0, 1, 0, 0, 1, 0, 0], ticks_per_frame(runtime, at + 100, 9)
  slow = false
  assert_equal [1, 1, 1, 1, 1], ticks_per_frame(runtime, at + 300, 5)
  [["--speed 3", 3], ["--speed 0", 1], ["--speed -2", 2], ["", 1]].each do |option, steps|
    runtime, = started_runtime("./vellumcore mygame #{option}")
    assert_equal [steps], ticks_per_frame(runtime, 100, 1), option
  end
end

def test_exports_callbacks_and_window_commands
  runtime, at = started_runtime
  runtime.ffi_file.refuse_writes = true
  assert_equal nil, runtime.export!("a comment"), "a failed export is not answered as success"
  assert runtime.logged.any? { |line| line.start_with?("* ERROR:\nExporting the game state failed:") }
  # A scheduled callback runs at its tick, and one tick takes one callback.
  seen = []
  runtime.schedule_callback(3) { seen << Kernel.tick_count }
  assert_raises(RuntimeError) { runtime.schedule_callback(3) { } }
  ticks_per_frame(runtime, at, 6)
  assert_equal [3], seen
  # Cursor and fullscreen commands go out only on a change.
  runtime.ffi_draw.calls.clear
  [:show_cursor, :hide_cursor, :hide_cursor].each { |m| runtime.send(m) }
  [false, true, true].each { |on| runtime.set_window_fullscreen(on) }
  assert_equal [[:toggle_cursor, false], [:toggle_fullscreen, true]], runtime.ffi_draw.calls
  # The exception report is written when the state cannot be exported.
  runtime.ffi_file.refuse_writes = false
  unprintable = Object.new
  def unprintable.inspect = raise("not printable")
  runtime.args.state.unprintable = [unprintable]
  assert runtime.export!("boom").start_with?("exceptions/game_state_")
  report = runtime.ffi_file.writes.find { |_, path| path == "exceptions/current.txt" }[2]
  assert report.include?("# boom") && report.include?("The game state could not be exported: "), report
end

def test_a_notification_fades_over_the_reserved_outputs_and_outputs_clear_each_frame
  runtime, at = started_runtime
  runtime.notify!("Saved.")
  frames = Array.new(310) do |i|
    host_frame(runtime, at + 16 * i)
    [runtime.args.outputs.reserved.find { |p| p[:text] }, runtime.args.outputs.reserved.length]
  end
  label, count = frames[20]
  assert_equal ["Saved.", 60, 30, 3], [label[:text], label[:x], label[:y], count]
  alphas = frames.map { |label, _| label && label[:a] }
  assert alphas[1] < alphas[5] && alphas[100].to_i == 255 && alphas[295] > alphas[298] && alphas[305].nil?, alphas.inspect
  # Outputs clear each frame and their sounds become audio entries.
  runtime, at = started_runtime
  $top_level.on_tick = lambda do |args|
    args.outputs.solids << [0, 0, 1, 1] << [0, 0, 1, 1] if Kernel.tick_count == 1
    args.outputs.sounds << "sounds/jump.wav" << "music/theme.ogg" if Kernel.tick_count == 1
    args.outputs.sounds << "music/other.ogg" if Kernel.tick_count == 2
  end
  host_frame(runtime, at)
  assert_equal [{ input: "sounds/jump.wav" }, { input: "music/theme.ogg", looping: true }],
               runtime.audio.values_at(:QMX_LEGACY_AUDIO_API_SOUND_1, :QMX_LEGACY_AUDIO_API_MUSIC)
  host_frame(runtime, at + 16)
  assert_equal [{ input: "music/other.ogg", looping: true }, 0],
               [runtime.audio[:QMX_LEGACY_AUDIO_API_MUSIC], runtime.args.outputs.solids.length]
end

def test_a_completed_reload_unpauses_and_a_reset_restarts_the_ticks
  runtime, at = started_runtime
  $top_level.on_tick = lambda { |args| raise "boom" if Kernel.tick_count == 2 }
  ticks_per_frame(runtime, at, 4)
  assert runtime.paused?
  $top_level.on_tick = nil
  runtime.ffi_file.files["app/other.rb"] = "x = 1\n"
  runtime.require("app/other.rb")
  host_frame(runtime, at + 100)
  refute runtime.paused?

  host_frame(runtime, at + 200)
  runtime.reset(seed: 42)
  host_frame(runtime, at + 300)
  assert_equal 0, $top_level.ticks.last
  # A reset waits for the first tick and happens once per frame.
  runtime = new_runtime
  Kernel.tick_count = 0
  runtime.reset(seed: 7)
  refute runtime.seed == 7
  Kernel.tick_count = 10
  runtime.args.state.score = 5
  runtime.reset(seed: 42)
  runtime.reset(seed: 43)
  assert_equal [42, -1, nil], [runtime.seed, Kernel.tick_count, runtime.args.state.score]
end

# Whatever the game does to its state, and whatever an exception does when
# asked for its message, the tick reports it: exported under the tick it
# happened on, console open, game paused, and nothing escapes to the host
# (host_frame would raise). A reset then runs the game again.
class MessageRaises < StandardError
  def to_s = raise(IOError, "not telling")
end

def test_a_replaced_state_or_an_exception_that_cannot_describe_itself_is_reported_and_pauses
  [[->(args) { args.state = nil }, "not to nil"],
   [->(args) { args.instance_variable_set(:@state, { "score" => 5 }) }, "replaced by a value of class Hash"],
   [->(args) { raise MessageRaises }, "MessageRaises was raised, and asking it for its message raised IOError: not telling"]
  ].each do |fault, said|
    runtime, at = started_runtime
    $top_level.on_tick = lambda { |args| fault.call(args) if Kernel.tick_count == 3 }
    ticks_per_frame(runtime, at, 8)
    reports = runtime.ffi_file.writes.select { |w| w[1] == "exceptions/current.txt" }.map { |w| w[2] }
    assert reports.length == 1 && reports[0].include?(said), reports.inspect
    exported = runtime.ffi_file.writes.any? { |w| w[1] == "exceptions/game_state_3.txt" }
    assert_equal [true, true, true, 3], [exported, runtime.paused?, runtime.console.visible?, $top_level.ticks.max], said
    $top_level.on_tick = nil
    runtime.reset(seed: 1)
    ticks_per_frame(runtime, at + 500, 2)
    assert_equal [false, [0, 1], true], [runtime.paused?, $top_level.ticks.last(2), runtime.args.state.is_a?(QMX::OpenEntity)], said
  end
end

# Half a minute on the host's clock, whatever the game's ticks do: they
# stand still while the game is paused and restart at a reset.
def test_an_unanswered_http_request_is_rejected_after_half_a_minute_of_real_time
  runtime, at = started_runtime
  answers = $http_answers = []
  def (runtime.ffi_misc).http_respond(cptr, code, *) = $http_answers << [cptr, code]
  runtime.new_http_request("GET", "/a", {}, "", :first)
  $top_level.on_tick = lambda { |args| raise "boom" }
  host_frame(runtime, at + 2000)
  assert runtime.paused?
  runtime.reset(seed: 1)
  host_frame(runtime, at + 29_900)
  assert_equal [], answers
  host_frame(runtime, at + 30_100)
  assert_equal [[:first, 400]], answers
end

def test_a_change_saved_right_after_a_load_is_loaded_on_a_later_scan_and_framework_files_are_watched
  runtime, at = started_runtime
  runtime.ffi_file.mtimes["app/main.rb"] = 2000
  loaded = (0...150).flat_map { |i| host_frame(runtime, at + 16 * i) }
  assert_equal ["app/main.rb"], loaded
  # Unchanged since: nothing more is loaded.
  assert_equal [], (0...150).flat_map { |i| host_frame(runtime, at + 3000 + 16 * i) }
  # The framework sources watched are those the build compiles.
  runtime.ffi_file.files["vellum/manifest.txt"] = "# load order\nqmx.rb\n\nconsole/prompt.rb\n"
  assert_equal ["vellum/qmx.rb", "vellum/console/prompt.rb"], runtime.framework_source_files
end

def frames(runtime, range) = range.flat_map { |i| host_frame(runtime, 16 * i) }

# Before the game has loaded its frame counter stands still; a fixed save
# is taken on the next scan all the same.
def test_a_main_file_that_fails_to_load_waits_for_a_fixed_save
  runtime = new_runtime("./vellumcore mygame", { "app/main.rb" => "raise 'not yet'\n" })
  frames(runtime, 0...5)
  assert_equal [true, :main_rb_first_time_load], [runtime.paused?, runtime.load_status]
  assert runtime.ffi_file.writes.any? { |w| w[1] == "exceptions/current.txt" && w[2].include?("failed: app/main.rb") }
  runtime.ffi_file.files["app/main.rb"] = "def tick(args); end\n"
  runtime.ffi_file.mtimes["app/main.rb"] = 2000
  assert_equal ["app/main.rb"], frames(runtime, 5...70)
  assert_equal [:ready, false], [runtime.load_status, runtime.paused?]
end

def test_each_change_and_each_require_loads_once
  runtime, = started_runtime
  files = runtime.ffi_file.files
  files["app/lib.rb"] = "x = 1\n"
  3.times { runtime.require("app/lib.rb") }
  loaded = frames(runtime, 3...33)
  runtime.require("app/lib.rb")
  # A watched file that did not exist is loaded once it does.
  files["app/tests.rb"] = "y = 2\n"
  loaded += frames(runtime, 33...200)
  assert_equal ["app/lib.rb", "app/tests.rb"], loaded
  # Held back: a change is taken, but neither backed up nor loaded.
  written = runtime.ffi_file.writes.length
  runtime.suppress_hotload = true
  runtime.ffi_file.mtimes["app/tests.rb"] = 5000
  assert_equal [], frames(runtime, 200...330)
  refute runtime.ffi_file.writes[written..-1].any? { |w| w[1].include?("src_backup") }
end

def test_backups_keep_a_latest_copy_per_file_and_one_change_line_each
  runtime = new_runtime
  files = runtime.ffi_file.files
  ["app/main.rb", "app/a/b.rb", "app/a_b.rb", "app/a,b.rb", "app/a, b.rb", "app/main.rb", "app/it's&co.rb"].each do |file|
    files[file] = "# #{file}\n"
    runtime.backup_create(file)
  end
  dir = "tmp/src_backup"
  assert_equal ["# app/main.rb\n", "# app/a/b.rb\n", "# app/a_b.rb\n"],
               ["app_main.rb", "app_a_b.rb", "app_sa_ub.rb.rb"].map { |name| files["#{dir}/src_backup_#{name}"] }
  # Each line names the latest copy, the time and the source, commas in
  # source paths included.
  latest = { "app/main.rb" => "app_main.rb", "app/a/b.rb" => "app_a_b.rb", "app/a_b.rb" => "app_sa_ub.rb.rb",
             "app/a,b.rb" => "app_a,b.rb", "app/a, b.rb" => "app_a, b.rb", "app/it's&co.rb" => "app_it's&co.rb" }
  lines = files["#{dir}/src_backup_changes.txt"].split("\n")
  assert_equal latest.map { |file, name| "#{dir}/src_backup_#{name}, #{file}" },
               lines.map { |line| line.split(", ").reject { |part| part == part.to_i.to_s }.join(", ") }
  assert lines[0].start_with?("#{dir}/src_backup_app_main.rb, #{Time.now.to_i / 10}"), lines[0]
  page = files["#{dir}/src_backup_changes.html"]
  ["<li><a href='/src_backup_app_it&#39;s&amp;co.rb'>app/it&#39;s&amp;co.rb</a></li>",
   "<li><a href='/src_backup_app_a,b.rb'>app/a,b.rb</a></li>"].each { |link| assert page.include?(link), page }
end

# --- Frame-rate accounting ----------------------------------------------------

# Runs checks spread evenly over whole seconds of a clock the test owns.
def run_checks(runtime, checks, seconds)
  clock = runtime.instance_variable_get(:@test_clock)
  checks.times do |i|
    runtime.instance_variable_set(:@test_clock, clock + (i + 1) * seconds / checks)
    runtime.check_framerate
  end
end

def new_framerate_runtime
  runtime = new_runtime
  runtime.instance_variable_set(:@test_clock, 0)
  def runtime.framerate_clock = @test_clock
  runtime.framerate_init
  runtime.reset_framerate_calculation
  Kernel.tick_count = 1000
  runtime
end

def test_only_a_falling_average_below_50_warns_and_only_while_the_game_runs
  runtime = new_framerate_runtime
  # The average settles from 60 (nothing measured) to 48: that is a drop.
  run_checks(runtime, 240, 5)
  warning = runtime.important[0]
  assert warning.start_with?("* WARNING:\nYour average framerate dropped below 60 fps for two seconds.\n\nThe average FPS was 48.0.\n"), warning
  assert warning.include?("** Primitive Counts\n  PRIMITIVE   COUNT, STATIC COUNT\n  solids      0, 0\n"), warning
  # Holding steady at 48 warns no more; falling further warns again, logged.
  run_checks(runtime, 240, 5)
  refute runtime.logged.any? { |l| l.include?("dropped below 60 fps") }
  run_checks(runtime, 100, 5)
  assert_equal 1, runtime.important.length
  assert runtime.logged.any? { |l| l.include?("dropped below 60 fps") }

  # A paused game, an early tick or the open console never warn.
  runtime = new_framerate_runtime
  runtime.pause!
  run_checks(runtime, 480, 20)
  assert_equal 60, runtime.current_framerate
  runtime.unpause!
  Kernel.tick_count = 100
  [240, 100].each { |n| run_checks(runtime, n, 5) }
  runtime = new_framerate_runtime
  console = Object.new
  def console.visible? = true
  runtime.instance_variable_set(:@console, console)
  [240, 100].each { |n| run_checks(runtime, n, 5) }
  assert_equal [], runtime.important
end

# --- Saved state, reset and small services --------------------------------------

# Saving and loading through files and refusing code in them is tested end
# to end; state given as text is read the same way.
def test_saved_state_is_read_as_data_and_a_missing_or_damaged_save_changes_nothing
  runtime = new_runtime
  runtime.deserialize_state("{:entity_id=>1, :tick_count=>321}")
  assert_equal 321, Kernel.tick_count
  $pwned = nil
  error = assert_raises(Exception) { runtime.deserialize_state('{:a=>($pwned = 1)}') }
  assert error.message.start_with?("Failed to eval: {:a=>($pwned = 1)}."), error.message
  # A name that is not a file is neither read as state nor run.
  assert_equal [nil, nil], [runtime.deserialize_state("$pwned = 2"), $pwned]
  # Loading a missing, empty or damaged save keeps the state and says why.
  runtime.args.state.score = 42
  [[nil, "it does not exist"], [" \n", "it is empty"], ["{:score=>", "could not be loaded"],
   ["[1, 2]", "does not hold a saved game state"]].each do |text, why|
    text ? runtime.ffi_file.files["game_state.txt"] = text : runtime.ffi_file.files.delete("game_state.txt")
    assert_equal [nil, 42], [runtime.load_state, runtime.args.state.score]
    assert runtime.logged.last.include?("game_state.txt") && runtime.logged.last.include?(why), runtime.logged.last
  end
end

def test_a_save_that_would_not_load_back_writes_nothing_and_names_the_value
  runtime = new_runtime
  state = runtime.args.state
  state.hi, state.lo, state.big, state.third = Float::INFINITY, -Float::INFINITY, Float::MAX, 1.0 / 3
  loaded = runtime.deserialize_state(runtime.save_state)
  assert_equal [Float::INFINITY, -Float::INFINITY, Float::MAX, 1.0 / 3], [loaded.hi, loaded.lo, loaded.big, loaded.third]
  saves = -> { runtime.ffi_file.writes.count { |_, path| path.start_with?("game_state") } }
  writes = saves.call
  cyclic = [1]
  cyclic << cyclic
  [[1..3, "args.state.items[0][:bad] holds a Range (1..3)"],
   [-> {}, "args.state.items[0][:bad] holds a Proc"],
   [Object.new, "args.state.items[0][:bad] holds an instance of Object"],
   [cyclic, "args.state.items[0][:bad][1] holds args.state.items[0][:bad] itself"],
   [state, "args.state.items[0][:bad] holds args.state itself"]].each do |value, message|
    state.items = [{ bad: value }]
    assert_equal nil, runtime.save_state
    assert runtime.logged.last.include?(message), runtime.logged.last
  end
  assert_equal writes, saves.call
end
