# Frame counters, `puts` routing, and the String and Symbol helpers.

class RecordingRuntime
  attr_accessor :production
  attr_reader :appended, :logged

  def initialize(production = false)
    @production = production
    @appended = []
    @logged = []
  end

  def append_file_root(file, text)
    @appended << [file, text]
  end

  def log(obj, sender = nil)
    @logged << obj
  end
end

def with_runtime(runtime)
  saved = $qmx
  $qmx = runtime
  yield runtime
ensure
  $qmx = saved
end

def test_counters_start_at_minus_one_and_are_settable
  assert_equal(-1, Kernel.tick_count)
  assert_equal(-1, Kernel.global_tick_count)
  Kernel.global_tick_count = 42
  assert_equal 42, Kernel.global_tick_count
  Kernel.global_tick_count = -1
end

def test_puts_goes_to_the_log_file_and_the_runtime
  with_runtime(RecordingRuntime.new) do |runtime|
    assert_equal nil, puts("a", 2)
    assert_equal [["logs/puts.txt", "a\n2\n"]], runtime.appended
    assert_equal ["a", 2], runtime.logged
  end
  with_runtime(RecordingRuntime.new(true)) do |runtime|
    puts "secret"
    assert_equal [], runtime.appended
    assert_equal ["secret"], runtime.logged
  end
end

def test_puts_every_n_frames
  with_runtime(RecordingRuntime.new) do |runtime|
    (0..13).each do |tick|
      Kernel.tick_count = tick
      puts6 tick
    end
    Kernel.tick_count = 120
    puts60 :sixty
    puts600 :six_hundred
    assert_equal [0, 6, 12, :sixty], runtime.logged
  end
ensure
  Kernel.tick_count = -1
end

def test_puts_records_into_an_active_trace
  with_runtime(RecordingRuntime.new) do
    $trace_enabled = true
    $trace_call_depth = 1
    $trace_puts = []
    puts "x", "y"
    assert_equal ["\n        x\n        y"], $trace_puts
  end
ensure
  $trace_enabled = false
  $trace_call_depth = 0
end

def test_wrapping_lines
  assert_equal "a b\nc d", "a b c d".wrap(3)
  assert_equal ["abcdefghij\n"], "abcdefghij".wrapped_lines(4)
  assert_equal ["short\n", "a longer\n", "line\n"], "short  \na longer line".wrapped_lines(8)
  # A very long text wraps without running out of stack.
  long = (["word"] * 20_000).join(" ")
  lines = long.wrapped_lines(20)
  assert_equal 5000, lines.length
  assert_equal "word word word word\n", lines.last
end

def test_small_text_helpers
  assert_equal "x\n  y", "x\ny".indent_lines(2)
  assert_equal "a\n--b\n--c\n", "a\nb\nc\n".indent_lines(2, "-")
  assert_equal ["\"hi\"", "go", "stop", true, false], ["hi".quote, "go!".without_ending_bang, "stop".without_ending_bang,
                                                      "a\nb".multiline?, "ab".multiline?]
  assert_equal ["x", "y ", " y"], [" x ".trim, " y ".ltrim, " y ".rtrim]
  assert_equal :fire, :fire!.without_ending_bang
  assert :fire!.end_with_bang?
  assert :docs_search.include?("search")
  assert :docs_search.start_with?("docs")
  assert_equal "dogs_x", :docs_x.gsub("docs", "dogs")
  assert "s".is_a?(ValueType) && :s.is_a?(ValueType) && true.is_a?(ValueType) && false.is_a?(ValueType)
end
