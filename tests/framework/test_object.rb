# Object and Class extensions: attribute macros, failures that explain
# themselves, conversions, metadata.

class Recorded
  attr_accessor :a, :b
  attr :b, :c
end

class FailsToBuild
  def initialize(value)
    raise ArgumentError, "value #{value} refused"
  end
end

class TakesOptions
  attr_reader :given, :keywords

  def initialize(*given, **keywords)
    @given = given
    @keywords = keywords
  end
end

def test_attributes_are_recorded_once_in_order
  assert_equal [:a, :b, :c], Recorded.attributes
  assert_equal [], FailsToBuild.attributes
  r = Recorded.new
  r.c = 3
  assert_equal 3, r.c
end

def test_new_says_which_constructor_failed
  error = assert_raises(ArgumentError) { FailsToBuild.new(4) }
  assert error.message.start_with?("value 4 refused\n* ERROR: Invocation of FailsToBuild.new failed.\n** BACKTRACE:\n"),
         error.message
  # Arguments reach initialize as they were given.
  built = TakesOptions.new({ x: 1 }, 2, y: 3)
  assert_equal [{ x: 1 }, 2], built.given
  assert_equal({ y: 3 }, built.keywords)
  assert_equal "ab", String.new("ab")
end

def test_missing_methods_are_explained
  error = assert_raises(RuntimeError) { Object.new.foo }
  assert error.message.start_with?("* ERROR:\nUndefined method foo for #<Object:0x"), error.message
  assert error.message.end_with?(".\n\n")
  error = assert_raises(RuntimeError) { Object.new.args }
  assert error.message.include?("Undefined method args for") &&
         error.message.include?("Did you forget to pass in args as a parameter?"), error.message
  error = assert_raises(RuntimeError) { Recorded.new.zap(1) }
  assert error.message.start_with?("* ERROR:\nUnhandled method_missing with name :zap, args [1] was invoked on [Recorded"),
         error.message
  error = assert_raises(RuntimeError) { 5.frobnicate }
  assert error.message.include?("name :frobnicate"), error.message
  error = assert_raises(RuntimeError) { Recorded.new.send(:*, [1, 2]) }
  assert error.message.start_with?("* ERROR:\nYou attempted to do multiplication on "), error.message
end

class Documented
  def docs_foo
    "foo docs"
  end
end

def test_documentation_names_are_looked_up
  assert_equal "foo docs", Documented.new.doc_foo
  assert_equal "foo docs", Documented.new.docs_foo
  assert Documented.new.docs.start_with?("* DOCS ERROR: ")
  assert_equal :docs_search, nil.__normalized_docs_method__(:doc_search)
end

def test_logic_and_conversion_helpers
  assert_equal [5, 4, false, 3], [nil.or(5), 3.and(4), false.and(4), 3.or(9)]
  assert_equal [7, 7.0, 2, ""], ["12".numeric_or_default(7), "x".f_or_default(7.0), 2.5.i_or_default, nil.s_or_default]
  assert_equal [2.5, 0, "5"], [2.5.numeric_or_default, nil.i_or_default, 5.s_or_default]
  assert_equal 10, 5.let { |n| n * 2 }
  error = assert_raises(RuntimeError) { 5.let }
  assert error.message.include?("~let~ requires a block"), error.message
  refute nil.__supports_ivars__?
  assert 0.__supports_ivars__?
  assert_equal nil, Object.new.id
  srand(1)
  value = 1.fast_rand
  assert value >= 0 && value <= 1
  assert_in_delta (value * 100).round, value * 100, 0.000001
end

class WithIvars
  def initialize
    @a = 1
    @b = "x"
    @me = self
  end
end

def test_inspect_keeps_listing_instance_variables
  text = WithIvars.new.inspect
  assert text.start_with?("#<WithIvars:0x"), text
  assert text.include?("@a=1") && text.include?("@b=\"x\"") && text.include?("@me=#<WithIvars:0x"), text
  assert text.include?(" ...>"), text
  assert Object.new.to_s.start_with?("#<Object:0x")
  r = Recorded.new
  r.a = 2
  assert_equal 1, r.ivar(:a) - 1
  assert_equal nil, r.serialize
end

def test_class_descriptions
  assert_equal "(class Integer)", Integer.to_s
  assert_equal "(class Recorded)", Recorded.to_s
  assert_equal "(class String\n  (included_modules ValueType, Comparable) )", String.to_s
  assert Hash.to_s.include?("\n  (included_modules QMX::Geometry"), Hash.to_s
  assert_equal "Recorded", Recorded.serialize
  # Interpolation and inspect keep the plain name.
  assert_equal "Recorded", "#{Recorded}"
  assert_equal "Recorded", Recorded.inspect
end

def test_hierarchy_information
  assert_equal [Kernel], Kernel.better_class_hierarchy_information
  assert_equal [NilClass], NIL.better_class_hierarchy_information
  list = nil.better_class_hierarchy_information
  assert list.include?(NilClass) && list.include?(NilClassFalseClass), list.inspect
  refute list.include?(Object)
  refute 5.better_class_hierarchy_information.include?(NumericDeprecated)
  assert_equal "5 Integer", 5.better_instance_information
end

def test_purge_class_and_metadata
  Object.const_set(:PurgeMe, Class.new)
  assert PurgeMe.is_a?(Class)
  removed = purge_class("PurgeMe")
  assert removed.is_a?(Class)
  refute Object.const_defined?(:PurgeMe)
  assert_equal nil, purge_class(:PurgeMe)
  error = assert_raises(RuntimeError) { purge_class(5) }
  assert_equal "* ERROR:\nPurge class requires a symbol.\n\n", error.message

  thing = Object.new
  assert ObjectMetadata.with_meta(thing, { kind: :box }).equal?(thing)
  assert_equal({ kind: :box }, ObjectMetadata.meta(thing))
  assert_equal({ kind: :box }, ObjectMetadata.meta!(thing))
  error = assert_raises(RuntimeError) { ObjectMetadata.meta!(Object.new) }
  assert error.message.start_with?("* ERROR:\nNo metadata found for "), error.message
end

def test_contracts_and_exception_outline
  result = { x: 1 }.__help_contract_implementation([:x, :left, :nope])
  assert_equal [:x, :left], result[:implemented_methods]
  assert_equal [:nope], result[:not_implemented_methods]
  refute result[:all_methods_implemented]
  assert_equal "", RuntimeError.new("x").__backtrace_to_org__
  begin
    raise "traced"
  rescue => e
    outline = e.__backtrace_to_org__
    assert outline.start_with?("** Backtrace:\n*** "), outline
  end
  error = assert_raises(RuntimeError) { Object.qmx_args }
  assert error.message.include?("attr_qmx"), error.message
  assert_equal false, Kernel.const_defined?(:NoSuchThing)
end

def test_raise_immediately_lists_the_call
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

def test_send_hands_missing_methods_their_arguments
  subject = DynamicProperties.new
  assert_equal :handled, subject.send(:hp=, 3)
  subject.send("mana", 1, 2) { :blk }
  subject.send(:opts, a: 1)
  assert_equal [[:hp=, [3], nil], [:mana, [1, 2], :blk], [:opts, [{ a: 1 }], nil]], subject.seen
  # Methods that exist, private ones included, are called as usual.
  assert_equal 8, 5.send(:+, 3)
  assert_equal "x", "x".send(:to_s)
  assert_equal :ok, send(:private_helper_for_send, :ok)
end

def private_helper_for_send(value)
  value
end
