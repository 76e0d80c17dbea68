# A small test harness for the framework tests. Each test file defines
# top-level methods named test_*; they run in name order in a fresh
# interpreter that has loaded the engine's framework bytecode. Every test must
# make at least one check: one that checks nothing proves nothing.
class AssertionFailed < StandardError; end

module Harness
  @checks = 0

  def self.check(passed, message)
    @checks += 1
    raise AssertionFailed, (message.is_a?(Proc) ? message.call : message) unless passed
    true
  end

  def self.describe(value)
    value.inspect
  rescue Exception
    "#<#{value.class}>"
  end

  def self.run(top)
    names = top.private_methods.select { |m| m.to_s.start_with?("test_") }.map(&:to_s).sort
    failed = names.count do |name|
      before = @checks
      top.send(name)
      raise AssertionFailed, "no assertion was made" if @checks == before
      false
    rescue Exception => e
      puts "FAIL #{name}: #{e.class}: #{e.message}\n    #{(e.backtrace || []).first(4).join("\n    ")}"
      true
    end
    puts "#{names.size - failed} passed, #{failed} failed"
    failed == 0 && names.size > 0
  end
end

def assert(condition, message = "expected a truthy value") = Harness.check(condition, message)
def refute(condition, message = "expected a falsy value") = Harness.check(!condition, message)

def assert_equal(expected, actual, message = nil)
  Harness.check(expected == actual, -> { "#{message && message + ': '}expected #{Harness.describe(expected)}, got #{Harness.describe(actual)}" })
end

def assert_in_delta(expected, actual, delta = 0.001, message = nil)
  Harness.check((expected - actual).abs <= delta, -> { "#{message && message + ': '}expected #{expected} within #{delta}, got #{actual}" })
end

def assert_raises(*classes)
  classes = [StandardError] if classes.empty?
  begin
    yield
  rescue Exception => e
    Harness.check(classes.any? { |c| e.is_a?(c) }, -> { "expected #{classes.inspect}, got #{e.class}: #{e.message}" })
    return e
  end
  Harness.check(false, "expected #{classes.inspect}, nothing was raised")
end
