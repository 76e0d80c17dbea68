# A small test harness for the framework tests. Each test file defines
# top-level methods named test_*; they run in name order in a fresh
# interpreter that has loaded the engine's framework bytecode.
class AssertionFailed < StandardError; end

module Harness
  @checks = 0

  def self.checks
    @checks
  end

  def self.count_check
    @checks += 1
  end

  def self.describe(value)
    value.inspect
  rescue Exception
    "#<#{value.class}>"
  end

  def self.run(top)
    names = top.private_methods.select { |m| m.to_s.start_with?("test_") }.map(&:to_s).sort
    passed = 0
    failed = 0
    names.each do |name|
      begin
        before = @checks
        top.send(name)
        # A test that checks nothing proves nothing, however it ended.
        raise AssertionFailed, "no assertion was made" if @checks == before
        passed += 1
      rescue Exception => e
        failed += 1
        where = (e.backtrace || []).first(4).join("\n    ")
        puts "FAIL #{name}: #{e.class}: #{e.message}\n    #{where}"
      end
    end
    puts "#{passed} passed, #{failed} failed"
    failed == 0 && names.size > 0
  end
end

def assert(condition, message = "expected a truthy value")
  Harness.count_check
  raise AssertionFailed, message unless condition
  true
end

def refute(condition, message = "expected a falsy value")
  assert(!condition, message)
end

def assert_equal(expected, actual, message = nil)
  Harness.count_check
  return true if expected == actual
  raise AssertionFailed, "#{message && message + ': '}expected #{Harness.describe(expected)}, got #{Harness.describe(actual)}"
end

def assert_in_delta(expected, actual, delta = 0.001, message = nil)
  Harness.count_check
  return true if (expected - actual).abs <= delta
  raise AssertionFailed, "#{message && message + ': '}expected #{expected} within #{delta}, got #{actual}"
end

def assert_raises(*classes)
  Harness.count_check
  classes = [StandardError] if classes.empty?
  begin
    yield
  rescue Exception => e
    return e if classes.any? { |c| e.is_a?(c) }
    raise AssertionFailed, "expected #{classes.inspect}, got #{e.class}: #{e.message}"
  end
  raise AssertionFailed, "expected #{classes.inspect}, nothing was raised"
end
