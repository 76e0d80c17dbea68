# The developer console: an overlay that slides down over the running game,
# shows everything the game and the engine print, evaluates one line of Ruby
# at a time inside the game, keeps the commands across runs and shows short
# toasts that open it by themselves. All time is counted in global ticks, so
# the console keeps working while the game is paused or reset.
module QMX
  class Console
    include ConsoleDeprecated

    attr_accessor :show_reason, :log, :logo, :background_color, :text_color, :animation_duration,
                  :max_log_lines, :max_history, :last_command_errored, :last_command, :error_color,
                  :shown_at, :header_color, :archived_log, :last_log_lines, :last_log_lines_count,
                  :command_set_at, :toast_ids, :bottom, :font_style, :menu

    QUIT_COMMANDS = ["quit", ":wq", ":q!", ":q", ":wqa"].freeze
    TOAST_DEFAULT_DURATION = 300
    # A toast keeps other toasts out for this long, whatever its own duration.
    TOAST_EXCLUSIVE_TICKS = 300
    FATAL_TEXT = "* FATAL: The QMX::Console console threw an unhandled exception and has been reset. You should report this exception (along with reproduction steps) to Vellumcore.".freeze
    # Where the console's clock starts while the global tick count waits for
    # the game's main file: far below any global tick, so that time still
    # only moves forward once the game loads.
    BEFORE_LOAD_CLOCK_START = -(1 << 40)
    # An input method may deliver the toggle key's character up to this many
    # frames after the key itself; it is not typed then either.
    TOGGLE_TEXT_LATE_FRAMES = 10

    def initialize
      @font_style = FontStyle.new(font: "font.ttf", size_enum: -1, line_height: 1.1)
      @menu = Menu.new(self)
      @disabled = false
      @log_offset = 0
      @visible = false
      @toast_ids = []
      @archived_log = []
      @log = ["Console ready."]
      @max_log_lines = 1000
      @max_history = 1000
      @command_history = []
      @command_history_index = -1
      @nonhistory_input = ""
      @logo = "console-logo.png"
      @history_fname = "console_history.txt"
      @background_color = Color.new([0, 0, 0, 224])
      @text_color = Color.new([255, 255, 255])
      @error_color = Color.new([200, 50, 50])
      @header_color = Color.new([100, 200, 220])
      @animation_duration = 60
      @shown_at = -1
      @frames_before_load = 0
      @late_toggle_chars = []
      load_history
    end

    # Characters per console line. Text measured without a font at hand
    # (an interpreter with no renderer) is 0 wide, which must not stop the
    # runtime from starting.
    def console_text_width
      @console_text_width ||= ((w - 20) / [font_style.letter_size[0], 1].max).to_i
    end

    # Oldest first, one command a line; never more than the history keeps.
    # A released game leaves no history in its player's folder.
    def save_history
      return if $qmx.production
      $qmx.write_file_root(@history_fname, @command_history.first(@max_history).reverse.join("\n"))
    end

    # The file's last line is the newest command. A file that grew past the
    # bound gives its newest commands, each once.
    def load_history
      @command_history = []
      text = $qmx.read_file(@history_fname)
      return unless text
      newest_first = []
      text.each_line do |line|
        line = line.chomp
        line = line[0..-2] while line.end_with?("\r")
        newest_first << line unless line.empty?
      end
      @command_history = newest_first.reverse.uniq.first(@max_history)
    end

    def disable
      @disabled = true
    end

    def enable
      @disabled = false
    end

    # An image logged every frame updates one entry instead of filling the log.
    def add_sprite(obj)
      obj[:id] ||= :"id_#{obj[:path]}_#{Time.now.to_i}"
      at = last_sprite_index
      if at && @last_sprite[:id] == obj[:id]
        @log[at] = obj
      else
        @log << obj
      end
      @last_sprite = obj
      nil
    end

    def add_primitive(obj)
      obj.is_a?(Hash) ? add_sprite(obj) : add_text(obj)
      nil
    end

    # A text printed again right after itself shows once, with a count.
    def add_text(obj)
      lines = obj.to_s.wrapped_lines(console_text_width)
      return nil if lines.empty?
      # Only while the log still ends with the earlier copy: a hide, a clear
      # or a sprite in between starts a new entry.
      if lines == @last_log_lines && @log.last(lines.length) == repeated_lines
        @log = @log[0, @log.length - lines.length]
        @last_log_lines_count += 1
        @log.concat(repeated_lines)
      else
        lines.each do |line|
          @log.shift if @log.length > @max_log_lines
          @log << line
        end
        @last_log_lines = lines
        @last_log_lines_count = 1
      end
      nil
    end

    def ready?
      visible? && @toggled_at + animation_duration < now
    end

    def hidden?
      !@visible
    end

    def visible?
      @visible
    end

    def open(reason = nil)
      show(reason)
    end

    def show(reason = nil)
      @shown_at = now
      @show_reason = reason
      toggle if hidden?
    end

    # Closing for good: the log goes to the archive, the reason and the
    # toast are forgotten.
    def hide
      return unless visible?
      toggle
      @archived_log.concat(@log)
      excess = @archived_log.length - @max_log_lines
      @archived_log = @archived_log[excess..-1] if excess > 0
      @log = []
      @show_reason = nil
      clear_toast
    end

    def close
      hide
    end

    def clear_toast
      @toasted_at = nil
      @toast_duration = 0
    end

    # Opening always shows the newest output, whatever was scrolled before.
    def toggle
      @visible = !@visible
      @toggled_at = now
      return unless @visible
      @log_offset = 0
      @inertia = 0
    end

    def currently_toasting?
      visible? && @show_reason == :toast && !@toasted_at.nil? && @toasted_at + TOAST_EXCLUSIVE_TICKS >= now
    end

    def toast_extended(id = nil, duration = nil, *messages)
      raise toast_signature_error unless id.is_a?(Symbol)
      return nil if currently_toasting? || @toast_ids.include?(id)
      @toasted_at = now
      log_once_info(:perma_toast_tip, "Use console.perma_toast to show the toast for longer.")
      default_duration = TOAST_DEFAULT_DURATION
      add_text("* toast :#{id}")
      puts("* TOAST: :#{id}")
      messages.each do |message|
        default_duration += 60 * message.to_s.wrapped_lines(console_text_width).length
        add_text("** #{message}")
        puts("** #{message}")
      end
      show(:toast)
      @toast_duration = (@toast_duration || 0) + (duration || default_duration)
      @toast_ids << id
      # Enter dismisses the toast.
      set_command("$qmx.console.hide", :toast)
      nil
    end

    def perma_toast(id = nil, messages)
      toast_extended(id, 36_000, *(messages.is_a?(Array) ? messages : [messages]))
    end

    def toast(id = nil, *messages)
      toast_extended(id, nil, *messages)
    end

    def console_toggle_keys
      [:backtick!, :tilde!, :superscript_two!, :section_sign!, :ordinal_indicator!, :circumflex!]
    end

    # Reading the "!" names clears the keys, so the game never sees them.
    def console_toggle_key_down?(args)
      args.inputs.keyboard.key_down.any?(console_toggle_keys)
    end

    def forget_toggle_character(key_down)
      char = key_down.char
      return unless char && console_toggle_keys.include?(:"#{QMX::KeyboardKeys.char_to_method(char).first}!")
      key_down.clear_key(:char)
      key_down.clear_key(:raw_key)
    end

    # Each press of a toggle key takes away one of its characters, in this
    # frame or one of the next few, the oldest press's first: pressed twice
    # before the first character arrives, the key leaves neither behind.
    def drop_late_toggle_text(text)
      frame = $qmx.__frame_count__
      @late_toggle_chars = @late_toggle_chars.reject do |char, last_frame|
        next true if frame > last_frame
        at = text.index(char)
        text.delete_at(at) if at
        !at.nil?
      end
    end

    # The interpreter's message for a wrong argument count does not name the
    # method, so the name comes from the command that failed.
    def try_search_docs(exception)
      @last_command_errored = true
      return unless exception.to_s.include?("wrong number of arguments")
      method_name = called_method_name(@last_command.to_s)
      return if method_name.empty? || method_name.include?(" ")
      results = Kernel.__docs_search_results__(method_name)
      return if results.nil? || results.empty?
      puts(results.join("\n"))
      puts("* INFO: #{results.length} matches(s) found in DOCS for ~#{method_name}~ (see above).\nYou can search the documentation yourself using the following command in the Console:\n#+begin_src ruby\n  docs_search \"#{method_name}\"\n#+end_src\n")
      log_once_info(:exported_search_results, "The search results above has been seen in logs/puts.txt and docs/search_results.txt.")
    rescue Exception => se
      puts("* FATAL: ~QMX::Console#try_search_docs~\nThere was an exception searching for docs (~QMX::Console#try_search_docs~). You might want to let Vellumcore know about this.\n** INNER EXCEPTION\n#{se}\n")
    end

    # Enter. Commands run at the game's top level, where its own files run,
    # so `def tick args ... end` typed here replaces the game's tick.
    def eval_the_set_command
      cmd = current_input_str.strip
      return if cmd.empty?
      scroll_to_bottom
      prompt.clear
      @command_history.pop while @command_history.length >= @max_history
      @command_history.unshift(cmd)
      @command_history_index = -1
      @nonhistory_input = ""
      if QUIT_COMMANDS.include?(cmd)
        $qmx.request_quit
        return
      end
      puts("-> #{cmd}")
      @last_command = cmd
      # The line break lets a command end in a comment.
      $qmx.ffi_mrb.eval("$results = (#{cmd}\n)")
      if $results.nil?
        puts("=> nil")
      elsif !(:console_silent_eval == $results)
        puts("=> #{$results}")
      end
      @last_command_errored = false
    rescue Exception => e
      # A SyntaxError is no StandardError: one typo must not end the console.
      try_search_docs(e)
      puts("* EXCEPTION: #{e}")
    end

    def inputs_scroll_up_full?(args)
      return false if @disabled
      keyboard = args.inputs.keyboard
      !!(keyboard.key_down.pageup || keyboard.ctrl_b)
    end

    def scroll_to_bottom
      @log_offset = 0
    end

    def scroll_up_full
      @log_offset = [@log_offset + lines_on_one_page, @log.length].min
    end

    def inputs_scroll_up_half?(args)
      return false if @disabled
      !!args.inputs.keyboard.ctrl_u
    end

    def scroll_up_half
      @log_offset = [@log_offset + lines_on_one_page / 2, @log.length].min
    end

    def inputs_scroll_down_full?(args)
      return false if @disabled
      keyboard = args.inputs.keyboard
      !!(keyboard.key_down.pagedown || keyboard.ctrl_f)
    end

    def scroll_down_full
      @log_offset = [@log_offset - lines_on_one_page, 0].max
    end

    def inputs_scroll_down_half?(args)
      return false if @disabled
      !!args.inputs.keyboard.ctrl_d
    end

    def inputs_clear_command?(args)
      return false if @disabled
      keyboard = args.inputs.keyboard
      !!(keyboard.escape || keyboard.ctrl_g)
    end

    def scroll_down_half
      @log_offset = [@log_offset - lines_on_one_page / 2, 0].max
    end

    # The wheel scrolls with momentum; a click stops it at once.
    def mouse_wheel_scroll(args)
      mouse = args.inputs.mouse
      wheel = mouse.wheel
      if wheel && wheel.y > 0
        @inertia = 1
      elsif wheel && wheel.y < 0
        @inertia = -1
      end
      @inertia = 0 if mouse.click
      return if @inertia.nil? || @inertia == 0
      @inertia *= 0.7
      @log_offset += @inertia > 0 ? -1 : 1
      @inertia = 0 if @inertia.abs < 0.01
      @log_offset = @log_offset.clamp(0, @log.length)
    end

    # While open, the console takes the whole keyboard.
    def process_inputs(args)
      inputs = args.inputs
      if console_toggle_key_down?(args)
        # The key's own character is not typed, nor seen by the game when
        # the key closes the console, whichever frame it arrives in.
        char = inputs.keyboard.key_down.char
        @late_toggle_chars << [char, $qmx.__frame_count__ + TOGGLE_TEXT_LATE_FRAMES] if char
        drop_late_toggle_text(inputs.text)
        inputs.text.clear
        forget_toggle_character(inputs.keyboard.key_down)
        toggle
      else
        drop_late_toggle_text(inputs.text)
      end
      return unless visible?
      inputs.text.each { |str| prompt << str }
      inputs.text.clear
      mouse_wheel_scroll(args)
      @log_offset = 0 if @log_offset < 0
      keyboard = inputs.keyboard
      down = keyboard.key_down
      if down.enter
        eval_the_set_command
      elsif down.v
        prompt << ($qmx.ffi_misc.getclipboard || "") if down.control || down.meta
      elsif down.home
        prompt.move_cursor_home
      elsif down.end
        prompt.move_cursor_end
      elsif down.up
        history_back
      elsif down.down
        history_forward
      elsif down.left
        down.control ? prompt.move_cursor_left_word : prompt.move_cursor_left
      elsif down.right
        down.control ? prompt.move_cursor_right_word : prompt.move_cursor_right
      elsif inputs_scroll_up_full?(args)
        scroll_up_full
      elsif inputs_scroll_down_full?(args)
        scroll_down_full
      elsif inputs_scroll_up_half?(args)
        scroll_up_half
      elsif inputs_scroll_down_half?(args)
        scroll_down_half
      elsif inputs_clear_command?(args)
        prompt.clear
        @command_history_index = -1
        @nonhistory_input = ""
      elsif down.backspace
        prompt.backspace
      elsif down.delete
        prompt.delete
      elsif down.tab
        prompt.autocomplete
      end
      keyboard.key_down.clear
      keyboard.key_up.clear
      keyboard.key_held.clear
    end

    # Answers the height the entry took.
    def write_primitive_and_return_offset(args, left, y, str, archived: false)
      if str.is_a?(Hash)
        args.outputs.reserved << [left + 10, y + 5, str[:w], str[:h], str[:path]].sprite
        str[:h] + 10
      else
        write_line(args, left, y, str, archived: archived)
        line_height_px
      end
    end

    def write_line(args, left, y, str, archived: false)
      color = color_for_log_entry(str)
      color = color.mult_alpha(0.5) if archived
      args.outputs.reserved << font_style.label(x: left + 10, y: y, text: str, color: color)
    end

    def should_tick?
      return false if @toggled_at.nil? || @disabled || slide_progress == 0
      visible?
    end

    # The panel, the logo, the prompt, the log newest first up from the
    # prompt and, above it, the dimmed archive of earlier openings.
    def render(args)
      return if @toggled_at.nil?
      progress = slide_progress
      return if progress == 0
      reserved = args.outputs.reserved
      @bottom = top - h * progress
      reserved << [left, @bottom, w, h, *@background_color.mult_alpha(progress).to_a].solid
      reserved << [right - 110, @bottom + 630, 100, 100, logo, 0, (80.0 * progress).to_i].sprite
      y = @bottom + 2
      prompt.render(args, x: left + 10, y: y)
      y += 1.5 * line_height_px
      reserved << line(y: y, color: @text_color.mult_alpha(progress))
      y += line_height_px / 2
      y = render_entries(args, @log, y, false)
      reserved << line(y: y + line_height_px / 2, color: @text_color.mult_alpha(0.25 * progress))
      y += line_height_px
      render_entries(args, @archived_log, y, true)
      render_log_offset(args)
    end

    def render_log_offset(args)
      return unless @log_offset > 0
      args.outputs.reserved << font_style.label(x: right - 5, y: top - (5 + line_height_px),
                                                text: "[#{@log_offset}/#{@log.size}]",
                                                color: @text_color, alignment_enum: 2)
    end

    def include_error_marker?(text)
      include_any_words?(text.gsub("OutputsDeprecated", ""), error_markers)
    end

    def error_markers
      ["exception:", "error:", "undefined method", "failed", "syntax", "deprecated"]
    end

    def include_subdued_markers?(text)
      include_any_words?(text, subdued_markers)
    end

    # A marker right after a colon is a Symbol, not a message.
    def include_any_words?(text, words)
      lower = text.downcase
      words.any? { |word| lower.include?(word) && !lower.include?(":#{word}") }
    end

    def subdued_markers
      ["reloaded", "exported the", "~require~"]
    end

    def calc(args)
      if visible? && @show_reason == :toast && @toasted_at && @toasted_at + (@toast_duration || 0) < now
        hide
      end
      if !$qmx.paused? && visible? && [:exception, :exception_on_load].include?(@show_reason)
        hide
      end
    end

    # Whatever fails in here is the console's own fault: it reports, turns
    # itself off and leaves the game's tick alone.
    def tick(args)
      @frames_before_load += 1 if Kernel.global_tick_count < 0
      # A reloaded file lets every toast show again, also while the console
      # is closed, when nothing else of it runs.
      files = $qmx.files_reloaded
      if files && !files.empty?
        clear_toast
        @toast_ids.clear
      end
      return if @disabled
      render(args)
      process_inputs(args)
      return unless should_tick?
      calc(args)
      prompt.tick
      menu.tick(args)
    rescue Exception => e
      begin
        puts(e.to_s)
        puts(FATAL_TEXT)
      rescue StandardError
        nil
      end
      @disabled = true
      Kernel.print("#{e}\n#{FATAL_TEXT}\n")
    end

    def set_command_with_history_silent(command, histories, show_reason = nil)
      set_command_extended(command: command, histories: histories, show_reason: show_reason)
    end

    def defaults_set_command_extended
      { command: "puts 'Hello World'", histories: [], show_reason: nil, force: false }
    end

    # The first command offered within a frame stays in the prompt; later
    # ones only enter the history.
    def set_command_extended(opts)
      opts = defaults_set_command_extended.merge(opts)
      command = opts[:command]
      @command_history.concat(opts[:histories])
      @command_history << command unless @command_history.last == command
      @command_history = @command_history.first(@max_history) if @command_history.length > @max_history
      self.current_input_str = command if @command_set_at != now || opts[:force]
      @command_set_at = now
      @command_history_index = -1
      save_history
    end

    def set_command_with_history(command, histories, show_reason = nil)
      set_command_with_history_silent(command, histories, show_reason)
      show(show_reason)
    end

    def set_command(command, show_reason = nil)
      set_command_silent(command, show_reason)
      show(show_reason)
    end

    def set_command_silent(command, show_reason = nil)
      set_command_with_history_silent(command, [], show_reason)
    end

    # Offers a command that opens a file with the desktop's own program.
    def set_system_command(command, show_reason = nil)
      set_command_silent("$qmx.system \"#{system_command} #{command}\"", show_reason)
    end

    def system_command
      case $qmx.platform
      when "Mac OS X" then "open"
      when "Linux" then "xdg-open"
      else "start"
      end
    end

    private

    # Global ticks, so that the console runs on while the game is paused or
    # reset. Until the game's main file has loaded they stand still, and the
    # console counts its own frames: it must open, slide and time its toasts
    # when the main file fails to load.
    def now
      global = Kernel.global_tick_count
      global >= 0 ? global : BEFORE_LOAD_CLOCK_START + @frames_before_load
    end

    def w
      $qmx.logical_width
    end

    def h
      $qmx.logical_height
    end

    def top
      $qmx.args.grid.top
    end

    def left
      $qmx.args.grid.left
    end

    def right
      $qmx.args.grid.right
    end

    def line_height_px
      font_style.line_height_px
    end

    def lines_on_one_page
      ((h - 4) / line_height_px).to_i
    end

    def line(y:, color:)
      [left, y, right, y, *color.to_a].line
    end

    def include_row_marker?(log_entry)
      log_entry.start_with?("|")
    end

    def include_header_marker?(log_entry)
      return false if log_entry.strip.include?(".rb")
      ["* ", "** ", "*** ", "**** "].any? { |marker| log_entry.start_with?(marker) }
    end

    def color_for_log_entry(log_entry)
      if include_row_marker?(log_entry)
        @text_color
      elsif include_error_marker?(log_entry)
        @error_color
      elsif include_subdued_markers?(log_entry)
        @text_color.mult_alpha(0.5)
      elsif include_header_marker?(log_entry) || log_entry.start_with?("====")
        @header_color
      else
        @text_color
      end
    end

    def prompt
      @prompt ||= Prompt.new(font_style: font_style, text_color: @text_color, console_text_width: console_text_width)
    end

    def current_input_str
      prompt.current_input_str
    end

    def current_input_str=(str)
      prompt.current_input_str = str
    end

    # Evaluating this prints no result line.
    def clear
      @archived_log = []
      @log = []
      prompt.clear
      :console_silent_eval
    end

    # 0 closed to 1 open: opening decelerates, closing starts fast.
    def slide_progress
      return 0 if @toggled_at.nil?
      t = ((now - @toggled_at) / animation_duration.to_f).clamp(0.0, 1.0)
      visible? ? 1 - (1 - t)**6 : (1 - t)**6
    end

    # Entries from the newest (less the scroll offset) upwards until one
    # leaves the top edge; answers the y above the last one drawn.
    def render_entries(args, entries, y, archived)
      index = entries.length - @log_offset - 1
      while index >= 0
        y += write_primitive_and_return_offset(args, left, y, entries[index], archived: archived)
        break if y > top
        index -= 1
      end
      y
    end

    def history_back
      @nonhistory_input = current_input_str if @command_history_index == -1
      return unless @command_history_index < @command_history.length - 1
      @command_history_index += 1
      self.current_input_str = @command_history[@command_history_index].dup
    end

    def history_forward
      if @command_history_index == 0
        @command_history_index = -1
        self.current_input_str = @nonhistory_input
        @nonhistory_input = ""
      elsif @command_history_index > 0
        @command_history_index -= 1
        self.current_input_str = @command_history[@command_history_index].dup
      end
    end

    def last_sprite_index
      return nil unless @last_sprite
      index = @log.length - 1
      index -= 1 while index >= 0 && !@log[index].equal?(@last_sprite)
      index >= 0 ? index : nil
    end

    # The log's tail after the last text was added: its lines, the last one
    # counted once it was repeated.
    def repeated_lines
      return @last_log_lines if @last_log_lines_count <= 1
      @last_log_lines[0..-2] + ["#{@last_log_lines[-1]} (#{@last_log_lines_count})"]
    end

    # A failing command's method: the name before its first parenthesis, or
    # the first word of a call without one; the part after the last period.
    def called_method_name(command)
      words = command.split("(").first.to_s.split(" ")
      name = command.include?("(") ? words.last : words.first
      name.to_s.split(".").last.to_s
    end

    def toast_signature_error
      "* ERROR:\nargs.qmx.console.toast has the following signature:\n\n  def toast id, *messages\n  end\n\nThe id property uniquely defines the message and must be\na symbol.\n\nAfter that, you can provide all the objects you want to\nlook at.\n\nExample:\n\n  args.qmx.console.toast :say_hello,\n                            \"Hello world.\",\n                            args.state.tick_count\n\nToast messages autohide after 5 seconds.\n\nIf you need to look at something for longer, use\nargs.qmx.console.perma_toast instead (which you can manually dismiss).\n\n"
    end
  end
end
