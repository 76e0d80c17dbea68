# Frame counters, `puts` routing, and the String and Symbol helpers.

RecordingRuntime = Struct.new(:production, :appended, :logged) do
  def append_file_root(file, text) = appended << [file, text]
  def log(obj, sender = nil) = logged << obj
end

def with_runtime(production = false)
  saved = $qmx
  $qmx = RecordingRuntime.new(production, [], [])
  yield $qmx
ensure
  $qmx = saved
  Kernel.tick_count = -1
  $trace_enabled, $trace_call_depth = false, 0
end

def test_puts_goes_to_the_log_file_and_the_runtime
  # Before the first tick the counters read -1.
  assert_equal [-1, -1], [Kernel.tick_count, Kernel.global_tick_count]
  with_runtime do |runtime|
    assert_equal nil, puts("a", 2)
    assert_equal [[["logs/puts.txt", "a\n2\n"]], ["a", 2]], [runtime.appended, runtime.logged]
    # Inside a traced call the lines go to the trace too, indented.
    $trace_enabled, $trace_call_depth, $trace_puts = true, 1, []
    puts "x", "y"
    assert_equal ["\n        x\n        y"], $trace_puts
  end
  with_runtime(true) do |runtime|
    puts "secret"
    assert_equal [[], ["secret"]], [runtime.appended, runtime.logged]
  end
end

def test_puts_every_n_frames
  with_runtime do |runtime|
    (0..13).each { |tick| puts6(Kernel.tick_count = tick) }
    Kernel.tick_count = 120
    puts60 :sixty
    puts600 :six_hundred
    assert_equal [0, 6, 12, :sixty], runtime.logged
  end
end

def test_wrapping_lines
  assert_equal "a b\nc d", "a b c d".wrap(3)
  assert_equal ["abcdefghij\n"], "abcdefghij".wrapped_lines(4)
  assert_equal ["short\n", "a longer\n", "line\n"], "short  \na longer line".wrapped_lines(8)
  # A very long text wraps without running out of stack.
  lines = (["word"] * 20_000).join(" ").wrapped_lines(20)
  assert_equal [5000, "word word word word\n"], [lines.length, lines.last]
end

def test_small_text_helpers
  assert_equal ["x\n  y", "a\n--b\n--c\n"], ["x\ny".indent_lines(2), "a\nb\nc\n".indent_lines(2, "-")]
  assert_equal ["go", "stop", :fire, true], ["go!".without_ending_bang, "stop".without_ending_bang,
                                             :fire!.without_ending_bang, :fire!.end_with_bang?]
  assert_equal [true, "dogs_x"], [:docs_search.start_with?("docs"), :docs_x.gsub("docs", "dogs")]
end
