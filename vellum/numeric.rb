# Numbers as game code uses them: tick-time helpers (the receiver is the
# tick at which something started), small arithmetic words, angles in
# degrees, randomisation and screen-relative positions.
#
# The interpreter keeps the arithmetic and comparison operators of numbers on
# Integer and Float themselves, so the nil-tolerant operators live in
# integer.rb and float.rb; the versions here serve the other numeric classes.
class Numeric
  include ValueType
  include NumericDeprecated

  alias_method :gt, :>
  alias_method :gte, :>=
  alias_method :lt, :<
  alias_method :lte, :<=
  alias_method :__original_eq_eq__, :== unless method_defined?(:__original_eq_eq__)

  def seconds
    self * 60
  end

  def half
    self / 2.0
  end

  def to_byte
    clamp(0, 255).to_i
  end

  # Wraps the value into min..max (the period is max - min): with 0..10, 11
  # gives 1, -1 gives 9, and 0 and 10 stay as they are. A closed form, so
  # values far outside the range cost no more than near ones; values that
  # compare neither way (NaN) and infinite ones come back unchanged.
  def clamp_wrap(min, max)
    min, max = max, min if min > max
    return self if self >= min && self <= max
    return min if min == max
    return self if is_a?(Float) && !finite?
    period = max - min
    if self < min
      remainder = (min - self) % period
      remainder == 0 ? min : max - remainder
    elsif self > max
      remainder = (self - max) % period
      remainder == 0 ? max : min + remainder
    else
      self
    end
  end

  def elapsed_time(tick_count_override = nil)
    (tick_count_override || Kernel.tick_count) - self
  end

  def elapsed_time_percent(duration)
    elapsed_time.percentage_of(duration)
  end

  def new?
    elapsed_time == 0
  end

  def elapsed?(offset = 0, tick_count_override = Kernel.tick_count)
    self + offset < tick_count_override
  end

  # The animation frame to show at the current tick (or at
  # tick_count_override): nil before the start and, without repeat, once the
  # animation is over.
  def frame_index(*opts)
    if opts.length == 1 && opts[0].is_a?(Hash)
      options = opts[0]
      count = options[:count]
      hold_for = options[:hold_for]
      repeat = options[:repeat]
      tick_count_override = options[:tick_count_override]
    else
      count, hold_for, repeat, tick_count_override = opts
    end
    raise ArgumentError, "hold_for is required." unless hold_for
    raise ArgumentError, "count is required." unless count
    now = tick_count_override || Kernel.tick_count
    return nil if now < self
    length = hold_for * count
    return nil if !repeat && self + length < now - 1
    (now - self - 1).idiv(hold_for) % count
  rescue Exception => e
    raise "* ERROR:\n#{opts}\n#{e}\n"
  end

  def zero?
    self == 0
  end

  def zero
    0
  end

  def one
    1
  end

  def two
    2
  end

  def five
    5
  end

  def ten
    10
  end

  alias_method :above?, :gt
  alias_method :right_of?, :gt
  alias_method :below?, :lt
  alias_method :left_of?, :lt

  def shift_right(i)
    self + i
  end

  def shift_left(i)
    shift_right(i * -1)
  rescue Exception => e
    raise_immediately(e, :shift_left, i)
  end

  def shift_up(i)
    self + i
  rescue Exception => e
    raise_immediately(e, :shift_up, i)
  end

  def shift_down(i)
    shift_up(i * -1)
  rescue Exception => e
    raise_immediately(e, :shift_down, i)
  end

  def randomize(*definitions)
    result = self
    result = rand_sign if definitions.include?(:sign)
    if definitions.include?(:ratio)
      result = rand * result
    elsif definitions.include?(:int)
      result = rand(result)
    end
    result
  end

  def rand_sign
    rand > 0.5 ? -self : self
  end

  def rand_ratio
    self * rand
  end

  def remainder_of_divide(n)
    self % n
  end

  def ease_extended(tick_count_override, duration, default_before, default_after, *definitions)
    QMX::Easing.ease_extended(self, tick_count_override, self + duration, default_before, default_after, *definitions)
  end

  def global_ease(duration, *definitions)
    ease_extended(Kernel.global_tick_count, duration,
                  QMX::Easing.initial_value(*definitions), QMX::Easing.final_value(*definitions), *definitions)
  end

  def ease(duration, *definitions)
    ease_extended(Kernel.tick_count, duration,
                  QMX::Easing.initial_value(*definitions), QMX::Easing.final_value(*definitions), *definitions)
  end

  def ease_spline_extended(tick_count_override, duration, spline)
    QMX::Easing.ease_spline_extended(self, tick_count_override, self + duration, spline)
  end

  def global_ease_spline(duration, spline)
    ease_spline_extended(Kernel.global_tick_count, duration, spline)
  end

  def ease_spline(duration, spline)
    ease_spline_extended(Kernel.tick_count, duration, spline)
  end

  def to_radians
    self * (Math::PI / 180)
  end

  def to_degrees
    self / (Math::PI / 180)
  end

  def to_square(x, y, anchor_x = 0.5, anchor_y = nil)
    QMX::Geometry.to_square(self, x, y, anchor_x, anchor_y)
  end

  def vector(max_value = 1)
    [vector_x(max_value), vector_y(max_value)]
  end

  def vector_y(max_value = 1)
    max_value * Math.sin(to_radians)
  end

  def vector_x(max_value = 1)
    max_value * Math.cos(to_radians)
  end

  def x_vector(max_value = 1)
    vector_x(max_value)
  end

  def y_vector(max_value = 1)
    vector_y(max_value)
  end

  def mod(n)
    self % n
  end

  def mod_zero?(*ns)
    ns.any? { |n| self % n == 0 }
  end

  def zmod?(n)
    self % n == 0
  end

  def mult(n)
    self * n
  end

  def fdiv(n)
    self / n.to_f
  end

  def idiv(n)
    (self / n.to_f).to_i
  end

  def towards(target, magnitude)
    return self if self == target
    return target if (self - target).abs < magnitude
    self > target ? self - magnitude : self + magnitude
  end

  def map_with_ys(ys, &block)
    result = []
    xs = to_i
    rows = ys.to_i
    x = 0
    while x < xs
      y = 0
      while y < rows
        result << block.call(x, y)
        y += 1
      end
      x += 1
    end
    result
  rescue Exception => e
    raise_immediately(e, :map_with_ys, [self, ys])
  end

  def combinations(other_int)
    numbers.product(other_int.numbers)
  end

  # Progress as a fraction in 0..1. A zero span is over at once (and not yet
  # begun before it), rather than the NaN of 0 / 0.
  def percentage_of(n)
    return(self < 0 ? 0 : 1) if n == 0
    (self / n.to_f).cap_min_max(0, 1)
  end

  def cap(i)
    self > i ? i : self
  end

  def cap_min_max(min, max)
    return min if self < min
    return max if self > max
    self
  end

  def lesser(other)
    other < self ? other : self
  end

  def greater(other)
    other > self ? other : self
  end

  def subtract(i)
    self - i
  end

  def minus(i)
    self - i
  end

  def add(i)
    self + i
  end

  def plus(i)
    self + i
  end

  def numbers
    (0..self).to_a
  end

  def >=(other)
    return false unless other
    gte(other)
  end

  def >(other)
    return false unless other
    gt(other)
  end

  def <=(other)
    return false unless other
    lte(other)
  end

  def <(other)
    return false unless other
    lt(other)
  end

  # An entity equals its id number, seen from the number's side.
  def ==(other)
    return true if __original_eq_eq__(other)
    return false if other.nil? || other.is_a?(Numeric)
    QMX.const_defined?(:OpenEntity) && other.is_a?(QMX::OpenEntity) && __original_eq_eq__(other.entity_id)
  end

  def map
    raise "* ERROR:\nA block is required for Numeric#map.\n\n" unless block_given?
    result = []
    n = to_i
    i = 0
    while i < n
      result << yield
      i += 1
    end
    result
  end

  def each
    raise "* ERROR:\nA block is required for Numeric#each.\n\n" unless block_given?
    n = to_i
    i = 0
    while i < n
      yield
      i += 1
    end
    self
  end

  def times_with_index
    raise "* ERROR:\nA block is required for Numeric#times_with_index.\n\n" unless block_given?
    n = to_i
    i = 0
    while i < n
      yield i
      i += 1
    end
    self
  end

  def each_with_index
    raise "* ERROR:\nA block is required for Numeric#each_with_index.\n\n" unless block_given?
    n = to_i
    i = 0
    while i < n
      yield i
      i += 1
    end
    self
  end

  def map_with_index
    raise "* ERROR:\nA block is required for Numeric#map_with_index.\n\n" unless block_given?
    result = []
    n = to_i
    i = 0
    while i < n
      result << yield(i)
      i += 1
    end
    result
  end

  def __raise_arithmetic_exception__(other, m, e)
    raise "* ERROR:\nAttempted to invoke :#{m} on #{self} with the right hand argument of:\n\n#{other}\n\n" \
          "The object above is not a Numeric.\n\n#{e}\n"
  end

  def serialize
    self
  end

  def self.from_top(n)
    return 720 - n unless $qmx
    $qmx.args.grid.top - n
  end

  def from_top
    Numeric.from_top(self)
  end

  def self.from_right(n)
    return 1280 - n unless $qmx
    $qmx.args.grid.right - n
  end

  def from_right
    Numeric.from_right(self)
  end

  def self.clamp(n, min, max)
    n.clamp(min, max)
  end
end
