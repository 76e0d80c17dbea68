# Restarts: what $qmx.reset, the start of a recording and the start of a
# replay do to the game, decided here alone and always in this order.
#
# 1. The game is reset: args.state is emptied, the tick count goes back to
#    -1, outputs, pause, console and the frame-rate check start over.
# 2. Past the engine's 1,000th tick app/main.rb loads again, so that its
#    top level sets up again what it sets up, however soon after its last
#    load: a save's reload may wait a little, a restart's never does, or a
#    second reset would keep what the first one set up. A reset inside a
#    recording or a replay leaves it as it is: the replay, begun at another
#    tick, would not run the file at the same point.
# 3. A recording or a replay then begins from the game as at start-up.
#    Past that tick, and once the file was saved and loaded while the game
#    played (which set the game up from that moment: a callback it
#    schedules 60 ticks on came 60 ticks after the save), the file loads
#    again first and boot runs again as it ran at start-up, on an empty
#    state with the tick count at -1. A replay's callbacks become those its
#    recording began with; entity ids count from the start; the state is
#    emptied again, every input is as at start-up and the random generator
#    takes the recording's seed.
#
# A recording or a replay begins between two ticks with none of the
# game's code running and none of its files loading: asked for anywhere
# else (from the game's tick or boot, a callback, the console, the
# developer API, the command line), it begins at the end of that pipeline
# step, or once the game's files have loaded. Until then neither the game
# nor the recorder ticks. Otherwise the rest of a tick, boot or a file's
# top level would run in the fresh, seeded game and draw the seed's first
# numbers or entity ids, and every tick after it would differ from a
# replay begun elsewhere.
#
# Callbacks the game schedules while app/main.rb loads, or in boot, are
# its set-up: each time the file loads again (or boot runs again) the ones
# it scheduled before give way to the ones it schedules now, so a callback
# scheduled at the top level never collides with itself. A callback that
# schedules others is their set-up in the same way: each time it runs
# again (after a reset, say) the ones it scheduled when it last ran give
# way, with all they scheduled in turn, so a chain of callbacks runs again
# as it ran. Callbacks the game schedules from its tick stay across a
# reset.
module QMX
  class Runtime
    # Past this global tick a restart loads app/main.rb again.
    RESTART_RELOADS_MAIN_RB_AFTER = 1000

    MAIN_FILES = ["app/main.rb", "app/main.rbc"].freeze

    def reset(rng_override = nil, seed: false)
      return if Kernel.tick_count <= 0
      __reset__(rng_override, seed: seed)
    end

    def __reset__(rng_override = nil, seed: false)
      global_tick = Kernel.global_tick_count
      return if @is_resetting == global_tick
      @is_resetting = global_tick
      live = @recording.is_recording? || @recording.is_replaying?
      __reload_main_rb__ if __reset_reloads_main_rb__? && !live
      reset_game { set_rng(seed || rng_override || Time.now.to_i) }
      @is_resetting = nil
    end

    def __reset_reloads_main_rb__?
      @load_status == :ready && Kernel.global_tick_count > RESTART_RELOADS_MAIN_RB_AFTER
    end

    def reset_state
      @args.state.clear!
      @args.state.set!(:entity_id, QMX::Entity.id!)
    end

    # Asked by the recorder when a recording or a replay starts: the game
    # begins afresh with this seed. `callbacks` are the callbacks the game
    # scheduled from its tick that it begins with (nil: those it has).
    # Answers nil; the recorder hears __begun__ once it has begun.
    def __begin_afresh__(seed, callbacks = nil)
      @afresh = { seed: seed, callbacks: callbacks, stage: :asked }
      nil
    end

    # A recording or replay asked for and not begun yet.
    def __beginning__?
      !@afresh.nil?
    end

    # A recording or replay stopped before it began does not begin.
    def __cancel_begin__
      @afresh = nil
    end

    # Called at the end of every pipeline step and once files have loaded.
    def __begin_afresh_when_due__
      request = @afresh
      return unless request && @load_status == :ready && !@is_reloading && !__game_code_running__?
      if request[:stage] == :asked && (__reset_reloads_main_rb__? || @main_rb_loaded_in_play)
        # What the top level and boot see, as at start-up.
        reset_state
        Kernel.tick_count = -1
        @args.state.tick_count = -1
        request[:stage] = :loading
        __reload_main_rb__
        return
      end
      if request[:stage] == :loading
        return if pending_reload?
        request[:stage] = :booted
        Kernel.tick_count = -1
        __boot_game__
        # Boot asked for another start, or stopped this one.
        return unless @afresh.equal?(request)
      end
      @afresh = nil
      begin_afresh(request)
    end

    # The callbacks the game scheduled itself, not as its set-up, each with
    # the tick of the callback that scheduled it (nil for none):
    # { tick => [callback, by] }.
    def __game_callbacks__
      by_tick = {}
      callbacks_noted.each do |by, noted|
        next unless by.is_a?(Integer)
        noted.each { |tick, callback| by_tick[tick] = by if @scheduled_callbacks[tick].equal?(callback) }
      end
      game = {}
      @scheduled_callbacks.each do |tick, callback|
        game[tick] = [callback, by_tick[tick]] unless set_up_callback?(tick, callback)
      end
      game
    end

    # Runs the game's boot; the callbacks it scheduled when it last ran give
    # way to those it schedules now.
    def __boot_game__
      @main_rb_loaded_in_play = false
      return unless $top_level.respond_to?(:boot)
      note_set_up_callbacks(:boot) do
        __run_game_code__ { $top_level.boot(@args) }
      end
    end

    # Called as the host takes the files to load: when app/main.rb is among
    # them, what it scheduled when it last loaded gives way to what it
    # schedules now, until the frame's tick.
    def __files_loading__(paths)
      return unless paths.any? { |path| MAIN_FILES.include?(path) }
      # Loaded as at start-up only where boot follows.
      @main_rb_loaded_in_play = @load_status == :ready && !(@afresh && @afresh[:stage] == :loading)
      forget_callbacks_of(:main_rb)
      @noting_callbacks = :main_rb
    end

    def __files_loaded__
      @noting_callbacks = nil
    end

    private

    # The block seeds the random generator, before the log starts afresh.
    def reset_game
      nil.unassign_method_missing if !$disable_nil_coersion && nil.respond_to?(:unassign_method_missing)
      reset_framerate_calculation
      Entity.strict_entities.clear
      Trace.untrace_classes!
      pin_root_values

      reset_state
      Kernel.tick_count = -1
      @args.state.tick_count = -1
      @args.outputs.clear
      clear_draw_passes
      $top_level.reset if $top_level.respond_to?(:reset)

      unpause!
      @console.hide
      @console.toast_ids.clear
      yield if block_given?

      @pin_to_30_fps = nil
      @framerate_pin_grace_period = nil
      @args.grid.origin_bottom_left!

      unless @production
        write_file_root("logs/log.txt", "Vellumcore QMX Log Messages. Set $qmx.log_level = :off to disable logging to the Console/HUD (log messages will still be written here). Log options are: :on, :off.\n")
        write_file_root("logs/puts.txt", "")
      end
    end

    # The game as at start-up, seeded, with nothing recorded yet: entities
    # are numbered from the start again only here, so that a replay gives
    # the ids its recording gave.
    def begin_afresh(request)
      if request[:callbacks]
        __game_callbacks__.each_key { |tick| @scheduled_callbacks.delete(tick) }
        request[:callbacks].each do |tick, (callback, by)|
          next if @scheduled_callbacks.key?(tick)
          @scheduled_callbacks[tick] = callback
          (callbacks_noted[by] ||= {})[tick] = callback if by
        end
      end
      QMX::Entity.__reset_id__!
      reset_game
      __reset_inputs__
      seed_rng(request[:seed])
      @recording.__begun__
    end

    # The random generator seeded for a recording or a replay, which the
    # game's own set_rng may not do.
    def seed_rng(value)
      @seed = value
      srand(value)
      log "RNG seed has been set to #{value}."
    end

    # Who scheduled which callbacks, as they were scheduled: { by => { tick
    # => callback } }, by being :main_rb, :boot or the tick of the callback
    # that scheduled them.
    def callbacks_noted
      @callbacks_noted ||= { main_rb: {}, boot: {} }
    end

    def set_up_callback?(tick, callback)
      [:main_rb, :boot].any? { |by| callbacks_noted[by][tick].equal?(callback) }
    end

    # Those still scheduled as they were noted go; the game may have cleared
    # or replaced them since. With `chains`, so do those that they
    # scheduled in turn, at any depth.
    def forget_callbacks_of(by, chains = false)
      todo = [by]
      until todo.empty?
        noted = callbacks_noted.delete(todo.pop)
        next unless noted
        noted.each do |tick, callback|
          next unless @scheduled_callbacks[tick].equal?(callback)
          @scheduled_callbacks.delete(tick)
          todo << tick if chains
        end
      end
      callbacks_noted[by] = {} if by.is_a?(Symbol)
    end

    # A file's set-up gives way without the chains its callbacks began: a
    # save while the game plays leaves those running; the new callback of
    # that tick takes them over, as it runs.
    def note_set_up_callbacks(kind, &block)
      forget_callbacks_of(kind)
      noting_callbacks_of(kind, &block)
    end

    def noting_callbacks_of(by)
      noting = @noting_callbacks
      @noting_callbacks = by
      yield
    ensure
      @noting_callbacks = noting
    end

    def note_scheduled_callback(tick, callback)
      return unless @noting_callbacks
      (callbacks_noted[@noting_callbacks] ||= {})[tick] = callback
      @callbacks_noted_count = @callbacks_noted_count.to_i + 1
      prune_callbacks_noted if @callbacks_noted_count > 2 * @scheduled_callbacks.length + 100
    end

    # Notes of callbacks no longer scheduled (the game cleared them) are let
    # go, so that they do not keep what the callbacks hold.
    def prune_callbacks_noted
      count = 0
      callbacks_noted.each_value do |noted|
        noted.keep_if { |tick, callback| @scheduled_callbacks[tick].equal?(callback) }
        count += noted.length
      end
      callbacks_noted.delete_if { |by, noted| noted.empty? && !by.is_a?(Symbol) }
      @callbacks_noted_count = count
    end

    # The callback of this tick, if any, after what it scheduled when it
    # last ran.
    def run_scheduled_callback(tick)
      callback = @scheduled_callbacks[tick]
      return unless callback
      forget_callbacks_of(tick, true)
      noting_callbacks_of(tick) { callback.call }
    end
  end
end
