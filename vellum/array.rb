module QMX
  # The positional accessors that let an Array serve as a primitive live in
  # these modules; the primitive layouts fill them in. Declared here so that
  # Array can mix them in whatever the load order.
  module Primitive
    module ConversionCapabilities
    end

    module Determined
    end
  end
end

# List helpers games use, and an `+` that explains a wrong operand.
class Array
  include QMX::Primitive::ConversionCapabilities
  include ArrayDeprecated

  # The interpreter's operators, kept once so that reloading does not wrap
  # the wrappers.
  alias_method :__original_add__, :+ unless instance_methods(false).include?(:__original_add__)
  alias_method :__original_add_single__, :<< unless instance_methods(false).include?(:__original_add_single__)

  def self.reject_nil(a)
    a.reject(&:nil?)
  end

  def self.reject_falsey(a)
    a.select { |element| element }
  end

  def reject_nil
    Array.reject_nil(self)
  end

  def reject_false
    Array.reject_falsey(self)
  end

  def reject_falsey
    Array.reject_falsey(self)
  end

  # Every pair [x, y] for x in self and y in the other array (self when none
  # is given). With a block, the block gets (x, y, self's last element, the
  # other's last element) and the results are flattened.
  def product(other_array = nil, &block)
    other = other_array || self
    result = []
    if block
      last_of_self = last
      last_of_other = other.last
      each { |x| other.each { |y| result << block.call(x, y, last_of_self, last_of_other) } }
      result.flatten
    else
      each { |x| other.each { |y| result << [x, y] } }
      result
    end
  end

  def serialize
    self
  end

  def to_a_pairs
    each_slice(2).to_a
  end

  def pairs_to_hash
    to_h
  end

  def map_2d(&block)
    result = []
    each_with_index do |row, row_index|
      row.each_with_index { |value, column_index| result << block.call(row_index, column_index, value) }
    end
    result
  end

  def any_intersect_rect?(other, tolerance = 0.1)
    any? { |element| element.intersect_rect?(other, tolerance) }
  end

  # A uniformly chosen element (nil for an empty Array).
  def sample
    return nil if empty?
    self[rand(length)]
  end

  def rest
    self[1..-1]
  end

  def +(other)
    return __original_add__(other) if other.is_a?(Array)
    return __original_add__(other.to_a) if other.is_a?(Enumerable)
    raise_with_caller(
      "* ERROR:\n#{other.class.name} doesn't look like an Array.\n\n#{other}\n\n" \
      "Attempted to invoke :+ against something that doesn't look like an Array (it's a(n) #{other.class.name}). " \
      "Did you mean to use << instead of :+? The :<< function adds a single item, while the :+ function adds " \
      "multiple items and expects an Array.\n\n"
    )
  end

  def include_any?(*items)
    items.any? { |item| include?(item) }
  end

  def map_with_index(*opts, &block)
    offset = opts[0] || 0
    result = []
    each_with_index { |element, index| result << block.call(element, index + offset) }
    result
  end
end
