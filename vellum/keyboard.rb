module QMX
  # The keyboard as the game sees it in one frame.
  class Keyboard
    include SerializedText
    attr_accessor :key_down, :key_held, :key_up, :has_focus

    def initialize
      @key_down = KeyboardKeys.new
      @key_held = KeyboardKeys.new
      @key_up = KeyboardKeys.new
      @has_focus = false
    end

    # Every object already answers p, so the letter needs its own method.
    def p
      @key_down.p || @key_held.p
    end

    # The arrow key released this frame or held, or its letter twin pressed
    # this frame or held.
    def left
      @key_up.left || @key_held.left || a
    end

    def right
      @key_up.right || @key_held.right || d
    end

    def up
      @key_up.up || @key_held.up || w
    end

    def down
      @key_up.down || @key_held.down || s
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
    end

    def serialize
      { key_up: @key_up.serialize, key_held: @key_held.serialize, key_down: @key_down.serialize, has_focus: @has_focus }
    end

    def key
      down = @key_down.truthy_keys
      held = @key_held.truthy_keys
      { down: down, held: held, down_or_held: (down + held).uniq, up: @key_up.truthy_keys }
    end
    alias_method :keys, :key

    include QMX::DirectionalInputHelperMethods
  end
end
