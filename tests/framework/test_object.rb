# Object and Class extensions: attribute macros, failures that explain
# themselves, conversions, metadata.

class Recorded
  attr_accessor :a, :b
  attr :b, :c
end

class FailsToBuild
  def initialize(value) = raise(ArgumentError, "value #{value} refused")
end

class TakesOptions
  attr_reader :given, :keywords

  def initialize(*given, **keywords)
    @given, @keywords = given, keywords
  end
end

def test_attributes_are_recorded_and_new_says_which_constructor_failed
  assert_equal [[:a, :b, :c], []], [Recorded.attributes, FailsToBuild.attributes]
  error = assert_raises(ArgumentError) { FailsToBuild.new(4) }
  assert error.message.start_with?("value 4 refused\n* ERROR: Invocation of FailsToBuild.new failed.\n** BACKTRACE:\n"),
         error.message
  built = TakesOptions.new({ x: 1 }, 2, y: 3)
  assert_equal [[{ x: 1 }, 2], { y: 3 }, "ab"], [built.given, built.keywords, String.new("ab")]
end

class GuardedProperties
  def method_missing(name, *args) = name == :known ? :handled : super
  def go = super
end

class MissingInConstructor
  def initialize = nothing_here(7)
end

def test_missing_methods_are_explained_as_no_method_errors
  [[-> { Object.new.foo }, :foo, [], "* ERROR:\nUndefined method foo for #<Object:0x"],
   [-> { Object.new.args }, :args, [], "Did you forget to pass in args as a parameter?"],
   [-> { Recorded.new.zap(1) }, :zap, [1], "* ERROR:\nUnhandled method_missing with name :zap, args [1] was invoked on [Recorded"],
   [-> { 5.frobnicate }, :frobnicate, [], "name :frobnicate"],
   [-> { Recorded.new.send(:*, [1, 2]) }, :*, [[1, 2]], "* ERROR:\nYou attempted to do multiplication on "],
   [-> { GuardedProperties.new.unknown(2) }, :unknown, [2], "name :unknown, args [2]"],
   [-> { GuardedProperties.new.go }, :go, [], "no superclass method 'go'"],
   [-> { MissingInConstructor.new }, :nothing_here, [7], "Invocation of MissingInConstructor.new failed."]].each do |call, name, args, text|
    error = assert_raises(NoMethodError) { call.call }
    assert_equal [name, args], [error.name, error.args], text
    assert error.message.include?(text), error.message
  end
  assert_equal :handled, GuardedProperties.new.known
  [[-> { 5.let }, "~let~ requires a block"], [-> { Object.qmx_args }, "attr_qmx"]].each do |call, text|
    assert assert_raises(RuntimeError) { call.call }.message.include?(text)
  end
  error = assert_raises(TypeError) { 5.raise_immediately(TypeError.new("inner"), :scale, 2, 3) }
  assert_equal "** value: 5\n** type: Integer\n** method: :scale\n** args: [2, 3]\n** docs: $qmx.docs.scale", error.message
end

class DynamicProperties
  attr_reader :seen

  def method_missing(name, *args, &block)
    (@seen ||= []) << [name, args, block ? block.call : nil]
    :handled
  end
end

def private_helper_for_send(value) = value

def test_send_inspect_class_descriptions_and_metadata
  subject = DynamicProperties.new
  assert_equal :handled, subject.send(:hp=, 3)
  subject.send("mana", 1, 2) { :blk }
  subject.send(:opts, a: 1)
  assert_equal [[:hp=, [3], nil], [:mana, [1, 2], :blk], [:opts, [{ a: 1 }], nil]], subject.seen
  # Methods that exist, private ones included, are called as usual.
  assert_equal :ok, send(:private_helper_for_send, :ok)
end

class WithIvars
  def initialize = (@a, @b, @me = 1, "x", self)
  # inspect lists instance variables and classes describe themselves.
  text = WithIvars.new.inspect
  assert text.start_with?("#<WithIvars:0x"), text
  ["@a=1", "@b=\"x\"", "@me=#<WithIvars:0x", " ...>"].each { |part| assert text.include?(part), text }
  assert Object.new.to_s.start_with?("#<Object:0x")
  assert_equal ["(class Integer)", "(class String\n  (included_modules ValueType, Comparable) )"], [Integer.to_s, String.to_s]
  # Interpolation and inspect keep the plain name.
  assert_equal ["Recorded", "Recorded", "Recorded"], ["#{Recorded}", Recorded.inspect, Recorded.serialize]
  assert_equal "foo docs", Class.new { def docs_foo = "foo docs" }.new.doc_foo
  # Metadata.
  thing = Object.new
  assert ObjectMetadata.with_meta(thing, { kind: :box }).equal?(thing)
  assert_equal({ kind: :box }, ObjectMetadata.meta!(thing))
  error = assert_raises(RuntimeError) { ObjectMetadata.meta!(Object.new) }
  assert error.message.start_with?("* ERROR:\nNo metadata found for "), error.message
end
