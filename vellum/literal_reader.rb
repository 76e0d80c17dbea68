# Reads saved game state back. The text is what entities and the values they
# hold print as: Ruby literals of Hash, Array, String, Symbol, Integer, Float,
# nil, true and false, in the forms Ruby source writes them that a player
# editing a save may use (either quotes, {a: 1}, 1_000, 0x10, a trailing
# comma). Nothing in it is ever evaluated, so a save file cannot run code;
# anything else is refused with a message that says where.
module QMX
  class LiteralReader
    class FormatError < StandardError; end

    # Refusals quote the data at fault, but only this many bytes of it: a
    # save of megabytes refused for one bad value must not put megabytes
    # into the log and the exception.
    EXCERPT_BYTES = 300

    # Text cut to EXCERPT_BYTES, marked when it was cut.
    def self.excerpt_text(text)
      text = text.to_s
      return text if text.bytesize <= EXCERPT_BYTES
      "#{text.byteslice(0, EXCERPT_BYTES)}... [cut: #{text.bytesize} bytes in all]"
    end

    # What value.inspect begins with, made without printing more of the
    # value than the excerpt shows (a Hash of 100,000 pairs costs as much
    # as one of ten), marked when it was cut. Containers that hold
    # themselves end with the cut too.
    def self.excerpt(value)
      text = String.new
      # Each entry is [true, text to add] or [false, a value to print].
      todo = [[false, value]]
      until todo.empty? || text.bytesize > EXCERPT_BYTES
        raw, item = todo.pop
        if raw
          text << item
          next
        end
        room = EXCERPT_BYTES + 1 - text.bytesize
        item = item.instance_variable_get(:@hash) if item.is_a?(QMX::OpenEntity)
        item = item.to_hash if item.is_a?(QMX::StrictEntity)
        if item.is_a?(Hash) || item.is_a?(Array)
          hash = item.is_a?(Hash)
          parts = hash ? item.first(room) : item[0, room]
          todo << [true, hash ? "}" : "]"]
          (parts.length - 1).downto(0) do |i|
            if hash
              todo << [false, parts[i][1]] << [true, "=>"] << [false, parts[i][0]]
            else
              todo << [false, parts[i]]
            end
            todo << [true, ", "] if i > 0
          end
          text << (hash ? "{" : "[")
        elsif item.is_a?(String)
          text << item.byteslice(0, room).inspect
        elsif item.is_a?(Symbol) && item.to_s.bytesize > room
          text << ":" << item.to_s.byteslice(0, room).inspect
        else
          text << begin
            item.inspect.to_s.byteslice(0, room)
          rescue StandardError
            "#<#{item.class}>"
          end
        end
      end
      return text if todo.empty? && text.bytesize <= EXCERPT_BYTES
      "#{text.byteslice(0, EXCERPT_BYTES)}... [cut]"
    end

    # The reading is native (a game loads inside its tick); it answers what
    # was wrong and where for text that is not saved state. A Hash of the
    # game's that the writer wrapped comes back as it was. Given a Hash as
    # marks, it notes there what loading must make anew of the value (see
    # QMX::Entity.rebuild_saved_data).
    def self.parse(text, marks = nil)
      raise FormatError, "* ERROR:\nSaved state must be text, not #{text.class}.\n" unless text.is_a?(String)
      failure = []
      value = FFI.saved_text_read(text, failure, marks)
      return value if failure.empty?
      what, at, symbol_limit, bytes_limit = failure
      excerpt = text.byteslice(at, 40).to_s
      if symbol_limit
        raise FormatError, "* ERROR:\nSaved state may make at most #{symbol_limit} Symbols that the game has not made yet, of at most #{bytes_limit} bytes in all (each property of a strict entity makes three: name, name= and @name): each one is kept for the rest of the run.\nThe next one is at byte #{at}: #{excerpt.inspect}\n"
      end
      if what.end_with?("name too long")
        raise FormatError, "* ERROR:\nSaved state may only name Symbols of at most #{QMX::StrictEntity::PROPERTY_NAME_BYTES_MAX + 1} bytes, the longest the interpreter makes, and strict entities' properties of at most #{QMX::StrictEntity::PROPERTY_NAME_BYTES_MAX} (each makes name= and @name).\n#{what} at byte #{at}: #{excerpt.inspect}\n"
      end
      raise FormatError, "* ERROR:\nSaved state may only hold literal Hashes, Arrays, Strings, Symbols, Integers, Floats, nil, true and false.\n#{what} at byte #{at}: #{excerpt.inspect}\n"
    end
  end
end
