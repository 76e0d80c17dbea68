# nil and false in arithmetic, and the coercion that turns a call on a nil
# state attribute into a value.

def with_log(&block)
  with_runtime(MemoryRuntime.new, &block)
ensure
  nil.unassign_method_missing
end

def test_nil_and_false_arithmetic
  assert_equal ["a", [1], nil, nil, 0, nil, 2.5],
               [nil + "a", nil + [1], nil < 3, nil + nil, false / 4, false * nil, false + 2.5]
  [[-> { nil + :a }, "+ not handled for NilClassFalseClass and Symbol"],
   [-> { false - {} }, "- not handled for NilClassFalseClass and Hash"]].each do |call, text|
    assert_equal "* ERROR:\n:#{text}.\n\n", assert_raises(RuntimeError) { call.call }.message
  end
  assert_equal [nil, nil, nil], [nil.frame_index(1, 2), nil.to_hash, false.merge(a: 1)]
end

def test_coercion_creates_the_attribute_it_was_armed_for_and_serves_one_call_only
  with_log do
    state = {}
    nil.assign_method_missing(state, :items, {})
    assert_equal [:sword], nil << :sword
    nil.assign_method_missing(state, :hp, {})
    nil.hp = 10
    nil.assign_method_missing(state, :list, {})
    assert_equal [], nil.map { |x| x }
    # A later, unrelated nil must not write into hp.
    error = assert_raises(NoMethodError) { nil.hp = 99 }
    assert error.message.include?("Unhandled method_missing with name :hp="), error.message
    assert_raises(NoMethodError) { nil << 1 }
    assert_equal({ items: [:sword], hp: 10 }, state)
    nil.assign_method_missing(state, :enemy, {})
    nil.x = 4
    assert state[:enemy].is_a?(QMX::OpenEntity)
  end
end

def test_thrash_warns_once_then_stops_and_comparisons_count
  with_log do |runtime|
    state = {}
    counter = {}
    5.times do
      nil.assign_method_missing(state, :hp, counter)
      nil.map
    end
    warnings = runtime.logged.select { |l| l.start_with?("* WARNING: Method invocation on a nil value detected.") }
    assert warnings.length == 1 && warnings[0].include?("hp") && warnings[0].include?(":map"), warnings.inspect
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
    # Comparisons count; calls with two arguments are refused.
    nil.assign_method_missing(state, :hp, counter)
    assert_equal [nil, 1], [nil > 3, counter[:>]]
    nil.assign_method_missing(state, :hp, counter)
    error = assert_raises(RuntimeError) { nil.fetch(1, 2) }
    assert_equal "* ERROR:\nUndefined method for NilClass. Method: fetch.\n\n", error.message
  end
end
