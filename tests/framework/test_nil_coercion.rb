# nil and false in arithmetic, and the coercion that turns a call on a nil
# state attribute into a value.

# The coercion creates entities; a minimal one stands in when the data
# model is not loaded.
unless QMX.const_defined?(:OpenEntity)
  module QMX
    class OpenEntity
      attr_reader :name, :calls

      def initialize(name = nil)
        @name = name
        @calls = []
      end

      def method_missing(m, *args)
        @calls << [m, args]
        self
      end
    end
  end
end

class CapturedLog
  attr_reader :lines

  def initialize
    @lines = []
  end

  def production
    false
  end

  def append_file_root(file, text); end

  def log(obj, sender = nil)
    @lines << obj.to_s
  end

  def notify!(*args); end

  def cli_arguments
    {}
  end
end

def with_log
  saved = $qmx
  $qmx = CapturedLog.new
  yield $qmx
ensure
  $qmx = saved
  nil.unassign_method_missing
end

def test_nil_and_false_arithmetic
  assert_equal [5, -5, 0, "a", [1], [], nil, nil], [nil + 5, nil - 5, nil * 5, nil + "a", nil + [1], nil - [1], nil < 3, nil + nil]
  assert_equal [0, nil, 2.5], [false / 4, false * nil, false + 2.5]
  error = assert_raises(RuntimeError) { nil + :a }
  assert_equal "* ERROR:\n:+ not handled for NilClassFalseClass and Symbol.\n\n", error.message
  error = assert_raises(RuntimeError) { nil * "x" }
  assert_equal "* ERROR:\n:* not handled for NilClassFalseClass and String.\n\n", error.message
  error = assert_raises(RuntimeError) { false - {} }
  assert_equal "* ERROR:\n:- not handled for NilClassFalseClass and Hash.\n\n", error.message
  assert_equal [nil, nil, nil, nil], [nil.frame_index(1, 2), nil.serialize, nil.to_hash, false.merge(a: 1)]
  assert nil.feels_like_an_array?(:map)
  refute nil.feels_like_an_array?(:each)
end

def test_coercion_creates_the_attribute_it_was_armed_for
  with_log do
    state = {}
    counter = {}
    nil.assign_method_missing(state, :items, counter)
    assert_equal [:sword], nil << :sword
    assert_equal({ items: [:sword] }, state)

    nil.assign_method_missing(state, :hp, counter)
    nil.hp = 10
    assert_equal 10, state[:hp]

    nil.assign_method_missing(state, :list, counter)
    assert_equal [], nil.map { |x| x }
    assert_equal nil, state[:list]

    nil.assign_method_missing(state, :enemy, counter)
    nil.x = 4
    assert state[:enemy].is_a?(QMX::OpenEntity)
  end
end

def test_coercion_serves_one_call_only
  with_log do
    state = {}
    nil.assign_method_missing(state, :hp, {})
    nil.hp = 3
    # A later, unrelated nil must not write into hp.
    error = assert_raises(RuntimeError) { nil.hp = 99 }
    assert error.message.include?("Unhandled method_missing with name :hp="), error.message
    assert_equal 3, state[:hp]
    error = assert_raises(RuntimeError) { nil << 1 }
    assert_equal({ hp: 3 }, state)
  end
end

def test_thrash_warns_once_then_stops
  with_log do |runtime|
    state = {}
    counter = {}
    5.times do
      nil.assign_method_missing(state, :hp, counter)
      nil.map
    end
    warnings = runtime.lines.select { |l| l.start_with?("* WARNING: Method invocation on a nil value detected.") }
    assert_equal 1, warnings.length
    assert warnings[0].include?("hp") && warnings[0].include?(":map"), warnings[0]
    nil.assign_method_missing(state, :hp, counter)
    error = assert_raises(RuntimeError) { nil.map }
    assert error.message.start_with?("* ERROR:\nThe method map was invoked on hp within args.state, but "), error.message
    # Indexing does not count towards the limit.
    counter.clear
    8.times do
      nil.assign_method_missing(state, :grid, counter)
      nil[0]
    end
    assert_equal nil, counter[:[]]
  end
end

def test_comparisons_count_and_two_arguments_refuse
  with_log do
    counter = {}
    nil.assign_method_missing({}, :hp, counter)
    assert_equal nil, nil > 3
    assert_equal 1, counter[:>]
    nil.assign_method_missing({}, :hp, counter)
    error = assert_raises(RuntimeError) { nil.fetch(1, 2) }
    assert_equal "* ERROR:\nUndefined method for NilClass. Method: fetch.\n\n", error.message
    false.assign_method_missing({}, :on, counter)
    error = assert_raises(RuntimeError) { false.send(:zip, 1, 2) }
    assert_equal "* ERROR:\nUndefined method for FalseClass. Method: zip.\n\n", error.message
    false.unassign_method_missing
  end
end
