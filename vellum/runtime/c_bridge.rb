module QMX
  class Runtime
    # The runtime's input entry points: the host calls one for every input
    # event and for the controllers' state each frame, before the game's tick.
    # Each records the event for input recording, converts it (window to game
    # coordinates, key codes to key names, stick readings to quantised values)
    # and writes it into args.inputs. A replay calls the same methods with the
    # sender :replay; while it runs, input from anyone else is dropped.
    module CBridge
      # Mouse buttons that have a bit in the button bits; any other button
      # number is ignored.
      MOUSE_BUTTONS = (1..63).freeze

      RAW_CONTROLLER_KEY_LOOKUP = {
        1 => :up, 2 => :down, 3 => :left, 4 => :right,
        13 => :start, 14 => :b, 15 => :a, 16 => :x, 17 => :y,
        18 => :l1, 19 => :r1, 20 => :l3, 21 => :r3, 22 => :l2, 23 => :r2,
        24 => :directional_up, 25 => :directional_down, 26 => :directional_left, 27 => :directional_right
      }.freeze

      def key_down_raw(raw_key, modifier, sender = false)
        if rcb_drop?(sender)
          names = QMX::KeyboardKeys.sdl_to_key(raw_key, modifier)
          return nil unless names && @rcb_sender.console.console_toggle_keys.include?(:"#{names.first}!")
          @rcb_sender.recording.stop_replay
        end
        @rcb_sender.record_input_history(:key_down_raw, raw_key, modifier, 2, true)
        key_down_in_game(raw_key.to_i, modifier)
      end

      def key_up_raw(raw_key, modifier, sender = false)
        return nil if rcb_drop?(sender)
        @rcb_sender.record_input_history(:key_up_raw, raw_key, modifier, 2)
        key_up_in_game(raw_key.to_i, modifier, sender)
      end

      def key_down_in_game(raw_key, modifier)
        keyboard = rcb_inputs.keyboard
        names = QMX::KeyboardKeys.sdl_to_key(raw_key, modifier)
        keyboard.press_key(raw_key.to_i, QMX::KeyboardKeys.own_key_names(raw_key, modifier), names) if names
        keyboard.key_down.char = QMX::KeyboardKeys.char_with_shift(raw_key, modifier)
        keyboard.key_down.raw_key = raw_key
        keyboard.type_key(raw_key.to_i)
      end

      # A key is released under the names it went down as, whatever the
      # modifiers are now, and never releases the modifier keys held with it.
      # Not recorded itself: key_up_raw, which is, has decided already.
      def key_up_in_game(raw_key, modifier, sender = false)
        return nil if rcb_drop?(sender, false)
        rcb_inputs.keyboard.release_key(raw_key.to_i, QMX::KeyboardKeys.own_key_names(raw_key, modifier))
      end

      # Typed text is not recorded, so a replay gives none; text typed while
      # it runs is dropped like the rest of live input.
      def textinput(str)
        return nil if rcb_drop?(false, false)
        rcb_inputs.text << str
      end

      def mouse_move(mousex, mousey, sender = false)
        return nil if rcb_drop?(sender)
        @rcb_sender.record_input_history(:mouse_move, mousex, mousey, 2)
        mouse = rcb_inputs.mouse
        mouse.x = untransform_mouse_x(mousex)
        mouse.y = untransform_mouse_y(mousey)
        mouse.moved = true
        mouse.moved_at = Kernel.tick_count
        mouse.global_moved_at = Kernel.global_tick_count
      end

      def mouse_button_pressed(button, sender = false)
        return nil if rcb_drop?(sender) || !mouse_button?(button)
        @rcb_sender.record_input_history(:mouse_button_pressed, button, 0, 1)
        mouse = rcb_inputs.mouse
        update_mouse_buttons(mouse.button_bits | (1 << (button.to_i - 1)))
        mouse.click = QMX::MousePoint.new(mouse.x, mouse.y)
      end

      def mouse_button_up(button, sender = false)
        return nil if rcb_drop?(sender) || !mouse_button?(button)
        @rcb_sender.record_input_history(:mouse_button_up, button, 0, 1)
        mouse = rcb_inputs.mouse
        update_mouse_buttons(mouse.button_bits & ~(1 << (button.to_i - 1)))
        mouse.up = QMX::MousePoint.new(mouse.x, mouse.y)
      end

      def mouse_pressed(mousex, mousey, sender = false)
        mouse_button_pressed(1, sender)
      end

      def mouse_up(mousex, mousey, sender = false)
        mouse_button_up(1, sender)
      end

      # Several wheel events in one frame add up.
      def mouse_wheel(x, y, sender = false)
        return nil if rcb_drop?(sender)
        @rcb_sender.record_input_history(:mouse_wheel, x, y, 2)
        mouse = rcb_inputs.mouse
        wheel = mouse.wheel
        if wheel
          wheel.x += x
          wheel.y += y
        else
          wheel = QMX::OpenEntity.new
          wheel.x = x
          wheel.y = y
          mouse.wheel = wheel
        end
        wheel.created_at = Kernel.tick_count
        wheel.created_at_time = Kernel.global_tick_count
      end

      def update_mouse_buttons(newbuttons)
        mouse = rcb_inputs.mouse
        bits = newbuttons.to_i
        mouse.button_bits = bits
        mouse.button_left = bits & 1 != 0
        mouse.button_middle = bits & 2 != 0
        mouse.button_right = bits & 4 != 0
        mouse.button_x1 = bits & 8 != 0
        mouse.button_x2 = bits & 16 != 0
      end

      # Touches are not recorded: a recorded event carries two values and a
      # touch needs three, so a replay could not give them back. Those the
      # game gives itself act in a replay as they did while recording.
      def finger_down(touchid, touchx, touchy, sender = false)
        return nil if rcb_drop?(sender, false)
        inputs = rcb_inputs
        touch = inputs.touch[touchid]
        unless touch
          touch = QMX::FingerTouch.new
          inputs.touch[touchid] = touch
        end
        touch.moved = true
        touch.down_at = Kernel.tick_count
        touch.moved_at = Kernel.tick_count
        touch.x = untransform_mouse_x(touchx)
        touch.y = untransform_mouse_y(touchy)
        touch.touch_order = @rcb_sender.increase_touch_count
        touch.global_down_at = Kernel.global_tick_count
        touch.global_moved_at = Kernel.global_tick_count
        inputs.finger_one = touch if touch.touch_order == 0
        inputs.finger_two = touch if touch.touch_order == 1
        touch
      end

      def finger_move(touchid, touchx, touchy, sender = false)
        return nil if rcb_drop?(sender, false)
        touch = rcb_inputs.touch[touchid]
        return nil unless touch
        touch.moved = true
        touch.moved_at = Kernel.tick_count
        touch.x = untransform_mouse_x(touchx)
        touch.y = untransform_mouse_y(touchy)
        touch.global_moved_at = Kernel.global_tick_count
        touch
      end

      def finger_up(touchid, sender = false)
        return nil if rcb_drop?(sender, false)
        inputs = rcb_inputs
        touch = inputs.touch.delete(touchid)
        if touch
          inputs.finger_one = nil if touch.touch_order == 0
          inputs.finger_two = nil if touch.touch_order == 1
        end
        if inputs.touch.empty?
          @rcb_sender.reset_touch_count
          inputs.finger_one = nil
          inputs.finger_two = nil
        end
        nil
      end

      def controller_key_down(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_down, sender)
      end

      def controller_key_held(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_held, sender)
      end

      def controller_key_up(player_num, raw_key, sender = false)
        controller_key_event(player_num, raw_key, :key_up, sender)
      end

      def controller_key_event(player_num, raw_key, event, sender = false)
        return nil if rcb_drop?(sender)
        player_num = player_num.to_i
        # Replayed values arrive as Floats.
        label = RAW_CONTROLLER_KEY_LOOKUP.fetch(raw_key.to_i)
        controller = rcb_inputs.controllers[player_num - 1]
        case event
        when :key_down then controller.activate_down(label)
        when :key_held then controller.activate_held(label)
        when :key_up then controller.activate_up(label)
        else
          raise "  * ERROR:\n  Layout#set_key failed for player_num: #{player_num}, raw_key: #{raw_key}, event: #{event}.\n\n"
        end
        num_as_word = player_num == 1 ? :one : :two
        @rcb_sender.record_input_history(:"#{event}_player_#{num_as_word}", raw_key, 0, 1)
      end

      def key_down_player_one(raw_key, sender = false)
        controller_key_down(1, raw_key, sender)
      end

      def key_down_player_two(raw_key, sender = false)
        controller_key_down(2, raw_key, sender)
      end

      def key_held_player_one(raw_key, sender = false)
        controller_key_held(1, raw_key, sender)
      end

      def key_held_player_two(raw_key, sender = false)
        controller_key_held(2, raw_key, sender)
      end

      def key_up_player_one(raw_key, sender = false)
        controller_key_up(1, raw_key, sender)
      end

      def key_up_player_two(raw_key, sender = false)
        controller_key_up(2, raw_key, sender)
      end

      def left_analog_x_player_1(value, sender = false)
        rcb_analog(:left_analog_x_player_1, 0, :left_analog_x, false, value, sender)
      end

      def left_analog_y_player_1(value, sender = false)
        rcb_analog(:left_analog_y_player_1, 0, :left_analog_y, true, value, sender)
      end

      def right_analog_x_player_1(value, sender = false)
        rcb_analog(:right_analog_x_player_1, 0, :right_analog_x, false, value, sender)
      end

      def right_analog_y_player_1(value, sender = false)
        rcb_analog(:right_analog_y_player_1, 0, :right_analog_y, true, value, sender)
      end

      def left_analog_x_player_2(value, sender = false)
        rcb_analog(:left_analog_x_player_2, 1, :left_analog_x, false, value, sender)
      end

      def left_analog_y_player_2(value, sender = false)
        rcb_analog(:left_analog_y_player_2, 1, :left_analog_y, true, value, sender)
      end

      def right_analog_x_player_2(value, sender = false)
        rcb_analog(:right_analog_x_player_2, 1, :right_analog_x, false, value, sender)
      end

      def right_analog_y_player_2(value, sender = false)
        rcb_analog(:right_analog_y_player_2, 1, :right_analog_y, true, value, sender)
      end

      # Quarter steps: 8000 per step, +-1.0 at full deflection.
      def analog_to_perc(value)
        (value / 8000.0).to_i / 4.0
      end

      def window_keyboard_focus_changed(gained)
        rcb_inputs.keyboard.has_focus = gained
      end

      def window_mouse_focus_changed(gained)
        rcb_inputs.mouse.has_focus = gained
      end

      def current_fps(simulation_fps, rendering_fps)
        @current_framerate_calc = simulation_fps
        @current_framerate_render = rendering_fps
      end

      def background_color
        @rcb_sender.args.outputs.background_color
      end

      def rawjoystick_connected(jid, joystickname, guid)
        @rcb_sender.controller_config.rawjoystick_connected(jid, joystickname, guid)
      end

      def rawjoystick_disconnected(jid)
        @rcb_sender.controller_config.rawjoystick_disconnected(jid)
      end

      def rawjoystick_axis(jid, axis, value)
        @rcb_sender.controller_config.rawjoystick_axis(jid, axis, value)
      end

      def rawjoystick_hat(jid, hat, value)
        @rcb_sender.controller_config.rawjoystick_hat(jid, hat, value)
      end

      def rawjoystick_button(jid, button, pressed)
        @rcb_sender.controller_config.rawjoystick_button(jid, button, pressed)
      end

      # Every input as at start-up, window focus aside: a recording and its
      # replay begin from the same input whatever was held, and wherever the
      # mouse was, when each began. Sticks and held pad buttons are reported
      # again by the next frame's poll.
      def __reset_inputs__
        inputs = rcb_inputs
        inputs.keyboard.clear
        inputs.keyboard.forget_keys
        mouse = inputs.mouse
        mouse.clear
        mouse.x = 0
        mouse.y = 0
        mouse.moved_at = nil
        mouse.global_moved_at = nil
        mouse.previous_click = nil
        update_mouse_buttons(0)
        inputs.controllers.each do |controller|
          controller.clear
          [:left_analog_x, :left_analog_y, :right_analog_x, :right_analog_y].each do |axis|
            controller.send(:"#{axis}_raw=", 0)
            controller.send(:"#{axis}_perc=", 0)
          end
        end
        instance_variables.each do |ivar|
          instance_variable_set(ivar, nil) if ivar.to_s.start_with?("@previous_") && ivar.to_s.include?("_analog_")
        end
        inputs.touch.clear
        inputs.finger_one = nil
        inputs.finger_two = nil
        inputs.text.clear
        @rcb_sender.reset_touch_count
        nil
      end

      def untransform_mouse_x(mousex)
        @rcb_sender.args.grid.untransform_x(mousex)
      end

      def untransform_mouse_y(mousey)
        @rcb_sender.args.grid.untransform_y(mousey)
      end

      def c_bridge_init(__sender)
        @rcb_sender = __sender
      end

      def print_help_when_mouse_clicked
        mouse = rcb_inputs.mouse
        mouse.click
        mouse.previous_click
        nil
      end

      private

      def rcb_inputs
        @rcb_sender.args.inputs
      end

      def mouse_button?(button)
        button.is_a?(Numeric) && button >= MOUSE_BUTTONS.first && button < MOUSE_BUTTONS.last + 1
      end

      # While a replay runs, input from anyone but the replay is dropped,
      # except what the game's own code gives itself, which acts as it did
      # while recording.
      def rcb_drop?(sender, recorded_kind = true)
        return false if sender == :replay
        recording = @rcb_sender.recording
        recording.is_replaying? && !recording.__game_input_acts__?(recorded_kind)
      end

      # Sticks report only a change of at least a thousand (a cut towards
      # zero), so resting noise never reaches the game; y is turned upwards.
      def rcb_analog(name, controller_index, attribute, invert, value, sender)
        return nil if rcb_drop?(sender)
        value = value.idiv(1000) * 1000
        previous = :"@previous_#{name}"
        return nil if instance_variable_get(previous) == value
        instance_variable_set(previous, value)
        @rcb_sender.record_input_history(name, value, 0, 1)
        value = -value if invert
        controller = rcb_inputs.controllers[controller_index]
        controller.send(:"#{attribute}_raw=", value)
        controller.send(:"#{attribute}_perc=", analog_to_perc(value))
        value
      end
    end
  end
end
