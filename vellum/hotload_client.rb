# Remote hot reload: a game running on a device takes code changes from the
# development machine named in "app/server_ip_address.txt". It polls that
# machine's HTTP API for its boot time and its list of changed files,
# downloads each changed file over its own copy, and its hot reload loads
# it. Every step is logged here and on the development machine.
module QMX
  class RemoteHotloadClientWrapper
    def initialize(runtime)
      @runtime = runtime
      @client = nil
    end

    def start
      return @client if @client
      address = @runtime.ffi_misc.get_local_ip_address.to_s
      address = address.strip unless @runtime.platform == "iOS"
      @client = RemoteHotloadClient.new(address)
    end

    def tick
      return unless @client
      @client.args = @runtime.args
      @client.tick
    end
  end

  class RemoteHotloadClient
    NOTES = "This enitity is used by Vellumcore Vellum Suite to provide you hotloading on remote machines.".freeze
    # The longest pause, in frames, between two attempts to reach the
    # development machine at start: 8 seconds.
    BOOT_RETRY_MAX_TICKS = 8 * 60

    attr_accessor :args

    def qmx
      args.qmx
    end

    def state
      local_state
    end

    def initialize(local_ip_address)
      @local_ip_address = local_ip_address
    end

    def tick
      return unless server_available? && server_needed?
      @frames = @frames.to_i + 1
      if !local_state.notified && should_tick?
        remote_log "* REMOTE CLIENT INFO: Hotload server found at #{get_server_ip_address}:#{server_port}."
        local_state.notified = true
      end
      tick_process_file_retrieval
      tick_process_queue
      tick_changes
      tick_http_boot
    end

    # Paced on the global tick count, which runs on while the game is
    # paused: the fix for the exception that paused it must still arrive.
    def should_tick?
      tick = Kernel.global_tick_count
      tick % 60 == 0 && tick > 300
    end

    def game_state
      args.state
    end

    def local_state
      @local_state ||= QMX::OpenEntity.new
      @local_state.hotload_client ||= @local_state.new_entity(:hotload_client, notes: NOTES, changes: {},
                                                                               changes_queue: [],
                                                                               reloaded_files_times: [])
    end

    # Sent as a multipart form, labelled as one, so that the development
    # machine logs the message alone.
    def remote_log(message)
      log message
      qmx.http_post(server_url("log/"), { message: "=======\n#{message}\n=======\n" })
    end

    def get_server_ip_address
      local_state.ip_address ||= (qmx.read_file("app/server_ip_address.txt") || "").strip
    end

    def server_port
      9001
    end

    def server_available?
      return false if qmx.platform == "Emscripten"
      !get_server_ip_address.empty?
    end

    # A game running on the development machine itself has nothing to fetch.
    def server_needed?
      return false if qmx.platform == "Emscripten"
      @local_ip_address != get_server_ip_address
    end

    def tick_changes
      return unless should_tick?
      local_state.greatest_tick ||= 0
      local_state.last_greatest_tick ||= 0
      tick_http_changes
    end

    # Until the development machine answers, it is asked again after a
    # pause that doubles from one second up to BOOT_RETRY_MAX_TICKS, and each
    # failure is logged once: a machine that is down costs a line now and
    # then, not one per frame.
    def tick_http_boot
      return if local_state.booted_at
      return if local_state.boot_retry_at && @frames < local_state.boot_retry_at
      request = finished_request(:http_boot, "boot/")
      return unless request
      if request[:http_response_code] == 200
        boot = request[:response_data].strip.to_i
        local_state.last_greatest_tick = boot
        local_state.greatest_tick = boot
        local_state.booted_at = boot
        remote_log "* REMOTE CLIENT INFO: HTTP GET for local_state. boot.txt succeeded."
        remote_log "* REMOTE CLIENT INFO: Looking for changes after: #{local_state.greatest_tick}."
      else
        delay = local_state.boot_retry_delay ? [local_state.boot_retry_delay * 2, BOOT_RETRY_MAX_TICKS].min : 60
        local_state.boot_retry_delay = delay
        local_state.boot_retry_at = @frames + delay
        remote_log "* REMOTE CLIENT INFO: HTTP GET for boot.txt failed. Retrying."
      end
    end

    # A line counts when it is newer than the server's boot (what it loaded
    # then is not a change), not older than the newest time of the previous
    # pass (files saved within the same second all arrive) and newer than
    # the last one queued for its file. Lines are read as the development
    # machine reads its own list, so a path holding a comma arrives too.
    def tick_http_changes
      return unless local_state.booted_at
      request = finished_request(:http_changes, "changes/")
      return unless request && request[:http_response_code] == 200
      since = local_state.greatest_tick
      local_state.last_greatest_tick = since
      request[:response_data].split("\n").each do |line|
        latest_file, time, key = QMX::Backup.change_fields(line)
        next if key.nil? || key.empty?
        time = time.to_i
        next if time <= local_state.booted_at || time < since
        local_state.greatest_tick = time if time > local_state.greatest_tick
        known = local_state.changes[key]
        next if known && time <= known[:updated_at]
        file_name = latest_file.gsub("#{QMX::Backup::DIRECTORY}/", "")
        remote_log "* REMOTE CLIENT INFO: Queueing file #{file_name} for update."
        change = { key: key, latest_file: file_name, updated_at: time }
        local_state.changes[key] = change
        local_state.changes_queue << change
      end
    end

    def tick_process_queue
      return if local_state.http_file_changes || local_state.processing_file_changes
      change = local_state.changes_queue.shift
      return unless change
      url = server_url(change[:latest_file])
      local_state.http_file_changes = qmx.http_get(url)
      # Not started (no HTTP here): tried again on a later frame.
      return local_state.changes_queue.unshift(change) unless local_state.http_file_changes
      local_state.processing_file_changes = change
      remote_log "* REMOTE CLIENT INFO: Getting new version of #{change[:latest_file]} (#{url})."
    end

    # Only a whole answer overwrites the file; a failed download is dropped
    # so that the changes after it still arrive. The files of one change
    # list are written together once the last has arrived: a changed file
    # that requires a new one must not be loaded before that one is there.
    def tick_process_file_retrieval
      request = local_state.http_file_changes
      if request && request[:complete]
        change = local_state.processing_file_changes
        local_state.http_file_changes = nil
        local_state.processing_file_changes = nil
        if request[:http_response_code] == 200
          (local_state.downloaded_files ||= []) << [change, request[:response_data]]
        else
          remote_log "* REMOTE CLIENT INFO: Getting #{change[:latest_file]} failed (status #{request[:http_response_code]}); skipped."
        end
      end
      return if local_state.http_file_changes || !local_state.changes_queue.empty?
      downloaded = local_state.downloaded_files
      return if downloaded.nil? || downloaded.empty?
      local_state.downloaded_files = []
      downloaded.each do |change, text|
        remote_log "* REMOTE CLIENT INFO: Loading #{change[:key]}: #{change[:latest_file]}"
        remote_log text
        qmx.write_file(change[:key], text)
      end
    end

    private

    # The request kept under `name`: started when none runs, answered (and
    # forgotten, so the next call starts another) once it has finished.
    def finished_request(name, path)
      request = local_state.send(name)
      unless request
        local_state.send(:"#{name}=", qmx.http_get(server_url(path)))
        return nil
      end
      return nil unless request[:complete]
      local_state.send(:"#{name}=", nil)
      request
    end

    def server_url(path)
      "http://#{get_server_ip_address}:#{server_port}/vellum/#{path}"
    end
  end
end
