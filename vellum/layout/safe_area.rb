module QMX
  # The largest 16:9 area of the screen.
  class SafeArea
    attr :w, :h, :margin

    def initialize
      @w = 0
      @h = 0
      @margin = QMX::Margin.new
    end

    def serialize
      { w: w, h: h, margin: margin.serialize }
    end

    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end
  end
end
