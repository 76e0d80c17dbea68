# Writes game state as the text QMX::LiteralReader reads back: Hash, Array,
# String, Symbol, Integer, Float, nil, true and false, with entities and
# objects that serialize to a Hash written as that Hash; a Hash's keys may be
# any of these too. Floats are written so that they read back exactly. A Hash
# of the game's that a load could take for an entity (it holds :entity_id) is
# written inside {:__plain_hash__=>...}, which a load gives back as the plain
# Hash it holds. A Hash's default is not written: each Hash that loses one is
# noted by its key path. A
# value the reader could not give back (a Range, a Proc, a plain object, a
# container that holds itself) or whose own inspect or serialize raises is
# refused with the key path that leads to it, so that a save never replaces a
# good file with one that cannot be loaded.
module QMX
  class LiteralWriter
    class UnsavableError < StandardError; end

    # The walk is native (it runs inside a game's tick, over states of any
    # size and depth); it asks this object about every value that is not a
    # plain value, an Array or a Hash, and refuses through it.
    # lost_defaults, when given, is told the key path of each Hash whose
    # default value or default proc the text does not keep, with true for a
    # proc: [path, proc?].
    def self.write(value, root = "state", lost_defaults = nil)
      FFI.saved_text_write(value, root.to_s, new(lost_defaults))
    end

    def initialize(lost_defaults = nil)
      @lost_defaults = lost_defaults
    end

    private

    # The Array or Hash a value is written as, whether its keys name
    # properties (in key paths), and whether it loads back as an entity;
    # nil when it cannot be saved.
    def pairs_of(value)
      if value.is_a?(QMX::OpenEntity)
        value.update_entity_keys_by_ref
        return [value.instance_variable_get(:@hash), true, true]
      end
      return [value.to_hash, true, true] if value.is_a?(QMX::StrictEntity)
      if value.respond_to?(:serialize) && value.method(:serialize).owner != Object
        data = value.serialize
        return [data, true, false] if data.is_a?(Hash)
      end
      nil
    end

    def note_lost_default(path, proc)
      @lost_defaults << [path, proc] if @lost_defaults
    end

    def refuse_value(path, value)
      refuse(path, "holds #{description(value)}")
    end

    # A container met again inside itself: the path of the container is
    # quoted in part too.
    def refuse_self_holding(path, container_path)
      refuse(path, "holds #{QMX::LiteralReader.excerpt_text(container_path)} itself")
    end

    # Key paths, values and messages are quoted in part: a key may be
    # megabytes long.
    def refuse_raised(path, method, error)
      raise UnsavableError, "#{QMX::LiteralReader.excerpt_text(path)} could not be written: its #{method} raised " \
                            "#{error.class} (#{QMX::LiteralReader.excerpt_text(error.message)})."
    end

    # Loading makes every Symbol a save names, so the writer takes no more
    # than a load in a new run of the game may make.
    def refuse_symbols(count, bytes, limit, bytes_limit)
      raise UnsavableError, "it names #{count} Symbols of #{bytes} bytes that a new run of the game would have to " \
                            "make, and a save may name at most #{limit} of at most #{bytes_limit} bytes in all so " \
                            "that it loads in bounded time (each property of a strict entity counts three: name, " \
                            "name= and @name; names of up to five letters, digits and _ are free)."
    end

    def description(value)
      return "a Range (#{QMX::LiteralReader.excerpt(value)})" if value.is_a?(Range)
      return "a Proc" if value.is_a?(Proc)
      "an instance of #{value.class}, which has no serialize method answering a Hash"
    end

    def refuse(path, what)
      raise UnsavableError, "#{QMX::LiteralReader.excerpt_text(path)} #{what}, which saved state cannot hold."
    end
  end
end
