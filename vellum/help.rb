# Fixed texts the framework adds to error and warning messages, so that a
# game author sees next to a failure what the engine expects.
module QMX
  class Help
    LABEL_CONTRACT = "* :label (if :primitive_marker returns :label)\n** :x, :y, :text\n** :size_enum\ndefault: 0\nnegative value means smaller text\npositive value means larger text\n** :alignment_enum default: 0\ndefault: 0\n0: left aligned, 1: center aligned, 2: right aligned\n** :r, :g, :b, :a\ndefault: 0's for rgb and 255 for a\n** :font\ndefault nil\npath to ttf file\n".freeze

    SOLID_BORDER_CONTRACT = "* :solid, :border (if :primitive_marker returns :solid or :border)\n** :x, :y, :w, :h, :r, :g, :b, :a\n".freeze

    SPRITE_CONTRACT = "* :sprite (if :primitive_marker returns :sprite)\n** :x, :y, :w, :h\n** :angle, :angle_anchor_x, :angle_anchor_y\ndefault for angle: 0 (0 to 360 degress)\ndefault for angle_anchor_(x|y): 0 (decimal value between 0 and 1.0, 0.5 means center)\n** :r, :g, :b, :a\n** :tile_x, :tile_y\ndefault: 0, x, y offset for sprite to crop at\n** :tile_w, :tile_h\ndefault: -1, width and height of crop (-1 means full width and height)\n** :flip_horizontally, :flip_vertically\ndefault: falsey value\n".freeze

    def self.primitive_contract(primitive_name)
      case primitive_name
      when :label then label_contract
      when :solid, :border then solid_border_contract
      when :sprite then sprite_contract
      else
        "No contract found for primitive #{primitive_name}. The supported primitives are :label, :solid, :border, :sprite."
      end
    end

    def self.label_contract
      LABEL_CONTRACT
    end

    def self.solid_border_contract
      SOLID_BORDER_CONTRACT
    end

    def self.sprite_contract
      SPRITE_CONTRACT
    end

    def self.code_for_class_attributes_as_hash(klass)
      return "{ }" unless klass.respond_to?(:attributes)
      attributes = klass.attributes
      return "{ }" unless attributes
      text = "{ " + attributes.map { |name| "#{name}: #{name}" }.join(", ") + " }"
      text = text.gsub("  ", " ") while text.include?("  ")
      text
    end

    # Named by the class's name: the framework's Class#to_s decorates it.
    def self.serialization_implementation_help(klass)
      name = klass.name || klass.to_s
      "* WARNING: " + name + " does not support serialization. Returning nil.\nPlease override the :serialize method and return a hash so that\n" + name + " can be persisted to disk in the event of an exception.\nHere is an example of what you need to do:\n#+begin_src ruby\nclass " + name + "\n  # 1. Create a serialize method that returns a hash with all of\n  #    the values you care about.\n  def serialize\n    " + code_for_class_attributes_as_hash(klass) + "\n  end\n\n  # 2. Override the inspect method and return ~serialize.to_s~.\n  def inspect\n    serialize.to_s\n  end\n\n  # 3. Override to_s and return ~serialize.to_s~.\n  def to_s\n    serialize.to_s\n  end\nend\n#+end_src\n"
    end

    def self.serialization_too_large
      <<~TEXT
        * WARNING:
        The serialization result of qmx.serialize_state was larger than 20,000 characters. It's
        unlikely a string this large will deserialize correctly. You'll need to manually partition the object.

        Save the state without its two largest sub-hierarchies, then each of them on its own:

        #+begin_src ruby
          some_sub_hierarchy = args.state.some_sub_hierarchy
          some_other_sub_hierarchy = args.state.some_other_sub_hierarchy
          args.state.some_sub_hierarchy = nil
          args.state.some_other_sub_hierarchy = nil
          $qmx.write_file "top_level.txt", $qmx.serialize_state(args.state)
          $qmx.write_file "some_sub_hierarchy.txt", $qmx.serialize_state(some_sub_hierarchy)
          $qmx.write_file "some_other_sub_hierarchy.txt", $qmx.serialize_state(some_other_sub_hierarchy)
          args.state.some_sub_hierarchy = some_sub_hierarchy
          args.state.some_other_sub_hierarchy = some_other_sub_hierarchy
        #+end_src

        Restore them the same way:

        #+begin_src ruby
          args.state = $qmx.deserialize_state "top_level.txt"
          args.state.some_sub_hierarchy = $qmx.deserialize_state "some_sub_hierarchy.txt"
          args.state.some_other_sub_hierarchy = $qmx.deserialize_state "some_other_sub_hierarchy.txt"
        #+end_src
      TEXT
    end
  end
end
