module QMX
  class Console
    # The row of buttons in the top right corner of the open console: the
    # developer's most frequent actions within one click. It starts
    # collapsed to "show menu"; a production build offers only recording and
    # replay.
    class Menu
      attr_accessor :buttons

      def initialize(console)
        @console = console
        @menu_shown = nil
        @buttons = []
      end

      def record_clicked
        $recording.start(100)
      end

      def replay_clicked
        $replay.start("replay.txt")
      end

      def reset_clicked
        $qmx.reset
      end

      def scroll_up_clicked
        @console.scroll_up_half
      end

      def scroll_down_clicked
        @console.scroll_down_half
      end

      def show_menu_clicked
        @menu_shown = :visible
      end

      def close_clicked
        @menu_shown = :hidden
        @console.hide
      end

      def hide_menu_clicked
        @menu_shown = :hidden
      end

      def framerate_diagnostics_clicked
        @console.scroll_to_bottom
        $qmx.framerate_diagnostics
      end

      def itch_wizard_clicked
        @console.scroll_to_bottom
        $wizards.itch.start
      end

      def docs_clicked
        @console.scroll_to_bottom
        log(Kernel.docs_classes)
      end

      def scroll_end_clicked
        @console.scroll_to_bottom
      end

      # A game may redefine this to add buttons (made with `button`) to the
      # full menu.
      def custom_buttons
        []
      end

      FULL_MENU = [
        [0, 6, :scroll_up, "scroll up", :scroll_up_clicked],
        [0, 7, :scroll_down, "scroll down", :scroll_down_clicked],
        [0, 8, :scroll_down, "scroll end", :scroll_end_clicked],
        [0, 9, :close, "close console", :close_clicked],
        [0, 10, :hide, "hide menu", :hide_menu_clicked],
        [1, 7, :record, "record gameplay", :record_clicked],
        [1, 8, :replay, "start replay", :replay_clicked],
        [1, 9, :record, "framerate diagnostics", :framerate_diagnostics_clicked],
        [1, 10, :reset, "reset game", :reset_clicked],
        [2, 10, :reset, "docs", :docs_clicked],
        [2, 9, :reset, "itch wizard", :itch_wizard_clicked]
      ].freeze

      PRODUCTION_MENU = [
        [0, 9, :record, "record gameplay", :record_clicked],
        [0, 10, :replay, "start replay", :replay_clicked]
      ].freeze

      COLLAPSED_MENU = [[0, 10, :show_menu, "show menu", :show_menu_clicked]].freeze

      def tick(args)
        return unless @console.visible?
        @menu_shown ||= :hidden
        layout = if $qmx.production
                   PRODUCTION_MENU
                 elsif @menu_shown == :hidden
                   COLLAPSED_MENU
                 else
                   FULL_MENU
                 end
        @buttons = layout.map do |row, col, id, text, method|
          button(id: id, row: row, col: col, text: text, method: method)
        end
        @buttons += custom_buttons unless $qmx.production || @menu_shown == :hidden
        @buttons.each { |b| b[:primitives].each { |primitive| args.outputs.reserved << primitive } }

        mouse = args.inputs.mouse
        return unless mouse.click
        clicked = @buttons.find { |b| mouse.inside_rect?(b[:rect]) }
        return unless clicked
        # The click is the menu's, not the game's.
        mouse.click = nil
        send(clicked[:method])
      end

      # Buttons hang from the top edge of the screen and do not move with the
      # sliding panel. Both coordinates come from the grid, so that they stay
      # on the screen, and under the mouse, whichever origin the game uses.
      def rect_for_layout(row, col)
        grid = $qmx.args.grid
        { x: grid.left + 5 + col * 100 + col * 5, y: grid.top - (5 + row * 50 + row * 5 + 50), w: 100, h: 50 }
      end

      def button(args)
        rect = rect_for_layout(args[:row], args[:col])
        half_line = @console.font_style.line_height_px / 2
        primitives = [rect.merge(r: 0, g: 0, b: 0, a: 164, primitive_marker: :solid),
                      rect.merge(r: 255, g: 255, b: 255, primitive_marker: :border)]
        args[:text].wrapped_lines(5).each_with_index do |line, i|
          primitives << [rect[:x] + rect[:w] / 2, rect[:y] + rect[:h] / 2 + half_line - i * (half_line + 2),
                         line.strip, -3, 1, 255, 255, 255].label
        end
        { id: args[:id], rect: rect, text: args[:text], method: args[:method], primitives: primitives }
      end

      # Saved game state leaves the menu out.
      def serialize
        { not_supported: "#{self}" }
      end
    end
  end
end
