# The runtime's per-frame pipeline: the host calls tick(sdl_tick) once per
# simulation frame; it loads the game on the first frame, keeps to the frame
# rate, runs the framework's work around the game's own tick and turns any
# exception into a report and a paused game.
module QMX
  class Runtime
    # Calls closer together than this many milliseconds are skipped.
    MIN_TICK_INTERVAL = 13

    def tick(sdl_tick)
      @sdl_tick = sdl_tick
      __files_loaded__
      eval_or_create_main_rb
      hotload_if_needed
      process_argsv
      if @last_sdl_tick
        elapsed = sdl_tick - @last_sdl_tick
        # A clock that went backwards counts as elapsed, so the game never
        # waits behind the gate for it to catch up.
        return nil if elapsed >= 0 && elapsed < MIN_TICK_INTERVAL
      end
      @last_sdl_tick = sdl_tick
      @frame_count = __frame_count__ + 1
      calc_wrapper
      (@simulation_speed.to_i - 1).abs.times { calc_wrapper }
      nil
    rescue Exception => e
      __report_tick_exception__(e)
      nil
    end

    # Frames in which the pipeline has run. Under --speed one frame runs
    # several ticks, and input arrives once a frame: whatever waits for
    # input counts frames.
    def __frame_count__
      @frame_count || 0
    end

    # Whatever was raised, and whatever the game did to its state, the report
    # is exported, the console shows it and the game pauses. Nothing raises
    # from here: an exception escaping to the host would come back every frame
    # with no report at all.
    def __report_tick_exception__(e)
      e = __presentable_exception__(e)
      begin
        if __exception_seems_vague__?(e.to_s)
          log_once :trace_tip, "* INFO: Try using ~trace!~\nIf the exception isn't helpful, try putting ~trace!~ near where you think the error occurred.\nThe console (the backtick key) shows the whole report.\n"
        end
        log "Game state and exception will be written to exceptions/game_state_#{state_tick_count}.txt and exceptions/current.txt."
      rescue Exception
        # Only a hint; the report below matters.
      end
      pretty_print_exception_and_export!(e)
    ensure
      # A run that only evaluates or tests has failed once anything raised.
      @exit_status = 1 if @no_tick
      pause!
    end

    # The exception itself when it can say what it is; otherwise one that
    # says so, with the original's class and backtrace.
    def __presentable_exception__(e)
      e.to_s
      e.__backtrace_to_org__
      e
    rescue Exception => failure
      reason = begin
        "#{failure.class}: #{failure.message}"
      rescue Exception
        failure.class.to_s
      end
      replacement = RuntimeError.new("#{e.class} was raised, and asking it for its message raised #{reason}")
      backtrace = begin
        e.backtrace
      rescue Exception
        nil
      end
      replacement.set_backtrace(backtrace) if backtrace.is_a?(Array) && backtrace.all? { |line| line.is_a?(String) }
      replacement
    end

    def __exception_seems_vague__?(message)
      return false if message.include?(".rb does not exist.")
      message.gsub("* EXCEPTION:\n", "").lines.length == 1
    end

    def pretty_print_exception_and_export!(e)
      e = __presentable_exception__(e)
      text = begin
        __pretty_print_exception__(e, nil)
      rescue Exception => failure
        "* EXCEPTION:\n#{e}\n(The report could not be formatted: #{failure.class}.)"
      end
      export!(text)
      @exception_occured = true
      @console.show(@is_reloading ? :exception_on_load : :exception)
      return if @console.command_set_at == Kernel.global_tick_count
      command = "$qmx.reset seed: #{$qmx.seed}"
      at = text.to_s.index("** docs: ")
      if at
        # The suggested command is the rest of that line.
        docs = text[(at + "** docs: ".length)..-1].split("\n").first.to_s.strip
        command = docs unless docs.empty?
      end
      @console.set_command_silent(command)
    end

    # Writes the report and the game state to exceptions/current.txt and to
    # the file of the current tick; answers that file's name, or nil when
    # writing failed.
    def export!(with_comments = nil, file_name_override = nil)
      text = ""
      if with_comments
        text += with_comments.to_s.split("\n").map { |line| "# #{line.strip}" }.join("\n") + "\n\n"
      end
      text += "Game State:\n#{__exportable_state__}"
      file_name = file_name_override || "exceptions/game_state_#{state_tick_count}.txt"
      [file_name, "exceptions/current.txt"].each do |path|
        raise "#{path} could not be written." unless write_file_root(path, text)
      end
      file_name
    rescue Exception => e
      log "* ERROR:\nExporting the game state failed:\n\nExport exception: #{e}.\n\nOriginal comments: #{with_comments || "(none)"}.\n\nIf the export exception above looks confusing, you should let Vellumcore know about this error.\n\n"
      nil
    end

    # The exception report is written even when the state cannot be: it says
    # why instead.
    def __exportable_state__
      @args.serialize.to_s
    rescue Exception => e
      "(The game state could not be exported: #{e.class}: #{e}. It may hold itself or be nested too deeply.)"
    end

    # The first load of the game's main file. It is tried once: a file that
    # fails is reported, and hot reload loads it once it changes.
    def eval_or_create_main_rb
      return unless @load_status == :vellumcore_started
      @load_status = :main_rb_first_time_load
      # The Symbols there are now are those every run of the game has before
      # any of its code runs, and so before it can load a save: the writer
      # does not count them against a save's limit. Whatever the game's files,
      # its boot or a load makes afterwards, a new run may not have yet.
      FFI.saved_text_mark_fresh_run
      if native_file(:path_exists, "app/main.rbc")
        reload_if_needed("app/main.rbc", true)
      elsif native_file(:path_exists, "app/main.rb")
        reload_if_needed("app/main.rb", true)
      else
        log_error "The game has no =app/main.rb=, so there is nothing to run.\nLooked in the game directory =#{get_game_dir}= and in =#{get_base_dir}=."
      end
    end

    # One pipeline step. With slow motion of factor n the game's tick runs on
    # one step in n + 1; the others are filler steps.
    def calc_wrapper(tick_override_lambda = nil)
      if @slowmo_factor && @slowmo_factor != 1
        @slowmo_factor_debounce ||= @slowmo_factor
        if @slowmo_factor_debounce > 0
          @slowmo_factor_debounce -= 1
        else
          @slowmo_factor_debounce = nil
        end
      end
      tick_cli_eval
      if @no_tick
        tick_startup_callbacks
        return
      end
      tick_qmx_engine_before
      tick_usr_engine
      tick_qmx_engine_after
      __begin_afresh_when_due__
    end

    def tick_cli_eval
      if @eval_path
        entry = @reload_list_history[@eval_path]
        if !entry
          mark_ruby_file_for_reload(@eval_path)
        elsif (reload_completed?(entry) || load_failed?(entry)) && quit_after_startup_eval?
          # A script that raised is a failed run, as a failing test run is.
          @exit_status = 1 if load_failed?(entry)
          @eval_path = nil
          request_quit
        end
      end
      if @test_path
        entry = @reload_list_history[@test_path]
        if !entry
          mark_ruby_file_for_reload(@test_path)
        elsif reload_completed?(entry)
          # The tests run once, also when several steps share a frame; a
          # runner that raises still ends the run, as a failure.
          @test_path = nil
          @exit_status = 1
          begin
            $tests.start
            @exit_status = $tests.exit_status
          ensure
            request_quit
          end
        elsif load_failed?(entry)
          log "* TEST: =#{@test_path}= could not be loaded, so no test ran."
          @test_path = nil
          end_failed_cli_run
        end
      end
    end

    # Under --no-tick the game does not tick, but the callbacks that a
    # script given with --eval scheduled still come due, one tick per step,
    # so that the run reaches the last of them and ends.
    def tick_startup_callbacks
      return if @scheduled_callbacks.empty? || @load_status != :ready || @is_reloading
      Kernel.tick_count += 1
      run_scheduled_callback(Kernel.tick_count)
    end

    def quit_after_startup_eval?
      return false unless @no_tick
      return true if @scheduled_callbacks.empty?
      Kernel.tick_count > @scheduled_callbacks.keys.max + 1
    end

    def tick_qmx_engine_before
      __ensure_state_entity__
      stage_replay_values if recorder_step?
      clear_draw_passes
      next_keyboard_inputs_before_tick unless input_held_over?
      @args.inputs.http_requests = @http_requests.dup
      Kernel.global_tick_count += 1 if @load_status == :ready
      tick_console
      tick_notification
      @controller_config.tick(@args) if @platform != "iOS"
      @recording.tick if recorder_step?
      render_replay_mouse
      @args.state.__touched__ = false
      @remote_hotload_client.tick
      return if skip_tick_usr_engine?
      Kernel.tick_count += 1
      @args.state.tick_count = Kernel.tick_count
      __run_game_code__ { run_scheduled_callback(Kernel.tick_count) }
    end

    def skip_tick_usr_engine?
      return true if @paused
      return true if quit_after_startup_eval?
      return true if @controller_config.should_tick?
      return true if slowmo_filler_step?
      return true if @load_status != :ready
      return true if @is_reloading
      return true if __beginning__?
      false
    end

    def tick_usr_engine
      return if skip_tick_usr_engine?
      @slowmo_was_invoked = false
      $perf_counter_outputs_push_count = 0
      $perf_counter_primitive_is_array = 0
      tick_core
      @slowmo_factor = 1 unless @slowmo_was_invoked
    end

    def tick_core
      return unless Kernel.tick_count >= 0
      __run_game_code__ { $top_level.tick(@args) }
    end

    # Runs the game's own code (its boot, a scheduled callback, its tick).
    # Input it feeds itself is seen by the tick that is running, in a
    # replay too.
    def __run_game_code__
      @game_code_running = true
      yield
    ensure
      @game_code_running = false
    end

    def __game_code_running__?
      @game_code_running == true
    end

    # The game's inputs step on to the next tick before the developer API
    # runs: input its requests give (through eval, say) is seen by the
    # next tick and recorded for it, as input from the devices is.
    def tick_qmx_engine_after
      next_keyboard_inputs_after_tick unless input_held_over?
      clear_inputs
      tick_api
      @args.inputs.http_requests.clear unless input_held_over?
      check_framerate
      @args.outputs.target = nil
      @args.passes << @args.outputs
      @args.passes.each(&:tick)
      reject_expired_http_requests
      @args.audio = {} unless @args.audio.is_a?(Hash)
      migrate_legacy_sounds
      start_default_server
      @args.inputs.touch.each_value { |finger| finger.first_tick_down = false }
    end

    def tick_api
      @api.tick(@args)
    end

    def clear_draw_passes
      clear_draw_primitives(@args.outputs)
      @args.passes.each { |pass| clear_draw_primitives(pass) }
      @args.passes.clear
      @args.clear_render_targets
      @args.clear_pixel_arrays
    end

    def clear_draw_primitives(pass)
      pass.target = nil
      pass.width = nil
      pass.height = nil
      pass.clear_non_static unless slowmo_filler_step?
      pass.clear_non_static_reserved
    end

    # Keys released last frame are neither down nor held any more.
    def next_keyboard_inputs_before_tick
      @args.inputs.keyboard.start_tick
    end

    # Keys that went down this frame are held from now on.
    def next_keyboard_inputs_after_tick
      @args.inputs.keyboard.finish_tick
    end

    def clear_inputs
      @files_reloaded.clear
      @reloaded_files.clear
      return if input_held_over?
      inputs = @args.inputs
      inputs.controllers.each do |controller|
        controller.key_down.clear
        controller.key_up.clear
      end
      inputs.mouse.clear
      inputs.text.clear
    end

    def tick_console
      @console.tick(@args) unless @take_screenshot
    end

    NOTIFICATION_FADE_TICKS = 15

    def tick_notification
      @notification_message = nil if @console.visible?
      return unless @notification_message
      now = Kernel.global_tick_count
      age = now - @global_notification_at
      if age >= @notification_duration
        @notification_message = nil
        return
      end
      fade_out_at = @global_notification_at + @notification_duration - NOTIFICATION_FADE_TICKS
      alpha = if now >= fade_out_at
                QMX::Easing.ease(fade_out_at, now, NOTIFICATION_FADE_TICKS, :flip) * 255
              else
                QMX::Easing.ease(@global_notification_at, now, NOTIFICATION_FADE_TICKS, :identity) * 255
              end
      grid = @args.grid
      reserved = @args.outputs.reserved
      unless @notification_message.empty?
        reserved << { x: grid.left, y: grid.bottom, w: @logical_width, h: 40, r: 0, g: 0, b: 0, a: alpha,
                      primitive_marker: :solid }
        reserved << { x: grid.left + 60, y: grid.bottom + 30, text: @notification_message,
                      r: 255, g: 255, b: 255, a: alpha, primitive_marker: :label }
      end
      reserved << { x: grid.left + 10, y: grid.bottom, w: 40, h: 40, path: "console-logo.png", a: alpha,
                    primitive_marker: :sprite }
    end

    # Shows where the replayed mouse is, and animates replayed clicks.
    def render_replay_mouse
      return unless @recording.is_replaying?
      mouse = @args.inputs.mouse
      debug = @args.outputs.reserved
      debug << { x: mouse.x - 5, y: mouse.y - 5, w: 10, h: 10, r: 0, g: 0, b: 0, primitive_marker: :border }
      debug << { x: mouse.x - 6, y: mouse.y - 6, w: 12, h: 12, r: 255, g: 255, b: 255,
                 primitive_marker: :border }
      @replay_click = mouse.click if mouse.click
      return unless @replay_click
      start = @replay_click.created_at
      progress = QMX::Easing.ease(start, Kernel.tick_count, 12, :identity)
      if Kernel.tick_count - start > 12
        @replay_click = nil
        return
      end
      x = @replay_click.x
      y = @replay_click.y
      [[40, 0], [42, 255]].each do |size, shade|
        w = size * progress
        debug << { x: x - w / 2, y: y - w / 2, w: w, h: w, r: shade, g: shade, b: shade,
                   a: 255 * progress, primitive_marker: :border }
      end
    end

    # --- The sounds API of earlier versions, carried into the audio hash ------------

    def queue_sound(path)
      @sound_queue << [path, 0, 0]
    end

    def queue_music(path, repeat)
      return if path == @current_music
      @sound_queue << [path, 1, repeat ? 1 : 0]
      @current_music = path
    end

    def stop_music
      @sound_queue << ["", 2, 0]
      @current_music = nil
    end

    def dequeue_sounds(pass)
      pass.sounds.each do |sound|
        path = sound.respond_to?(:path) ? sound.path.to_s : sound.to_s
        if path.end_with?(".wav")
          queue_sound(path)
        elsif path.end_with?(".ogg")
          queue_music(path, true)
        end
      end
      pass.sounds.clear
    end

    def migrate_legacy_sounds
      @args.passes.each { |pass| dequeue_sounds(pass) }
      audio = @args.audio
      @sound_queue.each do |path, type, repeat|
        case type
        when 0
          @legacy_sound_index += 1
          audio[:"QMX_LEGACY_AUDIO_API_SOUND_#{@legacy_sound_index}"] = { input: path }
        when 1
          audio[:QMX_LEGACY_AUDIO_API_MUSIC] = { input: path, looping: repeat != 0 }
        when 2
          audio.delete(:QMX_LEGACY_AUDIO_API_MUSIC)
        end
      end
      @sound_queue.clear
    end

    # --- Controls a game uses ---------------------------------------------------------

    def slowmo!(factor)
      @slowmo_was_invoked = true
      factor = factor.to_i
      factor = 1 if factor < 1
      return if factor == @slowmo_factor
      if factor == 1
        log "~def tick args~ SlowMo factor has been set to normal speed."
      else
        log "~def tick args~ SlowMo factor has been set to a factor of #{factor}."
      end
      @slowmo_factor = factor
      @slowmo_factor_debounce = nil
    end

    def pause!
      @paused = true
    end

    def unpause!
      clear_draw_passes
      reset_framerate_calculation
      @paused = false
    end

    def notify!(message, duration = 300)
      return if @production
      return if message.to_s == @notification_message
      @notification_message = message.to_s
      @global_notification_at = Kernel.global_tick_count
      @notification_duration = duration
      @console.add_text("* NOTIFY: #{message}") unless @notification_message.strip.empty?
    end

    def notify_subdued!
      notify!("", 60)
    end

    def schedule_callback(tick_count, &callback)
      if @scheduled_callbacks[tick_count]
        raise "Callback has already been scheduled for tick #{tick_count}. If you meant to do this, execute $qmx.scheduled_callbacks.clear first."
      end
      @scheduled_callbacks[tick_count] = callback
      note_scheduled_callback(tick_count, callback)
      callback
    end

    private

    def slowmo_filler_step?
      !@slowmo_factor_debounce.nil?
    end

    # The recorder counts only steps in which the game can tick: none before
    # the game has loaded, so that a replay started then (--replay) lines up
    # with a recording started while it ran, and none while a file loads,
    # since a reset past the 1,000th tick loads app/main.rb again in the
    # next frame, so a recording or replay begun late would otherwise count
    # one frame more than one begun early. A recording or replay that has
    # not begun yet (it waits for app/main.rb to load again and the game to
    # boot) is not counted either; nor does the game tick.
    def recorder_step?
      @load_status == :ready && !@is_reloading && !__beginning__?
    end

    # Input that arrives in a step the game cannot see waits for the next
    # one as it arrived: keys pressed are still down then, clicks and text
    # still there. A recording notes such input at the tick of that next
    # step, where its replay gives it.
    def input_held_over?
      slowmo_filler_step? || @is_reloading
    end

    def reload_completed?(entry)
      entry[:history].any? { |event| event[:event] == :reload_completed }
    end

    def load_failed?(entry)
      entry[:current][:event] == :reload_failed
    end

    # The tick count a report is filed under.
    def state_tick_count
      @args ? @args.state.tick_count : Kernel.tick_count
    rescue Exception
      Kernel.tick_count
    end

    # A state replaced without ~args.state=~ (which refuses anything but an
    # entity) is put right with an empty entity before the frame relies on it,
    # and reported once; a reset then starts the game as usual.
    def __ensure_state_entity__
      state = @args.state
      return if state.is_a?(QMX::OpenEntity)
      fresh = QMX::OpenEntity.new
      fresh.tick_count = Kernel.tick_count
      @args.instance_variable_set(:@state, fresh)
      raise "* ERROR:\n~args.state~ was replaced by #{state.nil? ? "nil" : "a value of class #{state.class}"}, " \
            "which is not an entity (~QMX::OpenEntity~). It has been emptied.\n"
    end
  end
end
