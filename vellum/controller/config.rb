module QMX
  class Controller
    # The screen that teaches the engine a joystick SDL has no mapping for:
    # it asks for one control after another, lets the player try the result,
    # then saves an SDL mapping line and reopens the joystick as a game
    # controller. While a joystick is being configured the game does not tick.
    class Config
      # x and y of the highlight on the controller picture, the prompt's
      # label and SDL's name for the control, in asking order.
      PARTS = [
        [919, 282, "A button", "a"],
        [960, 323, "B button", "b"],
        [878, 323, "X button", "x"],
        [919, 365, "Y button", "y"],
        [433, 246, "left stick left", "-leftx"],
        [497, 246, "left stick right", "+leftx"],
        [466, 283, "left stick up", "-lefty"],
        [466, 218, "left stick down", "+lefty"],
        [466, 246, "left stick button", "leftstick"],
        [741, 246, "right stick left", "-rightx"],
        [802, 246, "right stick right", "+rightx"],
        [773, 283, "right stick up", "-righty"],
        [773, 218, "right stick down", "+righty"],
        [772, 246, "right stick button", "rightstick"],
        [263, 465, "left shoulder button", "leftshoulder"],
        [263, 503, "left trigger", "lefttrigger"],
        [977, 465, "right shoulder button", "rightshoulder"],
        [977, 503, "right trigger", "righttrigger"],
        [318, 365, "D-pad up", "dpup"],
        [360, 322, "D-pad right", "dpright"],
        [318, 280, "D-pad down", "dpdown"],
        [275, 322, "D-pad left", "dpleft"],
        [570, 402, "select/back button", "back"],
        [619, 448, "guide/home button", "guide"],
        [669, 402, "start button", "start"]
      ].freeze

      NEGATIVE_STICK_HALVES = ["-leftx", "-lefty", "-rightx", "-righty"].freeze
      # An axis pushed this far from rest and let back to within the second
      # distance counts as one deliberate push.
      AXIS_PUSHED = 16000
      AXIS_LET_GO = 10000
      PICTURE = "vellumcore-controller.png".freeze

      def initialize(runtime)
        @runtime = runtime
        @raw_joysticks = {}
        @target = nil
        @animation_duration = 1.5.seconds
        @toggled_at = 0
        @fading = 0
        @current_part = 0
        @part_alpha = 0
        @part_alpha_increment = 10
        @joystick_state = {}
        @playing_around = false
        @used_bindings = {}
        @bindings = []
        @parts = PARTS
      end

      def rawjoystick_connected(jid, joystickname, guid)
        return nil if jid < 0
        @raw_joysticks[jid] = { name: joystickname, guid: guid }
      end

      def rawjoystick_disconnected(jid)
        return nil if jid < 0
        if @target && @target[0] == jid
          # The joystick being configured went away: the screen fades out as
          # for Escape, so that a player without a keyboard is not stuck.
          @runtime.ffi_misc.close_raw_joystick(jid)
          @target[0] = -1
          @playing_around = false
          start_fade(-1) unless @fading == -1
          return nil
        end
        return nil unless @raw_joysticks.key?(jid)
        @raw_joysticks.delete(jid)
        @runtime.ffi_misc.close_raw_joystick(jid)
      end

      def build_binding_string
        entries = []
        index = 0
        while index < @parts.size
          field = @parts[index][3]
          token = @bindings[index]
          index += 1
          next unless token
          if NEGATIVE_STICK_HALVES.include?(field)
            whole = whole_axis_token(token, @bindings[index])
            if whole
              entries << "#{field[1..-1]}:#{whole}"
              index += 1
              next
            end
          end
          entries << "#{field}:#{token}"
        end
        name = @target[1][:name].to_s.gsub(",", " ")
        "#{@target[1][:guid]},#{name},platform:#{@runtime.platform},#{entries.join(",")}"
      end

      def move_to_different_part(part)
        (@joystick_state[:axes] || {}).each_value { |axis| axis[:farthestval] = axis[:startingval] }
        @current_part = part
      end

      def previous_part
        return nil unless @current_part > 0
        part = @current_part - 1
        token = @bindings[part]
        @bindings[part] = nil
        @used_bindings.delete(token) if token
        move_to_different_part(part)
      end

      def next_part
        if @current_part + 1 < @parts.size
          move_to_different_part(@current_part + 1)
        else
          @playing_around = true
        end
      end

      # One physical control serves one part only.
      def set_binding(bindstr)
        return false if @used_bindings.key?(bindstr)
        @used_bindings[bindstr] = @current_part
        @bindings[@current_part] = bindstr
        true
      end

      def rawjoystick_axis(jid, axis, value)
        return nil unless listening_to?(jid)
        axes = (@joystick_state[:axes] ||= {})
        state = (axes[axis] ||= { moving: false, startingval: 0, currentval: 0, farthestval: 0 })
        state[:currentval] = value
        unless state[:moving]
          # The first reading is the axis at rest.
          state[:moving] = true
          state[:startingval] = value
          state[:farthestval] = value
        end
        current = (value - state[:startingval]).abs
        farthest = (state[:farthestval] - state[:startingval]).abs
        state[:farthestval] = value if current > farthest
        return nil unless learning? && farthest >= AXIS_PUSHED && current <= AXIS_LET_GO
        token = state[:farthestval] < 0 ? "-a#{axis}" : "+a#{axis}"
        next_part if set_binding(token)
      end

      def rawjoystick_hat(jid, hat, value)
        return nil unless listening_to?(jid)
        (@joystick_state[:hats] ||= {})[hat] = value
        return nil unless learning? && value != 0
        next_part if set_binding("h#{hat}.#{value}")
      end

      def rawjoystick_button(jid, button, pressed)
        return nil unless listening_to?(jid)
        (@joystick_state[:buttons] ||= {})[button] = pressed
        return nil unless learning? && pressed
        next_part if set_binding("b#{button}")
      end

      def calc_fading
        return 255 if @fading == 0
        if @fading == 1
          progress = @toggled_at.global_ease(@animation_duration, :flip, :quint, :flip)
          if progress >= 1.0
            progress = 1.0
            @fading = 0
          end
        else
          progress = @toggled_at.global_ease(@animation_duration, :flip, :quint)
          if progress <= 0.0
            progress = 0.0
            @fading = 0
          end
        end
        (progress * 255.0).to_i
      end

      def render_basics(args, msg, fade = 255)
        w = @runtime.logical_width
        h = @runtime.logical_height
        primitives = args.outputs.primitives
        primitives << { x: 0, y: 0, w: w, h: h, r: 255, g: 255, b: 255, a: fade, primitive_marker: :solid }
        primitives << { x: 0, y: 0, w: w, h: h, path: PICTURE, angle: 0, a: fade, r: 255, g: 255, b: 255,
                        primitive_marker: :sprite }
        primitives << { x: w.div(2), y: 700, text: @target[1][:name].to_s, size_enum: 2, alignment_enum: 1,
                        r: 0, g: 0, b: 0, a: fade, primitive_marker: :label }
        return if msg.nil? || msg.empty?
        primitives << centred_label(msg, w, 650)
      end

      def render_part_highlight(args, part, alpha = 255)
        x, y = @parts[part]
        primitives = args.outputs.primitives
        [[0, 41], [1, 43], [2, 45]].each do |grow, size|
          primitives << { x: x - grow, y: y - grow, w: size, h: size, r: 255, g: 0, b: 0, a: alpha,
                          primitive_marker: :border }
        end
      end

      def render_part_highlight_from_bindstr(args, bindstr, alpha = 255)
        part = @used_bindings[bindstr]
        render_part_highlight(args, part, alpha) if part
      end

      def choose_target
        return true if @target
        until @raw_joysticks.empty?
          jid = @raw_joysticks.keys.first
          info = @raw_joysticks.delete(jid)
          next unless jid >= 0 && info[:guid]
          @target = [jid, info]
          @toggled_at = Kernel.global_tick_count
          @fading = 1
          move_to_different_part(0)
          @part_alpha = 0
          @part_alpha_increment = 10
          @joystick_state = {}
          @used_bindings = {}
          @bindings = []
          @playing_around = false
          return true
        end
        false
      end

      def play_around(args)
        return false unless @playing_around
        key_down = args.inputs.keyboard.key_down
        if key_down.escape
          start_over
        elsif key_down.space
          save_target
          return false
        end
        w = @runtime.logical_width
        render_basics(args, "Now play around with the controller, and make sure it feels right!")
        args.outputs.primitives << centred_label("[ESCAPE]: Reconfigure, [SPACE]: Save this configuration", w, 90)
        (@joystick_state[:axes] || {}).each do |axis, state|
          value = state[:currentval]
          next if value.abs < AXIS_PUSHED
          render_part_highlight_from_bindstr(args, value < 0 ? "-a#{axis}" : "+a#{axis}")
        end
        (@joystick_state[:hats] || {}).each do |hat, value|
          render_part_highlight_from_bindstr(args, "h#{hat}.#{value}") if value != 0
        end
        (@joystick_state[:buttons] || {}).each do |button, pressed|
          render_part_highlight_from_bindstr(args, "b#{button}") if pressed
        end
        true
      end

      def should_tick?
        !@target.nil?
      end

      def tick(args)
        return true if play_around(args)
        return false unless choose_target
        if @fading == 0
          key_down = args.inputs.keyboard.key_down
          if key_down.escape
            start_fade(-1)
          elsif key_down.backspace
            previous_part
          elsif key_down.space
            next_part
          end
        end
        fading_out = @fading == -1
        fade = calc_fading
        if fading_out && fade <= 0
          @runtime.ffi_misc.close_raw_joystick(@target[0]) if @target[0] >= 0
          @target = nil
          return false
        end
        render_basics(args, fading_out ? "" : "We don't recognize this controller, so tell us about it!", fade)
        return true if fade < 255 || @fading != 0
        w = @runtime.logical_width
        args.outputs.primitives << centred_label("Please press the #{@parts[@current_part][2]}.", w, 575)
        render_part_highlight(args, @current_part, @part_alpha)
        args.outputs.primitives << centred_label(
          "[ESCAPE]: Ignore controller, [BACKSPACE]: Go back one button, [SPACE]: Skip this button", w, 90)
        pulse_highlight
        true
      end

      private

      # Two halves of one stick learned as the two directions of a single
      # axis become one entry for the whole axis (inverted when learned the
      # other way round).
      def whole_axis_token(token, following)
        return nil unless following && token.length > 2
        axis = token[2..-1]
        return "a#{axis}" if token == "-a#{axis}" && following == "+a#{axis}"
        return "a#{axis}~" if token == "+a#{axis}" && following == "-a#{axis}"
        nil
      end

      def listening_to?(jid)
        @target && @target[0] == jid && @fading == 0
      end

      # The try-out only shows what the controls do; it must not rebind them.
      def learning?
        !@playing_around
      end

      def start_fade(direction)
        @toggled_at = Kernel.global_tick_count
        @fading = direction
      end

      def start_over
        move_to_different_part(0)
        @part_alpha = 0
        @part_alpha_increment = 10
        @used_bindings = {}
        @bindings = []
        @playing_around = false
      end

      def save_target
        ffi_misc = @runtime.ffi_misc
        ffi_misc.add_controller_config(build_binding_string)
        ffi_misc.convert_rawjoystick_to_controller(@target[0])
        @target[0] = -1
        guid = @target[1][:guid]
        # Identical pads share the mapping and need no screen of their own.
        @raw_joysticks.each do |jid, info|
          next unless info[:guid] == guid
          ffi_misc.convert_rawjoystick_to_controller(jid)
          info[:guid] = nil
        end
        @playing_around = false
        start_fade(-1)
      end

      def pulse_highlight
        @part_alpha += @part_alpha_increment
        if @part_alpha >= 255
          @part_alpha = 255
          @part_alpha_increment = -10
        elsif @part_alpha <= 0
          @part_alpha = 0
          @part_alpha_increment = 10
        end
      end

      def centred_label(text, w, y)
        { x: w.div(2), y: y, text: text, size_enum: 0, alignment_enum: 1, r: 0, g: 0, b: 0, a: 255,
          primitive_marker: :label }
      end
    end
  end
end
