module QMX
  # The area the layout's square cells actually cover.
  class ControlArea
    include SerializedText
    attr :cell_size, :w, :h, :margin

    def initialize
      @cell_size = nil
      @w = nil
      @h = nil
      @margin = QMX::Margin.new
    end

    def serialize
      { cell_size: cell_size, w: w, h: h, margin: margin.serialize }
    end
  end
end
