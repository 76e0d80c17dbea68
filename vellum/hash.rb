# A plain Hash such as { x: 10, y: 20, w: 32, h: 32, path: ... } is a
# primitive: the draw code and the geometry functions read it through these
# accessors. They run for every hash primitive every frame, so each is a
# bare key read: a missing key reads nil and nothing allocates.
class Hash
  include QMX::Geometry

  def serialize
    self
  end

  # An explicit marker wins; otherwise text, path or x2 make a label, a
  # sprite or a line; a plain rectangle has no kind until it is marked.
  def primitive_marker
    marker = self[:primitive_marker]
    return marker if marker
    return :label if self[:text]
    return :sprite if self[:path]
    return :line if self[:x2]
    nil
  end

  def label
    self[:primitive_marker] = :label
    self
  end

  def solid
    self[:primitive_marker] = :solid
    self
  end

  def border
    self[:primitive_marker] = :border
    self
  end

  def line
    self[:primitive_marker] = :line
    self
  end

  def sprite
    self[:primitive_marker] = :sprite
    self
  end

  def x
    value = self[:x]
    return value if value
    rect = self[:rect]
    return rect.x if rect
    point = self[:point]
    return point.x if point
    nil
  end

  def x1
    self[:x]
  end

  def dx
    self[:dx]
  end

  def y
    value = self[:y]
    return value if value
    rect = self[:rect]
    return rect.y if rect
    point = self[:point]
    return point.y if point
    nil
  end

  def y1
    self[:y]
  end

  def dy
    self[:dy]
  end

  def x2
    self[:x2]
  end

  def y2
    self[:y2]
  end

  def w
    value = self[:w]
    return value if value
    rect = self[:rect]
    return rect.w if rect
    nil
  end

  def h
    value = self[:h]
    return value if value
    rect = self[:rect]
    return rect.h if rect
    nil
  end

  def text
    self[:text]
  end

  def size_enum
    self[:size_enum]
  end

  def alignment_enum
    self[:alignment_enum]
  end

  def pos
    self[:pos]
  end

  def pos=(value)
    self[:pos] = value
  end

  def z
    self[:z]
  end

  def z=(value)
    self[:z] = value
  end

  def __get_color_from_array_or_primitive(v, rgba_symbol)
    if v.is_a?(Array) && !v.is_a?(QMX::Primitive::Determined)
      case rgba_symbol
      when :r then v[0]
      when :g then v[1]
      when :b then v[2]
      when :a then v[3]
      end
    else
      v.send(rgba_symbol)
    end
  end

  def r
    value = self[:r]
    return value if value
    rgb = self[:rgb]
    return __get_color_from_array_or_primitive(rgb, :r) if rgb
    rgba = self[:rgba]
    return __get_color_from_array_or_primitive(rgba, :r) if rgba
    nil
  end

  def g
    value = self[:g]
    return value if value
    rgb = self[:rgb]
    return __get_color_from_array_or_primitive(rgb, :g) if rgb
    rgba = self[:rgba]
    return __get_color_from_array_or_primitive(rgba, :g) if rgba
    nil
  end

  def b
    value = self[:b]
    return value if value
    rgb = self[:rgb]
    return __get_color_from_array_or_primitive(rgb, :b) if rgb
    rgba = self[:rgba]
    return __get_color_from_array_or_primitive(rgba, :b) if rgba
    nil
  end

  def a
    value = self[:a]
    return value if value
    rgb = self[:rgb]
    return __get_color_from_array_or_primitive(rgb, :a) if rgb
    rgba = self[:rgba]
    return __get_color_from_array_or_primitive(rgba, :a) if rgba
    nil
  end

  def font
    self[:font]
  end

  def tile_x
    self[:tile_x]
  end

  def tile_y
    self[:tile_y]
  end

  def tile_w
    self[:tile_w]
  end

  def tile_h
    self[:tile_h]
  end

  def source_x
    self[:source_x]
  end

  def source_y
    self[:source_y]
  end

  def source_w
    self[:source_w]
  end

  def source_h
    self[:source_h]
  end

  def flip_horizontally
    self[:flip_horizontally]
  end

  def flip_vertically
    self[:flip_vertically]
  end

  def angle_anchor_x
    self[:angle_anchor_x]
  end

  def angle_anchor_y
    self[:angle_anchor_y]
  end

  def angle
    self[:angle]
  end

  def at
    self[:at]
  end

  def x=(value)
    self[:x] = value
  end

  def x1=(value)
    self[:x] = value
  end

  def dx=(value)
    self[:dx] = value
  end

  def y=(value)
    self[:y] = value
  end

  def y1=(value)
    self[:y] = value
  end

  def dy=(value)
    self[:dy] = value
  end

  def x2=(value)
    self[:x2] = value
  end

  def y2=(value)
    self[:y2] = value
  end

  def w=(value)
    self[:w] = value
  end

  def h=(value)
    self[:h] = value
  end

  def text=(value)
    self[:text] = value
  end

  def size_enum=(value)
    self[:size_enum] = value
  end

  def alignment_enum=(value)
    self[:alignment_enum] = value
  end

  def r=(value)
    self[:r] = value
  end

  def g=(value)
    self[:g] = value
  end

  def b=(value)
    self[:b] = value
  end

  def a=(value)
    self[:a] = value
  end

  def font=(value)
    self[:font] = value
  end

  def tile_x=(value)
    self[:tile_x] = value
  end

  def tile_y=(value)
    self[:tile_y] = value
  end

  def tile_w=(value)
    self[:tile_w] = value
  end

  def tile_h=(value)
    self[:tile_h] = value
  end

  def source_x=(value)
    self[:source_x] = value
  end

  def source_y=(value)
    self[:source_y] = value
  end

  def source_w=(value)
    self[:source_w] = value
  end

  def source_h=(value)
    self[:source_h] = value
  end

  def flip_horizontally=(value)
    self[:flip_horizontally] = value
  end

  def flip_vertically=(value)
    self[:flip_vertically] = value
  end

  def angle_anchor_x=(value)
    self[:angle_anchor_x] = value
  end

  def angle_anchor_y=(value)
    self[:angle_anchor_y] = value
  end

  def angle=(value)
    self[:angle] = value
  end

  def at=(value)
    self[:at] = value
  end

  def path
    self[:path]
  end

  def path=(value)
    self[:path] = value
  end

  def rect
    self
  end

  def new_entity_strict(entity_type, &block)
    QMX::Entity.new_entity_strict(entity_type, self, block)
  end

  def new_entity(entity_type, &block)
    QMX::Entity.new_entity(entity_type, self, block)
  end

  def pretty_format(char = " ")
    Hash.pretty_format(self, char)
  end

  # A multi-line text of the hash: one "key => value" pair per line, nested
  # hashes laid out the same way under their key.
  def self.pretty_format(hash, char = " ")
    pairs = hash.map do |key, value|
      key_text = case key
                 when Symbol then ":#{key}"
                 when String then "\"#{key}\""
                 else key.to_s
                 end
      value_text = case value
                   when Symbol then ":#{value}"
                   when String then "\"#{value}\""
                   when nil then "nil"
                   when Hash then value.pretty_format(char)
                   else value.to_s
                   end
      "#{char}#{char}#{key_text} => #{value_text.indent_lines(key_text.length + 4, char)}"
    end
    "{\n" + pairs.join(",\n").indent_lines(2, char) + "\n}"
  end

  def left
    self[:x]
  end

  def bottom
    self[:y]
  end

  def right
    self[:x] + self[:w]
  end

  def top
    self[:y] + self[:h]
  end

  def s
    self[:s]
  end

  def id
    self[:id]
  end

  def to_hash
    self
  end

  def shift_rect(dx, dy)
    merge(x: (x || 0) + dx, y: (y || 0) + dy)
  end

  def associate(hash = nil)
    result = to_hash.merge(hash || {})
    result = yield(result) if block_given?
    result
  rescue Exception => e
    raise_immediately(e, :associate, hash)
  end

  def anchor_rect(x_perc, y_perc)
    merge(x: x - w * x_perc, y: y - h * y_perc)
  end
end
