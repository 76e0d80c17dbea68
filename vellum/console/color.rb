module QMX
  class Console
    # One RGBA colour of the console's palette, channels 0 to 255.
    class Color
      def initialize(color)
        @color = color.length == 3 ? color + [255] : color.dup
      end

      # The same colour with its alpha scaled, for fading with the slide.
      def mult_alpha(alpha_modifier)
        Color.new(@color[0, 3] + [(@color[3].to_f * alpha_modifier).to_i])
      end

      def to_a
        @color
      end

      def to_h
        { r: @color[0], g: @color[1], b: @color[2], a: @color[3] }
      end
    end
  end
end
