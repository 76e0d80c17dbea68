module QMX
  # args.inputs: everything the player did this frame.
  class Inputs
    include DirectionalAxes
    attr_reader :controllers, :keyboard, :mouse, :touch
    attr_accessor :finger_one, :finger_two, :text, :history, :http_requests

    def initialize
      @controllers = [Controller.new, Controller.new]
      @keyboard = Keyboard.new
      @mouse = Mouse.new
      @touch = {}
      @finger_one = nil
      @finger_two = nil
      @text = []
      @http_requests = []
    end

    def up
      @keyboard.up || controller_one.up
    end

    def down
      @keyboard.down || controller_one.down
    end

    def left
      @keyboard.left || controller_one.left
    end

    def right
      @keyboard.right || controller_one.right
    end

    def directional_vector
      @keyboard.directional_vector || controller_one.directional_vector
    end

    def click
      @mouse.click ? @mouse.click.point : nil
    end

    def controller_one
      @controllers[0]
    end

    def controller_two
      @controllers[1]
    end

    def clear
      @mouse.clear
      @keyboard.clear
      @controllers.each(&:clear)
      @touch.clear
      @http_requests.clear
      @finger_one = nil
      @finger_two = nil
    end

    def serialize
      { controller_one: controller_one.serialize, controller_two: controller_two.serialize,
        keyboard: @keyboard.serialize, mouse: @mouse.serialize, text: @text }
    end
  end
end
