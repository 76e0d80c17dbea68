# Watches the game's Ruby files and reloads the ones that change, without a
# restart: every 60 frames each file's modification time (and, shortly after
# a save, its text) is compared with those last taken, and a changed file is
# checked and queued for the host to load.
module QMX
  class Runtime
    module Hotload
      HOTLOAD_SCAN_PERIOD = 60

      # The framework's own sources are watched when they sit beside the game
      # (a development build of the framework); their list is the one the
      # build compiles from, vellum/manifest.txt.
      FRAMEWORK_MANIFEST = "vellum/manifest.txt".freeze

      MAILBOX = "app/mailbox.rb".freeze

      # File times may count whole seconds only, or two on some file
      # systems, so saves close together can share a time. A text taken more
      # than this many seconds after its file's time is known to be the
      # newest with that time: any later save gives the file a newer time.
      SHARED_TIME_SECONDS = 2

      def hotload_init
        @hotload_if_needed = 0
        @mailbox_if_needed = 0
        @file_mtimes = {}
        @file_texts = {}
        @file_texts_taken_at = {}
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
        remember_text(file, read_file(file)) unless @file_texts.key?(file)
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

      # Answers the file's new time, or nil when it did not change. A save
      # may keep the time of the one before it: while that can be, the text
      # is compared as well (and a touched file with the same text still
      # counts as changed). Otherwise the scan reads no file, only times.
      def reload_if_needed(file, force = false)
        current = mtime(file)
        same_time = !force && current == @file_mtimes[:"last_#{file}"]
        return nil if same_time && text_is_newest?(file, current)
        text = read_file(file)
        if same_time && text == @file_texts[file]
          remember_text(file, text)
          return nil
        end
        taken = reload_ruby_file(file)
        on_load_succeeded(file) if taken
        # A change that had to wait is looked at again on the next scan.
        unless taken.nil?
          @file_mtimes[:"last_#{file}"] = current
          remember_text(file, text)
        end
        current
      end

      def remember_text(file, text)
        @file_texts[file] = text
        @file_texts_taken_at[file] = Time.now.to_i
      end

      def text_is_newest?(file, time)
        taken_at = @file_texts_taken_at[file]
        !taken_at.nil? && taken_at > time + SHARED_TIME_SECONDS
      end

      # Seconds since the epoch; -1 for a file that is not there.
      def mtime(file)
        native_file(:mtime, file) || -1
      end
    end
  end
end
