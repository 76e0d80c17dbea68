# Watches the game's Ruby files and reloads the ones that change, without a
# restart: every 60 frames the modification times are compared, and a
# changed file is checked and queued for the host to load.
module QMX
  class Runtime
    module Hotload
      HOTLOAD_SCAN_PERIOD = 60

      # The framework's own sources are watched when they sit beside the game
      # (a development build of the framework); their list is the one the
      # build compiles from, vellum/manifest.txt.
      FRAMEWORK_MANIFEST = "vellum/manifest.txt".freeze

      MAILBOX = "app/mailbox.rb".freeze

      def hotload_init
        @hotload_if_needed = 0
        @mailbox_if_needed = 0
        @file_mtimes = {}
        @suppress_mailbox = true
        files_to_reload.each { |file| init_mtimes(file) }
        init_mtimes(MAILBOX)
      end

      def hotload_on_write_file(file_name)
        @mailbox_if_needed = :force if file_name.to_s.include?("mailbox.rb")
      end

      def files_to_reload
        files = []
        files += framework_source_files unless @rcb_release_mode
        files + core_files_to_reload + @required_files
      end

      def framework_source_files
        @framework_source_files ||= native_file(:read, FRAMEWORK_MANIFEST).to_s.split("\n").map(&:strip)
                                      .reject { |line| line.empty? || line.start_with?("#") }
                                      .map { |name| "vellum/#{name}" }
      end

      def core_files_to_reload
        ["repl.rb", "app/main.rb", "app/repl.rb", "app/tests.rb", "app/test.rb", "app/stdin.rb"]
      end

      def init_mtimes(file)
        time = mtime(file)
        @file_mtimes[:"current_#{file}"] ||= time
        @file_mtimes[:"last_#{file}"] ||= time
      end

      def hotload_source_files
        @hotload_if_needed += 1
        return if @hotload_if_needed < HOTLOAD_SCAN_PERIOD
        @hotload_if_needed = 0
        files_to_reload.each { |file| reload_if_needed(file) }
        @console.enable
      end

      def mailbox_timeout
        @suppress_mailbox ? 60 : 3
      end

      def check_mailbox
        if @mailbox_if_needed == :force
          reload_if_needed(MAILBOX, true)
          @mailbox_if_needed = 1
        else
          @mailbox_if_needed += 1
          if @mailbox_if_needed % mailbox_timeout == 0
            @mailbox_if_needed = 1
            reload_if_needed(MAILBOX)
          end
        end
      end

      def hotload_if_needed
        hotload_source_files
        check_mailbox
      end

      def on_load_succeeded(file)
        @files_reloaded << file
        @reloaded_files << file
        Trace.untrace_classes!
      end

      # Answers the file's new time, or nil when it did not change.
      def reload_if_needed(file, force = false)
        current = mtime(file)
        return nil if !force && current == @file_mtimes[:"last_#{file}"]
        taken = reload_ruby_file(file)
        on_load_succeeded(file) if taken
        # A change that had to wait is looked at again on the next scan.
        @file_mtimes[:"last_#{file}"] = current unless taken.nil?
        current
      end

      # Seconds since the epoch; -1 for a file that is not there.
      def mtime(file)
        native_file(:mtime, file) || -1
      end
    end
  end
end
