module QMX
  # The four margins of an area, in pixels.
  class Margin
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

    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end
  end
end
