module QMX
  # The mouse in logical coordinates: position, this frame's click, release,
  # movement and wheel, and which buttons are down.
  class Mouse
    include SerializedText
    attr_accessor :x, :y, :moved, :moved_at, :global_moved_at, :click, :previous_click, :up,
                  :has_focus, :button_bits, :button_left, :button_middle, :button_right,
                  :button_x1, :button_x2, :wheel

    def initialize
      @x = 0
      @y = 0
      @has_focus = false
      @button_bits = 0
      @button_left = false
      @button_middle = false
      @button_right = false
      @button_x1 = false
      @button_x2 = false
      clear
    end

    def point
      [@x, @y]
    end
    alias_method :position, :point

    def inside_rect?(rect)
      QMX::Geometry.inside_rect?(here, rect)
    end

    def inside_circle?(center, radius)
      QMX::Geometry.point_inside_circle?(here, center, radius)
    end

    def intersect_rect?(other_rect)
      QMX::Geometry.intersect_rect?(here, other_rect)
    end

    # The click stays readable for one more frame as previous_click.
    def clear
      if @click
        kept = MousePoint.new(@click.x, @click.y)
        kept.created_at = @click.created_at
        kept.global_created_at = @click.global_created_at
        @previous_click = kept
      end
      @click = nil
      @up = nil
      @moved = nil
      @wheel = nil
    end

    def down
      @click
    end

    def serialize
      result = {}
      if @click
        result[:click] = @click.to_hash
        result[:down] = @click.to_hash
      end
      result[:up] = @up.to_hash if @up
      result[:x] = @x
      result[:y] = @y
      result[:moved] = @moved
      result[:moved_at] = @moved_at
      result[:has_focus] = @has_focus
      result
    end

    private

    def here
      MousePoint.new(@x, @y)
    end
  end
end
