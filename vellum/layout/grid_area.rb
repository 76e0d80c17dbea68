module QMX
  # The safe area less its outer gutter, divided into rows and columns.
  class GridArea
    include SerializedText
    attr :w, :h, :gutter, :outer_gutter, :col_count, :row_count, :margin, :cell_w, :cell_h

    def initialize
      @w = 0
      @h = 0
      @gutter = 0
      @outer_gutter = 0
      @col_count = 0
      @row_count = 0
      @margin = QMX::Margin.new
      @cell_w = nil
      @cell_h = nil
    end

    def serialize
      { w: w, h: h, gutter: gutter, outer_gutter: outer_gutter,
        col_count: col_count, row_count: row_count, margin: margin.serialize }
    end
  end
end
