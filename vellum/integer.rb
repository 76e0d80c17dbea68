# Integer's additions; its nil-tolerant operators are in nil_tolerant_operators.rb.
class Integer
  include ValueType

  # The interpreter's operators, kept once so that reloading this file does
  # not wrap the wrappers.
  alias_method :__original_eq_eq__, :== unless instance_methods(false).include?(:__original_eq_eq__)
  alias_method :__original_round__, :round unless instance_methods(false).include?(:__original_round__)
  class_eval(&NIL_TOLERANT_OPERATORS)

  def even?
    self % 2 == 0
  end

  def odd?
    !even?
  end

  # An entity equals its id number, seen from the number's side.
  def ==(other)
    return true if __original_eq_eq__(other)
    return false if other.nil? || other.is_a?(Numeric)
    QMX.const_defined?(:OpenEntity) && other.is_a?(QMX::OpenEntity) && __original_eq_eq__(other.entity_id)
  end

  def sign
    return -1 if self < 0
    return 1 if self > 0
    0
  end

  def pos?
    sign > 0
  end

  def neg?
    sign < 0
  end

  # Angles are degrees throughout the engine.
  def cos
    Math.cos(to_radians)
  end

  def sin
    Math.sin(to_radians)
  end

  def to_sf
    format("%.2f", self)
  end

  # Rounds towards zero to a multiple of int: 17.ifloor(5) is 15.
  def ifloor(int)
    idiv(int.to_i) * int.to_i
  end

  # An integer is already round; any digits asked for change nothing.
  def round(*args)
    __original_round__
  end

  def nan?
    false
  end
end
