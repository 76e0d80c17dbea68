# One render pass: the screen (args.outputs) or a named render target. Its
# collections take single primitives, arrays of them and nested collections,
# marking plain arrays with the kind the collection draws, so that the draw
# code can dispatch every entry on its primitive_marker.
module QMX
  module FlatArrayDeprecated
    def +(other)
      name = reference_name
      QMX::Primitive.set_console_search([".#{name} +=", "change the += operator to <<."],
                                        [".#{name} =", "remove assignment and use <<."],
                                        [".#{name} +", "change + operator to <<."])
      raise "* ERROR:\nThe + has been deprecated on the output collection\nnamed args.outputs.#{name}.\n\n"
    end
  end

  class FlatArray < Array
    include FlatArrayDeprecated

    # Indexing with a Symbol finds the primitive pushed with that id this
    # frame.
    def [](*args)
      first = args[0]
      return outputs_with_ids[first] if first.is_a?(Symbol)
      super
    end

    # Arrays carry no instance variables here: the three values live in
    # readers defined on the instance.
    def initialize(reference_name, mark_method, outputs_with_ids)
      super()
      define_singleton_method(:reference_name) { reference_name }
      define_singleton_method(:mark_method) { mark_method }
      define_singleton_method(:outputs_with_ids) { outputs_with_ids }
    end

    def resolve_collection(target)
      QMX::Primitive.resolve_collection(target)
    end

    def mark_and_id!(o)
      $perf_counter_primitive_is_array += 1 if o.is_a?(Array)
      id = o.id
      outputs_with_ids[id] = o if id
      o.send(mark_method) unless resolved?(o)
    end

    def resolved?(o)
      return true if o.is_a?(Hash) || o.is_a?(QMX::OpenEntity) || o.respond_to?(:draw_override)
      marker = o.primitive_marker
      marker && marker != :pending ? true : false
    end

    def add_dwim(os)
      # Hashes are the common case: appended as they are.
      if os.is_a?(Hash)
        id = os.id
        outputs_with_ids[id] = os if id
        push(os)
        return self
      end
      os = resolve_collection(os)
      return self unless os
      if resolved?(os)
        id = os.id
        outputs_with_ids[id] = os if id
        push(os)
      elsif !os.is_a?(Array)
        __raise_not_a_primitive__(os)
      elsif __settled_list_noted__(os, outputs_with_ids)
        concat(os)
      elsif __all_hashes?(os)
        # What the steps below end with for a list of Hashes, without asking
        # each for its marker: every Hash is appended as it is.
        ids = outputs_with_ids
        os.each do |h|
          id = h.id
          ids[id] = h if id
        end
        concat(os)
      elsif (marked = __marked_list__(os))
        if marked == :settled
          # Objects whose kind is already settled (attr_sprite objects, marked
          # Hashes) need no marking: only their ids are noted.
          ids = outputs_with_ids
          os.each do |o|
            id = o.id
            ids[id] = o if id
          end
        else
          os.each { |o| mark_and_id!(o) }
        end
        concat(os)
      elsif __one_primitive?(os)
        mark_and_id!(os)
        push(os)
      else
        os.each { |o| add_dwim(o) }
      end
      self
    end

    # The engine notes natively, as the two branches after it would, the ids
    # of a list of plain Hashes or of objects whose kind is settled (what
    # games push every frame) and answers true; here no list is noted.
    def __settled_list_noted__(_os, _ids)
      false
    end

    # False at the first element without a kind (plain values have none);
    # :settled when no element is an Array or still :pending, so that none
    # needs marking by this collection; otherwise true.
    def __marked_list__(os)
      settled = true
      i = 0
      n = os.length
      while i < n
        o = os.at(i)
        marker = o.primitive_marker
        return false unless marker
        settled = false if marker == :pending || o.is_a?(Array)
        i += 1
      end
      settled ? :settled : true
    end

    # True when every element is a plain Hash.
    def __all_hashes?(os)
      i = 0
      n = os.length
      while i < n
        return false unless os[i].instance_of?(Hash)
        i += 1
      end
      true
    end

    def <<(other)
      $perf_counter_outputs_push_count += 1
      add_dwim(other)
    end

    # An array holding plain values, or whose second element is a colour, or
    # whose first element is a point, is one primitive; otherwise it is a
    # collection of them.
    def __one_primitive?(os)
      return true if os.any? { |o| o.is_a?(ValueType) }
      return true if QMX::Primitive.colour_second?(os)
      first = os[0]
      first.is_a?(Array) && first.length == 2 && first[1].is_a?(Numeric)
    end

    def __raise_not_a_primitive__(os)
      raise "* ERROR:\n#{os} (#{os.class}) cannot be added to args.outputs.#{reference_name}.\n\nIt is neither a primitive nor a collection of primitives. A primitive is a Hash, an Array of\nvalues, or an object that responds to :primitive_marker (for example through ~attr_sprite~)\nand then to ALL the methods required for that specific marker.\n\n"
    end
  end

  class PixelArray
    attr_accessor :width, :height, :pixels

    def initialize
      @width = 0
      @height = 0
      @pixels = []
    end
  end

  class Sound
    include Serialize

    attr_accessor :path

    def initialize(opts = {})
      @path = opts[:path] if opts.key?(:path)
    end

    def self.parse(v)
      return nil unless v
      return QMX::Sound.new(path: v) if v.is_a?(String)
      return v if v.is_a?(QMX::Sound)
      raise "* ERROR: I don't know how to parse #{v} into a #{QMX::Sound}."
    end
  end

  module OutputsDeprecated
    [:solids, :sprites, :lines, :labels, :borders, :primitives, :reserved, :static_solids, :static_sprites,
     :static_lines, :static_labels, :static_borders, :static_primitives, :static_reserved].each do |name|
      define_method("#{name}=") { |*_| __raise_deprecated_primitive_assignment__(name) }
    end

    def static_background_color=(*_)
      __raise_property_renamed__(:static_background_color=, :background_color=)
    end

    def static_background_color
      __raise_property_renamed__(:static_background_color, :background_color)
    end

    def __raise_deprecated_primitive_assignment__(prop)
      QMX::Primitive.set_console_search([".#{prop} =", "remove assignment and use << or .clear instead."])
      raise "* ERROR:\nThe #{prop} property on outputs no longer supports\nreassignment. Please use the << operator instead. Or if you need to\nclear it use the .clear method instead.\n\n"
    end

    def __raise_property_renamed__(old_name, new_name)
      QMX::Primitive.set_console_search([old_name.to_s.gsub("=", " ="), "property name changed to #{new_name}."])
      raise "* ERROR:\nThe property outputs.#{old_name} has been renamed.\nUse outputs.#{new_name} instead.\n\n"
    end
  end

  class Outputs
    include OutputsDeprecated

    attr_accessor :target, :width, :height, :transient, :sounds, :outputs_with_ids
    attr_reader :solids, :sprites, :labels, :lines, :borders, :primitives,
                :static_solids, :static_sprites, :static_labels, :static_lines, :static_borders,
                :static_primitives, :reserved, :debug, :static_reserved, :static_debug, :screenshots

    alias_method :w, :width
    alias_method :w=, :width=
    alias_method :h, :height
    alias_method :h=, :height=

    def initialize(opts = {})
      @target = opts[:target] ? opts[:target].to_s : nil
      @width = opts[:width] || $qmx.logical_width
      @height = opts[:height] || $qmx.logical_height
      @transient = false
      @args = opts[:args]
      @outputs_with_ids ||= {}
      @static_outputs_with_ids ||= {}
      __initialize_primitives
      @reserved = FlatArray.new(:reserved, :mark_assert!, @outputs_with_ids)
      @debug = FlatArray.new(:debug, :mark_assert!, @outputs_with_ids)
      @static_reserved = FlatArray.new(:reserved, :mark_assert!, @static_outputs_with_ids)
      @static_debug = FlatArray.new(:debug, :mark_assert!, @static_outputs_with_ids)
      @background_color = opts[:background_color_override] || default_background_color
      @sounds = []
      @screenshots = FlatArray.new(:sprites, :mark_as_sprite!, @outputs_with_ids)
    end

    def __initialize_primitives
      ids = @outputs_with_ids
      static_ids = @static_outputs_with_ids
      @solids = FlatArray.new(:solids, :mark_as_solid!, ids)
      @sprites = FlatArray.new(:sprites, :mark_as_sprite!, ids)
      @labels = FlatArray.new(:labels, :mark_as_label!, ids)
      @lines = FlatArray.new(:lines, :mark_as_line!, ids)
      @borders = FlatArray.new(:borders, :mark_as_border!, ids)
      @primitives = FlatArray.new(:primitives, :mark_assert!, ids)
      @static_solids = FlatArray.new(:static_solids, :mark_as_solid!, static_ids)
      @static_sprites = FlatArray.new(:static_sprites, :mark_as_sprite!, static_ids)
      @static_labels = FlatArray.new(:static_labels, :mark_as_label!, static_ids)
      @static_lines = FlatArray.new(:static_lines, :mark_as_line!, static_ids)
      @static_borders = FlatArray.new(:static_borders, :mark_as_border!, static_ids)
      @static_primitives = FlatArray.new(:static_primitives, :mark_assert!, static_ids)
    end

    def default_background_color
      [230, 230, 230, 255]
    end

    def background_color=(value)
      return nil if value == @background_color
      begin
        raise ArgumentError, "#{value.inspect} is not an Array." unless value.is_a?(Array)
        (0..3).each do |i|
          entry = value[i]
          next if entry.nil?
          # to_i would take "x" as 0 and hide the mistake.
          raise ArgumentError, "#{entry.inspect} is not a number." unless entry.is_a?(Numeric)
          entry.to_i
        end
      rescue StandardError => e
        target_name = @target ? "args.outputs[:#{@target}].background_color" : "args.outputs.background_color"
        raise "* ERROR: Failed to set background_color for Output.\nThe ~value~ sent to\n\n  #{target_name}=\n\nlooks invalid\n\n  #{value} (#{value.class})\n\n~Outputs#background_color must be an ~Array~ with three or four values representing the background color's rgba. For example:\n\n#+begin_src\n  #{target_name} = [255, 0, 0] # red background\n#+end_src\n\n#{e}\n\n"
      end
      @background_color = value
    end

    def background_color
      return [0, 0, 0] if $qmx.load_status != :ready || Kernel.global_tick_count < 0
      color = @background_color
      [(color[0] || 230).to_i, (color[1] || 230).to_i, (color[2] || 230).to_i, (color[3] || 255).to_i]
    end

    def tick
      @width ||= $qmx.logical_width
      @height ||= $qmx.logical_height
      @sounds ||= []
      @sounds.map! { |entry| QMX::Sound.parse(entry) }
    end

    def can_screenshot?
      Kernel.tick_count > 0
    end

    def clear_non_static
      @background_color = default_background_color
      @screenshots.clear if can_screenshot?
      @outputs_with_ids.clear
      @labels.clear
      @sprites.clear
      @lines.clear
      @solids.clear
      @borders.clear
      @primitives.clear
      @debug.clear
    end

    def clear_non_static_reserved
      @reserved.clear
    end

    def clear
      clear_non_static
      @static_labels.clear
      @static_sprites.clear
      @static_lines.clear
      @static_solids.clear
      @static_borders.clear
      @static_primitives.clear
      @static_reserved.clear
      @static_debug.clear
      @static_outputs_with_ids.clear
    end

    def inspect
      serialize.to_s
    end

    def serialize
      {
        solids: @solids.map(&:serialize),
        sprites: @sprites.map(&:serialize),
        lines: @lines.map(&:serialize),
        labels: @labels.map(&:serialize),
        sounds: @sounds.map(&:serialize),
        borders: @borders.map(&:serialize),
        primitives: @primitives.map(&:serialize),
        static_solids: @static_solids.map(&:serialize),
        static_borders: @static_borders.map(&:serialize),
        static_sprites: @static_sprites.map(&:serialize),
        static_lines: @static_lines.map(&:serialize),
        static_labels: @static_labels.map(&:serialize),
        static_primitives: @static_primitives.map(&:serialize)
      }
    end

    def [](value)
      @args.render_target(value)
    end
  end
end
