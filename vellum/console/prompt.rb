module QMX
  class Console
    # The console's one-line editor: the marker, the text being typed and a
    # cursor, with word jumps and Tab completion of method names.
    class Prompt
      # What ends a word for Ctrl+Left/Right. The underscore is among them so
      # that a jump stops inside snake_case names.
      WORD_LIMITER_CHARS = ["`", "~", "!", "@", "#", "$", "%", "^", "&", "*", "-", "=", "+", "(", ")", "[", "]",
                            "{", "}", "|", ";", ":", "'", "\"", ",", ".", "<", ">", "/", "?", "_", " ", "\t",
                            "\n", "\0"].freeze

      attr_accessor :font_style, :console_text_width, :last_input_str, :last_input_str_changed
      attr_reader :current_input_str

      def initialize(font_style:, text_color:, console_text_width:)
        @prompt = "-> "
        @current_input_str = ""
        @font_style = font_style
        @text_color = text_color
        @console_text_width = console_text_width
        @cursor_color = Color.new([187, 21, 6])
        @cursor_position = 0
        @current_input_changed_at = nil
        @last_input_str = ""
        @last_input_str_changed = false
        reset_autocomplete
        update_cursor_position_px
      end

      def update_cursor_position_px
        text = @prompt + @current_input_str[0, @cursor_position]
        @cursor_position_px = $qmx.calcstringbox(text, font_style.size_enum, font_style.font)[0]
      end

      # Text set from outside: no typing is recorded and a completion under
      # way goes on from it.
      def current_input_str=(str)
        @current_input_str = str.to_s
        @cursor_position = @current_input_str.length
        update_cursor_position_px
      end

      def <<(str)
        str = str.to_s
        @current_input_str = @current_input_str[0, @cursor_position] + str + @current_input_str[@cursor_position..-1]
        @cursor_position += str.length
        @current_input_changed_at = Kernel.global_tick_count
        reset_autocomplete
        update_cursor_position_px
        self
      end

      def backspace
        return if @current_input_str.empty? || @cursor_position <= 0
        start = previous_char_start(@cursor_position)
        @current_input_str = @current_input_str[0, start] + @current_input_str[@cursor_position..-1]
        @cursor_position = start
        reset_autocomplete
        update_cursor_position_px
      end

      def delete
        return if @current_input_str.empty? || @cursor_position >= str_len
        move_cursor_right
        backspace
      end

      def move_cursor_left
        @cursor_position = previous_char_start(@cursor_position) if @cursor_position > 0
        update_cursor_position_px
      end

      # Lands at the start of the current word, or, from a delimiter, right
      # after the previous word.
      def move_cursor_left_word
        return if @cursor_position == 0
        p = @cursor_position - 1
        inside_delimiters = is_word_boundary?(@current_input_str[p])
        p -= 1 while p > 0 && is_word_boundary?(@current_input_str[p - 1]) == inside_delimiters
        @cursor_position = p
        update_cursor_position_px
      end

      def move_cursor_right
        @cursor_position = next_char_start(@cursor_position) if @cursor_position < str_len
        update_cursor_position_px
      end

      def move_cursor_right_word
        return if @cursor_position >= str_len
        p = @cursor_position + 1
        inside_delimiters = is_word_boundary?(@current_input_str[p])
        p += 1 while p < str_len && is_word_boundary?(@current_input_str[p]) == inside_delimiters
        @cursor_position = p
        update_cursor_position_px
      end

      def move_cursor_home
        @cursor_position = 0
        update_cursor_position_px
      end

      def move_cursor_end
        @cursor_position = str_len
        update_cursor_position_px
      end

      def clear
        @current_input_str = ""
        @cursor_position = 0
        reset_autocomplete
        update_cursor_position_px
      end

      # Tab: the first press lists the receiver's names that start with what
      # was typed after the last period; each further press puts the next of
      # them into the prompt.
      def autocomplete
        if @last_autocomplete_prefix.nil?
          prefix = calc_autocomplete_prefix
          candidates = method_candidates(prefix)
          @last_autocomplete_prefix = prefix
          puts("* AUTOCOMPLETE CANDIDATES: #{current_input_str}..")
          pretty_print_strings_as_table(candidates)
        else
          candidates = method_candidates(@last_autocomplete_prefix)
          return if candidates.empty?
          # The receiver is evaluated anew each time and may offer fewer names.
          candidate = candidates[@next_candidate_index % candidates.length]
          candidate = "#{candidate[0..-2]} = " if candidate.end_with?("=")
          @next_candidate_index = (@next_candidate_index + 1) % candidates.length
          self.current_input_str = display_autocomplete_candidate(candidate)
        end
      rescue Exception => e
        puts("* BUG: Tab autocompletion failed. Let us know about this.\n#{e}")
      end

      def pretty_print_strings_as_table(items)
        if items.empty?
          puts("+--------+\n| (none) |\n+--------+")
          return
        end
        string_width = items.map(&:length).max
        cell_width = string_width + 2
        column_width = string_width + 4
        columns = [console_text_width.to_i / column_width, items.length].min
        # A name wider than the console still gets a column of its own.
        columns = 1 if columns < 1
        separator = pretty_print_row_seperator(string_width, cell_width, column_width, columns)
        items.each_slice(columns) do |cells|
          puts(separator)
          puts(pretty_print_row(cells, string_width, cell_width, column_width, columns))
        end
        puts(separator)
      end

      def pretty_print_row(cells, string_width, cell_width, column_width, columns)
        padded = cells + [""] * (columns - cells.length)
        row = "|" + padded.map { |cell| " " * (string_width - cell.length) + " " + cell + " |" }.join
        # Empty cells of a short last row show no bars between them.
        row.gsub("  |  ", "     ")
      end

      def pretty_print_row_seperator(string_width, cell_width, column_width, columns)
        "+" + ("-" * cell_width + "+") * columns
      end

      def render(args, x:, y:)
        reserved = args.outputs.reserved
        reserved << font_style.label(x: x, y: y, text: @prompt + @current_input_str, color: @text_color)
        cursor_x = x + @cursor_position_px
        top = y + font_style.letter_size[1] + 5
        [0.5, 1].each do |offset|
          reserved << { x: cursor_x + offset, y: y + 5, x2: cursor_x + offset, y2: top,
                        primitive_marker: :line }.merge(@cursor_color.to_h)
        end
      end

      # The change flag is up for one frame, the frame after text was typed
      # or pasted.
      def tick
        changed_at = @current_input_changed_at
        if changed_at && changed_at < Kernel.global_tick_count && @current_input_str != @last_input_str
          @last_input_str_changed = true
          @last_input_str = @current_input_str.dup
          @current_input_changed_at = nil
        else
          @last_input_str_changed = false
        end
      end

      private

      def last_period_index
        @current_input_str.rindex(".")
      end

      def calc_autocomplete_prefix
        at = last_period_index
        at ? @current_input_str[(at + 1)..-1] : @current_input_str
      end

      # What the text before the last period names; Kernel without one.
      def current_object
        at = last_period_index
        return Kernel unless at
        begin
          Kernel.eval(@current_input_str[0, at])
        rescue NameError
          nil
        end
      end

      def method_candidates(prefix)
        current_object.autocomplete_methods.map(&:to_s).select { |name| name.start_with?(prefix) }
      end

      def display_autocomplete_candidate(candidate)
        at = last_period_index
        at ? @current_input_str[0, at + 1] + candidate : candidate
      end

      def reset_autocomplete
        @last_autocomplete_prefix = nil
        @next_candidate_index = 0
      end

      def is_word_boundary?(char)
        !char.nil? && WORD_LIMITER_CHARS.include?(char)
      end

      def str_len
        @current_input_str.length
      end

      # Strings are bytes here: a step covers a whole UTF-8 character, so
      # editing never leaves half of one in the text.
      def previous_char_start(position)
        position -= 1
        position -= 1 while position > 0 && continuation_byte?(position)
        position
      end

      def next_char_start(position)
        position += 1
        position += 1 while position < str_len && continuation_byte?(position)
        position
      end

      def continuation_byte?(position)
        byte = @current_input_str.getbyte(position)
        !byte.nil? && (byte & 0xC0) == 0x80
      end
    end
  end
end
