# Measures how many pipeline steps run per second, checks it once per step
# and warns the game author when it drops.
module QMX
  class Runtime
    module Framerate
      # The average is only judged after this many checks (two seconds).
      FRAMERATE_CHECKS_BEFORE_WARNING = 60 * 2

      def framerate_init
        @tick_time = framerate_clock
      end

      def delta_framerate
        (current_framerate || 0) - (@previous_framerate || 0)
      end

      def reset_framerate_calculation
        @tick_speed_sum = 0
        @tick_speed_count = 0
        @previous_framerate = 0
      end

      def check_framerate
        if @framerate_diagnostics_requested
          log "================================"
          log framerate_get_diagnostics
          @framerate_diagnostics_requested = false
        end

        if @paused
          reset_framerate_calculation
          return
        end

        now = framerate_clock
        if @tick_time
          @tick_speed_count += 1
          @tick_speed_sum += now - @tick_time
          if @tick_speed_count > FRAMERATE_CHECKS_BEFORE_WARNING
            if framerate_below_threshold?
              @last_framerate = current_framerate
              unless @console.visible?
                if @framerate_important_notification_happened
                  log framerate_warning_message
                else
                  @framerate_important_notification_happened = true
                  log_important framerate_warning_message
                end
              end
            end
            @previous_framerate = current_framerate.floor
          end
        end
        @tick_time = now
      rescue StandardError
        reset_framerate_calculation
      end

      def framerate_diagnostics
        @framerate_diagnostics_requested = true
      end

      def framerate_below_threshold?
        average = current_framerate
        average < (@last_framerate || 60) &&
          average < 50 &&
          average < (@previous_framerate || 0) &&
          Kernel.tick_count > 600
      end

      # Checks per whole second since the last reset; 60 until a whole second
      # has passed, and for anything above 58.
      def current_framerate
        return 60 if @tick_speed_sum.nil? || @tick_speed_sum == 0 || @tick_speed_count.to_i == 0
        rate = 100.0 / ((@tick_speed_sum.to_f / @tick_speed_count) * 100)
        return 60 if rate.nan? || rate.infinite? || rate > 58
        rate
      rescue StandardError
        60
      end

      # Whole seconds of the wall clock.
      def framerate_clock
        Time.now.to_i
      end
    end
  end
end
