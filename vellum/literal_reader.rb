# Reads saved game state back. The text is what entities and the values they
# hold print as: Ruby literals of Hash, Array, String, Symbol, Integer, Float,
# nil, true and false. Nothing in it is ever evaluated, so a save file cannot
# run code; anything else is refused with a message that says where.
module QMX
  class LiteralReader
    class FormatError < StandardError; end

    STRING_ESCAPES = { "n" => "\n", "t" => "\t", "r" => "\r", "e" => "\e", "a" => "\a", "b" => "\b",
                       "v" => "\v", "f" => "\f", "\"" => "\"", "\\" => "\\", "#" => "#" }.freeze
    # Operator names a symbol may have, longest first so that :<=> is not
    # read as :<= followed by >.
    OPERATORS = ["[]=", "<=>", "===", "[]", "**", "!=", "!~", "+@", "-@", "<=", "<<", ">=", ">>", "==", "=~",
                 "!", "+", "-", "*", "/", "%", "<", ">", "&", "|", "^", "~", "`"].freeze
    WORDS = { "nil" => nil, "true" => true, "false" => false }.freeze
    GLOBAL_PUNCTUATION = "~*$?!@/\\;,.=:<>\"&`'+0_".freeze

    def self.parse(text)
      new(text).parse
    end

    def initialize(text)
      raise FormatError, "* ERROR:\nSaved state must be text, not #{text.class}.\n" unless text.is_a?(String)
      @text = text
      @length = text.bytesize
      @pos = 0
    end

    # Iterative, so that deep nesting cannot exhaust the interpreter's stack.
    # Each open container is a frame [container, key, expecting_key].
    def parse
      frames = []
      skip_space
      loop do
        value = nil
        opened = false
        c = peek
        if c == 91 # [
          @pos += 1
          skip_space
          if peek == 93
            @pos += 1
            value = []
          else
            frames << [[], nil, false]
            opened = true
          end
        elsif c == 123 # {
          @pos += 1
          skip_space
          if peek == 125
            @pos += 1
            value = {}
          else
            frames << [{}, nil, true]
            opened = true
          end
        else
          value = read_scalar
        end

        unless opened
          # Hand the value to the enclosing containers, closing every one
          # that ends right after it.
          loop do
            frame = frames.last
            unless frame
              skip_space
              fail_at "unexpected text after the saved value" if @pos < @length
              return value
            end
            skip_space
            if frame[2]
              frame[1] = value
              frame[2] = false
              expect_arrow
              break
            end
            container = frame[0]
            if container.is_a?(Array)
              container << value
            else
              container[frame[1]] = value
            end
            c = peek
            if c == 44 # ,
              @pos += 1
              frame[2] = true if container.is_a?(Hash)
              break
            elsif (c == 93 && container.is_a?(Array)) || (c == 125 && container.is_a?(Hash))
              @pos += 1
              frames.pop
              value = container
            else
              fail_at(container.is_a?(Array) ? "expected , or ]" : "expected , or }")
            end
          end
        end
        skip_space
      end
    end

    private

    # The byte at the read position, nil at the end.
    def peek
      @text.getbyte(@pos)
    end

    def skip_space
      while (b = @text.getbyte(@pos)) && (b == 32 || b == 10 || b == 9 || b == 13)
        @pos += 1
      end
    end

    def expect_arrow
      skip_space
      fail_at "expected =>" unless @text.byteslice(@pos, 2) == "=>"
      @pos += 2
      skip_space
    end

    def fail_at(what)
      excerpt = @text.byteslice(@pos, 40).to_s
      raise FormatError, "* ERROR:\nSaved state may only hold literal Hashes, Arrays, Strings, Symbols, Integers, Floats, nil, true and false.\n#{what} at byte #{@pos}: #{excerpt.inspect}\n"
    end

    def read_scalar
      c = peek
      fail_at "unexpected end of the saved text" unless c
      return read_string if c == 34 # "
      return read_symbol if c == 58 # :
      return read_number if c == 45 || (c >= 48 && c <= 57) # - and digits
      word = read_word
      return WORDS[word] if WORDS.key?(word)
      return Float::INFINITY if word == "Infinity"
      return Float::NAN if word == "NaN"
      fail_at "not a literal"
    end

    def read_word
      start = @pos
      @pos += 1 while @pos < @length && word_byte?(@text.getbyte(@pos))
      @text.byteslice(start, @pos - start)
    end

    def word_byte?(b)
      (b >= 97 && b <= 122) || (b >= 65 && b <= 90) || (b >= 48 && b <= 57) || b == 95
    end

    def read_number
      start = @pos
      @pos += 1 if peek == 45
      if peek == 73 # I
        fail_at "not a number" unless read_word == "Infinity"
        return -Float::INFINITY
      end
      digits = skip_digits
      fail_at "not a number" if digits == 0
      float = false
      if peek == 46 && digit_at?(@pos + 1)
        float = true
        @pos += 1
        skip_digits
      end
      if peek == 101 || peek == 69
        float = true
        @pos += 1
        @pos += 1 if peek == 43 || peek == 45
        fail_at "not a number" if skip_digits == 0
      end
      text = @text.byteslice(start, @pos - start)
      # The interpreter's own String#to_f is not exact; the C library's is.
      return FFI.parse_float(text) if float
      begin
        text.to_i
      rescue RangeError
        @pos = start
        fail_at "integer out of range"
      end
    end

    def digit_at?(index)
      index < @length && (b = @text.getbyte(index)) >= 48 && b <= 57
    end

    def skip_digits
      start = @pos
      @pos += 1 while digit_at?(@pos)
      @pos - start
    end

    def read_string
      @pos += 1
      result = ""
      loop do
        start = @pos
        b = nil
        while @pos < @length
          b = @text.getbyte(@pos)
          break if b == 34 || b == 92 || b == 35 # " \ #
          @pos += 1
        end
        fail_at "unterminated string" if @pos >= @length
        result << @text.byteslice(start, @pos - start) if @pos > start
        if b == 34
          @pos += 1
          return result
        elsif b == 35
          # Unescaped, this would be code in Ruby source.
          follower = @text.byteslice(@pos + 1, 1)
          fail_at "interpolation in a string" if follower == "{" || follower == "$" || follower == "@"
          result << "#"
          @pos += 1
        else
          result << read_escape
        end
      end
    end

    def read_escape
      letter = @text.byteslice(@pos + 1, 1)
      if letter == "x"
        start = @pos + 2
        count = 0
        count += 1 while count < 2 && hex_digit?(@text.getbyte(start + count))
        fail_at "bad \\x escape" if count == 0
        @pos = start + count
        return @text.byteslice(start, count).to_i(16).chr
      end
      replacement = STRING_ESCAPES[letter]
      fail_at "unknown escape" unless replacement
      @pos += 2
      replacement
    end

    def hex_digit?(b)
      return false unless b
      (b >= 48 && b <= 57) || (b >= 97 && b <= 102) || (b >= 65 && b <= 70)
    end

    def read_symbol
      @pos += 1
      return read_string.to_sym if peek == 34
      start = @pos
      candidates = symbol_candidates
      candidates.each do |length|
        if follower_ok?(start + length)
          @pos = start + length
          return @text.byteslice(start, length).to_sym
        end
      end
      fail_at "not a symbol"
    end

    # Lengths the symbol at @pos could have, longest first; the first one
    # followed by a separator is the one the writer meant (:a==>1 is :a=).
    def symbol_candidates
      b = @text.getbyte(@pos)
      return [] unless b
      lengths = []
      if word_byte?(b) && !(b >= 48 && b <= 57)
        n = name_length(@pos)
        suffix = @text.byteslice(@pos + n, 1)
        lengths << n + 1 if suffix == "?" || suffix == "!" || suffix == "="
        lengths << n
      elsif b == 64 # @ and @@
        prefix = @text.byteslice(@pos + 1, 1) == "@" ? 2 : 1
        n = name_length(@pos + prefix)
        lengths << prefix + n if n > 0 && !digit_at?(@pos + prefix)
      elsif b == 36 # $
        n = name_length(@pos + 1)
        if n > 0
          lengths << 1 + n
        elsif @text.byteslice(@pos + 1, 1) == "-" && word_byte?(@text.getbyte(@pos + 2).to_i)
          lengths << 3
        elsif GLOBAL_PUNCTUATION.include?(@text.byteslice(@pos + 1, 1).to_s) && @pos + 1 < @length
          lengths << 2
        end
      else
        OPERATORS.each { |op| lengths << op.bytesize if @text.byteslice(@pos, op.bytesize) == op }
      end
      lengths
    end

    def name_length(from)
      index = from
      index += 1 while index < @length && word_byte?(@text.getbyte(index))
      index - from
    end

    def follower_ok?(index)
      return true if index >= @length
      b = @text.getbyte(index)
      return true if b == 44 || b == 93 || b == 125 || b == 32 || b == 10 || b == 9 || b == 13
      @text.byteslice(index, 2) == "=>"
    end
  end
end
