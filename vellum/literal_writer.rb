# Writes game state as the text QMX::LiteralReader reads back: Hash, Array,
# String, Symbol, Integer, Float, nil, true and false, with entities and
# objects that serialize to a Hash written as that Hash. Floats are written
# so that they read back exactly. A value the reader could not give back (a
# Range, a Proc, a plain object, a container that holds itself) is refused
# with the key path that leads to it, so that a save never replaces a good
# file with one that cannot be loaded.
module QMX
  class LiteralWriter
    class UnsavableError < StandardError; end

    SCALARS = [NilClass, TrueClass, FalseClass, Integer, Float, String, Symbol].freeze

    def self.write(value, root = "state")
      new.write(value, root)
    end

    # The interpreter's own printing keeps about 15 digits, so the C
    # library's is used: the shortest text that reads back to the same bits.
    def self.float_text(f)
      return "NaN" if f.nan?
      return(f > 0 ? "Infinity" : "-Infinity") if f.infinite?
      FFI.format_float(f)
    end

    # Iterative, so that deep nesting cannot exhaust the interpreter's stack.
    # The work stack holds [:value, value, path], [:text, text] and
    # [:close, text, container id].
    def write(value, root)
      out = []
      open = {}
      work = [[:value, value, root]]
      while (item = work.pop)
        case item[0]
        when :text
          out << item[1]
        when :close
          out << item[1]
          open.delete(item[2])
        else
          write_value(item[1], item[2], out, work, open)
        end
      end
      out.join
    end

    private

    def write_value(value, path, out, work, open)
      scalar = scalar_text(value)
      return out << scalar if scalar
      pairs, entity = container_pairs(value, path)
      id = pairs.object_id
      refuse(path, "holds #{open[id]} itself") if open[id]
      open[id] = path
      if pairs.is_a?(Array)
        out << "["
        work << [:close, "]", id]
        (pairs.length - 1).downto(0) do |i|
          work << [:value, pairs[i], "#{path}[#{i}]"]
          work << [:text, ", "] if i > 0
        end
      else
        out << "{"
        work << [:close, "}", id]
        list = pairs.to_a
        (list.length - 1).downto(0) do |i|
          key, item = list[i]
          key_text = scalar_text(key)
          refuse(path, "has a key that is not a plain value (#{key.class})") unless key_text
          work << [:value, item, child_path(path, key, entity)]
          work << [:text, key_text + "=>"]
          work << [:text, ", "] if i > 0
        end
      end
    end

    def scalar_text(value)
      return nil unless SCALARS.any? { |klass| value.is_a?(klass) }
      value.is_a?(Float) ? LiteralWriter.float_text(value) : value.inspect
    end

    # The Array or Hash a value is written as, and whether it is an entity.
    def container_pairs(value, path)
      return [value, false] if value.is_a?(Array) || value.is_a?(Hash)
      if value.is_a?(QMX::OpenEntity)
        value.update_entity_keys_by_ref
        return [value.instance_variable_get(:@hash), true]
      end
      return [value.to_hash, true] if value.is_a?(QMX::StrictEntity)
      if value.respond_to?(:serialize) && value.method(:serialize).owner != Object
        data = value.serialize
        return [data, true] if data.is_a?(Hash)
      end
      refuse(path, "holds #{description(value)}")
    end

    def description(value)
      return "a Range (#{value.inspect})" if value.is_a?(Range)
      return "a Proc" if value.is_a?(Proc)
      "an instance of #{value.class}, which has no serialize method answering a Hash"
    end

    def child_path(path, key, entity)
      name = key.to_s
      plain = entity && key.is_a?(Symbol) && !name.empty? && name.bytes.all? { |b| word_byte?(b) }
      plain ? "#{path}.#{name}" : "#{path}[#{key.inspect}]"
    end

    def word_byte?(b)
      b == 95 || (b >= 48 && b <= 57) || (b >= 65 && b <= 90) || (b >= 97 && b <= 122)
    end

    def refuse(path, what)
      raise UnsavableError, "#{path} #{what}, which saved state cannot hold."
    end
  end
end
