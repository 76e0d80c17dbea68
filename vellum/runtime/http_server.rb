# Requests to the engine's own HTTP server. The host hands each complete
# request to new_http_request; the game sees the pending ones in
# args.inputs.http_requests and answers with respond, the HTTP API answers
# the ones it serves, and the runtime rejects what nobody answered in time.
module QMX
  class Runtime
    # Unanswered requests are rejected after this many milliseconds of real
    # time: game ticks stand still while the game is paused and start again
    # at a reset, and a client must not wait on either.
    HTTP_REQUEST_PATIENCE_MS = 30_000
    # An HTTP request's ignore_tick_count lies this many game ticks after
    # its arrival.
    HTTP_REQUEST_PATIENCE = 60 * 30

    class HTTPRequest
      REJECTED_TEXT = "This request was rejected, sorry.\n".freeze
      TEXT_HEADERS = { "Content-Type" => "text/plain; charset=utf-8" }.freeze

      attr_reader :id, :method, :uri, :headers, :body, :ignore_tick_count, :remote_address, :expires_at

      # Ids come from a generator of their own: drawing them from the game's
      # seeded one would change what a replay of the game sees.
      def self.id_random
        @id_random ||= Random.new
      end

      def initialize(runtime, method, uri, headers, body, reqcptr, remote_address = nil, user_agents = nil)
        @runtime = runtime
        random = HTTPRequest.id_random
        @id = ([Time.now.to_i] + Array.new(3) { random.rand(100000) + 100000 }).join("-")
        @ignore_tick_count = Kernel.tick_count + HTTP_REQUEST_PATIENCE
        # On the host's millisecond clock, which the runtime hands on each frame.
        @expires_at = runtime.sdl_tick.to_i + HTTP_REQUEST_PATIENCE_MS
        @method = method
        @uri = uri
        @headers = headers
        @body = body
        @reqcptr = reqcptr
        @remote_address = remote_address
        @user_agents = user_agents
      end

      # The value of every User-Agent line the request had: the headers
      # Hash keeps only the last of a repeated name.
      def user_agents
        @user_agents || @headers.select { |k, _| k.to_s.downcase == "user-agent" }.values
      end

      def serialize
        { id: @id, uri: @uri, method: @method, headers: @headers, body: @body }
      end

      def inspect
        serialize.to_s
      end

      def to_s
        header_text = @headers.map { |k, v| "*** #{k}\n#{v}" }.join("\n")
        "* HTTPRequest\n** id\n#{@id}\n** uri\n#{@uri}\n** method\n#{@method}\n** headers\n#{header_text}\n** body\n#{@body}\n"
      end

      def answered?
        @reqcptr.nil?
      end

      # Whether its client hung up before the answer (which then goes
      # nowhere).
      def client_gone?
        !@reqcptr.nil? && @runtime.ffi_misc.http_client_gone?(@reqcptr)
      end

      def reject
        respond(400, REJECTED_TEXT, TEXT_HEADERS)
      end

      # Answers once; later answers do nothing.
      def respond(httpcode, body = nil, headers = nil)
        reqcptr = @reqcptr
        @reqcptr = nil
        @runtime.http_respond(self, reqcptr, httpcode, body, headers)
      rescue Exception => e
        # The request has left the queue: unanswered, its client would wait
        # until the engine shuts down.
        @runtime.http_respond(self, reqcptr, 400, REJECTED_TEXT, TEXT_HEADERS) if reqcptr
        raise e
      end
    end

    def new_http_request(method, uri, headers, body, reqcptr, remote_address = nil, user_agents = nil)
      request = HTTPRequest.new(self, method, uri, headers, body, reqcptr, remote_address, user_agents)
      @http_requests << request
      request
    end

    # Rejects the requests nobody answered in time, and lets go of those
    # whose client hung up; runs every frame, also while the game is paused.
    def reject_expired_http_requests
      now = @sdl_tick.to_i
      @http_requests.select { |request| request.expires_at <= now || request.client_gone? }.each(&:reject)
    end

    # The headers as given go along with their lines: headers that are
    # neither a Hash nor an Array of [name, value] pairs are refused with a
    # 500, as any status, body or header the answer cannot send, and the
    # game's tick goes on.
    def http_respond(req, reqcptr, httpcode, body, headers_hash)
      @http_requests.delete(req)
      return nil if reqcptr.nil?
      @ffi_misc.http_respond(reqcptr, httpcode, body, http_header_lines(headers_hash), headers_hash)
    end

    # "Name: value" lines of the headers a game answers with, a Hash or an
    # Array of [name, value] pairs alike. Headers that cannot be made into
    # lines go on as they are, refused like the rest.
    def http_header_lines(headers)
      return headers unless headers.is_a?(Hash) || http_header_pairs?(headers)
      headers.map { |k, v| "#{k}: #{v}" }
    rescue Exception
      headers
    end

    def http_header_pairs?(headers)
      headers.is_a?(Array) && headers.all? { |pair| pair.is_a?(Array) && pair.size == 2 }
    end

    DEFAULT_SERVER_PORT = 9001

    # The server starts once per run, on the first frame after the game has
    # loaded; a game may start it earlier on a port of its choosing. In
    # production only a game that asks for it gets one. A call that cannot
    # act says why, once for each reason and port.
    def start_server!(opts = {})
      port = (opts[:port] || DEFAULT_SERVER_PORT).to_i
      unless @load_status == :ready
        log_once :start_server_before_load, port,
                 "* WARNING:\n~start_server!~ (port #{port}) was called before the game had loaded (at the top " \
                 "level of =app/main.rb=, of a file it requires or of an ~--eval~ file), where it cannot start " \
                 "the server. Call it in ~boot~, or on the game's first tick: the engine starts its own server " \
                 "on port #{DEFAULT_SERVER_PORT} at the end of that tick.\n"
        return nil
      end
      if @server_started
        unless port == @server_port
          log_once :start_server_started, port,
                   "* WARNING:\n~start_server!~ (port #{port}) was not acted on: the server was started on port " \
                   "#{@server_port} already, and it starts once per run. Call it in ~boot~, or on the game's first " \
                   "tick, before the engine starts its own server at the end of that tick.\n"
        end
        return nil
      end
      start_server_on(port, opts)
    end

    # The engine's own start, after each tick: silent, since the game did
    # not ask for it.
    def start_default_server
      start_server_on(DEFAULT_SERVER_PORT, {}) if @load_status == :ready && !@server_started
    end

    def start_server_on(port, opts)
      return nil if @production && !opts[:enable_in_prod]
      return nil unless @ffi_misc.respond_to?(:httpserver_init)
      @server_started = true
      @server_port = port
      @ffi_misc.httpserver_init(port)
    end
  end
end
