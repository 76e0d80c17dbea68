# Float's arithmetic tolerates a nil (or false) right-hand side, as
# Integer's does; see integer.rb.
class Float
  include ValueType

  alias_method :__original_add__, :+ unless instance_methods(false).include?(:__original_add__)
  alias_method :__original_sub__, :- unless instance_methods(false).include?(:__original_sub__)
  alias_method :__original_mul__, :* unless instance_methods(false).include?(:__original_mul__)
  alias_method :__original_div__, :/ unless instance_methods(false).include?(:__original_div__)
  alias_method :gt, :> unless instance_methods(false).include?(:gt)
  alias_method :gte, :>= unless instance_methods(false).include?(:gte)
  alias_method :lt, :< unless instance_methods(false).include?(:lt)
  alias_method :lte, :<= unless instance_methods(false).include?(:lte)
  alias_method :above?, :gt
  alias_method :right_of?, :gt
  alias_method :below?, :lt
  alias_method :left_of?, :lt

  def -(other)
    return nil unless other
    __original_sub__(other)
  rescue StandardError => e
    raise e if other.is_a?(Numeric)
    __raise_arithmetic_exception__(other, :-, e)
  end

  def +(other)
    return nil unless other
    __original_add__(other)
  rescue StandardError => e
    raise e if other.is_a?(Numeric)
    __raise_arithmetic_exception__(other, :+, e)
  end

  def *(other)
    return nil unless other
    __original_mul__(other)
  rescue StandardError => e
    raise e if other.is_a?(Numeric)
    __raise_arithmetic_exception__(other, :*, e)
  end

  def /(other)
    return nil unless other
    __original_div__(other)
  rescue StandardError => e
    raise e if other.is_a?(Numeric)
    __raise_arithmetic_exception__(other, :/, e)
  end

  def >(other)
    return false unless other
    gt(other)
  end

  def >=(other)
    return false unless other
    gte(other)
  end

  def <(other)
    return false unless other
    lt(other)
  end

  def <=(other)
    return false unless other
    lte(other)
  end

  def serialize
    self
  end

  def sign
    return -1 if self < 0
    return 1 if self > 0
    0
  end

  # An infinite value becomes +/- scalar (when one is given).
  def replace_infinity(scalar)
    return self unless scalar
    direction = infinite?
    return self unless direction
    direction < 0 ? -scalar : scalar
  end

  def to_sf
    format("%.2f", self)
  end

  def ifloor(int)
    idiv(int.to_i) * int.to_i
  end
end
