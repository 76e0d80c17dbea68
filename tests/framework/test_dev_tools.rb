# Input recording and replay, and the test runner, over a runtime of the
# test's own that keeps files in memory, counts resets and notes every input
# entry point a replay calls.

class RecorderTestRuntime
  attr_reader :files, :resets, :seeds, :inputs, :logged

  def initialize
    @files, @seeds, @inputs, @logged, @resets = {}, [], [], [], 0
  end

  def production = false
  def logical_width = 1280
  def logical_height = 720
  def cli_arguments = {}
  def console = nil
  def ffi_draw = self
  def set_grid(*) = nil
  def append_file_root(*) = true
  def notify!(*) = nil
  # Printed too: the harness reports through $qmx.
  def log(obj, sender = nil) = (@logged << obj.to_s) && original_puts(obj.to_s)
  def __reset__ = @resets += 1
  def set_rng(seed) = @seeds << seed
  def read_file(name) = @files[name]
  def write_file(name, text) = @files[name] = text

  QMX::Recording::REPLAYABLE_INPUTS.each_key do |name|
    define_method(name) { |*values| @inputs << [name, *values] }
  end
end

def new_recorder
  $qmx = RecorderTestRuntime.new
  $recording = QMX::Recording.new($qmx)
end

def test_a_recording_saves_its_events_and_replays_them_in_their_frames
  recorder = new_recorder
  recorder.start(100)
  3.times { recorder.tick }
  recorder.record_input_history(:mouse_move, 640, 360, 2)
  recorder.record_input_history(:key_down_player_one, 15, 0, 1)
  2.times { recorder.tick }
  recorder.stop("r.txt")
  lines = $qmx.files["r.txt"].split("\n")
  assert_equal ["replay_version 2.0", "stopped_at 5", "seed 100"], lines[0, 3]
  assert lines[3].start_with?("recorded_at #{Time.now.year}"), lines[3]
  assert_equal ["[:mouse_move, 640, 360, 2, 1, 3]", "[:key_down_player_one, 15, 0, 1, 2, 3]"], lines[4..-1]
  assert_equal [$qmx.files["r.txt"], 2], [$qmx.files["last_replay.txt"], $qmx.resets]

  QMX::Replay.start("r.txt")
  staged = Array.new(7) do
    recorder.stage_replay_values
    recorder.tick
    $qmx.inputs.slice!(0..-1)
  end
  # Integers stay Integers (a controller key is looked up by one).
  assert_equal "[[], [], [], [[:mouse_move, 640, 360, :replay], [:key_down_player_one, 15, :replay]], [], [], []]",
               staged.inspect
  assert_equal [[100, 100], 4, false], [$qmx.seeds, $qmx.resets, recorder.is_replaying?]
end

def test_events_of_one_frame_replay_in_their_recorded_order
  recorder = new_recorder
  $qmx.files["r.txt"] = "replay_version 2.0\nstopped_at 2\nseed 1\nrecorded_at now\n" \
                        "[:mouse_button_up, 1, 0, 1, 7, 0]\n[:mouse_button_pressed, 1, 0, 1, 6, 0]\n"
  recorder.start_replay("r.txt")
  recorder.stage_replay_values
  assert_equal [[:mouse_button_pressed, 1, :replay], [:mouse_button_up, 1, :replay]], $qmx.inputs
end

# A damaged file is said to be damaged; nothing about the game changes and
# no method outside the input entry points can be reached through one.
def test_a_damaged_replay_file_is_refused_and_the_game_runs_on
  header = "replay_version 2.0\nstopped_at 9\nseed 1\nrecorded_at now\n"
  ["replay_version 2.0\nstopped_at 9\n", header + "[:mouse_move, 640, 36", header + "[:mouse_move, $x = 1, 2, 2, 1, 3]\n",
   header + "garbage\n", header + "[:request_quit, 0, 0, 0, 1, 3]\n", header + "[:mouse_move, 640, 360, 0, 1, 3]\n",
   "replay_version 2.0\nstopped_at nine\nseed 1\n"].each do |text|
    recorder = new_recorder
    $qmx.files["bad.txt"] = text
    assert_equal nil, recorder.start_replay("bad.txt"), text
    assert_equal [false, nil, 0], [recorder.is_replaying?, $replay_data, $qmx.resets], text
    assert $qmx.logged.last.start_with?("* ERROR:\nThe replay file bad.txt cannot be replayed.\n"), $qmx.logged.last
  end
  $qmx.files["old.txt"] = "replay_version 1.0\n"
  error = assert_raises(RuntimeError) { $recording.start_replay("old.txt") }
  assert_equal "The replay file old.txt is not compatible with this version of Vellumcore Vellum Suite. Please recreate the replay (sorry).", error.message
end

def test_recording_and_replay_exclude_each_other
  recorder = new_recorder
  recorder.start(1)
  recorder.start_replay("r.txt")
  recorder.stop(nil)
  assert_equal [true, false, 1], [recorder.is_recording?, recorder.is_replaying?, $qmx.resets]
end

# The game's tests for the runner below; the harness runs only test_ methods.
def focus_test_passes(args, assert) = assert.equal!(args.state.tick_count, -1)
def focus_test_asserts_nothing(args, assert) = nil
def focus_test_fails(args, assert) = assert.equal!(nil, 1, "hint")
def focus_test_wrong_parameters(args) = raise("not run")

def test_the_runner_sorts_tests_and_prints_a_summary
  new_recorder
  runner = QMX::Tests.new
  runner.start
  names = [runner.passed, runner.inconclusive, runner.failed].map { |list| list.map { |h| h[:m] } }
  assert_equal [[:focus_test_passes], [:focus_test_asserts_nothing], [:focus_test_fails]], names
  assert_equal "actual:\n(nil)\n\ndid not equal\n\nexpected:\n1.\nhint", runner.failed[0][:e].message
  log = $qmx.logged
  assert log.any? { |line| line.start_with?("* TEST METHOD INVALID:\nI found a test method called :focus_test_wrong_parameters.") }
  summary = log[log.index("** Summary")..-1].reject { |line| line.include?("NOTE FOR INCONCLUSIVE") || line.strip.start_with?("[Message ID") || line.empty? }
  assert_equal ["** Summary", "*** Passed", "1 test(s) passed.", "**** :focus_test_passes", "*** Inconclusive",
                "1 test(s) inconclusive.", "**** :focus_test_asserts_nothing", "*** Failed", "1 test(s) failed.",
                "**** Test name: :focus_test_fails", "actual:\n(nil)\n\ndid not equal\n\nexpected:\n1.\nhint"], summary
  assert_equal 1, runner.exit_status
  passing = QMX::Tests.new
  passing.run_test(:focus_test_passes)
  assert_equal 0, passing.exit_status
end
