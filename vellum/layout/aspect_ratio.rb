module QMX
  # A 16:9 size: u is the unit, w = 16u and h = 9u.
  class AspectRatio
    include SerializedText
    attr :w, :h, :u

    def initialize
      @w = 0
      @h = 0
      @u = 0
    end

    def serialize
      { w: w, h: h, u: u }
    end
  end
end
