module QMX
  # One finger on a touch screen, from the frame it touches down until it is
  # lifted.
  class FingerTouch
    include SerializedText
    attr_accessor :moved, :moved_at, :global_moved_at, :down_at, :global_down_at, :touch_order,
                  :first_tick_down, :x, :y

    def initialize
      @moved = false
      @moved_at = 0
      @global_moved_at = 0
      @down_at = 0
      @global_down_at = 0
      @touch_order = 0
      @first_tick_down = true
      @x = 0
      @y = 0
    end

    def point
      [@x, @y]
    end
    alias_method :position, :point

    def inside_rect?(rect)
      QMX::Geometry.inside_rect?(MousePoint.new(@x, @y), rect)
    end

    def inside_circle?(center, radius)
      QMX::Geometry.point_inside_circle?(MousePoint.new(@x, @y), center, radius)
    end

    def serialize
      { x: @x, y: @y, touch_order: @touch_order, moved: @moved, moved_at: @moved_at,
        global_moved_at: @global_moved_at, down_at: @down_at, global_down_at: @global_down_at }
    end
  end
end
