module QMX
  # One player's game controller: three key sets like the keyboard's and the
  # two sticks, quantised (raw in thousands, y up; perc in quarters).
  class Controller
    # One of a controller's three key sets. A key is nil when not set and the
    # tick after the one it was set in when set.
    class Keys
      include QMX::Serialize

      LABELS = [:up, :down, :left, :right, :a, :b, :x, :y, :l1, :r1, :l2, :r2, :l3, :r3, :start,
                :select, :directional_up, :directional_down, :directional_left,
                :directional_right].freeze

      LABELS.each { |label| attr_reader label }

      def activate(key)
        instance_variable_set("@#{key}", Kernel.tick_count + 1)
      end

      def deactivate(key)
        instance_variable_set("@#{key}", nil)
      end

      def clear
        LABELS.each { |label| deactivate(label) }
      end

      def truthy_keys
        LABELS.select { |label| send(label) }
      end
    end

    attr_reader :key_down, :key_held, :key_up
    attr_accessor :left_analog_x_raw, :left_analog_y_raw, :left_analog_x_perc, :left_analog_y_perc,
                  :right_analog_x_raw, :right_analog_y_raw, :right_analog_x_perc, :right_analog_y_perc

    def initialize
      @key_down = Keys.new
      @key_held = Keys.new
      @key_up = Keys.new
      @left_analog_x_raw = 0
      @left_analog_y_raw = 0
      @left_analog_x_perc = 0
      @left_analog_y_perc = 0
      @right_analog_x_raw = 0
      @right_analog_y_raw = 0
      @right_analog_x_perc = 0
      @right_analog_y_perc = 0
    end

    def serialize
      { key_down: @key_down.serialize, key_held: @key_held.serialize, key_up: @key_up.serialize }
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
    end

    # Released this frame or held; not on the frame of the press itself.
    def up
      @key_up.up || @key_held.up
    end

    def down
      @key_up.down || @key_held.down
    end

    def left
      @key_up.left || @key_held.left
    end

    def right
      @key_up.right || @key_held.right
    end

    def activate_down(key)
      @key_down.activate(key)
      @key_held.deactivate(key)
      @key_up.deactivate(key)
    end

    # Held keeps the tick of its first held frame.
    def activate_held(key)
      @key_down.deactivate(key)
      @key_held.activate(key) unless @key_held.send(key)
      @key_up.deactivate(key)
    end

    def activate_up(key)
      @key_down.deactivate(key)
      @key_held.deactivate(key)
      @key_up.activate(key)
    end

    include QMX::DirectionalInputHelperMethods
  end
end
