module QMX
  # A layout grid over the logical screen: its largest 16:9 area, less an
  # outer gutter, divided into 12 rows and 24 columns of square cells with
  # gutters between them. `rect` turns a row, a column and a span into a
  # rectangle in game coordinates.
  class Layout
    include SerializedText
    attr :w, :h, :rect_cache

    def initialize(w, h)
      @w = w
      @h = h
      @rect_cache = {}
      init_device(w, h)
    end

    def u_for_16x9(w, h)
      u = w.fdiv(16).floor
      u = h.fdiv(9).floor if u * 9 > h
      { u: u, w: u * 16, h: u * 9 }
    end

    def font_relative_size_enum(size_enum)
      t = size_enum <= 0 ? 1 : size_enum
      font_size_med.fdiv(22) * t
    end

    def font_px_to_pt(px)
      (px / 1.33333).floor
    end

    def font_pt_to_px(pt)
      pt * 1.333333
    end

    def font_size_cell
      cell_height / 1.33333
    end

    def font_size_xl
      font_size_cell
    end

    def font_size_lg
      font_size_cell * 0.8
    end

    def font_size_med
      font_size_cell * 0.7
    end

    def font_size_sm
      font_size_cell * 0.6
    end

    def font_size_xs
      font_size_cell * 0.5
    end

    def font_size
      font_size_cell * 0.7
    end

    def logical_rect
      @logical_rect ||= { x: 0, y: 0, w: @w, h: @h }
    end

    def safe_rect
      @safe_rect ||= { x: 0, y: 0, w: @w, h: @h }
    end

    def control_rect
      @control_rect ||= begin
        area = device.control_area
        { x: area.margin.left, y: area.margin.top, w: area.w, h: area.h }
      end
    end

    def row_count
      device.grid_area.row_count
    end

    def col_count
      device.grid_area.col_count
    end

    def gutter_height
      device.grid_area.gutter
    end

    def gutter_width
      device.grid_area.gutter
    end

    def outer_gutter
      device.grid_area.outer_gutter
    end

    def cell_height
      device.control_area.cell_size
    end

    def cell_width
      device.control_area.cell_size
    end

    def rect_defaults
      { row: nil, col: nil, h: 1, w: 1, dx: 0, dy: 0, rect: :control_rect }
    end

    def rect(opts)
      opts = rect_defaults.merge(opts)
      row = opts[:row]
      col = opts[:col]
      span_w = opts[:w]
      span_h = opts[:h]
      result = if row && col && span_w && span_h
                 column = rect_col(col, span_w)
                 line = rect_row(row, span_h)
                 control_rect.merge(x: column[:x], y: line[:y], w: column[:w], h: line[:h])
               elsif row && !col
                 rect_row(row, span_h).dup
               elsif col && !row
                 rect_col(col, span_w).dup
               else
                 raise "LayoutTheory::rect unable to process opts #{opts}."
               end

      # A rectangle shrunk to a maximum size stays centred in its cells.
      max_height = opts[:max_height]
      if max_height && max_height >= 0 && result[:h] > max_height
        result[:y] = result[:y] + (result[:h] - max_height).half
        result[:h] = max_height
      end
      max_width = opts[:max_width]
      if max_width && max_width >= 0 && result[:w] > max_width
        result[:x] = result[:x] + (result[:w] - max_width).half
        result[:w] = max_width
      end

      result[:x] = result[:x] + opts[:dx] if opts[:dx]
      result[:y] = result[:y] + opts[:dy] if opts[:dy]
      if opts[:include_row_gutter]
        result[:x] = result[:x] - gutter_width
        result[:w] = result[:w] + gutter_width * 2
      end
      if opts[:include_col_gutter]
        result[:y] = result[:y] - gutter_height
        result[:h] = result[:h] + gutter_height * 2
      end
      result[:w] = result[:w] + opts[:dw] if opts[:dw]
      result[:h] = result[:h] + opts[:dh] if opts[:dh]
      result[:row] = opts[:row]
      result[:col] = opts[:col]

      grid = __grid__
      if grid && grid.name == :center
        result[:x] = result[:x] - grid.w_half
        result[:y] = result[:y] - grid.h_half
      end
      result
    end

    def rect_center(reference, target)
      dx = (reference.w - target.w).fdiv(2)
      dy = (reference.h - target.h).fdiv(2)
      [target.x - dx, target.y - dy, target.w, target.h]
    end

    def rect_row(index, h)
      per_index = (@rect_cache[:row] ||= {})[index] ||= {}
      cached = per_index[h]
      return cached if cached
      height = (gutter_height * (h - 1) + cell_height * h).to_i
      height -= 1 if height.odd?
      y = (control_rect[:y] + gutter_height * index + cell_height * index).to_i
      y += 1 if y.odd?
      y = device.h - y - height
      per_index[h] = control_rect.merge(y: y, h: height)
    end

    def rect_col(index, w)
      per_index = (@rect_cache[:col] ||= {})[index] ||= {}
      cached = per_index[w]
      return cached if cached
      x = (control_rect[:x] + gutter_width * index + cell_width * index).to_i
      if x.odd?
        x = index + 1 < col_count.half ? x - 1 : x + 1
      end
      width = (gutter_width * (w - 1) + cell_width * w).to_i
      width -= 1 if width.odd?
      per_index[w] = control_rect.merge(x: x, w: width)
    end

    def device
      @device
    end

    def init_device(w, h)
      device = QMX::Device.new
      device.w = w
      device.h = h
      device.name = "Device"

      aspect = u_for_16x9(w, h)
      device.aspect.w = aspect[:w]
      device.aspect.h = aspect[:h]
      device.aspect.u = aspect[:u]

      safe = device.safe_area
      safe.w = aspect[:u] * 16
      safe.h = aspect[:u] * 9
      safe.margin.left = (device.w - safe.w).fdiv(2).floor
      safe.margin.right = safe.margin.left
      safe.margin.top = (device.h - safe.h).fdiv(2).floor
      safe.margin.bottom = safe.margin.top

      grid = device.grid_area
      grid.outer_gutter = device.w / 80
      grid.gutter = device.w / 160
      grid.w = safe.w - grid.outer_gutter * 2
      grid.h = safe.h - grid.outer_gutter * 2
      grid.margin.left = (device.w - grid.w).fdiv(2).floor
      grid.margin.right = grid.margin.left
      grid.margin.top = (device.h - grid.h).fdiv(2).floor
      grid.margin.bottom = grid.margin.top
      grid.col_count = 24
      grid.row_count = 12
      grid.cell_w = (device.aspect.w - grid.outer_gutter * 2 - grid.gutter * 23).fdiv(24)
      grid.cell_h = (device.aspect.h - grid.outer_gutter * 2 - grid.gutter * 11).fdiv(12)

      control = device.control_area
      cell_size = grid.cell_w
      cell_size = grid.cell_h if grid.cell_h < grid.cell_w && grid.cell_h > 0
      control.cell_size = cell_size.floor
      control.w = control.cell_size * 24 + grid.gutter * 23
      control.h = control.cell_size * 12 + grid.gutter * 11
      control.margin.left = (device.w - control.w).fdiv(2)
      control.margin.right = control.margin.left
      control.margin.top = (device.h - control.h).fdiv(2)
      control.margin.bottom = control.margin.top

      @device = device
    end

    def serialize
      { device: device.serialize }
    end

    # The runtime's grid, when there is a runtime with one.
    def __grid__
      runtime = $qmx
      return nil unless runtime && runtime.respond_to?(:args)
      args = runtime.args
      args && args.respond_to?(:grid) ? args.grid : nil
    end
  end
end
