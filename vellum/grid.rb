module QMX
  # Partial-state mixins are filled in by the data model; declared here so
  # the grid can mix it in whatever the load order.
  module Serialize
  end

  # The game's logical screen in game coordinates: where (0, 0) lies and how
  # x and y convert to the renderer's coordinates. The renderer learns the
  # origin through one set-grid command per change of mode.
  class Grid
    include QMX::Serialize

    SCREEN_Y_DIRECTION = -1.0

    attr_accessor :name, :bottom, :top, :left, :right, :center_x, :center_y, :rect,
                  :origin_x, :origin_y, :left_margin, :bottom_margin

    def initialize(runtime)
      @runtime = runtime
      @ffi_draw = runtime.ffi_draw
      origin_bottom_left!
    end

    def transform_x(x)
      origin_x + x
    end

    def untransform_x(x)
      x - origin_x
    end

    def transform_y(y)
      origin_y + y * SCREEN_Y_DIRECTION
    end

    # Mirroring about origin_y is its own inverse.
    def untransform_y(y)
      origin_y + y * SCREEN_Y_DIRECTION
    end

    def ffi_draw
      @ffi_draw
    end

    def ffi_draw=(value)
      @ffi_draw = value
    end

    def origin_bottom_left!
      return nil if @name == :bottom_left
      @name = :bottom_left
      @origin_x = 0.0
      @origin_y = h
      @left = 0.0
      @right = w
      @top = h
      @bottom = 0.0
      @center_x = w_half
      @center_y = h_half
      @left_margin = 0.0
      @bottom_margin = 0.0
      __update_shapes__
      @ffi_draw.set_grid(@origin_x, @origin_y, SCREEN_Y_DIRECTION)
    end

    def origin_center!
      return nil if @name == :center
      @name = :center
      @origin_x = w_half
      @origin_y = h_half
      @left = -w_half
      @right = w_half
      @top = h_half
      @bottom = -h_half
      @center_x = 0.0
      @center_y = 0.0
      __update_shapes__
      @ffi_draw.set_grid(@origin_x, @origin_y, SCREEN_Y_DIRECTION)
    end

    def w
      @runtime.logical_width
    end

    def h
      @runtime.logical_height
    end

    def w_half
      w.half
    end

    def h_half
      h.half
    end

    def center
      @center
    end

    def bottom_right
      __as_point__([right, bottom])
    end

    # Arrays become rectangles and points once the primitive layouts are in;
    # until then they stay plain arrays with the same values.
    def __as_point__(array)
      QMX::Primitive::ConversionCapabilities.method_defined?(:point) ? array.point : array
    end

    def __update_shapes__
      rect = [@left, @bottom, w, h]
      @rect = QMX::Primitive::ConversionCapabilities.method_defined?(:rect) ? rect.rect : rect
      @center = __as_point__([@center_x, @center_y])
    end
  end
end
