# Names of removed runtime settings and methods: each raises with a message
# that names what to use instead.
module QMX
  class Runtime
    module Deprecated
      def current_framerate_raw
        raise "  * ERROR:\n  current_framerate_raw has been deprecated, use current_framerate instead.\n\n"
      end

      def suppress_print_help_when_mouse_clicked
        raise "* ERROR: qmx.suppress_print_help_when_mouse_clicked has been deprecated. Use qmx.log_level which can have the value of :on or :off."
      end

      def suppress_framerate_warning
        raise "* ERROR: qmx.suppress_framerate_warning has been deprecated. Use qmx.log_level which can have the value of :on or :off."
      end

      def suppress_print_help_when_mouse_clicked=(value)
        raise "* ERROR: qmx.suppress_print_help_when_mouse_clicked has been deprecated. Use qmx.log_level = :off."
      end

      def suppress_framerate_warning=(value)
        raise "* ERROR: qmx.suppress_framerate_warning has been deprecated. Use qmx.log_level = :off."
      end

      def on_ticks
        raise "* ERROR: qmx.on_ticks has been deprecated. Use qmx.scheduled_callbacks instead."
      end

      def on_tick(*args)
        raise "* ERROR: qmx.on_tick TICKCOUNT { BLOCK } has been deprecated. Use qmx.schedule_callback TICKCOUNT { BLOCK } instead."
      end

      def take_screenshot=(value)
        raise "* ERROR: qmx.take_screenshot= has been deprecated. Instead do: args.outputs.screenshots << [0, 0, 1280, 720 'screenshot.png']."
      end
    end
  end
end
