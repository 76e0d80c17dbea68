# Turning nil coercion off holds for the rest of the process, so it has a
# file (and an interpreter) of its own.

memory_ffi!

def test_turned_off_nil_and_false_raise_for_arithmetic_comparisons_and_state_calls
  $top_level = Object.new
  runtime = QMX::Runtime.new("Linux", false, 1280, 720, "./vellumcore mygame", "./vellumcore")
  $qmx = runtime
  state = runtime.args.state
  assert_equal 0, nil * 2
  # Read while nil: coercion is armed for it when it is turned off.
  assert_equal nil, state.enemy
  runtime.disable_nil_coersion!
  [-> { nil * 2 }, -> { nil / 2 }, -> { nil + 1 }, -> { false - 1 }, -> { nil < 3 }, -> { false >= 1 },
   -> { nil.merge(a: 1) }, -> { state.enemy.x = 1 }, -> { state.hp.x }].each do |call|
    assert_raises(NoMethodError) { call.call }
  end
  assert_equal [nil, nil], [state.enemy, state.hp]
  # What nil and false have of their own stays.
  assert_equal ["", "nil", [], false, true], [nil.to_s, nil.inspect, nil.to_a, false & true, false | true]
end
