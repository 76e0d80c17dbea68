# Logging with levels, once-only messages and files, `puts` routing, method
# tracing, and the String and Symbol helpers.

def assert_contains_all(text, parts) = parts.each { |part| assert text.include?(part), text.inspect }

def with_log_runtime(production = false, &block)
  with_runtime(MemoryRuntime.new(production: production), &block)
ensure
  Kernel.tick_count = -1
  $trace_enabled, $trace_call_depth = false, 0
end

# The log file as a game writes it is compared byte for byte end to end;
# these are the forms the game there does not use.
def test_levels_and_once_only_messages_write_the_log_file
  with_log_runtime do |runtime|
    files = runtime.root_files
    log_error "first\nsecond"
    log_important "careful"
    log_info "count", 1
    log_once :a, "m"
    log_once :a, "m"
    log_once :a, :b, "m"
    assert_equal "* ERROR: \n  #+BEGIN:\n  first\n  second\n  #+END:\n  \n\ncareful\n* INFO: count [1]\n" \
                 "\nm\n\n[Message ID: [:a]]\n\n\nm\n\n[Message ID: [:a, :b]]\n\n", files["logs/log.txt"]
    console = "Open the Vellumcore Console by pressing [`] [~] [²] [^] [º] or [§]."
    assert_equal ["Important notification occurred.", "#{console} [Message ID: [:a]].", "#{console} [Message ID: [:a, :b]]."],
                 runtime.notifications
    runtime.cli_arguments = { replay: "last_replay.txt" }
    log_once :c, "quiet"
    assert_equal 3, runtime.notifications.length
    # The colour is reset even when logging fails.
    broken = Object.new
    def broken.to_s = raise("no text")
    assert_raises(RuntimeError) { log_blue broken }
    assert files["logs/log.txt"].end_with?("\e[34m\e[0m"), files["logs/log.txt"].inspect
    # Asking Kernel for a top-level constant hints at Module once.
    2.times { refute Kernel.const_defined?(:String) }
    hints = runtime.logged.select { |t| t.to_s.start_with?("* INFO: Did you mean to call ~Module::const_defined?~") }
    assert hints.length == 1 && hints[0].include?(":String"), hints.inspect
  end
end

class Traced
  def quick(a, b = 2) = a + b
  def outer = quick(1) + 1
  def failing = raise(ArgumentError, "bad input")

  def slow
    started = Time.now
    nil while Time.now - started < 0.012
    :done
  end
end

def test_trace_records_calls_durations_and_failures
  with_log_runtime do |runtime|
    subject = Traced.new
    subject.trace!
    assert_equal [3, 4, :done], [subject.quick(1), subject.outer, subject.slow]
    text = $trace_puts.join
    assert_contains_all text, ["Tracing quick on Traced.\n", "\n  quick(1)", "\n          quick(1)", "ms success: quick"]
    assert text.split("\n").find { |l| l.include?("success: slow") }.strip.start_with?("!!! "), text
    assert_equal 2, $trace_performance["Traced#quick"][:count]

    # Tracing the same class again changes nothing.
    Traced.new.trace!
    assert_equal [1, {}], [QMX::Trace.traced_classes.count(Traced), $trace_performance]
    subject.quick(5)
    assert_equal "bad input", assert_raises(ArgumentError) { subject.failing }.message
    assert_contains_all runtime.root_files["logs/trace.txt"],
                        ["success: slow\nquick(5)", " failed: failing\nbad input", "Traced#quick: "]

    QMX::Trace.untrace_classes!
    refute $trace_enabled || Traced.instance_methods(false).any? { |m| m.to_s.start_with?("__trace") }
    assert_equal 3, Traced.new.quick(1)
    assert_equal "Add trace!(SOMEOBJECT) to the top of ~tick~ and this file will be populated with invocation information.\n",
                 runtime.root_files["logs/trace.txt"]
  end
  # Trace names round-trip.
  assert_equal :__trace_original_quick__, QMX::Trace.trace_method_name_for(:quick)
  names = [:__trace_original_quick__, QMX::Trace.trace_method_name_for(:x=), :other]
  assert_equal [:quick, :x=, :other], names.map { |m| QMX::Trace.original_method_name_for(m) }
  assert_equal [:quick], QMX::Trace.filter_methods_to_trace([:quick, :__trace_original_quick__, :tick, :inspect, :log])
end

def test_exception_report_names_the_traced_call
  with_log_runtime do |runtime|
    $trace_enabled = true
    $last_method_traced = :__trace_original_update__
    $trace_history = [[:update, "1, 2"]]
    error = RuntimeError.new("kaput")
    text = Object.new.__pretty_print_exception__(error)
    assert text.start_with?("* ERROR:\n* EXCEPTION:\nkaput\nObject\n"), text
    assert text.end_with?("\n** Method: update\n** Call Stack:\n*** update(1, 2)"), text
    assert_contains_all runtime.logged,
                        ["* INFO: Trace data exported to logs/trace.txt.", "#{text} (#{Kernel.global_tick_count})"]
    $trace_enabled = false
    assert_equal "* EXCEPTION:\nkaput\n* INNER EXCEPTION: deeper\n\nObject",
                 Object.new.__pretty_print_exception__(error, "deeper")
  end
ensure
  $trace_enabled = false
  $last_method_traced = nil
  $trace_history = []
end

def test_puts_goes_to_the_log_file_and_the_runtime_and_text_helpers
  # Before the first tick the counters read -1.
  assert_equal [-1, -1], [Kernel.tick_count, Kernel.global_tick_count]
  with_log_runtime do |runtime|
    assert_equal nil, puts("a", 2)
    assert_equal ["a\n2\n", ["a", 2]], [runtime.root_files["logs/puts.txt"], runtime.logged]
    # Inside a traced call the lines go to the trace too, indented.
    $trace_enabled, $trace_call_depth, $trace_puts = true, 1, []
    puts "x", "y"
    assert_equal ["\n        x\n        y"], $trace_puts
    $trace_enabled = false
    runtime.logged.clear
    (0..13).each { |tick| puts6(Kernel.tick_count = tick) }
    Kernel.tick_count = 120
    puts60 :sixty
    puts600 :six_hundred
    assert_equal [0, 6, 12, :sixty], runtime.logged
  end
  with_log_runtime(true) do |runtime|
    puts "secret"
    assert_equal [{}, ["secret"]], [runtime.root_files, runtime.logged]
  end
  # The text helpers.
  assert_equal ["a b\nc d", ["short\n", "a longer\n", "line\n"], "a\n--b\n"],
               ["a b c d".wrap(3), "short  \na longer line".wrapped_lines(8), "a\nb\n".indent_lines(2, "-")]
  # A very long text wraps without running out of stack.
  lines = (["word"] * 20_000).join(" ").wrapped_lines(20)
  assert_equal [5000, "word word word word\n"], [lines.length, lines.last]
end
