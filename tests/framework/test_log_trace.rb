# Logging with levels, once-only messages and files, and method tracing.

class LogRuntime
  attr_accessor :production, :options
  attr_reader :files, :logged, :notifications

  def initialize(production = false)
    @production = production
    @files = {}
    @logged = []
    @notifications = []
    @options = {}
  end

  def append_file_root(file, text)
    (@files[file] ||= "") << text
  end

  def write_file_root(file, text)
    @files[file] = text.dup
  end

  def log(obj, sender = nil)
    @logged << [obj, sender]
  end

  def notify!(message, duration = 300)
    @notifications << message
  end

  def cli_arguments
    @options
  end
end

def with_log_runtime(production = false)
  saved = $qmx
  $qmx = LogRuntime.new(production)
  yield $qmx
ensure
  $qmx = saved
end

def logged_texts(runtime)
  runtime.logged.map { |obj, _| obj }
end

def test_levels_write_the_log_file_byte_for_byte
  with_log_runtime do |runtime|
    log "plain"
    log "an id", "text"
    log_info "ready"
    log_error "boom"
    log_error "boom", "line one\nline two"
    log_error "first\nsecond"
    log_important "careful"
    expected = "plain\n" \
               "text\n" \
               "* INFO: ready\n" \
               "* ERROR: boom\n" \
               "* ERROR: boom\n  #+BEGIN:\n  line one\n  line two\n  #+END:\n  \n\n" \
               "* ERROR: \n  #+BEGIN:\n  first\n  second\n  #+END:\n  \n\n" \
               "careful\n"
    assert_equal expected, runtime.files["logs/log.txt"]
    assert_equal ["plain", QMX::Log], runtime.logged[0]
    assert_equal ["careful", nil], runtime.logged.last
    assert_equal ["Important notification occurred."], runtime.notifications
  end
end

def test_extra_arguments_and_colours
  with_log_runtime do |runtime|
    log_info "count", 1
    assert_equal "* INFO: count [1]", logged_texts(runtime).last
    log_info "count", 1, 2
    assert_equal "* INFO: count\n  #+BEGIN:\n  1\n  2\n  #+END:\n  \n", logged_texts(runtime).last
    log_red "x"
    assert runtime.files["logs/log.txt"].end_with?("\e[31mx\n\e[0m"), runtime.files["logs/log.txt"].inspect
    # The colour is reset even when logging fails.
    broken = Object.new
    def broken.to_s
      raise "no text"
    end
    assert_raises(RuntimeError) { log_blue broken }
    assert runtime.files["logs/log.txt"].end_with?("\e[34m\e[0m"), runtime.files["logs/log.txt"].inspect
  end
end

def test_once_only_messages
  with_log_runtime do |runtime|
    log_once :a, "m"
    log_once :a, "m"
    log_once :a, :b, "m"
    assert_equal "\nm\n\n[Message ID: [:a]]\n\n\nm\n\n[Message ID: [:a, :b]]\n\n", runtime.files["logs/log.txt"]
    assert_equal ["Open the Vellumcore Console by pressing [`] [~] [²] [^] [º] or [§]. [Message ID: [:a]].",
                  "Open the Vellumcore Console by pressing [`] [~] [²] [^] [º] or [§]. [Message ID: [:a, :b]]."],
                 runtime.notifications
    runtime.options = { replay: "last_replay.txt" }
    log_once :c, "quiet"
    assert_equal 2, runtime.notifications.length
    log_once_info :d, "info once"
    log_once_info :d, "info once"
    assert_equal 1, logged_texts(runtime).count("* INFO: info once")
    # Asking Kernel for a top-level constant hints at Module once.
    2.times { refute Kernel.const_defined?(:String) }
    hints = logged_texts(runtime).select { |t| t.to_s.start_with?("* INFO: Did you mean to call ~Module::const_defined?~") }
    assert_equal 1, hints.length
    assert hints[0].include?(":String"), hints[0]
  end
end

def test_production_writes_and_prints_nothing
  with_log_runtime(true) do |runtime|
    log "a"
    log_error "b"
    log_important "c"
    log_once :p, "d"
    log_print "e"
    puts "f"
    QMX::Trace.untrace_classes!
    assert_equal({}, runtime.files)
    assert_equal [["f", nil]], runtime.logged
    assert_equal [], runtime.notifications
  end
end

class Traced
  def quick(a, b = 2)
    a + b
  end

  def slow
    started = Time.now
    nil while Time.now - started < 0.012
    :done
  end

  def outer
    quick(1) + 1
  end

  def failing
    raise ArgumentError, "bad input"
  end
end

def test_trace_records_calls_durations_and_failures
  with_log_runtime do |runtime|
    subject = Traced.new
    subject.trace!
    assert_equal 3, subject.quick(1)
    assert_equal 4, subject.outer
    assert_equal :done, subject.slow
    text = $trace_puts.join
    assert text.include?("Tracing quick on Traced.\n"), text
    assert text.include?("\n  quick(1)"), text
    assert text.include?("\n          quick(1)"), text
    assert text.include?("ms success: quick"), text
    lines = text.split("\n")
    assert lines.find { |l| l.include?("success: slow") }.strip.start_with?("!!! "), text
    assert_equal 2, $trace_performance["Traced#quick"][:count]

    # Tracing the same class again changes nothing.
    Traced.new.trace!
    assert_equal 1, QMX::Trace.traced_classes.count(Traced)
    assert_equal({}, $trace_performance)
    subject.quick(5)

    error = assert_raises(ArgumentError) { subject.failing }
    assert_equal "bad input", error.message
    written = runtime.files["logs/trace.txt"]
    assert written.include?("success: slow\nquick(5)"), written.inspect
    assert written.include?(" failed: failing\nbad input"), written
    assert written.include?("Traced#quick: "), written
    assert_equal [], $trace_puts

    QMX::Trace.untrace_classes!
    refute Traced.instance_methods(false).any? { |m| m.to_s.start_with?("__trace") }
    assert_equal 3, Traced.new.quick(1)
    refute $trace_enabled
    assert_equal "Add trace!(SOMEOBJECT) to the top of ~tick~ and this file will be populated with invocation information.\n",
                 runtime.files["logs/trace.txt"]
  end
end

def test_trace_names_round_trip
  assert_equal :__trace_original_quick__, QMX::Trace.trace_method_name_for(:quick)
  assert_equal :quick, QMX::Trace.original_method_name_for(:__trace_original_quick__)
  assert_equal :x=, QMX::Trace.original_method_name_for(QMX::Trace.trace_method_name_for(:x=))
  assert_equal :other, QMX::Trace.original_method_name_for(:other)
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
    assert logged_texts(runtime).include?("* INFO: Trace data exported to logs/trace.txt.")
    assert logged_texts(runtime).include?("#{text} (#{Kernel.global_tick_count})"), logged_texts(runtime).inspect
    $trace_enabled = false
    inner = Object.new.__pretty_print_exception__(error, "deeper")
    assert_equal "* EXCEPTION:\nkaput\n* INNER EXCEPTION: deeper\n\nObject", inner
  end
ensure
  $trace_enabled = false
  $last_method_traced = nil
  $trace_history = []
end
