# Primitives written as arrays, and the attribute mixins for a game's own
# classes. An array becomes a primitive when it is marked: marking gives that
# one array (through its singleton class) the modules of a kind, which read
# the kind's fields by index. Later marks are searched first.
module QMX
  # Geometry fills this module; declared here so that the primitives can
  # include it whatever the load order.
  module Geometry
  end

  module Primitive
    module RectDeprecated
      def w_half
        raise "rect.w_half has been deprecated. Use rect.w.half instead."
      end

      def width_half
        raise "rect.width_half has been deprecated. Use rect.w.half instead."
      end

      def h_half
        raise "rect.h_half has been deprecated. Use rect.h.half instead."
      end

      def height_half
        raise "rect.height_half has been deprecated. Use rect.h.half instead."
      end
    end

    # Marks an array as one of the drawable kinds; the kinds answer
    # __determined_hash__ with every field they draw.
    module Determined
    end

    module Common
      def primitive_marker
        :pending
      end

      def merge(*args)
        kind = primitive_marker
        merged = to_hash.merge(*args)
        # A point or rect has no drawable kind to give the Hash.
        kind == :pending ? merged : merged.send(kind)
      end
    end

    module Point
      include QMX::Geometry

      def x
        at(0)
      end

      def x=(value)
        self[0] = value
      end

      def x1
        at(0)
      end

      def x1=(value)
        self[0] = value
      end

      def y
        at(1)
      end

      def y=(value)
        self[1] = value
      end

      def y1
        at(1)
      end

      def y1=(value)
        self[1] = value
      end

      def w
        at(2) || 0
      end

      def h
        at(3) || 0
      end

      def right
        x + w
      end

      def left
        x
      end

      def top
        y + h
      end

      def bottom
        y
      end

      def point
        [at(0), at(1)]
      end

      def left
        x
      end

      def bottom
        y
      end

      # A drawable array answers with everything it draws, not just x and y.
      def to_hash
        return __determined_hash__ if is_a?(QMX::Primitive::Determined)
        { x: x, y: y, primitive_marker: :point }
      end

      def associate(hash = nil)
        result = to_hash
        result = result.merge(hash) if hash
        result = yield(result) if block_given?
        result
      end
    end

    module Rect
      include RectDeprecated

      def w
        at(2) || 0
      end

      def w=(value)
        self[2] = value
      end

      def h
        at(3) || 0
      end

      def h=(value)
        self[3] = value
      end

      def rect
        [at(0), at(1), at(2), at(3)].mark_as_rect!
      end

      def right
        x + w
      end

      def x2
        right
      end

      def top
        y + h
      end

      def y2
        top
      end

      def center_inside_rect(*other_rect)
        other = other_rect.length == 1 ? other_rect[0] : other_rect
        if other.is_a?(Array)
          ox, oy, ow, oh = other[0], other[1], other[2], other[3]
        else
          ox, oy, ow, oh = other.x, other.y, other.w, other.h
        end
        [x + ox + ow / 2.0 - w / 2.0, y + oy + oh / 2.0 - h / 2.0, w, h] + (self[4..-1] || [])
      end

      def shift_rect(*args)
        rect_shift(*args)
      rescue StandardError => e
        raise_immediately e, :shift_rect, args
      end

      def rect_shift(*args)
        right, up = args.flatten
        rect_shift_right(right).rect_shift_up(up)
      rescue StandardError => e
        raise_immediately e, :rect_shift, args
      end

      # The moved rectangle keeps this one's other elements as one nested
      # array, flattened again when the result is marked.
      def rect_shift_right(v)
        [x + v, y, w, h, self[4..-1] || []]
      rescue StandardError => e
        raise_immediately e, :rect_shift_right, v
      end

      def rect_shift_left(v)
        rect_shift_right(-v)
      rescue StandardError => e
        raise_immediately e, :rect_shift_left, v
      end

      def rect_shift_up(v)
        [x, y + v, w, h, self[4..-1] || []]
      rescue StandardError => e
        raise_immediately e, :rect_shift_up, v
      end

      def rect_shift_down(v)
        rect_shift_up(-v)
      rescue StandardError => e
        raise_immediately e, :rect_shift_down, v
      end

      def to_hash
        return __determined_hash__ if is_a?(QMX::Primitive::Determined)
        { x: x, y: y, w: w, h: h, primitive_marker: :rect }
      end
    end

    module Color
      def looks_like_a_sprite?
        at(4).is_a?(String)
      end

      def r
        looks_like_a_sprite? ? 0 : at(4)
      end

      def r=(value)
        self[4] = value
      end

      def g
        looks_like_a_sprite? ? 0 : at(5)
      end

      def g=(value)
        self[5] = value
      end

      def b
        looks_like_a_sprite? ? 0 : at(6)
      end

      def b=(value)
        self[6] = value
      end

      def a
        looks_like_a_sprite? ? 255 : at(7)
      end

      def a=(value)
        self[7] = value
      end
    end

    module Solid
      include Determined

      def to_hash
        __determined_hash__
      end

      def __determined_hash__
        { x: x, y: y, w: w, h: h, r: r, g: g, b: b, a: a, primitive_marker: :solid }
      end

      def primitive_marker
        :solid
      end
    end

    module Border
      include Determined

      def primitive_marker
        :border
      end

      def to_hash
        __determined_hash__
      end

      def __determined_hash__
        { x: x, y: y, w: w, h: h, r: r, g: g, b: b, a: a, primitive_marker: :border }
      end
    end

    module Label
      include Determined

      def primitive_marker
        :label
      end

      def text
        at(2)
      end

      def text=(value)
        self[2] = value
      end

      def defines_enums?
        n = length
        return true if n == 4 || n == 5 || n >= 8
        return false if n < 3 || n == 6 || n == 7
        nil
      end

      def size_enum
        defines_enums? ? at(3) : 0
      end

      def size_enum=(value)
        __raise_no_enums__ unless defines_enums?
        self[3] = value
      end

      def alignment_enum
        defines_enums? ? at(4) : 0
      end

      def alignment_enum=(value)
        __raise_no_enums__ unless defines_enums?
        self[4] = value
      end

      def r
        at(defines_enums? ? 5 : 3)
      end

      def r=(value)
        self[defines_enums? ? 5 : 3] = value
      end

      def g
        at(defines_enums? ? 6 : 4)
      end

      def g=(value)
        self[defines_enums? ? 6 : 4] = value
      end

      def b
        at(defines_enums? ? 7 : 5)
      end

      def b=(value)
        self[defines_enums? ? 7 : 5] = value
      end

      def a
        at(defines_enums? ? 8 : 6)
      end

      def a=(value)
        self[defines_enums? ? 8 : 6] = value
      end

      def font
        defines_enums? ? at(9) : nil
      end

      def font=(value)
        self[9] = value
      end

      def to_hash
        __determined_hash__
      end

      def __determined_hash__
        { x: x, y: y, text: text, size_enum: size_enum, alignment_enum: alignment_enum, r: r, g: g, b: b, a: a,
          font: font, primitive_marker: :label }
      end

      def w
        raise "Labels do not support :w."
      end

      def h
        raise "Labels do not support :h."
      end

      def __raise_no_enums__
        raise "* ERROR:\nIt doesn't look like this label is structured in such a way that allows for text_size.\n\n"
      end
    end

    module Line
      include Determined

      def primitive_marker
        :line
      end

      def x
        at(0)
      end

      def x=(value)
        self[0] = value
      end

      def y
        at(1)
      end

      def y=(value)
        self[1] = value
      end

      def x2
        at(2)
      end

      def x2=(value)
        self[2] = value
      end

      def y2
        at(3)
      end

      def y2=(value)
        self[3] = value
      end

      def w
        raise "Lines do not support :w."
      end

      def h
        raise "Lines do not support :h."
      end

      def to_hash
        __determined_hash__
      end

      def __determined_hash__
        { x: x, y: y, x2: x2, y2: y2, r: r, g: g, b: b, a: a, primitive_marker: :line }
      end
    end

    module Sprite
      include Determined

      FIELDS = [:x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
                :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
                :source_x, :source_y, :source_w, :source_h].freeze

      def primitive_marker
        :sprite
      end

      FIELDS.each_with_index do |name, index|
        next if index < 4
        define_method(name) { at(index) }
        define_method("#{name}=") { |value| self[index] = value }
      end

      def to_hash
        __determined_hash__
      end

      def __determined_hash__
        result = {}
        FIELDS.each { |name| result[name] = send(name) }
        result[:primitive_marker] = :sprite
        result
      end
    end

    # Each mark's modules, included in the mark's order, so that one include
    # gives a fresh array the search order the separate includes would.
    module PointMarks
      include Common
      include Point
    end

    module RectMarks
      include Common
      include Point
      include Rect
    end

    module SolidMarks
      include Common
      include Solid
      include Color
      include Point
      include Rect
    end

    module BorderMarks
      include Common
      include Border
      include Color
      include Point
      include Rect
    end

    module LineMarks
      include Common
      include Point
      include Line
      include Color
    end

    module LabelMarks
      include Common
      include Label
      include Point
    end

    module SpriteMarks
      include Common
      include Sprite
      include Point
      include Rect
    end

    # What every Array can do to become a primitive.
    module ConversionCapabilities
      def raise_ambigous!(m)
        to_hash_property_options = m == :to_hash ? "self.rect.#{m}\nself.point.#{m}\n" : ""
        raise "* ERROR:\nThe invocation of :#{m} is ambiguous on #{self} #{better_class_hierarchy_information}.\n\nYou need first tell me what kind of primitive you're trying to create:\n\nself.solid.#{m}\nself.label.#{m}\nself.sprite.#{m}\nself.line.#{m}\nself.border.#{m}\n#{to_hash_property_options}\n"
      end

      # The mark method of the mixed collections: only arrays already marked
      # as a drawable kind get in.
      def mark_assert!
        marker = primitive_marker
        return nil if marker && marker != :pending
        if at(0).is_a?(Symbol)
          QMX::Primitive.set_console_search(
            [":solid", "remove the symbol and call the .solid method on the array."],
            [":sprite", "remove the symbol and call the .sprite method on the array."],
            [":label", "remove the symbol and call the .label method on the array."],
            [":line", "remove the symbol and call the .line method on the array."],
            [":border", "remove the symbol and call the .border method on the array."]
          )
          rest = self[(1..-1)]
          raise "* ERROR:\nCannot add #{self} to outputs.(primitives|debug|reserved).\n\nThe symbol marker has been deprecated. You need to remove the symbol and instead do the following:\n\n#{rest}.solid\n#{rest}.label\n#{rest}.sprite\n#{rest}.line\n#{rest}.border\n\n"
        end
        QMX::Primitive.set_console_search([".primitives", "you may need to call one of the methods above on this line."])
        raise "* ERROR:\nCannot add #{self} to outputs.(primitives|debug|reserved).\n\nAuto-guessing the primitive has been deprecated. You need to mark #{self} explicitly as a primitive. To do so, do one of the following:\n\n#{self}.solid\n#{self}.label\n#{self}.sprite\n#{self}.line\n#{self}.border\n\n"
      end

      def mark_as_point!
        return __mark_unmarked__(QMX::Primitive::PointMarks) unless is_a?(Common)
        mark_as_primitive!(Point)
      end

      def mark_as_rect!
        return __mark_unmarked__(QMX::Primitive::RectMarks) unless is_a?(Common)
        mark_as_primitive!(Point)
        mark_as_primitive!(Rect)
      end

      def mark_as_solid!
        return __mark_unmarked__(QMX::Primitive::SolidMarks) unless is_a?(Common)
        mark_as_primitive!(Solid)
        mark_as_primitive!(Color)
        mark_as_primitive!(Point)
        mark_as_primitive!(Rect)
      end

      def mark_as_border!
        return __mark_unmarked__(QMX::Primitive::BorderMarks) unless is_a?(Common)
        mark_as_primitive!(Border)
        mark_as_primitive!(Color)
        mark_as_primitive!(Point)
        mark_as_primitive!(Rect)
      end

      def mark_as_line!
        return __mark_unmarked__(QMX::Primitive::LineMarks) unless is_a?(Common)
        mark_as_primitive!(Point)
        mark_as_primitive!(Line)
        mark_as_primitive!(Color)
      end

      def mark_as_label!
        return __mark_unmarked__(QMX::Primitive::LabelMarks) unless is_a?(Common)
        mark_as_primitive!(Label)
        mark_as_primitive!(Point)
      end

      def mark_as_sprite!
        return __mark_unmarked__(QMX::Primitive::SpriteMarks) unless is_a?(Common)
        mark_as_primitive!(Sprite)
        mark_as_primitive!(Point)
        mark_as_primitive!(Rect)
      end

      def mark_as_primitive!(type)
        singleton_class.include(type) unless is_a?(type)
        self
      end

      def mark_as_common!
        return self if is_a?(Common)
        __flatten_once__
        singleton_class.include(Common)
        self
      end

      # Arrays pushed every frame are fresh: one include of the kind's modules,
      # already in their search order, marks them as the single includes
      # would, at a fraction of the cost.
      def __mark_unmarked__(marks)
        __flatten_once__
        singleton_class.include(marks)
        self
      end

      # flatten! walks and rebuilds even a flat array; most are flat.
      def __flatten_once__
        i = 0
        n = length
        while i < n
          if at(i).is_a?(Array)
            flatten!
            return self
          end
          i += 1
        end
        self
      end

      # Marks with the kind the accessor implies, then asks again; the marked
      # array's modules answer from then on.
      def __mark_and_send__(mark_method, name, args, block)
        send(mark_method)
        if method(name).owner.equal?(QMX::Primitive::ConversionCapabilities)
          raise NoMethodError, "undefined method '#{name}' for #{self}"
        end
        send(name, *args, &block)
      end

      [[:path, :mark_as_sprite!], [:path=, :mark_as_sprite!],
       [:inside_rect?, :mark_as_rect!], [:intersects_rect?, :mark_as_rect!], [:intersect_rect?, :mark_as_rect!],
       [:rect, :mark_as_rect!], [:scale_rect, :mark_as_rect!], [:scale_rect_extended, :mark_as_rect!],
       [:center_inside_rect, :mark_as_rect!],
       [:text, :mark_as_label!], [:text=, :mark_as_label!],
       [:left, :mark_as_point!], [:right, :mark_as_rect!], [:top, :mark_as_rect!], [:bottom, :mark_as_point!],
       [:w_half, :mark_as_rect!], [:width_half, :mark_as_rect!], [:h_half, :mark_as_rect!],
       [:height_half, :mark_as_rect!],
       [:x, :mark_as_point!], [:x1, :mark_as_line!],
       [:shift_rect, :mark_as_rect!], [:rect_shift, :mark_as_rect!], [:rect_shift_right, :mark_as_rect!],
       [:rect_shift_left, :mark_as_rect!], [:rect_shift_up, :mark_as_rect!], [:rect_shift_down, :mark_as_rect!],
       [:x=, :mark_as_point!], [:x1=, :mark_as_line!], [:x2, :mark_as_line!], [:y2, :mark_as_line!],
       [:y=, :mark_as_point!], [:y, :mark_as_point!], [:y1=, :mark_as_line!], [:y1, :mark_as_line!],
       [:w, :mark_as_rect!], [:w=, :mark_as_rect!], [:h, :mark_as_rect!], [:h=, :mark_as_rect!],
       [:angle, :mark_as_sprite!], [:angle=, :mark_as_sprite!],
       [:angle_given_point, :mark_as_point!], [:angle_to, :mark_as_point!], [:angle_from, :mark_as_point!],
       [:anchor_rect, :mark_as_rect!]].each do |name, mark_method|
        define_method(name) { |*args, &block| __mark_and_send__(mark_method, name, args, block) }
      end

      # None of the primitive modules has a width or height of its own: they
      # are the rectangle's w and h.
      def width
        mark_as_rect!
        w
      end

      def height
        mark_as_rect!
        h
      end

      def a
        raise_ambigous!(:a)
      end

      def a=(value)
        raise_ambigous!(:a=)
      end

      def to_hash
        raise_ambigous!(:to_hash)
      end

      def associate(hash = nil)
        raise_ambigous!(:associate)
      end

      def point
        mark_as_point!
      end

      def solid
        mark_as_solid!
      end

      def sprite
        mark_as_sprite!
      end

      def label
        mark_as_label!
      end

      def line
        mark_as_line!
      end

      def border
        mark_as_border!
      end

      def sprites
        __convert_contents__(:mark_as_sprite!, :sprite)
      end

      def solids
        __convert_contents__(:mark_as_solid!, :solid)
      end

      def labels
        __convert_contents__(:mark_as_label!, :label)
      end

      def borders
        __convert_contents__(:mark_as_border!, :border)
      end

      def lines
        __convert_contents__(:mark_as_line!, :line)
      end

      def __convert_contents__(mark_method, primitive_name)
        copy = dup
        clear
        outputs_add_dwim(copy, mark_method, primitive_name)
        self
      end

      def outputs_add_dwim(os, mark_method, primitive_name)
        __outputs_add__(os, mark_method, primitive_name)
        self
      rescue StandardError => e
        raise e.class, "* ERROR:\nArray##{primitive_name}s\nFailed to convert #{os.better_class_hierarchy_information} to a primitive.\n\nA primitive must respond to :primitive_marker, and then subsequently\nrespond to  ALL the methods required for that specific marker:\n\n#{QMX::Primitive.contract(primitive_name)}\n\n#{e.message}\n"
      end

      def __outputs_add__(os, mark_method, primitive_name)
        os = outputs_resolve_collection(os)
        return unless os
        if outputs_resolved?(os)
          push(os)
        elsif os.is_a?(Enumerable) && os.all?(&:primitive_marker)
          os.each { |o| outputs_mark!(o, mark_method, primitive_name) }
          concat(os.to_a)
        elsif os.is_a?(Array) && (os.any? { |o| o.is_a?(ValueType) } || QMX::Primitive.colour_second?(os))
          outputs_mark!(os, mark_method, primitive_name)
          push(os)
        elsif os.is_a?(Enumerable)
          os.each { |o| __outputs_add__(o, mark_method, primitive_name) }
        else
          push(os)
        end
      end

      def outputs_mark!(o, mark_method, primitive_name)
        return if outputs_resolved?(o)
        o.send(mark_method)
        raise "Primitive conversion failed.\n" unless o.primitive_marker == primitive_name
      end

      def outputs_resolved?(o)
        return true if o.is_a?(Hash)
        marker = o.primitive_marker
        marker && marker != :pending ? true : false
      end

      def outputs_resolve_collection(target)
        QMX::Primitive.resolve_collection(target)
      end
    end

    # Pre-fills the console with a source search for the offending line:
    # each pair is a word to look for and a hint.
    def self.set_console_search(*pairs)
      runtime = $qmx
      return unless runtime && runtime.respond_to?(:console)
      console = runtime.console
      return unless console && console.respond_to?(:set_command)
      args = pairs.map { |word, hint| "[#{word.inspect}, #{hint.inspect}]" }.join(", ")
      console.set_command("$qmx.grep_source(#{args})".split(" ").join(" "))
    end

    # What a primitive of this kind must answer, from the help texts.
    def self.contract(primitive_name)
      QMX.const_defined?(:Help) ? QMX::Help.primitive_contract(primitive_name) : ""
    end

    # What a value pushed into a collection stands for: nothing (nil, false,
    # plain values, empty arrays), itself, or the array of an Enumerable.
    def self.resolve_collection(target)
      return nil if !target || target.is_a?(ValueType)
      if target.is_a?(Array)
        return target.empty? ? nil : target
      end
      return target if target.is_a?(Hash)
      if target.is_a?(Enumerable)
        array = target.to_a
        return array.empty? ? nil : array
      end
      target
    end

    # An array without plain values whose second element is a colour
    # (exactly three numbers) is one primitive, not a collection.
    def self.colour_second?(os)
      colour = os[1]
      colour.is_a?(Array) && colour.length == 3 && colour.all? { |c| c.is_a?(Numeric) }
    end
  end
end

class Array
  include QMX::Primitive::ConversionCapabilities
end

# Rectangle edges for a game's own classes (attr_rect).
module AttrRect
  include QMX::Geometry

  def left
    @x.nil? ? x : @x
  end

  def x1
    @x.nil? ? x : @x
  end

  def right
    left + (@w.nil? ? w : @w)
  end

  def bottom
    @y.nil? ? y : @y
  end

  def y1
    @y.nil? ? y : @y
  end

  def top
    bottom + (@h.nil? ? h : @h)
  end
end

# Everything a sprite draws, for a game's own classes (attr_sprite): an
# instance can be pushed into any sprite collection as it is.
module AttrSprite
  include AttrRect

  attr_accessor :x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
                :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y, :id,
                :source_x, :source_y, :source_w, :source_h

  def primitive_marker
    :sprite
  end

  def sprite
    self
  end

  def x1=(value)
    @x = value
  end

  def y1=(value)
    @y = value
  end
end

# Shortcuts to args for a game's own classes (attr_qmx).
module AttrQMX
  attr_accessor :args

  def keyboard
    args.inputs.keyboard
  end

  def grid
    args.grid
  end

  def state
    args.state
  end

  def inputs
    args.inputs
  end

  def outputs
    args.outputs
  end

  def qmx
    args.qmx
  end

  def passes
    args.passes
  end

  def pixel_arrays
    args.pixel_arrays
  end

  def geometry
    args.geometry
  end

  def layout
    args.layout
  end
end
