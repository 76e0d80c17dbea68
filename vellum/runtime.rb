# The one runtime object: the host creates it at start-up (TopLevelView.new),
# calls it every frame, and the game reaches it as args.qmx and $qmx. This
# file holds its creation, command-line options, files, window and cursor,
# what the host asks of it each frame, saved state, reset, logging, loading
# code and quitting. The tick pipeline, drawing, frame-rate accounting, hot
# reload, source backups, asynchronous require and the entry points for
# native input are mixins in runtime/*.rb.
module QMX
  class Runtime
    # Later mixins win where two define the same name.
    include CBridge
    include Deprecated
    include Hotload
    include FramerateDiagnostics
    include Framerate
    include Draw
    include QMX::Backup
    include AsyncRequire
    include Autocomplete
    extend Docs
    extend RuntimeDocs

    attr_accessor :argv, :required_files, :files_reloaded, :paused, :time_per_tick, :reloaded_files,
                  :scheduled_callbacks, :suppress_hotload, :suppress_mailbox, :reload_list_history

    attr_reader :ffi_file, :ffi_mrb, :ffi_misc, :input_history, :recording, :console, :reserved_primitives,
                :ffi_draw, :args, :platform, :controller_config, :production, :logical_width, :logical_height,
                :device_width, :device_height, :binary_path, :current_framerate_render,
                :current_framerate_calc, :sdl_tick

    def initialize(platform, production, logical_width, logical_height, argv, binary_path)
      $qmx ||= self
      $runtime ||= self
      @binary_path = binary_path.to_s.strip
      @log_level = :on
      @platform = platform
      @production = production
      @argv = argv.to_s.strip

      @ffi_file = FFI::File.new
      @ffi_misc = FFI::Misc.new
      @ffi_mrb = FFI::MRB.new
      @ffi_draw = FFI::Draw.new
      @device_width, @device_height = @ffi_misc.device_size if @ffi_misc.respond_to?(:device_size)
      @logical_width = logical_width
      @logical_height = logical_height

      @required_files ||= []
      @files_reloaded ||= []
      @reserved_primitives ||= []
      @key_up_queue = []
      @replay_autoload_check_ran = false

      @recording = Recording.new(self)
      @console = Console.new
      @tests = Tests.new
      @args = Args.new(self, @recording)
      @quit_requested = false

      # Release mode: the framework's own sources are not beside the game.
      framework_source = native_file(:read, "vellum/top_level.rb")
      @rcb_release_mode = framework_source.to_s.strip.empty?

      @sound_queue = []
      @legacy_sound_index = 0
      @scheduled_callbacks = {}
      @protect_from_gc = []
      @http_requests = []
      @controller_config = Controller::Config.new(self)
      @slowmo_factor = 1
      @load_status = :vellumcore_started
      @cursor_shown = true
      @current_framerate_calc = 60
      @current_framerate_render = 60
      @current_touch_count = 0

      log "WARNING: YOU ARE IN AN UNOPTIMIZED DEV MODE." unless @rcb_release_mode

      @remote_hotload_client = RemoteHotloadClientWrapper.new(self)
      @remote_hotload_client.start if @platform == "iOS"
      @api = Api.new

      hotload_init
      c_bridge_init(self)
      framerate_init
      async_require_init
      __reset__

      $remote_hotload_client = @remote_hotload_client
      $recording ||= @recording
      $replay ||= Replay
      $console ||= @console
      $args ||= @args
      $state ||= @args.state
      $wizards ||= @args.wizards
      $fn ||= @args.fn
      $tests ||= @tests
      $api ||= @api
    end

    # --- Command-line options ------------------------------------------------

    # Options that take no value, as the host reads them too.
    FLAG_OPTIONS = ["fullscreen", "windowed", "production", "no-tick"].freeze

    # The options of the ARGV text: it is split at every " --"; in each piece
    # the first word is the name and the next word the value (nil when there
    # is none, and always for the flags above). Words after the value are no
    # part of it: "--window_height 600 mygame" is 600, then the game
    # directory. Later options win. The executable's own word names the game
    # directory.
    def self.cli_arguments_from(argv)
      table = {}
      argv.to_s.split(" --").each do |piece|
        tokens = piece.split(" ")
        next if tokens.empty?
        key = tokens.shift
        if key.include?("vellumcore")
          table[:vellumcore] = cli_game_directory(argv)
        else
          key = key[1..-1] while key.start_with?("-")
          table[key.to_sym] = FLAG_OPTIONS.include?(key) ? nil : tokens.first unless key.empty?
        end
      end
      table
    end

    # The game directory the host mounted: the first word after the
    # executable that is neither an option nor an option's value; "mygame"
    # without one, and "" for "./".
    def self.cli_game_directory(argv)
      takes_value = false
      argv.to_s.split(" ").drop(1).each do |word|
        if word.start_with?("-psn")
          takes_value = false
        elsif word.start_with?("-")
          name = word
          name = name[1..-1] while name.start_with?("-")
          takes_value = !FLAG_OPTIONS.include?(name)
        elsif takes_value
          takes_value = false
        else
          return word == "./" ? "" : word
        end
      end
      "mygame"
    end

    def self.parse_cli_argument(argv, name, default = nil)
      value = cli_arguments_from(argv)[name.to_sym]
      value.nil? ? default : value
    end

    def self.parse_cli_argument_i(argv, name, default = 0)
      parse_cli_argument(argv, name, default).to_i
    end

    def self.argv_window_width(argv)
      window_option(argv, :window_width, 1280, 1, 16_384)
    end

    def self.argv_window_height(argv)
      window_option(argv, :window_height, 720, 1, 16_384)
    end

    def self.argv_window_scale(argv)
      window_option(argv, :window_scale, 1.0, 0.01, 16.0)
    end

    def self.argv_window_position_x(argv)
      window_option(argv, :window_position_x, -1, -16_384, 16_384)
    end

    def self.argv_window_position_y(argv)
      window_option(argv, :window_position_y, -1, -16_384, 16_384)
    end

    # A window option that is not a number literal of its kind in its range is
    # reported and the default kept: "1e9".to_i is 1, and 3000000000 wraps in
    # the host.
    def self.window_option(argv, name, default, low, high)
      text = parse_cli_argument(argv, name)
      return default if text.nil?
      fraction = default.is_a?(Float)
      value = begin
        QMX::LiteralReader.parse(text)
      rescue QMX::LiteralReader::FormatError
        nil
      end
      if (fraction ? value.is_a?(Numeric) : value.is_a?(Integer)) && value >= low && value <= high
        return fraction ? value.to_f : value
      end
      kind = fraction ? "a number" : "a whole number"
      puts "* WARNING: --#{name} #{text} is not #{kind} from #{low} to #{high}; the default #{default} is used."
      default
    end

    def cli_arguments
      @cli_arguments ||= Runtime.cli_arguments_from(@argv)
    end

    # Options that change how the run goes; read on the first tick only.
    def process_argsv
      return if @argsv_processed
      @argsv_processed = true
      options = cli_arguments
      speed = (options[:speed] || 1).to_i.abs
      @simulation_speed = speed == 0 ? 1 : speed

      # Testing, evaluating, recording and replaying are runs of their own,
      # and none of the options is ever dropped without a word: given
      # together, none of them runs and the run fails at once.
      others = [:eval, :record, :replay].select { |name| options.key?(name) }
      if options.key?(:test) && !others.empty?
        log "* TEST: No test ran: --test cannot be combined with #{cli_option_list(others)}. Run the tests on their own."
        @no_tick = true
        end_failed_cli_run
      elsif others.length > 1
        log "* ERROR: Nothing ran: --#{others.first} cannot be combined with #{cli_option_list(others.drop(1))}. Give each in a run of its own."
        @no_tick = true
        end_failed_cli_run
      elsif options.key?(:record)
        seed = options[:seed] || 100
        log "--record switch found. Recording will be started with a seed value of #{seed} (--seed)."
        start_recording(seed.to_i)
      elsif options.key?(:replay)
        file = options[:replay] || "last_replay.txt"
        log "--replay switch found. Replay will be started using file [#{file}] (--replay FILENAME) with replay speed [#{@simulation_speed}] (--speed SPEED)."
        start_replay(file)
      elsif options.key?(:eval)
        path = options[:eval]
        log "--eval switch found. Executing code inside of #{path} before first tick executes."
        @eval_path = path if cli_file_exists?(path)
        if options.key?(:"no-tick")
          log "--no-tick switch found. Exiting."
          @no_tick = true
          # A run that only evaluates a file has nothing left to do.
          end_failed_cli_run unless @eval_path
        end
      elsif options.key?(:test)
        path = options[:test]
        log "--test switch found. Executing code inside of =#{path}=."
        @test_path = path if cli_file_exists?(path)
        @no_tick = true
        unless @test_path
          log "* TEST: No test ran: name the test file after --test, relative to the game directory (--test app/tests.rb)."
          end_failed_cli_run
        end
      end
    end

    def cli_file_exists?(path)
      raise "File does not exist: #{path}" unless path && native_file(:path_exists, path)
      true
    rescue StandardError => e
      log e.to_s
      false
    end

    # --- Files ----------------------------------------------------------------

    def game_directory(file_name)
      directory = @production ? "" : (cli_arguments[:vellumcore] || "mygame")
      name = file_name.to_s
      name = name[1..-1] while name.start_with?("/")
      directory.empty? ? name : "#{directory}/#{name}"
    end

    def read_file(file_name)
      text = native_file(:read, file_name)
      report_refused_name(file_name, "read") if text.nil?
      text
    rescue Exception => e
      raise e.class, "* ERROR:\n~$qmx.read_file~ for #{file_name} failed.\n#{e}\n"
    end

    # The writers answer whether every byte was written.
    def write_file(file_name, text)
      write_through(:write, file_name, text)
    rescue Exception => e
      raise e.class, "* ERROR:\n~$qmx.write_file~ for #{file_name} failed.\n#{e}\n"
    end

    def append_file(file_name, text)
      write_through(:append, file_name, text)
    rescue Exception => e
      raise e.class, "* ERROR:\n~$qmx.append_file~ for #{file_name} failed.\n#{e}\n"
    end

    def write_file_root(file_name, text)
      write_through(:write_root, file_name, text)
    end

    def append_file_root(file_name, text)
      write_through(:append_root, file_name, text)
    end

    # A write through the native file methods; a changed source file is
    # noted for hot reload.
    def write_through(native_method, file_name, text)
      written = native_file(native_method, file_name, text)
      report_refused_name(file_name, "written") unless written
      hotload_on_write_file(file_name)
      written
    end

    def load_image(file_name)
      image = native_file(:load_image, file_name)
      report_refused_name(file_name, "read") if image.nil?
      image
    end

    # The parsers answer nil for a document that does not parse; the log
    # then says why and where (a missing file is answered nil silently, as
    # read_file answers it, and a name no file system holds is said so).
    def parse_xml(xmlstr, stripcontent = true)
      report_parse_failure(@ffi_misc.parse_xml(xmlstr, stripcontent), "parse_xml", "the XML text")
    end

    def parse_xml_file(fname, stripcontent = true)
      report_parse_failure(@ffi_misc.parse_xml_file(fname, stripcontent), "parse_xml_file", "=#{fname}= as XML", fname)
    end

    def parse_json(jsonstr)
      report_parse_failure(@ffi_misc.parse_json(jsonstr), "parse_json", "the JSON text")
    end

    def parse_json_file(fname)
      report_parse_failure(@ffi_misc.parse_json_file(fname), "parse_json_file", "=#{fname}= as JSON", fname)
    end

    def get_base_dir
      native_file(:get_base_dir) || ""
    end

    def get_game_dir
      dir = (native_file(:get_game_dir) || "").strip
      dir = dir.gsub("//", "/") while dir.include?("//")
      dir
    end

    # --- Window and text -------------------------------------------------------

    def set_window_title(newtitle)
      @ffi_misc.set_window_title(newtitle)
    end

    # The box a label of this text occupies: the width it is aligned by and
    # the height of its line, rounded up. Size and font are taken as a label
    # takes them (a size that is no number is 0, no font is the default
    # font, sizes past the largest draw at the largest), so that what is
    # measured is what is drawn.
    def calcstringbox(str, size_enum = 0, font = "font.ttf")
      size_enum = 0 unless size_enum.is_a?(Integer) || size_enum.is_a?(Float)
      font = nil unless font.is_a?(String)
      w, h = @ffi_misc.calcstringbox(str, size_enum, font)
      [w.ceil, h.ceil]
    end

    def reset_sprite(path)
      @ffi_draw.unload_sprite(path)
    end

    def show_cursor
      return if @cursor_shown
      @cursor_shown = true
      @ffi_draw.toggle_cursor(true)
    end

    def hide_cursor
      return unless @cursor_shown
      @cursor_shown = false
      @ffi_draw.toggle_cursor(false)
    end

    def cursor_shown?
      @cursor_shown
    end

    def set_window_fullscreen(enable = true)
      return if !!@fullscreen == !!enable
      @fullscreen = !!enable
      @ffi_draw.toggle_fullscreen(@fullscreen)
    end

    def openurl(url)
      @ffi_draw.openurl(url)
    end

    # --- What the host asks each frame ------------------------------------------

    def take_screenshot
      !@args.outputs.screenshots.empty?
    end

    def passes
      @args.passes
    rescue Exception => e
      pretty_print_exception_and_export!(e)
      pause!
      []
    end

    def target(pass)
      pass ? pass.target : nil
    end

    def render_width(pass)
      pass ? pass.width : 0
    end

    def render_height(pass)
      pass ? pass.height : 0
    end

    def render_transient(pass)
      pass ? pass.transient : false
    end

    def audio
      @args ? @args.audio : nil
    end

    def queue_key_up(key)
      @key_up_queue << key.to_sym
    end

    def serialize
      { argv: @argv, platform: @platform, required_files: @required_files,
        reload_list_history: @reload_list_history }
    end

    # --- Saved state --------------------------------------------------------------

    # Answers the saved text, or nil when the state cannot be saved (logged
    # with the key path of the value at fault; the previous save stays). The
    # text is made and checked once and written to both files: the game
    # stands still meanwhile.
    def save_state
      text = serialize_state("game_state_#{Time.now.to_i}.txt", args.state)
      text && __keep_state_text__("game_state.txt", text)
    end

    # Answers the loaded state; nil when "game_state.txt" is missing, empty,
    # unreadable or not saved state, which is logged and leaves the game's
    # state as it was.
    def load_state
      file = "game_state.txt"
      problem = begin
        text = read_file(file)
        if text.nil?
          "it does not exist"
        elsif __blank_saved_text?(text)
          "it is empty"
        else
          state = __rebuild_game_state__(text)
          nil
        end
      rescue Exception => e
        "it could not be loaded:\n#{e}"
      end
      if problem
        log_error "The game state was not loaded from =#{game_directory(file)}=: #{problem}\nThe current state is kept."
        return nil
      end
      __restore_tick_count__($load_data)
      args.state = state
    end

    # (file, state) or (state): the state's text, written to file when one is
    # given. Answers nil, writing nothing, when the text would not load back,
    # and nil when the file cannot be written (the previous file stays whole).
    def serialize_state(*opts)
      file, state = opts.length >= 2 ? opts : [nil, opts[0]]
      text = __loadable_state_text__(state, file)
      text && __keep_state_text__(file, text)
    end

    # The state's text, read back to be sure that it loads; nil, logged with
    # the reason, when it cannot be made or would not load.
    def __loadable_state_text__(state, file)
      root = state.equal?(@args.state) ? "args.state" : "state"
      lost_defaults = []
      begin
        result = QMX::LiteralWriter.write(state, root, lost_defaults)
        # The text is read back as a load would read it, and the reading is
        # then undone: a save changes nothing.
        QMX::Entity.__load__(true) do
          state.equal?(@args.state) ? __rebuild_game_state__(result) : __rebuild_saved_state__(result)
        end
      rescue Exception => e
        reason = e.is_a?(QMX::LiteralWriter::UnsavableError) ? e.message : "its text does not load back: #{e}"
        kept = file ? " to =#{file}=" : ""
        log_error "The game state could not be saved#{kept}: #{reason}\n#{file ? 'The previous save was kept.' : ''}"
        return nil
      end
      log_important Help.serialization_too_large if result.length > 20_000
      __log_lost_defaults__(lost_defaults)
      result
    end

    # Saved state keeps a Hash's pairs, not its default value or default
    # proc: the game is told which Hashes load without theirs.
    LOST_DEFAULTS_NAMED = 10

    def __log_lost_defaults__(lost)
      return if lost.empty?
      named = lost.first(LOST_DEFAULTS_NAMED).map do |path, proc|
        "#{QMX::LiteralReader.excerpt_text(path)} (its default #{proc ? 'proc' : 'value'})"
      end
      named << "and #{lost.length - LOST_DEFAULTS_NAMED} more" if lost.length > LOST_DEFAULTS_NAMED
      log "* WARNING:\nSaved state keeps a Hash's pairs but not its default value or default proc; these " \
          "Hashes load without theirs (give it again after loading):\n#{named.join("\n")}\n"
    end

    # Writes the text to file when one is given; answers the text, or nil
    # when the file cannot be written.
    def __keep_state_text__(file, text)
      if file
        unless write_file(file, text)
          reason = native_file(:last_write_error) || "the file could not be written"
          log_error "The game state could not be saved to =#{file}=: #{reason}.\nThe previous save was kept."
          return nil
        end
        log "State with length of #{text.length} saved to file #{file}."
      end
      text
    end

    # Saved state is data, never code: the text is read by a reader that
    # accepts only the literals the writer produces.
    def deserialize_state(*args)
      source = args[0]
      return nil if source.nil?
      source = source.to_s
      text = __saved_text?(source) ? source : read_file(source)
      return nil if text.nil? || __blank_saved_text?(text)
      begin
        state = __rebuild_saved_state__(text)
      rescue Exception => e
        # The text is quoted in part: it may be megabytes long.
        raise e.class, "Failed to eval: #{QMX::LiteralReader.excerpt_text(text)}. #{e}.\nSerialization data may be corrupt."
      end
      __restore_tick_count__($load_data)
      state
    end

    # Saved text, not a file name, is what begins with "{" or "[" past the
    # blanks the reader skips, as a file's text may; and so is anything
    # holding a NUL, which names no file: the reader refuses it, saying why.
    def __saved_text?(source)
      first = source.getbyte(__saved_text_start__(source))
      first == 123 || first == 91 || source.include?("\0")
    end

    # Where the saved value begins: past the blanks the reader skips. Text
    # of nothing else holds no state; any other byte (a NUL too) is for the
    # reader to take or refuse.
    def __saved_text_start__(text)
      at = 0
      at += 1 while SAVED_TEXT_BLANKS.include?(text.getbyte(at))
      at
    end

    def __blank_saved_text?(text)
      __saved_text_start__(text) == text.bytesize
    end

    SAVED_TEXT_BLANKS = [32, 9, 10, 13].freeze

    # The tick count goes on from the saved one, so it is refused, before any
    # entity is made, unless the engine can count on from it.
    # The reader notes what the load must make anew as it reads.
    def __rebuild_saved_state__(text)
      marks = {}
      $load_data = QMX::LiteralReader.parse(text, marks)
      QMX::Entity.__load__ do
        if $load_data.is_a?(Hash) && !$load_data[:tick_count].nil? && !Entity.saved_count?($load_data[:tick_count], -1)
          raise ArgumentError, Entity.saved_count_message(:tick_count, $load_data[:tick_count], -1)
        end
        QMX::Entity.rebuild_loaded($load_data, marks)
      end
    end

    # What load_state takes as the game's state: saved state whose outermost
    # value is an open entity, as args.state is. Anything else is refused as
    # one load, which changes nothing.
    def __rebuild_game_state__(text)
      QMX::Entity.__load__ do
        state = __rebuild_saved_state__(text)
        raise "it does not hold a saved game state" unless state.is_a?(QMX::OpenEntity)
        state
      end
    end

    def __restore_tick_count__(data)
      Kernel.tick_count = data[:tick_count] if data.is_a?(Hash) && data[:tick_count]
    end

    # --- Reset ----------------------------------------------------------------------

    # reset, __reset__ and what a recording or a replay begins with are in
    # runtime/restart.rb.

    def pin_root_values
      @files_reloaded = [] unless @files_reloaded.is_a?(Array)
      @reloaded_files = [] unless @reloaded_files.is_a?(Array)
      @paused = false if @paused.nil?
      @time_per_tick ||= 16
    end

    def set_rng(value)
      if @recording.is_recording? || @recording.is_replaying?
        log "* WARNING:\nAttempting to set the RNG was ignored because you are either in record or replay mode.\n\n"
        return
      end
      @seed = value
      srand(value)
      log "RNG seed has been set to #{value}."
    end

    def seed
      @seed
    end

    # --- Recording ------------------------------------------------------------------

    def start_recording(seed_value)
      @console.hide
      @recording.start_recording(seed_value)
    end

    def stop_recording(file_name = nil)
      @recording.stop_recording(file_name)
    end

    def start_replay(file_name = nil)
      file_name ||= "last_replay.txt"
      @console.hide if native_file(:path_exists, file_name)
      @recording.start_replay(file_name)
    end

    def stop_replay
      @recording.stop_replay
    end

    def record_input_history(*args)
      @recording.record_input_history(*args)
    end

    def stage_replay_values
      @recording.stage_replay_values
    end

    # --- Logging and the console -------------------------------------------------------

    # Everything printed reaches standard output and the console; messages of
    # the log module only while the log level is :on. The runtime's own
    # messages, sent without a sender, also go to logs/log.txt, as every
    # message of the engine does; the log module and Kernel#puts (the
    # sender Kernel) have written their files already.
    def log(obj, sender = nil)
      return nil unless sender.nil? || sender == Kernel || (sender == Log && @log_level == :on)
      text = obj.to_s
      line = text.end_with?("\n") ? text : "#{text}\n"
      append_file_root("logs/log.txt", line) if sender.nil? && !@production
      Kernel.print(line)
      @console.add_text(obj)
      nil
    end

    def log_level
      @log_level
    end

    def log_levels
      [:on, :off]
    end

    def log_level=(value)
      value = :on unless log_levels.include?(value)
      if value != @log_level
        log "* IMPORTANT: Log level has been changed to: [#{value}] from [#{@log_level}]."
      end
      @log_level = value
    end

    def disable_console
      @console.disable
    end

    def enable_console
      @console.enable
    end

    def show_console(reason = nil)
      @console.show(reason)
    end

    def toast(id, message)
      @console.toast(id, message)
    end

    # --- Loading code -------------------------------------------------------------------

    def require(file)
      file = file.to_s
      if file.end_with?(".rb") && native_file(:path_exists, "#{file}c")
        file = "#{file}c"
      end
      raise "#{file} does not exist." unless native_file(:path_exists, file)
      mark_ruby_file_for_reload(file)
      # A file first required once the game runs is new to a device that
      # takes this machine's changes (remote hot reload): backed up, it is
      # listed among the changes beside the file that requires it.
      backup_create(file) if @load_status == :ready && !@production && !@required_files.include?(file)
      @required_files << file unless @required_files.include?(file)
      # Watched from now on; loading it here is not a change to load again.
      init_mtimes(file)
      file
    end

    # --- Quitting ------------------------------------------------------------------------

    def request_quit
      log "* INFO: Quit requested (#{Kernel.global_tick_count})."
      @quit_requested = true
    end

    def quit_requested?
      @quit_requested
    end

    # The host's last call before shutdown; answers the process's exit status.
    def quit!
      if @recording.is_recording? && cli_arguments.key?(:record)
        @recording.stop_recording("replay_#{Time.now.to_i}.txt")
      end
      @console.save_history
      # Each answer takes its request off the list: go over a copy.
      @http_requests.dup.each(&:reject)
      @http_requests.clear
      @exit_status || 0
    end

    # --- Shell ---------------------------------------------------------------------------

    def exec(cmd)
      exec_with_status(cmd)[0]
    end

    EXIT_STATUS_MARKER = "\n-- vellumcore exit status: ".freeze

    # [standard output, exit status] of a shell command. The shell itself
    # prints the status after the output: the interpreter's own record of it
    # is left stale when a command is killed. A command that took its shell
    # down (so no status was printed) answers nil, which is no success.
    def exec_with_status(cmd)
      text = `(\n#{cmd}\n)\nprintf '\\n-- vellumcore exit status: %d' "$?"`.to_s
      at = text.rindex(EXIT_STATUS_MARKER)
      return [text, nil] unless at
      [text[0, at], text[(at + EXIT_STATUS_MARKER.length)..-1].to_i]
    end

    def system(cmd)
      output = exec(cmd)
      log output
      nil
    end

    # --- Small accessors -------------------------------------------------------------------

    # For good: nil and false answer unknown methods, arithmetic and
    # comparisons included, with NoMethodError again. Their tolerant methods
    # come from the module both classes include (and, while coercion is
    # armed, from the classes themselves), so they go from all three.
    def disable_nil_coersion!
      return if $disable_nil_coersion
      $disable_nil_coersion = true
      [nil, false].each(&:unassign_method_missing)
      NilClassFalseClass.instance_methods(false).each do |m|
        [NilClass, FalseClass, NilClassFalseClass].each do |owner|
          owner.send(:remove_method, m) if owner.instance_methods(false).include?(m)
        end
      end
    end

    def version
      QMX_VERSION
    end

    def tests
      @tests
    end

    def paused?
      @paused
    end

    def text_font
      nil
    end

    def reset_touch_count
      @current_touch_count = 0
    end

    # Answers the count before adding one.
    def increase_touch_count
      count = @current_touch_count
      @current_touch_count += 1
      count
    end

    # --- Help for error messages -------------------------------------------------------------

    def grep_source(*strings_with_recommendations)
      files = ["app/main.rb", "app/tests.rb", "app/test.rb"] + @required_files
      files.uniq.map { |f| grep_source_file(f, *strings_with_recommendations) }.join
    end

    def grep_source_file(file, *strings_with_recommendations)
      text = native_file(:read, file)
      return "" unless text
      found = ""
      strings_with_recommendations.each do |entry|
        word, recommendation = entry.is_a?(Array) ? entry : [entry, nil]
        next if ignore_search_term?(word)
        text.split("\n").each_with_index do |line, index|
          next unless line.include?(word.to_s)
          found += "#{file}, line #{index + 1}: #{line.strip}"
          found += " (#{recommendation})" if recommendation
          found += "\n"
        end
      end
      found
    end

    def grep_did_you_mean(instance, method)
      suggestions = grep_did_you_mean_recommendations(instance, method)
      return "" if suggestions.empty?
      "** Did you mean:\n" + suggestions.map { |m| "- #{m}" }.join("\n") + "\n"
    end

    def grep_did_you_mean_recommendations(instance, method)
      name = method.to_s
      return [] if name.length <= 3
      parts = ([name] + name.split("_")).reject { |p| p.length <= 3 }.uniq
      instance.methods.map(&:to_s).select { |m| parts.any? { |p| m.start_with?(p) } }.sort.uniq
    rescue StandardError
      []
    end

    def ignore_search_term?(word)
      plain = word.to_s.gsub(".", "")
      plain.length < 3 || plain == "state"
    end

    def autocomplete_methods
      methods - Deprecated.instance_methods
    end

    def console_button_primitive
      return nil if @production || !@console || @console.visible?
      @console_button ||= { x: @logical_width - 55, y: @logical_height - 50 - 50, w: 50, h: 50,
                            path: "console-logo.png", a: 80 }
      mouse = @args.inputs.mouse
      click = mouse.click
      if click && click.respond_to?(:inside_rect?) && click.inside_rect?(@console_button)
        mouse.click = nil
        @console.show
      end
      @console_button
    end

    def print_console_activation_help
      return if @no_tick
      log_once :hello_world, "* INFO: Hello World!\nThis is the Vellumcore Console.\nType \"docs\" and press the ENTER key for documentation.\nThis notification will not be displayed when you release your game (it only displays during development).\n"
    end

    private

    # A command-line run that cannot do what it was asked ends at once with
    # status 1, so that a script or CI job neither waits nor takes it for a
    # success.
    def end_failed_cli_run
      @exit_status = 1
      request_quit
    end

    def cli_option_list(names)
      names.map { |name| "--#{name}" }.join(", ")
    end

    def report_parse_failure(result, method, what, file = nil)
      return result unless result.nil?
      reason = @ffi_misc.parse_error
      if reason
        log_error "~$qmx.#{method}~ could not read #{what}: #{reason}. It answers nil."
      elsif file
        report_refused_name(file, "read")
      end
      nil
    end

    # A name no file system takes is refused before any lookup, and said so:
    # a game handed such a name (text taken for a file name, or a path from
    # a peer) would otherwise just find nothing.
    def report_refused_name(file_name, done)
      name = file_name.to_s
      reason = native_file(:name_refusal, name)
      return unless reason
      shown = name.bytesize > 60 ? "#{name.byteslice(0, 60)}..." : name
      log_error "=#{shown}= (#{name.bytesize} bytes) names no file: #{reason}. Nothing was #{done}."
    end

    # The file methods of the native side. One that this build does not
    # provide answers nil, as a missing or unwritable file would, and says
    # so once.
    def native_file(name, *args)
      return @ffi_file.send(name, *args) if @ffi_file.respond_to?(name)
      @missing_file_methods ||= {}
      unless @missing_file_methods[name]
        @missing_file_methods[name] = true
        Kernel.print("* ERROR: This build has no native file method FFI::File##{name}; files cannot be used through it.\n")
      end
      nil
    end
  end
end
