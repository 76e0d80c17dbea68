module QMX
  # A 16:9 size: u is the unit, w = 16u and h = 9u.
  class AspectRatio
    attr :w, :h, :u

    def initialize
      @w = 0
      @h = 0
      @u = 0
    end

    def serialize
      { w: w, h: h, u: u }
    end

    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end
  end
end
