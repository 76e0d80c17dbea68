# Float's additions; its nil-tolerant operators are in nil_tolerant_operators.rb.
class Float
  include ValueType

  class_eval(&NIL_TOLERANT_OPERATORS)

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
