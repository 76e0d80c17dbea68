# Ends a run of one of the interpreter's core test files under the
# interpreter's own `mruby` program (after prelude.rb, assert.rb and the test
# file): the test's summary, then the one line CTest reads.
report
puts "core results: #{$ok_test} passed, #{$ko_test} failed, #{$kill_test} crashed"
