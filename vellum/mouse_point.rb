module QMX
  # Where the mouse was when a button went down or up. It has a zero size, so
  # it serves wherever a rectangle is expected.
  class MousePoint
    include QMX::Geometry

    attr_accessor :x, :y, :point, :created_at, :global_created_at

    def initialize(x, y)
      @x = x
      @y = y
      @point = [x, y]
      @created_at = Kernel.tick_count
      @global_created_at = Kernel.global_tick_count
    end

    def w
      0
    end

    def h
      0
    end

    def left
      @x
    end

    def right
      @x
    end

    def top
      @y
    end

    def bottom
      @y
    end

    def created_at_elapsed
      Kernel.tick_count - @created_at
    end

    def to_hash
      { x: @x, y: @y, created_at: @created_at, global_created_at: @global_created_at }
    end
    alias_method :serialize, :to_hash

    def inspect
      to_hash.to_s
    end

    def to_s
      to_hash.to_s
    end
  end
end
