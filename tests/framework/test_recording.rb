# Input recording and replay over a runtime of the test's own that keeps
# files in memory, counts resets and notes every input entry point a replay
# calls.

class RecorderTestRuntime < MemoryRuntime
  attr_reader :resets, :seeds, :inputs, :input_resets
  attr_accessor :game_code_running

  def initialize
    super
    @resets, @seeds, @inputs, @input_resets = 0, [], [], 0
  end

  def console = nil
  def __reset__ = @resets += 1
  def __reset_inputs__ = @input_resets += 1
  def write_file(path, text) = !path.start_with?("../") && super
  def set_rng(seed) = @seeds << seed
  def __game_code_running__? = @game_code_running == true
  def __game_callbacks__ = {}
  def __cancel_begin__ = nil
  def __beginning__? = false

  # Begins at once, as the engine does between two ticks.
  def __begin_afresh__(seed, callbacks = nil)
    __reset__
    __reset_inputs__
    set_rng(seed)
    $recording.__begun__
  end

  QMX::Recording::REPLAYABLE_INPUTS.each_key do |name|
    define_method(name) { |*values| @inputs << [name, *values] }
  end
end

def new_recorder
  $qmx = RecorderTestRuntime.new
  $recording = QMX::Recording.new($qmx)
end

def test_a_recording_replays_in_its_frames_and_a_damaged_one_is_refused
  recorder = new_recorder
  recorder.start(100)
  3.times { recorder.tick }
  recorder.record_input_history(:mouse_move, 640, 360, 2)
  recorder.record_input_history(:key_down_player_one, 15, 0, 1)
  # Input the game feeds itself from its tick belongs to the tick already counted.
  $qmx.game_code_running = true
  recorder.record_input_history(:key_down_raw, 97, 0, 2)
  $qmx.game_code_running = false
  2.times { recorder.tick }
  # A file that cannot be written is said so, and the recording goes on.
  assert_equal [false, true, 1], [recorder.stop("../r.txt"), recorder.is_recording?, $qmx.resets]
  assert $qmx.logged.last.start_with?("* ERROR:\nThe recording could not be saved to ../r.txt."), $qmx.logged.last
  recorder.stop("r.txt")
  lines = $qmx.files["r.txt"].split("\n")
  assert_equal ["replay_version 2.0", "stopped_at 5", "seed 100"], lines[0, 3]
  assert lines[3].start_with?("recorded_at #{Time.now.year}"), lines[3]
  assert_equal ["[:mouse_move, 640, 360, 2, 1, 3]", "[:key_down_player_one, 15, 0, 1, 2, 3]",
                "[:key_down_raw, 97, 0, 2, 3, 2, :in_tick]"], lines[4..-1]
  assert_equal [$qmx.files["r.txt"], 2], [$qmx.files["last_replay.txt"], $qmx.resets]

  QMX::Replay.start("r.txt")
  staged = Array.new(7) do
    recorder.stage_replay_values
    recorder.tick
    $qmx.inputs.slice!(0..-1)
  end
  # Integers stay Integers (a controller key is looked up by one); the
  # game's own key is not given: the game, replayed, gives it itself, and
  # only the game's own input acts besides the replay's.
  assert_equal "[[], [], [], [[:mouse_move, 640, 360, :replay], [:key_down_player_one, 15, :replay]], [], [], []]",
               staged.inspect
  # Recording and replay both start from inputs as at start-up.
  assert_equal [[100, 100], 4, 3, false], [$qmx.seeds, $qmx.resets, $qmx.input_resets, recorder.is_replaying?]
  # A file written before the game's own input was marked holds it as input
  # from outside, given as recorded: the game's own calls of those kinds
  # are dropped in its replay, as they were, and only touches (never
  # recorded) act; input from elsewhere never does.
  $qmx.files["old.txt"] = $qmx.files["r.txt"].sub(", :in_tick]", "]")
  [["r.txt", true, [true, true]], ["old.txt", true, [false, true]], ["r.txt", false, [false, false]]].each do |file, game, acts|
    recorder.start_replay(file)
    $qmx.game_code_running = game
    assert_equal acts, [recorder.__game_input_acts__?, recorder.__game_input_acts__?(false)], file
    $qmx.game_code_running = false
    recorder.stop_replay
  end
  # A damaged file is said to be damaged; nothing about the game changes and
  # no method outside the input entry points can be reached through one.
  header = "replay_version 2.0\nstopped_at 9\nseed 1\nrecorded_at now\n"
  ["", "replay_version 2.0\nstopped_at 9\n", header + "[:mouse_move, 640, 36", header + "[:mouse_move, $x = 1, 2, 2, 1, 3]\n",
   header + "garbage\n", header + "[:request_quit, 0, 0, 0, 1, 3]\n", header + "[:mouse_move, 640, 360, 0, 1, 3]\n",
   header + "[:mouse_move, 640, 360, 2, 1, 3, :late]\n",
   "replay_version 2.0\nstopped_at nine\nseed 1\n", header.sub("stopped_at 9", "stopped_at -300"),
   header.sub("replay_version", "replay_versoin"), header.sub("2.0", "2.0.x"),
   "\x89PNG\r\n\x1A\n\0\0\0\rIHDR" + header].each do |text|
    recorder = new_recorder
    $qmx.files["bad.txt"] = text
    assert_equal nil, recorder.start_replay("bad.txt"), text
    assert_equal [false, nil, 0], [recorder.is_replaying?, $replay_data, $qmx.resets], text
    assert $qmx.logged.last.start_with?("* ERROR:\nThe replay file bad.txt cannot be replayed.\n"), $qmx.logged.last
  end
  # Values no device gives, which the input events would fail on every frame.
  ["[:key_down_player_one, 99, 0, 1, 1, 5]", "[:mouse_button_pressed, 100, 0, 1, 1, 5]",
   "[:left_analog_x_player_1, 1.0e300, 0, 1, 1, 5]", "[:key_down_raw, 97, -1, 2, 1, 5]", "[:key_up_raw, 1.0e300, 0, 2, 1, 5]",
   "[:mouse_wheel, 0, -1.0e300, 2, 1, 5]", "[:key_held_player_two, 15.5, 0, 1, 1, 5]"].each do |event|
    recorder = new_recorder
    $qmx.files["bad.txt"] = header + event + "\n"
    assert_equal [nil, false, 0], [recorder.start_replay("bad.txt"), recorder.is_replaying?, $qmx.resets], event
    assert $qmx.logged.last.end_with?("cannot take: #{event}.\n"), $qmx.logged.last
  end
  # A recording cut short by hand plays to its stopped_at.
  recorder = new_recorder
  $qmx.files["trimmed.txt"] = header.sub("stopped_at 9", "stopped_at 2") + "[:mouse_move, 640, 360, 2, 1, 3]\n"
  recorder.start_replay("trimmed.txt")
  assert_equal [true, 2], [recorder.is_replaying?, $replay_data[:stopped_at]]
  $qmx.files["old.txt"] = "replay_version 1.0\n"
  error = assert_raises(RuntimeError) { $recording.start_replay("old.txt") }
  assert_equal "The replay file old.txt is not compatible with this version of Vellumcore Vellum Suite. Please recreate the replay (sorry).", error.message
end

# The reader keeps a file's events packed and gives each tick's in the order
# they were recorded, whatever order the lines come in and however they end;
# what it cannot replay it refuses, naming the line, as the recorder words it.
def test_a_replay_gives_each_ticks_events_in_their_order_and_refuses_by_kind
  header = "replay_version 2.0\r\nstopped_at 9\r\n\r\nseed 1\0\0\n"
  recorder = new_recorder
  $qmx.files["mixed.txt"] = header + "[:mouse_wheel, 0.5, -2, 2, 7, 4]\r\n  [:key_down_player_one, 15.0, 0, 1, 3, 2]\n" \
                                     "[:mouse_button_up, 1, 0, 1, 2, 4]\n[:key_up_raw, 97, 0, 2, 9, 1, :in_tick]\n" \
                                     "recorded_at  now  and then\n[:mouse_move, 3, 4, 2, 1, 4]\n"
  recorder.start_replay("mixed.txt")
  assert_equal ["now and then", 9, 1], [$replay_data[:recorded_at], $replay_data[:stopped_at], $replay_data[:seed]]
  staged = Array.new(5) do
    recorder.stage_replay_values
    recorder.tick
    $qmx.inputs.slice!(0..-1)
  end
  assert_equal [[], [], [[:key_down_player_one, 15.0, :replay]], [],
                [[:mouse_move, 3, 4, :replay], [:mouse_button_up, 1, :replay], [:mouse_wheel, 0.5, -2, :replay]]], staged
  [["[:mouse_move, 1, 2, 2, 1, 3, :in_tick, 4]", "seems corrupt"], ["[[:mouse_move], 1, 2, 2, 1, 3]", "cannot replay"], ["[{}, 1, 2, 2, 1, 3]", "cannot replay"],
   ["[\"mouse_move\", 1, 2, 2, 1, 3]", "cannot replay"], ["[:mouse_move, 1, 2, 1, 1, 3]", "cannot replay"],
   ["[:mouse_move, 1, 2, 2, 1, 3.0]", "seems corrupt"], ["[:mouse_move, 1, [2], 2, 1, 3]", "seems corrupt"],
   ["[:key_held_player_one, 5, 0, 1, 1, 3]", "cannot take"], ["[:mouse_move, 1, 2, 2, 1, 3] # x", "seems corrupt"]].each do |line, said|
    recorder = new_recorder
    $qmx.files["bad.txt"] = header + "[:mouse_move, 1, 2, 2, 1, 3]\n#{line}\nseed nine\n"
    assert_equal [nil, false], [recorder.start_replay("bad.txt"), recorder.is_replaying?], line
    assert_equal true, $qmx.logged.last.include?(said) && $qmx.logged.last.include?(line), $qmx.logged.last
  end
end
