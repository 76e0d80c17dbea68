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
      @ticking = false
      forget_keys
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

    # --- Physical keys, as the runtime's key events drive them ---------------
    #
    # Each key that is down is remembered with the names it went down as, so
    # that its release releases exactly those: Shift+1 let go after Shift
    # still releases exclamation_point, and letting go of W while Shift is
    # held leaves shift held. A release the game's next tick could not show
    # waits for the tick after: a key pressed and let go within one frame is
    # down on one tick and up on the next, and a key released from the
    # game's own tick is up on the next tick.

    # Notes the names the key goes down as (a repeat under other modifiers
    # adds its own) and sets those not held in key_down; `names` are all the
    # names of the event, the modifiers held included. A modifier whose own
    # key was never seen going down (it was held before the window had the
    # keyboard) goes with this key.
    def press_key(raw_key, own_names, names)
      pending = @pending_releases.delete(raw_key)
      # Pressed again before its release was shown: the release is dropped
      # and the key goes down anew.
      pending.each { |name| @key_held.clear_key(name) } if pending
      others = @pressed_keys.reject { |key, _| key == raw_key }.values.flatten
      pressed = (@pressed_keys[raw_key] ||= [])
      names.each do |name|
        next if pressed.include?(name)
        pressed << name if own_names.include?(name) || !others.include?(name)
      end
      fresh = names.uniq.reject { |name| @key_held.get([name]).first[1] }
      @key_down.set(fresh)
    end

    # char and raw_key name the key pressed last: they are held while it is.
    def type_key(raw_key)
      @typed_key = raw_key
      @typed_key_down = true
    end

    # `own_names` are the key's names under the modifiers of its release,
    # used only for a key that was not seen going down.
    def release_key(raw_key, own_names)
      @typed_key_down = false if raw_key == @typed_key
      names = @pressed_keys.delete(raw_key) || own_names || []
      # A name another key that is still down goes by stays held (the other
      # Shift key).
      still_down = @pressed_keys.values.flatten
      names = names.reject { |name| still_down.include?(name) }
      return nil if names.empty?
      if @ticking || names.any? { |name| @key_down.get([name]).first[1] }
        pending = (@pending_releases[raw_key] ||= [])
        names.each { |name| pending << name unless pending.include?(name) }
      else
        @key_up.set(names)
      end
      nil
    end

    # Before the game's tick: waiting releases are shown, unless their key
    # went down again since the last tick (it is shown down first); keys
    # that are up are neither down nor held any more, nor char and raw_key
    # once the key they name is up.
    def start_tick
      @pending_releases.keys.each do |raw_key|
        names = @pending_releases[raw_key]
        next if names.any? { |name| @key_down.get([name]).first[1] }
        @pending_releases.delete(raw_key)
        @key_up.set(names)
      end
      @key_up.truthy_keys.each do |key|
        @key_down.clear_key(key)
        @key_held.clear_key(key)
      end
      unless @typed_key_down
        @key_held.clear_key(:char) if @key_held.char
        @key_held.clear_key(:raw_key) if @key_held.raw_key
      end
      @ticking = true
    end

    # After the game's tick: keys that went down are held from now on.
    def finish_tick
      down = @key_down.truthy_keys
      @key_held.set(down) unless down.empty?
      down.each { |key| @key_down.clear_key(key) }
      @key_up.clear
      @ticking = false
    end

    # Every key as if none had ever been down, as at start-up: a recording
    # or replay starts here, so a key reads nil until it is first set or
    # cleared, in both.
    def forget_keys
      [@key_down, @key_held, @key_up].each(&:forget)
      @pressed_keys = {}
      @pending_releases = {}
      @typed_key = nil
      @typed_key_down = false
    end

    include QMX::DirectionalInputHelperMethods
  end
end
