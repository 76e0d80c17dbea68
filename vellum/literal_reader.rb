# Reads saved game state back without running it: the text may hold only
# the literals that printing a state produces (Hashes, Arrays, Strings,
# Symbols, Integers, Floats, nil, true and false). Anything else is refused
# with an error that says where, so a save file can never run code.
#
# The reader keeps its own stack of open containers instead of recursing,
# so deeply nested states load as well as they print.
module QMX
  class LiteralReader
    class Error < StandardError; end

    WHITESPACE = [32, 9, 10, 13, 12, 11].freeze
    # Symbols that are operators, longest first.
    OPERATOR_SYMBOLS = ["[]=", "[]", "<=>", "===", "==", "=~", "!=", "!~", "**", "+@", "-@", "<<", ">>",
                        "<=", ">=", "!", "~", "+", "-", "*", "/", "%", "<", ">", "&", "|", "^", "`"].freeze
    ESCAPES = { "n" => "\n", "t" => "\t", "r" => "\r", "e" => "\e", "a" => "\a", "b" => "\b",
                "f" => "\f", "v" => "\v", "s" => " ", "0" => "\0" }.freeze

    def self.parse(text)
      new(text).parse
    end

    def initialize(text)
      @text = text.to_s
      @pos = 0
      @length = @text.bytesize
    end

    def parse
      stack = []
      expecting_value = true
      while true
        skip_whitespace
        top = stack.last
        if expecting_value
          if top && top[:kind] == :hash && !top.key?(:key) && (label = read_label)
            top[:key] = label
            next
          end
          byte = peek
          if byte == 91 # [
            @pos += 1
            stack << { kind: :array, value: [] }
            next
          elsif byte == 123 # {
            @pos += 1
            stack << { kind: :hash, value: {} }
            next
          elsif closes?(top, byte) && !top.key?(:key)
            # An empty container, or a trailing comma before the closer.
            @pos += 1
            value = stack.pop[:value]
          else
            value = read_scalar
          end
        elsif top && peek == 44 # ,
          @pos += 1
          expecting_value = true
          next
        elsif closes?(top, peek)
          @pos += 1
          value = stack.pop[:value]
        else
          fail_at(top.nil? ? "the end of the text" : (top[:kind] == :array ? "\",\" or \"]\"" : "\",\" or \"}\""))
        end

        # A complete value: it is the result, an array element, or a key or
        # a value of the innermost hash.
        top = stack.last
        if top.nil?
          skip_whitespace
          fail_at("the end of the text") if @pos < @length
          return value
        elsif top[:kind] == :array
          top[:value] << value
          expecting_value = false
        elsif top.key?(:key)
          top[:value][top.delete(:key)] = value
          expecting_value = false
        else
          top[:key] = value
          skip_whitespace
          fail_at("\"=>\" after a hash key") unless arrow?
          @pos += 2
          expecting_value = true
        end
      end
    end

    private

    def peek(offset = 0)
      @text.getbyte(@pos + offset)
    end

    def skip_whitespace
      while @pos < @length
        byte = peek
        if WHITESPACE.include?(byte)
          @pos += 1
        elsif byte == 35 # a comment runs to the end of its line
          @pos += 1 while @pos < @length && peek != 10
        else
          break
        end
      end
    end

    def arrow?
      peek == 61 && peek(1) == 62
    end

    def closes?(top, byte)
      return false unless top
      top[:kind] == :array ? byte == 93 : byte == 125
    end

    def fail_at(expected)
      found = @pos < @length ? @text.byteslice(@pos, 20).inspect : "the end of the text"
      raise Error, "Saved state can only hold literal values: expected #{expected} at byte #{@pos}, found #{found}."
    end

    def word_byte?(byte)
      byte && ((byte >= 97 && byte <= 122) || (byte >= 65 && byte <= 90) || (byte >= 48 && byte <= 57) ||
               byte == 95 || byte >= 128)
    end

    def digit?(byte)
      byte && byte >= 48 && byte <= 57
    end

    # "name:" or "\"some name\":" as a hash key (answers the Symbol), else nil
    # without moving.
    def read_label
      start = @pos
      if peek == 34
        text = read_string(34)
        if peek == 58 && peek(1) != 58
          @pos += 1
          return text.to_sym
        end
      elsif word_byte?(peek) && !digit?(peek)
        @pos += 1 while word_byte?(peek)
        @pos += 1 if peek == 63 || peek == 33 # ? !
        if peek == 58 && peek(1) != 58
          name = @text.byteslice(start, @pos - start)
          @pos += 1
          return name.to_sym
        end
      end
      @pos = start
      nil
    end

    def read_scalar
      byte = peek
      fail_at("a value") if byte.nil?
      return read_string(byte) if byte == 34 || byte == 39
      return read_symbol if byte == 58
      return read_number if digit?(byte) || ((byte == 45 || byte == 43) && (digit?(peek(1)) || word_at?("Infinity", 1)))
      word = read_word
      case word
      when "nil" then nil
      when "true" then true
      when "false" then false
      when "Infinity" then Float::INFINITY
      when "NaN" then Float::NAN
      else
        @pos -= word.bytesize
        fail_at("a literal value")
      end
    end

    def word_at?(word, offset)
      @text.byteslice(@pos + offset, word.bytesize) == word
    end

    def read_word
      start = @pos
      @pos += 1 while word_byte?(peek)
      @text.byteslice(start, @pos - start)
    end

    def read_number
      start = @pos
      sign = 1
      if peek == 45 || peek == 43
        sign = -1 if peek == 45
        @pos += 1
        if word_at?("Infinity", 0)
          @pos += 8
          return sign * Float::INFINITY
        end
      end
      float = false
      @pos += 1 while digit?(peek) || (peek == 95 && digit?(peek(1)))
      if peek == 46 && digit?(peek(1)) # .
        float = true
        @pos += 1
        @pos += 1 while digit?(peek) || (peek == 95 && digit?(peek(1)))
      end
      if peek == 101 || peek == 69 # e E
        exponent_at = @pos
        @pos += 1
        @pos += 1 if peek == 43 || peek == 45
        if digit?(peek)
          float = true
          @pos += 1 while digit?(peek)
        else
          @pos = exponent_at
        end
      end
      fail_at("a number") if word_byte?(peek)
      text = @text.byteslice(start, @pos - start).delete("_")
      float ? text.to_f : text.to_i
    end

    def read_symbol
      @pos += 1 # :
      return read_string(34).to_sym if peek == 34
      start = @pos
      if peek == 64 # @ or @@
        @pos += 1
        @pos += 1 if peek == 64
      elsif peek == 36 # $
        @pos += 1
      end
      if word_byte?(peek)
        @pos += 1 while word_byte?(peek)
        if peek == 63 || peek == 33 # ? !
          @pos += 1
        elsif peek == 61 && peek(1) != 62 # a setter's "=", unless it starts "=>"
          @pos += 1
        end
        return @text.byteslice(start, @pos - start).to_sym
      end
      fail_at("a symbol") unless start == @pos
      OPERATOR_SYMBOLS.each do |op|
        next unless word_at?(op, 0)
        taken = op
        # ":== =>" prints as ":===>": an operator ending in "=" gives that
        # "=" back when it starts the arrow.
        taken = op[0..-2] if op.end_with?("=") && peek(op.bytesize) == 62 && op.bytesize > 1
        @pos += taken.bytesize
        return taken.to_sym
      end
      fail_at("a symbol")
    end

    def read_string(quote)
      @pos += 1
      out = ""
      while true
        byte = peek
        fail_at("the end of a string") if byte.nil?
        @pos += 1
        break if byte == quote
        if byte != 92 # backslash
          out << byte.chr
          next
        end
        escaped = peek
        fail_at("the end of a string") if escaped.nil?
        @pos += 1
        char = escaped.chr
        if quote == 39
          out << (char == "'" || char == "\\" ? char : "\\#{char}")
        elsif char == "x"
          out << read_hex(2).chr
        elsif char == "u"
          read_unicode_escape(out)
        elsif ESCAPES.key?(char)
          out << ESCAPES[char]
        else
          out << char
        end
      end
      out
    end

    def read_hex(max_digits)
      value = 0
      digits = 0
      while digits < max_digits
        byte = peek
        nibble = if digit?(byte) then byte - 48
                 elsif byte && byte >= 97 && byte <= 102 then byte - 87
                 elsif byte && byte >= 65 && byte <= 70 then byte - 55
                 end
        break unless nibble
        value = value * 16 + nibble
        digits += 1
        @pos += 1
      end
      fail_at("a hexadecimal digit") if digits == 0
      value
    end

    def read_unicode_escape(out)
      if peek == 123 # {
        @pos += 1
        while true
          skip_spaces_only
          break if peek == 125
          append_utf8(out, read_hex(6))
        end
        @pos += 1
      else
        append_utf8(out, read_hex(4))
      end
    end

    def skip_spaces_only
      @pos += 1 while peek == 32
    end

    def append_utf8(out, code)
      fail_at("a character code") if code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)
      if code < 0x80
        out << code.chr
      elsif code < 0x800
        out << (0xC0 | (code >> 6)).chr << (0x80 | (code & 0x3F)).chr
      elsif code < 0x10000
        out << (0xE0 | (code >> 12)).chr << (0x80 | ((code >> 6) & 0x3F)).chr << (0x80 | (code & 0x3F)).chr
      else
        out << (0xF0 | (code >> 18)).chr << (0x80 | ((code >> 12) & 0x3F)).chr <<
          (0x80 | ((code >> 6) & 0x3F)).chr << (0x80 | (code & 0x3F)).chr
      end
    end
  end
end
