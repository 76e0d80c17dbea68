# What the runtime tells a game author whose frame rate dropped: the
# counters of the last tick, the primitive counts, and an on-screen panel.
module QMX
  class Runtime
    module FramerateDiagnostics
      def framerate_get_diagnostics
        outputs = @args.outputs
        counts = [:solids, :sprites, :primitives, :labels, :lines, :borders, :debug, :reserved].map do |name|
          static = outputs.send(:"static_#{name}")
          "  #{name.to_s.ljust(11)} #{outputs.send(name).length}, #{static.length}"
        end

        <<~TEXT
          * INFO: Framerate Diagnostics
          You can display these diagnostics on screen by adding the following
          at the end of your tick method:

          #+begin_src
            args.outputs.debug << args.qmx.framerate_diagnostics_primitives
          #+end_src

          ** Draw Calls: ~<<~ Invocation Perf Counter
            #{$perf_counter_outputs_push_count} times invoked.

          Each ~<<~ on an output collection has a cost. Push whole collections
          once instead of one primitive at a time.

          #+begin_src
            # Before: one push per star
            args.state.stars.each { |s| args.outputs.sprites << s.sprite }

            # After: one push for all of them
            args.outputs.sprites << args.state.stars.map(&:sprite)
          #+end_src

          ** Array Primitives
            #{$perf_counter_primitive_is_array} Array Primitives.

          Primitives given as Arrays are converted every frame. Hashes are
          drawn as they are.

          #+begin_src
            # Before
            args.outputs.solids << [10, 10, 50, 50, 255, 0, 0]

            # After
            args.outputs.solids << { x: 10, y: 10, w: 50, h: 50, r: 255 }
          #+end_src

          ** Primitive Counts
            PRIMITIVE   COUNT, STATIC COUNT
          #{counts.join("\n")}

          ** Additional Help
          Run the game with the console open ($qmx.show_console) and call
          $qmx.framerate_diagnostics again after each change to compare the
          counters. The code that prints this report lives in the framework's
          runtime/framerate_diagnostics.rb.
        TEXT
      end

      def framerate_warning_message
        "* WARNING:\nYour average framerate dropped below 60 fps for two seconds.\n\nThe average FPS was #{current_framerate}.\n\n** How To Disable Warning\nIf this warning is getting annoying put the following in your tick method:\n\n#+begin_src\n  args.qmx.log_level = :off\n#+end_src\n\n#{framerate_get_diagnostics}\n"
      end

      def current_framerate_primitives
        framerate_diagnostics_primitives
      end

      # A translucent panel in the top-left corner with the live counters.
      def framerate_diagnostics_primitives
        top = @logical_height
        lines = [
          "More Info via Vellumcore Console: $qmx.framerate_diagnostics",
          format("FPS: %.2f", current_framerate),
          "Draw Calls: #{$perf_counter_outputs_push_count}",
          "Array Primitives: #{$perf_counter_primitive_is_array}",
          "Mouse: #{@args.inputs.mouse.point}"
        ]
        panel = [{ x: 0, y: top - 93, w: 500, h: 93, r: 0, g: 0, b: 0, a: 128, primitive_marker: :solid }]
        lines.each_with_index do |text, i|
          panel << { x: 5, y: top - (5 + 15 * i), text: text, size_enum: -2,
                     r: 255, g: 255, b: 255, primitive_marker: :label }
        end
        panel
      end
    end
  end
end
