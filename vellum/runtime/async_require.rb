# The queue of Ruby files waiting to be loaded. The host takes the queue at
# the start of every frame, loads each file, and reports back after the tick;
# so require and hot reload load a file at the start of the next frame.
module QMX
  class Runtime
    module AsyncRequire
      # A path is not queued again this soon after its last event...
      REQUEUE_AFTER_EVENT_TICKS = 50
      # ...or after it was last queued.
      REQUEUE_AFTER_QUEUED_TICKS = 60

      UTF8_BOM = "\xEF\xBB\xBF".freeze

      def async_require_init
        @reload_list = []
        @reload_list_history = {}
      end

      def most_recent_reload_history(path)
        entry = @reload_list_history[path]
        entry && entry[:history].last
      end

      def mark_ruby_file_for_reload(path)
        entry = (@reload_list_history[path] ||= { current: {}, history: [] })
        now = Kernel.global_tick_count
        recent = most_recent_reload_history(path)
        # A file that failed to load is taken again as soon as it is fixed:
        # the frame counter may not even run while the game has not loaded.
        unless recent && recent[:event] == :reload_failed
          return nil if recent && recent[:global_at] + REQUEUE_AFTER_EVENT_TICKS > now
          queued_at = entry[:current][:global_at]
          return nil if queued_at && queued_at + REQUEUE_AFTER_QUEUED_TICKS > now
        end
        queue_reload(path)
        log "** INFO: =#{path}= queued to load via ~require~. (#{Kernel.global_tick_count}, #{Kernel.tick_count})"
        @reload_list
      rescue Exception => e
        raise e.class, "* EXCEPTION: ~Runtime#mark_ruby_file_for_reload~ failed for =#{path}=.\n#{e}"
      end

      # The file loads at the start of the next frame.
      def queue_reload(path)
        record_reload_event(path, :reload_queued)
        @reload_list << path unless @reload_list.include?(path)
      end

      # The host empties the answered Array itself.
      def get_ruby_reload_list
        return [] if @reload_list.empty?
        @reload_list.each { |path| record_reload_event(path, :processing) }
        __files_loading__(@reload_list)
        @exception_occured = false
        @is_reloading = true
        @reload_list
      end

      def reload_complete
        return unless @is_reloading
        @is_reloading = false
        unless @exception_occured
          unpause!
          if [:exception, :exception_on_load].include?(@console.show_reason)
            @console.hide
          end
        end
        @reload_list_history.each do |path, entry|
          next unless [:processing, :reload_queued].include?(entry[:current][:event])
          log "* INFO: =#{path}= reloaded. (#{Kernel.global_tick_count}, #{Kernel.tick_count})"
          record_reload_event(path, :reload_completed)
        end
        main_rb_loaded!
        # A recording or replay that waited for the game to load begins now.
        __begin_afresh_when_due__
      end

      # The host could not load a queued file: it raised, did not parse, or
      # is not usable bytecode. It is reported and the game paused as for an
      # exception in tick, and the file does not count as loaded.
      def reload_failed(path, exception)
        record_reload_event(path, :reload_failed)
        pretty_print_exception_and_export!(exception)
        pause!
        nil
      end

      # The game is ready once its main file has loaded; a game shipped as
      # bytecode only has "app/main.rbc" instead.
      def main_rb_loaded!
        return if @load_status == :ready || pending_reload?
        loaded = ["app/main.rb", "app/main.rbc"].any? do |path|
          entry = @reload_list_history[path]
          entry && entry[:history].any? { |event| event[:event] == :reload_completed }
        end
        return unless loaded
        @load_status = :ready
        log "* INFO: ~QMX::Runtime#load_status~ set to ~:ready~."
        Kernel.tick_count = -1
        Kernel.global_tick_count = -1
        write_file_root("#{backup_directory}/boot.txt", Time.now.to_i.to_s) unless @production
        __boot_game__
      end

      # A restart that loads the game's main file again, and a recording or
      # a replay begun there, has it loaded however recently it last loaded.
      def __reload_main_rb__
        path = native_file(:path_exists, "app/main.rbc") ? "app/main.rbc" : "app/main.rb"
        entry = @reload_list_history[path]
        return if entry && [:reload_queued, :processing].include?(entry[:current][:event])
        queue_reload(path)
        nil
      end

      def load_status
        @load_status
      end

      def pending_reload?
        @reload_list_history.any? do |_, entry|
          [:reload_queued, :processing].include?(entry[:current][:event])
        end
      end

      # Only Ruby source and bytecode load. A source file whose syntax check
      # fails is reported and never reaches the interpreter. Answers true when
      # the file was taken, false when it was refused, nil when it must wait.
      def reload_ruby_file(file)
        return false unless file.end_with?(".rb") || file.end_with?(".rbc")
        return true if @suppress_hotload
        backup_create(file)
        text = read_file(file) || ""
        return true if text.strip.empty?
        # Editors may save a byte-order mark; the host skips it when loading.
        text = text.byteslice(UTF8_BOM.bytesize..-1) if text.start_with?(UTF8_BOM)
        syntax_check_result = file.end_with?(".rb") ? @ffi_mrb.parse(text) : "Syntax OK"
        unless syntax_check_result == "Syntax OK"
          raise "  ** Failed to reload #{file}.\n  #{syntax_check_result}\n\n"
        end

        if file == Hotload::MAILBOX
          # The mailbox's code moves to a file of its own, which is loaded.
          contents = (read_file(file) || "").strip
          unless contents.empty?
            processed = file.gsub("mailbox.rb", "mailbox-processed/mailbox-#{Kernel.global_tick_count}.rb")
            write_file(file, "")
            write_file(processed, contents)
            reload_if_needed(processed, true)
            return true
          end
        end
        # A file loaded moments ago is not queued again yet; answering nil
        # keeps the change pending for the next scan instead of losing it.
        return nil unless mark_ruby_file_for_reload(file)
        log_info "Marked #{file} for reload. (#{Kernel.global_tick_count})"
        notify_subdued!
        true
      rescue Exception => e
        pretty_print_exception_and_export!(e)
        pause!
        @console.show(:exception)
        false
      end

      private

      def record_reload_event(path, kind)
        entry = (@reload_list_history[path] ||= { current: {}, history: [] })
        event = { path: path, global_at: Kernel.global_tick_count, event: kind }
        entry[:current] = event
        entry[:history] << event
        event
      end
    end
  end
end
