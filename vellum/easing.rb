module QMX
  # Turns progress through an animation into a value in 0..1, through a chain
  # of named easing definitions or along a spline of cubic Bezier curves.
  module Easing
    def self.ease(start_tick, current_tick, duration, *definitions)
      ease_extended(start_tick, current_tick, start_tick + duration,
                    initial_value(*definitions), final_value(*definitions), *definitions)
    end

    # Linear progress from start_tick to end_tick (0 before, 1 from the end
    # on), passed through each definition in turn. An animation without
    # duration is complete.
    def self.ease_extended(start_tick, current_tick, end_tick, default_before, default_after, *definitions)
      definitions = definitions.flatten
      definitions = [:identity] if definitions.empty?
      duration = end_tick - start_tick
      y = if duration <= 0
            1
          else
            (current_tick - start_tick).percentage_of(duration).cap_min_max(0, 1)
          end
      definitions.each { |definition| y = exec_definition(definition, start_tick, duration, y) }
      y
    end

    def self.ease_spline(start_tick, current_tick, duration, spline)
      ease_spline_extended(start_tick, current_tick, start_tick + duration, spline)
    end

    # The spline's curves share the duration equally. Before the start the
    # first curve's first value holds; from the end on, the last curve's last.
    def self.ease_spline_extended(start_tick, current_tick, end_tick, spline)
      return spline[-1][-1] if current_tick >= end_tick
      count = spline.length
      t = (current_tick - start_tick).fdiv(end_tick - start_tick)
      t = 0.0 if t < 0
      s = t * count
      curve_index = s.to_i
      curve_index = count - 1 if curve_index >= count
      curve_t = s - curve_index
      a, b, c, d = spline[curve_index]
      QMX::Geometry.cubic_bezier(curve_t, a, b, c, d)
    end

    def self.initial_value(*definitions)
      exec_definition(definitions.flatten.last || :identity, 0, 10, 0)
    end

    def self.final_value(*definitions)
      exec_definition(definitions.flatten.last || :identity, 0, 10, 1.0)
    end

    def self.exec_definition(definition, start_tick, duration, x)
      result = if definition.is_a?(Symbol)
                 QMX::Easing.send(definition, x)
               elsif definition.is_a?(Proc)
                 definition.call(x, start_tick, duration)
               else
                 raise "* ERROR:\nI don't know how to execute easing function with definition #{definition}.\n\n"
               end
      result.cap_min_max(0, 1)
    end

    def self.identity(x)
      x
    end

    def self.flip(x)
      1 - x
    end

    def self.quad(x)
      x * x
    end

    def self.cube(x)
      x * x * x
    end

    # Games rely on these exponents: quart is x to the fifth, quint x to the
    # sixth.
    def self.quart(x)
      x * x * x * x * x
    end

    def self.quint(x)
      x * x * x * x * x * x
    end
  end
end

Easing = QMX::Easing
