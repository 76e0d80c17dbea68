# Input recording and replay. A recording resets the game, seeds the random
# generator and notes every input event the runtime's entry points report,
# frame by frame; saved as text, it is replayed by resetting and seeding the
# game the same way and calling the same entry points with the same values
# in the same frames, so a deterministic game plays out exactly again.
module QMX
  class Recording
    REPLAY_VERSION = "replay_version 2.0".freeze

    # The entry points a replay may call, with the kind of each value they
    # take. A replay file is data: a name outside this table is refused, so
    # a file can never reach any other method of the runtime, and so is a
    # value the devices could not have given, which the entry point would
    # fail on every frame.
    KEY = [:key_code, :modifier].freeze
    PAD_KEY = [:pad_key].freeze
    STICK = [:stick].freeze
    REPLAYABLE_INPUTS = {
      key_down_raw: KEY, key_up_raw: KEY,
      mouse_move: [:pixel, :pixel], mouse_button_pressed: [:mouse_button], mouse_button_up: [:mouse_button],
      mouse_wheel: [:pixel, :pixel],
      key_down_player_one: PAD_KEY, key_down_player_two: PAD_KEY, key_held_player_one: PAD_KEY,
      key_held_player_two: PAD_KEY, key_up_player_one: PAD_KEY, key_up_player_two: PAD_KEY,
      left_analog_x_player_1: STICK, left_analog_y_player_1: STICK, right_analog_x_player_1: STICK,
      right_analog_y_player_1: STICK, left_analog_x_player_2: STICK, left_analog_y_player_2: STICK,
      right_analog_x_player_2: STICK, right_analog_y_player_2: STICK
    }.freeze
    REPLAYABLE_NAMES = REPLAYABLE_INPUTS.keys.freeze
    INT32 = 2**31
    INT32_MIN = -INT32
    # The last word of an event the game fed itself from its own tick (or a
    # callback it scheduled), noted with the tick that saw it. A game
    # replayed from its seed makes the same calls at the same points, so a
    # replay lets those calls act as they did and gives none of these
    # events itself. A file without any (written before they were marked)
    # holds the game's own input as input from outside: its replay gives
    # all of it before the ticks, and drops the game's own calls.
    IN_TICK = :in_tick

    # A replay file that cannot be read as one.
    class ReplayFormatError < StandardError; end

    # What a value of each kind may be: whether it must be whole (an
    # Integer, or a Float without a fraction), the range it lies in, and
    # the values it must be one of, if any.
    def self.value_kinds
      @value_kinds ||= {
        pixel: [false, INT32_MIN...INT32],
        key_code: [true, INT32_MIN...INT32],
        modifier: [true, 0..0xFFFF],
        mouse_button: [true, QMX::Runtime::CBridge::MOUSE_BUTTONS],
        pad_key: [true, 0...64, QMX::Runtime::CBridge::RAW_CONTROLLER_KEY_LOOKUP.keys],
        stick: [false, -32_768..32_767]
      }
    end

    # The inputs a replay may give, in REPLAYABLE_NAMES' order, as the native
    # reader takes them.
    def self.replay_inputs
      @replay_inputs ||= REPLAYABLE_INPUTS.map do |name, kinds|
        [name, kinds.map do |kind|
          whole, range, allowed = value_kinds[kind]
          [whole, range.begin, range.end, range.exclude_end?, allowed]
        end]
      end
    end

    # A replay's events as the native reader keeps them, packed, a few bytes
    # each however many the file holds. events[tick] answers those recorded
    # at a recorder tick, in their order, as Hashes; nil when there are none.
    class ReplayEvents
      def initialize(packed)
        @packed = packed
      end

      def [](tick)
        found = FFI.replay_events_at(@packed, tick)
        return nil if found.empty?
        found.map do |input, value_1, value_2, value_count, id, in_tick|
          { id: id, name: REPLAYABLE_NAMES[input], value_1: value_1, value_2: value_2, value_count: value_count,
            in_tick: in_tick }
        end
      end
    end

    def initialize(runtime)
      @runtime = runtime
      @tick_count = 0
      @global_input_order = 1
      @is_recording = false
      @is_replaying = false
      @input_history = []
      @callbacks_of_recordings = {}
    end

    def tick
      @tick_count += 1
    end

    def start_recording(seed_number = nil)
      unless seed_number.is_a?(Integer)
        log "* ERROR:\nTo start recording, you must provide an integer value to\nseed random number generation.\n"
        console_command "$recording.start SEED_NUMBER"
        return nil
      end
      if @is_recording || replayed_call?
        log "* ERROR:\nYou are already recording, first cancel (or stop) the current recording.\n"
        console_command "$recording.cancel"
        return nil
      end
      if @is_replaying
        log "* ERROR:\nYou are currently replaying a recording, first stop the replay.\n"
        return nil
      end
      log_info "Recording has begun with RNG seed value set to #{seed_number}.\nTo stop recording use stop_recording(filename).\nThe recording will stop without saving a file if a filename is nil.\n"
      console_command "$recording.stop 'replay.txt'"
      @seed_number = seed_number
      @is_recording = true
      forget_history
      @runtime.__begin_afresh__(seed_number)
      @runtime.notify!("Recording started. When completed, open the console to save it using $recording.stop FILE_NAME (or cancel).", 300)
      nil
    end

    # Called by the runtime once the game has begun afresh for the recording
    # or the replay (the runtime decides when and how): nothing is recorded
    # or replayed yet. A recording notes the callbacks it begins with, which
    # its replays in this run begin with too.
    def __begun__
      forget_history
      @callbacks_at_start = @runtime.__game_callbacks__ if @is_recording
      nil
    end

    def start(seed_number = nil)
      start_recording(seed_number)
    end

    def is_replaying?
      @is_replaying
    end

    def is_recording?
      @is_recording
    end

    def stop(file_name = nil)
      stop_recording(file_name)
    end

    def cancel
      stop_recording_core
      @runtime.notify!("Recording cancelled.")
      nil
    end

    # Saves the recording and ends it; answers false, recording on, when the
    # file cannot be written.
    def stop_recording(file_name = nil)
      unless file_name
        log "* ERROR:\nTo please specify a file name when calling:\n$recording.stop FILE_NAME\n\nIf you do NOT want to save the recording, call:\n$recording.cancel\n"
        console_command "$recording.stop 'replay.txt'"
        return nil
      end
      # Before its last tick, a save the replayed game asks for is one its
      # recording could not write: had it been written, the recording would
      # have ended there.
      return refuse_save(file_name) if replayed_call? && @tick_count < $replay_data[:stopped_at]
      unless @is_recording
        log_info "You are not currently recording. Use start_recording(seed_number) to start recording."
        console_command "$recording.start"
        return nil
      end
      text = replay_text
      return refuse_save(file_name) unless @runtime.write_file(file_name, text)
      @runtime.write_file("last_replay.txt", text)
      @callbacks_of_recordings[recording_key(text)] = @callbacks_at_start || {}
      log_info "The recording has been saved successfully at #{file_name}. You can use start_replay(\"#{file_name}\") to replay the recording."
      console_command "$replay.start '#{file_name}'"
      stop_recording_core
      @runtime.notify!("Recording saved to #{file_name}. To replay it: $replay.start \"#{file_name}\".")
      log_info "You can run the replay later on startup using: ./vellumcore mygame --replay #{file_name}"
      nil
    end

    def stop_recording_core
      @runtime.__cancel_begin__
      @callbacks_at_start = nil
      @is_recording = false
      @input_history = []
      @runtime.__reset__
    end

    # Answers nil when the replay cannot start (no name, a recording under
    # way, a damaged file: each said in the log), false for a file that
    # cannot be read. A file that names another format version raises.
    def start_replay(file_name = nil)
      unless file_name
        log "* ERROR:\nPlease provide a file name to $recording.start.\n"
        console_command "$replay.start 'replay.txt'"
        return nil
      end
      if @is_recording || replayed_call?
        log "* ERROR:\nYou are currently recording, first stop (or cancel) the recording.\n"
        console_command "$recording.cancel"
        return nil
      end
      text = @runtime.read_file(file_name)
      unless text
        log "* ERROR:\nThe replay file #{file_name} could not be read.\n"
        return false
      end
      begin
        failure = []
        reading = FFI.replay_text_read(text, Recording.replay_inputs, failure)
        raise ReplayFormatError, "It is empty: the file may have been cut off." if reading[2]
        first_line = text[0, text.index("\n") || text.length].strip
        unless first_line == REPLAY_VERSION
          unless replay_version_line?(first_line)
            raise ReplayFormatError, "Its first line is not \"#{REPLAY_VERSION}\": the file is damaged, or not a replay."
          end
          raise "The replay file #{file_name} is not compatible with this version of Vellumcore Vellum Suite. Please recreate the replay (sorry)."
        end
        data, game_input_in_tick = replay_data(reading, failure)
      rescue ReplayFormatError => e
        # Nothing of the game has changed yet: it runs on as it was.
        @is_replaying = false
        $replay_data = nil
        log "* ERROR:\nThe replay file #{file_name} cannot be replayed.\n#{e.message}\n"
        @runtime.notify!("The replay file #{file_name} is damaged; see the console.")
        return nil
      end
      @replay_file_name = file_name
      $replay_data = data
      @game_input_recorded_in_tick = game_input_in_tick
      @is_replaying = true
      forget_history
      # A recording made earlier in this run began with callbacks the game
      # had scheduled from its tick: so does its replay. Any other began as
      # the game does at start-up, with none.
      @runtime.__begin_afresh__(data[:seed], @callbacks_of_recordings[recording_key(text)] || {})
      log_info "Replay has been started."
      @runtime.notify!("Replay started [#{@replay_file_name}].")
      nil
    end

    def stop_replay(notification_message = "Replay has been stopped.")
      if !@is_replaying || replayed_call?
        log "* ERROR:\nNo replay is currently running. Call $replay.start FILE_NAME to start a replay.\n"
        console_command "$replay.start 'replay.txt'"
        return nil
      end
      log_info notification_message
      @runtime.__cancel_begin__
      @is_replaying = false
      $replay_data = nil
      @tick_count = 0
      @global_input_order = 1
      @runtime.console&.set_command_silent("$replay.start '#{@replay_file_name}'")
      @runtime.__reset__
      # Nothing the replay held down stays held in live play.
      @runtime.__reset_inputs__
      @runtime.notify!(notification_message)
      nil
    end

    # clear_cache is part of the entry points' call and changes nothing here.
    # Input the game feeds itself while its tick runs is noted at the tick
    # that sees it (the recorder has already counted that tick) and marked.
    def record_input_history(name, value_1, value_2, value_count, clear_cache = false)
      return nil unless @is_recording && !@is_replaying
      event = [name, value_1, value_2, value_count, @global_input_order]
      event += @runtime.__game_code_running__? ? [@tick_count - 1, IN_TICK] : [@tick_count]
      @input_history << event
      @global_input_order += 1
      nil
    end

    # The events recorded at this recorder tick, fed to the entry points
    # before the game's tick, as they were while recording.
    def stage_replay_values
      return nil unless @is_replaying && $replay_data
      if $replay_data[:stopped_at] <= @tick_count
        stop_replay("Replay completed [#{@replay_file_name}]. To rerun, bring up the Console and press enter.")
        return nil
      end
      if @tick_count % 60 == 0
        log_info "Replay ends in #{($replay_data[:stopped_at] - @tick_count).idiv(60)} second(s)."
      end
      replay_events(@tick_count)
    end

    # Whether input that the game's own code gives itself reaches the game
    # while a replay runs: as while recording, it acts where the game gives
    # it. Input of the kinds a recording notes is dropped when the file
    # holds it as input from outside (a file without in-tick events), which
    # the replay gives instead.
    def __game_input_acts__?(recorded_kind = true)
      @runtime.__game_code_running__? && (!recorded_kind || @game_input_recorded_in_tick == true)
    end

    private

    # A call the game's own code makes while its replay runs: the recorder
    # answers it as it answered the same call in the recording, so that the
    # replay neither restarts nor ends itself through a call its recording
    # refused, and logs and offers the same. Calls from the console or the
    # developer API, and the game's calls before the replay has begun, act
    # as they are.
    def replayed_call?
      @is_replaying && !@runtime.__beginning__? && @runtime.__game_code_running__?
    end

    # Nothing is lost: the recording goes on until it is saved or cancelled.
    def refuse_save(file_name)
      log "* ERROR:\nThe recording could not be saved to #{file_name}.\nIt is still recording: save it under another name with $recording.stop FILE_NAME, or call $recording.cancel.\n"
      console_command "$recording.stop 'replay.txt'"
      false
    end

    def forget_history
      @tick_count = 0
      @global_input_order = 1
      @input_history = []
    end

    def replay_events(tick)
      ($replay_data[:input_history][tick] || []).each do |event|
        next if event[:in_tick]
        values = []
        values << event[:value_1] if event[:value_count] >= 1
        values << event[:value_2] if event[:value_count] >= 2
        @runtime.send(event[:name], *values, :replay)
      end
      nil
    end

    def replay_text
      lines = [REPLAY_VERSION, "stopped_at #{@tick_count}", "seed #{@seed_number}", "recorded_at #{Time.now}"]
      lines.concat(@input_history.map(&:inspect))
      lines.map { |line| "#{line}\n" }.join
    end

    # The whole file is read before anything changes. Numbers keep their
    # kind (an Integer key code stays an Integer), and every event line is
    # read as a literal, never run. Answers the replay data and whether the
    # file marks input the game gave itself.
    def replay_data(reading, failure)
      events, headers, _blank, game_input_in_tick = reading
      data = { input_history: ReplayEvents.new(events), seed: nil, stopped_at: nil, recorded_at: nil }
      # The header lines before the first that cannot be replayed, if any:
      # a refusal names the first line at fault.
      headers.each do |l|
        if l.start_with?("seed")
          data[:seed] = replay_integer(l.split(" ").last, l)
        elsif l.start_with?("stopped_at")
          data[:stopped_at] = replay_integer(l.split(" ").last, l)
        else
          data[:recorded_at] = l.split(" ")[1..-1].join(" ")
        end
      end
      unless failure.empty?
        what, line = failure
        line = QMX::LiteralReader.excerpt_text(line)
        raise ReplayFormatError, case what
                                 when :input then "Replay data names an input event it cannot replay: #{line}."
                                 when :value then "Replay data holds a value its input event cannot take: #{line}."
                                 else "Replay data seems corrupt. I don't know how to parse #{line}."
                                 end
      end
      [:seed, :stopped_at].each do |key|
        raise ReplayFormatError, "Its #{key} line is missing: the file may have been cut off." unless data[key]
      end
      # A stopped_at before the last input is a recording cut short by hand:
      # it plays to its stopped_at, and what follows never comes due.
      if data[:stopped_at] < 0
        raise ReplayFormatError, "Its stopped_at #{data[:stopped_at]} cannot end a recording."
      end
      [data, game_input_in_tick]
    end

    # The same text recorded is the same recording.
    def recording_key(text)
      [text.bytesize, text.hash]
    end

    # "replay_version" and a version number (1.0, say): a file of another
    # version rather than a damaged one.
    def replay_version_line?(line)
      words = line.split(" ")
      return false unless words.length == 2 && words[0] == "replay_version"
      words[1].split(".", -1).all? { |part| !part.empty? && part.each_char.all? { |c| c >= "0" && c <= "9" } }
    end

    def replay_integer(word, line)
      value = QMX::LiteralReader.parse(word.to_s)
      raise ReplayFormatError, "Replay data seems corrupt. I don't know how to parse #{QMX::LiteralReader.excerpt_text(line)}." unless value.is_a?(Integer)
      value
    rescue QMX::LiteralReader::FormatError
      raise ReplayFormatError, "Replay data seems corrupt. I don't know how to parse #{QMX::LiteralReader.excerpt_text(line)}."
    end

    # The command a refusal offers. While a recording or a replay runs it
    # waits in the prompt without opening the console: the game's code
    # asks the same of the recorder in a replay as in its recording, and
    # an open console would take the keys in one and not the other.
    def console_command(command)
      console = @runtime.console
      return unless console
      if @is_recording || @is_replaying
        console.set_command_silent(command)
      else
        console.set_command(command)
      end
    end
  end

  # Shortcuts for the console: $replay.start "replay.txt", $replay.stop.
  class Replay
    def self.start(file_name = nil)
      $recording.start_replay(file_name)
    end

    def self.stop
      $recording.stop_replay
    end
  end
end
