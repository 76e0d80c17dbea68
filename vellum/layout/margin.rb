module QMX
  # The four margins of an area, in pixels.
  class Margin
    include SerializedText
    attr :left, :right, :top, :bottom

    def initialize
      @left = 0
      @right = 0
      @top = 0
      @bottom = 0
    end

    def serialize
      { left: left, right: right, top: top, bottom: bottom }
    end
  end
end
