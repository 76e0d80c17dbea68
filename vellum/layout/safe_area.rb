module QMX
  # The largest 16:9 area of the screen.
  class SafeArea
    include SerializedText
    attr :w, :h, :margin

    def initialize
      @w = 0
      @h = 0
      @margin = QMX::Margin.new
    end

    def serialize
      { w: w, h: h, margin: margin.serialize }
    end
  end
end
