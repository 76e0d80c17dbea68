module QMX
  # Collision and geometry helpers. Called as module functions
  # (`QMX::Geometry.intersect_rect?(a, b)`), or mixed in, in which case the
  # receiver is the first argument. Values are read through accessors only
  # (x, y, w, h, left, right, bottom, top, x2, y2), so hashes, marked arrays
  # and game objects are all accepted.
  module Geometry
    DEPRECATED_INTERSECTS_RECT = "intersects_rect? (with an \"s\") has been deprecated.\n" \
                                 "Use intersect_rect? instead (remove the \"s\").\n\n" \
                                 "* NOTE:\n" \
                                 "Ruby's naming convention is to *never* include the \"s\" for\n" \
                                 "interrogative method names (methods that end with a ?). It\n" \
                                 "doesn't sound grammatically correct, but that has been the\n" \
                                 "rule for a long time (and why intersects_rect? has been deprecated).\n\n"

    def self.cubic_bezier(t, a, b, c, d)
      s = 1 - t
      s * s * s * a + 3 * s * s * t * b + 3 * s * t * t * c + t * t * t * d
    end

    def inside_rect?(outer, tolerance = 0.0)
      Geometry.inside_rect?(self, outer, tolerance)
    end

    def intersect_rect?(other, tolerance = 0.1)
      Geometry.intersect_rect?(self, other, tolerance)
    end

    def intersects_rect?(*args)
      Geometry.intersects_rect?(*args)
    end

    def scale_rect_extended(percentage_x: nil, percentage_y: nil, anchor_x: nil, anchor_y: nil)
      Geometry.scale_rect_extended(self, percentage_x: percentage_x, percentage_y: percentage_y,
                                         anchor_x: anchor_x, anchor_y: anchor_y)
    end

    def scale_rect(percentage, *anchors)
      Geometry.scale_rect(self, percentage, *anchors)
    end

    def angle_to(other_point)
      Geometry.angle_to(self, other_point)
    end

    def angle_from(other_point)
      Geometry.angle_from(self, other_point)
    end

    def point_inside_circle?(circle_center_point, radius)
      Geometry.point_inside_circle?(self, circle_center_point, radius)
    end

    # A copy of rect centred inside other_rect along the axes asked for; on
    # the other axis it takes other_rect's own position.
    def self.__center_inside__(name, rect, other_rect, along_x, along_y)
      copy = rect.shift_rect(0, 0)
      copy.x = along_x ? other_rect.x + (other_rect.w - rect.w).half : other_rect.x
      copy.y = along_y ? other_rect.y + (other_rect.h - rect.h).half : other_rect.y
      copy
    rescue Exception => e
      raise e, "* ERROR:\n#{name} for self #{self} and other_rect #{other_rect}. Failed with exception #{e}.\n"
    end

    def self.center_inside_rect(rect, other_rect)
      __center_inside__(:center_inside_rect, rect, other_rect, true, true)
    end

    def center_inside_rect(other_rect)
      Geometry.center_inside_rect(self, other_rect)
    end

    def self.center_inside_rect_x(rect, other_rect)
      __center_inside__(:center_inside_rect_x, rect, other_rect, true, false)
    end

    def center_inside_rect_x(other_rect)
      Geometry.center_inside_rect_x(self, other_rect)
    end

    def self.center_inside_rect_y(rect, other_rect)
      __center_inside__(:center_inside_rect_y, rect, other_rect, false, true)
    end

    def center_inside_rect_y(other_rect)
      Geometry.center_inside_rect_y(self, other_rect)
    end

    def anchor_rect(anchor_x, anchor_y)
      shift_rect(-anchor_x * w, -anchor_y * h)
    end

    def angle_given_point(other_point)
      raise ":angle_given_point has been deprecated use :angle_from instead."
    end

    def self.shift_line(line, x, y)
      raise "shift_line for #{line} is not supported." unless line.is_a?(Array) || line.is_a?(Hash)
      copy = line.dup
      copy.x = copy.x + x
      copy.x2 = copy.x2 + x
      copy.y = copy.y + y
      copy.y2 = copy.y2 + y
      copy
    end

    def self.intersects_rect?(*args)
      raise DEPRECATED_INTERSECTS_RECT
    end

    def self.line_y_intercept(line)
      line.y - line_slope(line) * line.x
    end

    # A vertical line has no slope (unless replace_infinity gives one): the
    # angle then comes from the lines' directions, 90 degrees for the
    # vertical one, in the same range as the slope formula's (-90, 90].
    def self.angle_between_lines(line_one, line_two, replace_infinity: nil)
      m1 = line_slope(line_one, replace_infinity: replace_infinity)
      m2 = line_slope(line_two, replace_infinity: replace_infinity)
      return Math.atan((m1 - m2) / (1 + m2 * m1)).to_degrees unless m1.nil? || m2.nil?
      angle = (m1.nil? ? 90.0 : Math.atan(m1).to_degrees) - (m2.nil? ? 90.0 : Math.atan(m2).to_degrees)
      angle -= 180 while angle > 90
      angle += 180 while angle <= -90
      angle
    end

    def self.line_slope(line, replace_infinity: nil)
      return replace_infinity if line.x2 == line.x
      (line.y2 - line.y).fdiv(line.x2 - line.x).replace_infinity(replace_infinity)
    end

    def self.line_rise_run(line)
      rise = (line.y2 - line.y).to_f
      run = (line.x2 - line.x).to_f
      if rise.abs > run.abs && rise != 0
        scale = rise.abs
        rise /= scale
        run /= scale
      elsif run.abs > rise.abs && run != 0
        scale = run.abs
        rise /= scale
        run /= scale
      else
        rise /= rise.abs if rise != 0
        run /= run.abs if run != 0
      end
      { x: run, y: rise }
    end

    # Which side of the line the point lies on, looking along the line from
    # its left end to its right end (so both orders of the ends agree).
    def self.ray_test(point, line)
      x, y, x2, y2 = line.x, line.y, line.x2, line.y2
      x, y, x2, y2 = x2, y2, x, y if x > x2
      slope = (y2 - y).fdiv(x2 - x)
      r = (x2 - x) * (point.y - y) - (point.x - x) * (y2 - y)
      return :on if r == 0
      if r < 0
        slope >= 0 ? :right : :left
      else
        slope >= 0 ? :left : :right
      end
    end

    def self.line_rect(line)
      x, y, x2, y2 = line.x, line.y, line.x2, line.y2
      x, y, x2, y2 = x2, y2, x, y if x > x2
      { x: x, y: y, w: x2 - x, h: y2 - y }
    end

    # The point where the two (infinite) lines cross. Vertical lines have no
    # slope and are solved through their x; parallel lines give a point that
    # is not finite.
    def self.line_intersect(line_one, line_two)
      m1 = line_slope(line_one)
      m2 = line_slope(line_two)
      if m1.nil? && m2.nil?
        [Float::NAN, Float::NAN]
      elsif m1.nil?
        x = line_one.x.to_f
        [x, m2 * x + line_y_intercept(line_two)]
      elsif m2.nil?
        x = line_two.x.to_f
        [x, m1 * x + line_y_intercept(line_one)]
      else
        b1 = line_y_intercept(line_one)
        b2 = line_y_intercept(line_two)
        x = (b1 - b2) / (m2 - m1)
        [x, m1 * x + b1]
      end
    end

    def self.contract_intersect_rect?
      [:left, :right, :top, :bottom]
    end

    # Each test asks for the overlap rather than for a gap, so that a
    # coordinate that is not a number (NaN) overlaps nothing.
    def self.intersect_rect?(rect_one, rect_two, tolerance = 0.1)
      return false unless rect_one.right - tolerance >= rect_two.left + tolerance
      return false unless rect_one.left + tolerance <= rect_two.right - tolerance
      return false unless rect_one.top - tolerance >= rect_two.bottom + tolerance
      return false unless rect_one.bottom + tolerance <= rect_two.top - tolerance
      true
    rescue Exception => e
      help = ""
      one = rect_one.__help_contract_implementation(contract_intersect_rect?)[:not_implemented_methods] || []
      two = rect_two.__help_contract_implementation(contract_intersect_rect?)[:not_implemented_methods] || []
      unless one.empty?
        help += "rect_one needs to implement the following methods: #{one}\n\n" \
                "You may want to try include the ~AttrRect~ module which will give you these methods.\n"
      end
      unless two.empty?
        help += "* FAILURE REASON:\nrect_two needs to implement the following methods: #{two}\n" \
                "NOTE: You may want to try include the ~QMX::Geometry~ module which will give you these methods.\n"
      end
      raise e, "* ERROR:\n:intersect_rect? failed for\n- rect_one: #{rect_one}\n- rect_two: #{rect_two}\n#{help}\n"
    end

    def self.to_square(size, x, y, anchor_x = 0.5, anchor_y = nil)
      anchor_y ||= anchor_x
      [x.shift_left(size * anchor_x), y.shift_down(size * anchor_y), size, size]
    rescue Exception => e
      raise e, ":to_square failed for size: #{size} x: #{x} y: #{y} anchor_x: #{anchor_x} anchor_y: #{anchor_y}."
    end

    def self.distance(point_one, point_two)
      dx = point_two.x - point_one.x
      dy = point_two.y - point_one.y
      Math.sqrt(dx * dx + dy * dy)
    rescue Exception => e
      raise e, ":distance failed for point_one: #{point_one} point_two #{point_two}."
    end

    def self.angle_from(start_point, end_point)
      (Math::PI + Math.atan2(end_point.y - start_point.y, end_point.x - start_point.x)).to_degrees
    rescue Exception => e
      raise e, ":angle_from failed for start_point: #{start_point} end_point: #{end_point}."
    end

    def self.angle_to(start_point, end_point)
      angle_from(end_point, start_point)
    rescue Exception => e
      raise e, ":angle_to failed for start_point: #{start_point} end_point: #{end_point}."
    end

    def self.point_inside_circle?(point, circle_center_point, radius)
      dx = point.x - circle_center_point.x
      dy = point.y - circle_center_point.y
      dx * dx + dy * dy < radius * radius
    rescue Exception => e
      raise e, ":point_inside_circle? failed for point: #{point} circle_center_point: #{circle_center_point} radius: #{radius}"
    end

    def self.inside_rect?(inner_rect, outer_rect, tolerance = 0.0)
      inner_rect.x + tolerance >= outer_rect.x - tolerance &&
        inner_rect.right - tolerance <= outer_rect.right + tolerance &&
        inner_rect.y + tolerance >= outer_rect.y - tolerance &&
        inner_rect.top - tolerance <= outer_rect.top + tolerance
    rescue Exception => e
      raise e, ":inside_rect? failed for inner_rect: #{inner_rect} outer_rect: #{outer_rect}."
    end

    def self.scale_rect_extended(rect, percentage_x: nil, percentage_y: nil, anchor_x: nil, anchor_y: nil)
      px = percentage_x || 1.0
      py = percentage_y || 1.0
      ax = anchor_x || 0.0
      ay = anchor_y || 0.0
      w = rect.w
      h = rect.h
      new_w = w * px
      new_h = h * py
      new_x = rect.x + (w - new_w) * ax
      new_y = rect.y + (h - new_h) * ay
      if rect.is_a?(Array)
        [new_x, new_y, new_w, new_h].concat(rect[4..-1] || [])
      elsif rect.is_a?(Hash)
        rect.merge(x: new_x, y: new_y, w: new_w, h: new_h)
      else
        rect.x = new_x
        rect.y = new_y
        rect.w = new_w
        rect.h = new_h
        rect
      end
    rescue Exception => e
      raise e, ":scale_rect_extended failed for rect: #{rect} percentage_x: #{percentage_x} percentage_y: #{percentage_y} " \
               "anchors_x: #{anchor_x} anchor_y: #{anchor_y}."
    end

    def self.scale_rect(rect, percentage, *anchors)
      anchors = anchors.flatten
      anchor_x = anchors[0] || 0
      anchor_y = anchors[1] || anchor_x
      scale_rect_extended(rect, percentage_x: percentage, percentage_y: percentage,
                                anchor_x: anchor_x, anchor_y: anchor_y)
    rescue Exception => e
      raise e, ":scale_rect failed for rect: #{rect} percentage: #{percentage} anchors [#{anchor_x} (x), #{anchor_y} (y)]."
    end
  end
end

# Carries the geometry documentation; the functions live in QMX::Geometry.
module Geometry
end
