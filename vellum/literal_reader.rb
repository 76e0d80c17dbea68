# Reads saved game state back. The text is what entities and the values they
# hold print as: Ruby literals of Hash, Array, String, Symbol, Integer, Float,
# nil, true and false, in the forms Ruby source writes them that a player
# editing a save may use (either quotes, {a: 1}, 1_000, 0x10, a trailing
# comma). Nothing in it is ever evaluated, so a save file cannot run code;
# anything else is refused with a message that says where.
module QMX
  class LiteralReader
    class FormatError < StandardError; end

    # The reading is native (a game loads inside its tick); it answers what
    # was wrong and where for text that is not saved state.
    def self.parse(text)
      raise FormatError, "* ERROR:\nSaved state must be text, not #{text.class}.\n" unless text.is_a?(String)
      failure = []
      value = FFI.saved_text_read(text, failure)
      return value if failure.empty?
      what, at, symbol_limit, bytes_limit = failure
      excerpt = text.byteslice(at, 40).to_s
      if symbol_limit
        raise FormatError, "* ERROR:\nSaved state may make at most #{symbol_limit} Symbols that the game has not made yet, of at most #{bytes_limit} bytes in all (each property of a strict entity makes three: name, name= and @name): each one is kept for the rest of the run.\nThe next one is at byte #{at}: #{excerpt.inspect}\n"
      end
      raise FormatError, "* ERROR:\nSaved state may only hold literal Hashes, Arrays, Strings, Symbols, Integers, Floats, nil, true and false.\n#{what} at byte #{at}: #{excerpt.inspect}\n"
    end
  end
end
