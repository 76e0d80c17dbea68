# Runs the game's test methods: top-level methods named test_... (or
# focus_test_... to run only those), each called with a fresh args and an
# assertion object, and logs what passed, what made no assertion and what
# failed.
module QMX
  class Tests
    attr_accessor :failed, :passed, :inconclusive

    def initialize
      @failed = []
      @passed = []
      @inconclusive = []
      # Tests whose parameters are wrong: reported, and counted nowhere
      # but in the exit status of a test run.
      @invalid = []
      @is_running = false
    end

    def run_test(m)
      args = QMX::Args.new($qmx, nil)
      assert = QMX::Assert.new
      log_test_running(m)
      # Checked before the call: the interpreter's ArgumentError does not
      # name the method, so a wrong signature would look like a failure.
      unless test_signature_valid?(m)
        log_test_signature_incorrect(m)
        return
      end
      begin
        test_receiver.send(m, args, assert)
        if assert.assertion_performed
          log_passed(m)
        else
          log_inconclusive(m)
        end
      rescue Exception => e
        if test_signature_invalid_exception?(e, m)
          log_test_signature_incorrect(m)
        else
          mark_test_failed(m, e)
        end
      end
    end

    def test_methods_focused
      Object.methods.select { |m| m.to_s.start_with?("focus_test_") }
    end

    def test_methods
      Object.methods.select { |m| m.to_s.start_with?("test_") }
    end

    def start
      log "* TEST: qmx.test.start has been invoked."
      tests = test_methods_focused
      tests = test_methods if tests.empty?
      if tests.empty?
        log_no_tests_found
        log "* TEST: No test ran, so this run did not pass."
        return
      end
      @is_running = true
      tests.each { |m| run_test(m) }
      print_summary
      @is_running = false
    end

    def mark_test_failed(m, e)
      @failed << { m: m, e: e }
      log "Failed."
    end

    def running?
      @is_running
    end

    def log_inconclusive(m)
      @inconclusive << { m: m }
      log "Inconclusive."
    end

    def log_passed(m)
      @passed << { m: m }
      log "Passed."
    end

    def log_no_tests_found
      log "No tests were found. To create a test. Define a method\nthat begins with test_. For example:\n#+begin_src\ndef test_game_over args, assert\n\nend\n#+end_src\n"
    end

    def log_test_running(m)
      log "** Running: #{m}"
    end

    def test_signature_invalid_exception?(e, m)
      text = e.to_s
      text.include?(m.to_s) && text.include?("wrong number of arguments")
    end

    def log_test_signature_incorrect(m)
      @invalid << { m: m }
      log "* TEST METHOD INVALID:\nI found a test method called :#{m}. But it needs to have\nthe following method signature:\n#+begin_src\ndef #{m} args, assert\n\nend\n#+end_src\nPlease update the method signature to match the code above. If you\ndid not intend this to be a test method. Rename the method so it does\nnot start with \"test_\".\n"
    end

    def print_summary
      log "** Summary"
      log "*** Passed"
      log "#{passed.length} test(s) passed."
      passed.each { |h| log "**** :#{h[:m]}" }
      log "*** Inconclusive"
      unless inconclusive.empty?
        log_once :assertion_ok_note, "NOTE FOR INCONCLUSIVE TESTS: No assertion was performed in the test.\nAdd assert.ok! at the end of the test if you are using your own assertions.\n"
      end
      log "#{inconclusive.length} test(s) inconclusive."
      inconclusive.each { |h| log "**** :#{h[:m]}" }
      log "*** Failed"
      log "#{failed.length} test(s) failed."
      failed.each do |h|
        log "**** Test name: :#{h[:m]}"
        log h[:e].to_s.gsub("* ERROR:", "").strip
      end
    end

    # 1 once any test failed or had the wrong parameters, or when no test
    # ran at all (a run that tested nothing did not pass), else 0.
    def exit_status
      return 1 if (@passed + @failed + @inconclusive + @invalid).empty?
      @failed.empty? && @invalid.empty? ? 0 : 1
    end

    private

    # A test method takes (args, assert); optional and rest parameters that
    # allow two arguments are fine.
    def test_signature_valid?(m)
      arity = test_receiver.method(m).arity
      arity == 2 || (arity < 0 && -arity - 1 <= 2)
    end

    # Top-level methods run on the game's top-level object, as its tick does.
    def test_receiver
      $top_level || self
    end
  end
end
