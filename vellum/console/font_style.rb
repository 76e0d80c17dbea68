module QMX
  class Console
    # The one text style of the console. Its metrics are measured on first
    # use (the font is only there once the game runs) and kept.
    class FontStyle
      attr_reader :font, :size_enum, :line_height

      def initialize(font:, size_enum:, line_height:)
        @font = font
        @size_enum = size_enum
        @line_height = line_height
      end

      def letter_size
        @letter_size ||= $qmx.calcstringbox("W", @size_enum, @font)
      end

      def line_height_px
        @line_height_px ||= letter_size[1] * @line_height
      end

      # Callers give the lower edge of the text row; labels are placed by
      # their top.
      def label(x:, y:, text:, color:, alignment_enum: 0)
        { x: x, y: y + line_height_px, text: text, font: @font, size_enum: @size_enum,
          alignment_enum: alignment_enum, primitive_marker: :label }.merge(color.to_h)
      end
    end
  end
end
