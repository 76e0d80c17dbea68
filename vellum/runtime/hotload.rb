# Watches the game's Ruby files and reloads the ones that change, without a
# restart: every 60 frames each file's modification time and text are
# compared with those last taken, and a changed file is checked and queued
# for the host to load.
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
        @file_texts = {}
        @suppress_mailbox = true
        files_to_reload.each { |file| init_mtimes(file) }
        init_mtimes(MAILBOX)
      end

      # Only the mailbox itself: a game file or a backup whose name merely
      # ends the same way is not mail.
      def hotload_on_write_file(file_name)
        @mailbox_if_needed = :force if file_name.to_s == MAILBOX
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
        @file_texts[file] = read_file(file) unless @file_texts.key?(file)
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

      # Answers the file's new time, or nil when it did not change. File
      # times may count whole seconds only, so saves within one second can
      # share a time: the text is compared as well, and a touched file with
      # the same text still counts as changed.
      def reload_if_needed(file, force = false)
        current = mtime(file)
        text = read_file(file)
        return nil if !force && current == @file_mtimes[:"last_#{file}"] && text == @file_texts[file]
        taken = reload_ruby_file(file)
        on_load_succeeded(file) if taken
        # A change that had to wait is looked at again on the next scan.
        unless taken.nil?
          @file_mtimes[:"last_#{file}"] = current
          @file_texts[file] = text
        end
        current
      end

      # Seconds since the epoch; -1 for a file that is not there.
      def mtime(file)
        native_file(:mtime, file) || -1
      end
    end
  end
end
