module QMX
  # Shared by the keyboard and the controllers: turns their up, down, left and
  # right into numbers and vectors, and lets a game ask for any key by name on
  # the device itself (keyboard.a: pressed this frame or held).
  module DirectionalInputHelperMethods
    include DirectionalAxes
    REQUIRED_METHODS = [:up, :down, :left, :right, :key_held, :key_down].freeze

    def self.included(klass)
      found = REQUIRED_METHODS.map { |m| [m, klass.method_defined?(m)] }
      return if found.all? { |_, present| present }
      raise "* ERROR\nThe QMX::DirectionalKeys module should only be included in objects that respond to the following api heirarchy:\n" +
            found.map { |m, present| "- #{m}: #{present}" }.join("\n") + "\n"
    end

    def directional_vector
      lr = left_right
      ud = up_down
      return nil if lr == 0 && ud == 0
      return [lr, ud] if lr == 0 || ud == 0
      # Unit length on diagonals too, so diagonal movement is not faster.
      [45.vector_x * lr.sign, 45.vector_y * ud.sign]
    end

    def method_missing(m, *args)
      name = m.to_s
      if name.start_with?("ctrl_")
        # The key let go this frame with control still held, or let go too.
        key = name.split("_").last.to_sym
        define_singleton_method(m) do
          key_up.send(key) && (key_up.send(:control) || key_held.send(:control) || key_down.send(:control))
        end
      else
        define_singleton_method(m) { key_down.send(m) || key_held.send(m) }
      end
      send(m)
    end
  end
end
