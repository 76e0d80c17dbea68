module QMX
  # One of the keyboard's three key sets (pressed this frame, held, released
  # this frame). A key reads false or nil when not set and the tick at which
  # it was set otherwise; a trailing "!" on a name reads the key and consumes
  # it for the rest of the frame.
  class KeyboardKeys
    include DirectionalAxes
    include SerializedText
    include QMX::Serialize

    KEY_NAMES = [
      :exclamation_point, :zero, :one, :two, :three, :four, :five, :six, :seven, :eight, :nine,
      :backspace, :delete, :escape, :enter, :tab,
      :open_round_brace, :close_round_brace, :open_curly_brace, :close_curly_brace,
      :open_square_brace, :close_square_brace, :colon, :semicolon, :equal_sign, :hyphen, :space,
      :dollar_sign, :double_quotation_mark, :single_quotation_mark, :backtick, :tilde, :period,
      :comma, :pipe, :underscore,
      :a, :b, :c, :d, :e, :f, :g, :h, :i, :j, :k, :l, :m, :n, :o, :p, :q, :r, :s, :t, :u, :v,
      :w, :x, :y, :z,
      :shift, :control, :alt, :meta, :shift_left, :shift_right, :control_left, :control_right,
      :alt_left, :alt_right, :meta_left, :meta_right,
      :home, :end, :left, :right, :up, :down, :pageup, :pagedown,
      :char, :plus, :at, :forward_slash, :back_slash, :asterisk, :less_than, :greater_than,
      :carat, :ampersand, :superscript_two, :circumflex, :question_mark, :section_sign,
      :ordinal_indicator, :raw_key
    ].freeze

    # SDL key codes of the keys that have no character.
    SDLK_HOME = 0x4000004A
    SDLK_PAGEUP = 0x4000004B
    SDLK_END = 0x4000004D
    SDLK_PAGEDOWN = 0x4000004E
    SDLK_RIGHT = 0x4000004F
    SDLK_LEFT = 0x40000050
    SDLK_DOWN = 0x40000051
    SDLK_UP = 0x40000052
    SDLK_LCTRL = 0x400000E0
    SDLK_LSHIFT = 0x400000E1
    SDLK_LALT = 0x400000E2
    SDLK_LGUI = 0x400000E3
    SDLK_RCTRL = 0x400000E4
    SDLK_RSHIFT = 0x400000E5
    SDLK_RALT = 0x400000E6
    SDLK_RGUI = 0x400000E7

    NAVIGATION_KEYS = [SDLK_HOME, SDLK_END, SDLK_RIGHT, SDLK_LEFT, SDLK_DOWN, SDLK_UP,
                       SDLK_PAGEUP, SDLK_PAGEDOWN].freeze

    # SDL modifier bits.
    KMOD_SHIFT = 0x0003
    KMOD_CTRL = 0x00C0
    KMOD_ALT = 0x0300
    KMOD_GUI = 0x0C00
    # Lock states ride along in the modifier; they say nothing about which
    # modifier keys are held.
    KMOD_NUM = 0x1000
    KMOD_SCROLL = 0x8000

    KEY_NAMES.each do |key|
      attr_reader key
      define_method("#{key}=") do |value|
        @scrubbed_ivars = nil
        instance_variable_set("@#{key}", value)
      end
    end

    def self.char_to_method_hash
      @char_to_method_hash ||= begin
        table = {}
        ("A".."Z").each { |c| table[c] = [c.downcase.to_sym] }
        %w[zero one two three four five six seven eight nine].each_with_index do |name, digit|
          table[digit.to_s] = [name.to_sym]
        end
        {
          "!" => :exclamation_point, "(" => :open_round_brace, ")" => :close_round_brace,
          "{" => :open_curly_brace, "}" => :close_curly_brace, "[" => :open_square_brace,
          "]" => :close_square_brace, ":" => :colon, ";" => :semicolon, "=" => :equal_sign,
          "-" => :hyphen, " " => :space, "$" => :dollar_sign, "\"" => :double_quotation_mark,
          "'" => :single_quotation_mark, "`" => :backtick, "~" => :tilde, "." => :period,
          "," => :comma, "|" => :pipe, "_" => :underscore, "#" => :hash, "+" => :plus,
          "@" => :at, "/" => :forward_slash, "\\" => :back_slash, "*" => :asterisk,
          "<" => :less_than, ">" => :greater_than, "^" => :circumflex, "&" => :ampersand,
          "²" => :superscript_two, "§" => :section_sign, "?" => :question_mark,
          "%" => :percent_sign, "º" => :ordinal_indicator,
          "\b" => :backspace, "\e" => :escape, "\r" => :enter, "\t" => :tab, 127 => :delete,
          SDLK_HOME => :home, SDLK_END => :end, SDLK_RIGHT => :right, SDLK_LEFT => :left,
          SDLK_DOWN => :down, SDLK_UP => :up, SDLK_PAGEUP => :pageup, SDLK_PAGEDOWN => :pagedown
        }.each { |key, name| table[key] = [name] }
        {
          SDLK_LSHIFT => [:shift_left, :shift], SDLK_RSHIFT => [:shift_right, :shift],
          SDLK_LCTRL => [:control_left, :control], SDLK_RCTRL => [:control_right, :control],
          SDLK_LALT => [:alt_left, :alt], SDLK_RALT => [:alt_right, :alt],
          SDLK_LGUI => [:meta_left, :meta], SDLK_RGUI => [:meta_right, :meta]
        }.each { |key, names| table[key] = names }
        table
      end
    end

    def self.char_with_shift_hash
      @char_with_shift_hash ||= begin
        table = {
          "`" => "~", "-" => "_", "'" => "\"", "1" => "!", "2" => "@", "3" => "#", "4" => "$",
          "5" => "%", "6" => "^", "7" => "&", "8" => "*", "9" => "(", "0" => ")", ";" => ":",
          "=" => "+", "[" => "{", "]" => "}", "\\" => "|", "/" => "?", "." => ">", "," => "<"
        }
        ("a".."z").each { |c| table[c] = c.upcase }
        table
      end
    end

    def self.sdl_to_key(raw_key, modifier)
      names = own_key_names(raw_key, modifier)
      return nil unless names
      modifier = modifier.to_i
      names << :alt if modifier & KMOD_ALT != 0
      names << :meta if modifier & KMOD_GUI != 0
      names << :control if modifier & KMOD_CTRL != 0
      names << :shift if modifier & KMOD_SHIFT != 0
      names
    end

    # The names of the key itself under this modifier (Shift+1 is
    # exclamation_point, a Shift key is shift_left and shift), without the
    # names of the other modifier keys held with it; nil for a key without
    # names.
    def self.own_key_names(raw_key, modifier)
      raw_key = raw_key.to_i
      accepted = (raw_key >= 0 && raw_key <= 255) || NAVIGATION_KEYS.include?(raw_key) ||
                 (raw_key >= SDLK_LCTRL && raw_key <= SDLK_RGUI)
      return nil unless accepted
      char_to_method(char_with_shift(raw_key, modifier), raw_key)
    end

    def self.utf_8_char(raw_key)
      return "²" if raw_key == 178
      return "§" if raw_key == 167
      return "º" if raw_key == 186
      raw_key.chr
    end

    # Shift applies only when nothing but shift keys is held; Num Lock and
    # Scroll Lock being on does not count as holding something else.
    def self.char_with_shift(raw_key, modifier)
      raw_key = raw_key.to_i
      return nil if raw_key < 0 || raw_key > 255
      held = modifier.to_i & ~(KMOD_NUM | KMOD_SCROLL)
      char = utf_8_char(raw_key)
      return char unless held >= 1 && held <= KMOD_SHIFT
      char_with_shift_hash[char] || char
    end

    def self.char_to_method(char, int = nil)
      table = char_to_method_hash
      names = table[char] || table[int]
      return names.dup if names
      char.nil? ? [] : [char.to_sym]
    end

    def clear
      truthy_keys.each { |key| instance_variable_set("@#{key}", false) }
      @scrubbed_ivars = nil
    end

    # Every key as never set: each reads nil again.
    def forget
      all.each { |key| instance_variable_set("@#{key}", nil) }
      @scrubbed_ivars = nil
    end

    def truthy_keys
      all.select { |key| read_key(key) }
    end

    def all?(keys)
      result = keys.all? { |key| read_key(plain_name(key)) }
      consume_marked(keys) if result
      result
    end

    def any?(keys)
      result = keys.any? { |key| read_key(plain_name(key)) }
      consume_marked(keys) if result
      result
    end

    def clear_key(key)
      @scrubbed_ivars = nil
      instance_variable_set("@#{plain_name(key)}", false)
    end

    # The interpreter lists instance variables in no fixed order: keys come
    # in declaration order, then any others by name, so that listings and
    # saved state are the same from run to run.
    def all
      @scrubbed_ivars ||= begin
        names = instance_variables.map { |ivar| ivar.to_s[1..-1].to_sym }.reject { |k| k == :scrubbed_ivars }
        known = KEY_NAMES.select { |key| names.include?(key) }
        known + (names - known).sort_by(&:to_s)
      end
    end

    def get(collection)
      return [] if collection.nil? || collection.empty?
      collection.map do |key|
        name = plain_name(key)
        value = read_key(name)
        clear_key(name) if consumes?(key)
        [name, value]
      end
    end

    def set(collection, value = true)
      collection = [collection] unless collection.is_a?(Array)
      return if collection.empty?
      value = Kernel.tick_count if value
      @scrubbed_ivars = nil
      collection.each do |key|
        begin
          instance_variable_set("@#{key}", value)
        rescue NameError
          raise "* ERROR:\nThe key #{key.inspect} (raw key #{@raw_key.inspect}) cannot be set on the keyboard.\n"
        end
      end
    end

    # Any other name reads that key; with a trailing "!" the read consumes it.
    # A name never set reads nil once and false from then on.
    def method_missing(m, *args)
      name = plain_name(m)
      consume = consumes?(m)
      begin
        instance_variable_get("@#{name}")
        define_singleton_method(m) do
          value = instance_variable_get("@#{name}")
          clear_key(name) if consume || value.nil?
          value
        end
      rescue NameError => e
        log_important e.to_s
        listing = KeyboardKeys.char_to_method_hash.map { |k, names| "[#{k}] => #{names.join(',')}" }.join("  ")
        raise "* ERROR:\nThere is no member on the keyboard called #{m}. Here is a to_s representation of what's available:\n#{listing}\n\n"
      end
      send(m)
    end

    def respond_to_missing?(m, include_private = false)
      false
    end

    def serialize
      result = {}
      all.each do |key|
        value = instance_variable_get("@#{key}")
        result[key] = value if value
      end
      result[:truthy_keys] = truthy_keys
      result
    end

    private

    def plain_name(key)
      name = key.to_s
      name = name[0..-2] if name.end_with?("!")
      name.to_sym
    end

    def consumes?(key)
      key.to_s.end_with?("!")
    end

    def read_key(name)
      instance_variable_get("@#{name}")
    rescue NameError
      nil
    end

    def consume_marked(keys)
      keys.each { |key| clear_key(key) if consumes?(key) }
    end
  end
end
