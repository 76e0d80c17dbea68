# The developer API that the engine's HTTP server answers: evaluate Ruby in
# the running game, read the logs, view and edit source files, fetch source
# backups, drive recording, replay and reset, and the boot and change feeds
# that remote hot reload polls. The game's own tick sees each request first;
# what it leaves unanswered is routed here once per frame.
module QMX
  class Api
    # Routes that run code or change the running game answer only the
    # machine itself, addressed by a loopback address or "localhost", and
    # never a page of another site (a cross-site form post, or a page whose
    # name was rebound to this machine, would otherwise reach them from any
    # browser on it). The feeds that remote hot reload reads, and the log it
    # posts to, stay open to the devices that address this machine by its IP
    # address.
    GUARDED_HANDLERS = [:post_api_eval, :post_api_console, :post_api_code_update, :post_api_reset,
                        :post_api_record, :post_api_record_stop, :post_api_replay, :post_api_show_console].freeze
    # Every request an engine's HTTP client makes names it in its User-Agent
    # ("Vellumcore-<devid>-<gameid>/<version> (<platform>)"), whichever game
    # made it, and a redirect or a proxy passes that on unchanged. Such a
    # request may come from any server a game talks to, which can redirect
    # it to any port of this machine: the routes above never take one.
    ENGINE_AGENT_PREFIX = "Vellumcore-".freeze
    DEFAULT_CODE = "# write your code here and set $result.\n$result = $qmx.args.state".freeze
    TITLE = "Vellumcore Vellum Suite Documentation".freeze
    HEX_DIGITS = "0123456789abcdefABCDEF".freeze
    DIGITS = "0123456789".freeze
    IPV6_CHARACTERS = "0123456789abcdefABCDEF:.".freeze

    def initialize
      @favicon = nil
      @console_result = nil
    end

    def links
      pages = [["Home", "/"], ["Docs", "/docs.html"], ["Control Panel", "/vellum/control_panel/"],
               ["Console", "/vellum/console/"], ["Logs", "/vellum/log/"], ["Puts", "/vellum/puts/"],
               ["Code", "/vellum/code/"], ["Eval", "/vellum/eval/"]]
      "<ul>\n" + pages.map { |name, href| "  <li><a href=\"#{href}\">#{name}</a></li>\n" }.join + "</ul>\n"
    end

    def get_index(args, req)
      respond_html(req, page(TITLE, "<h1>Vellumcore</h1>\n#{links}"))
    end

    def source_code_links(args)
      files = (args.qmx.reload_list_history || {}).keys.map(&:to_s)
      files.map do |f|
        "<li><a href=\"/vellum/code/edit/?file=#{Markup.escape(f)}\">#{Markup.escape(f)}</a></li>\n"
      end.join
    end

    def get_api_code(args, req)
      respond_html(req, page(TITLE, "<ul>\n#{source_code_links(args)}</ul>\n#{links}"))
    end

    # The text area holds the file's text HTML-escaped, so that it comes
    # back unchanged; the newline after its opening tag keeps a leading
    # newline of the file, which browsers drop right there. A file of the
    # game that does not exist yet is edited from an empty text area: that
    # is how a new file is made from the browser.
    def code_edit_view(args, file)
      text = args.qmx.read_file(file)
      text = "" if text.nil? && new_game_file?(args, file)
      return nil if text.nil?
      page(TITLE, "<form method=\"post\" action=\"/vellum/code/update/?file=#{Markup.escape(file)}\">\n" \
                  "<p><code>#{Markup.escape(file)}</code></p>\n" \
                  "<textarea name=\"code\" rows=\"30\" cols=\"80\">\n#{Markup.escape(text)}</textarea>\n" \
                  "<p><input type=\"submit\" value=\"Update\"></p>\n</form>\n#{links}")
    end

    # A path inside the game that nothing holds yet: relative, with no empty,
    # "." or ".." step, and none of the characters the file layer refuses.
    def new_game_file?(args, file)
      steps = file.split("/", -1)
      !steps.empty? && steps.none? { |s| s.empty? || s == "." || s == ".." || s.include?(":") || s.include?("\\") } &&
        !args.qmx.ffi_file.path_exists(file)
    end

    def get_api_code_edit(args, req)
      view = code_edit_view(args, query_file(args, req))
      view ? respond_html(req, view) : not_found(req)
    end

    # Browsers send a text area's line ends as CR LF: a file that had plain
    # line feeds keeps them. A file that cannot be written is answered as an
    # error, so that the edit is not taken for saved.
    def post_api_code_update(args, req)
      file = query_file(args, req)
      if file.strip.empty?
        return respond_text(req, "No file was named: the address needs ?file= and a path, such as ?file=app/main.rb. Nothing was written.\n", 400)
      end
      code = url_decode(args, posted_code(req.body))
      current = args.qmx.read_file(file)
      code = code.gsub("\r\n", "\n") if current.nil? || !current.include?("\r\n")
      unless args.qmx.write_file(file, code)
        return respond_text(req, "#{file} could not be written: it may be a folder, or a file the engine may not write. Nothing was written.\n", 500)
      end
      respond_html(req, code_edit_view(args, file) || "")
    end

    def get_api_boot(args, req)
      respond_file(args, req, "tmp/src_backup/boot.txt", "text/plain")
    end

    def get_api_trace(args, req)
      respond_file(args, req, "logs/trace.txt", "text/plain")
    end

    def get_api_log(args, req)
      respond_file(args, req, "logs/log.txt", "text/plain")
    end

    # A form's "message" field is logged alone, however the form was sent;
    # any other body is logged as it came.
    def post_api_log(args, req)
      QMX::Log.puts(posted_message(args, req))
      respond_text(req, "ok")
    end

    def get_api_puts(args, req)
      respond_file(args, req, "logs/puts.txt", "text/plain")
    end

    # Answered once the files queued for loading have loaded: a changed file
    # that requires a new one is listed together with it, so that a device
    # never loads the one without the other. Until then the request waits.
    def get_api_changes(args, req)
      return nil if args.qmx.pending_reload?
      respond_file(args, req, "tmp/src_backup/src_backup_changes.txt", "text/plain")
    end

    def get_favicon_ico(args, req)
      @favicon ||= args.qmx.read_file("docs/favicon.ico")
      return not_found(req) if @favicon.nil?
      req.respond(200, @favicon, { "Content-Type" => "image/x-icon" })
    end

    # The file layer takes repeated slashes as one, so the name's leading
    # slashes need no stripping (one at a time, that cost a long name's
    # length for each of them).
    def get_src_backup(args, req)
      name = req.uri.gsub("/vellum/", "")
      respond_file(args, req, "tmp/src_backup/#{name}", "text/plain")
    end

    def get_not_found(args, req)
      puts "METHOD: #{req.method}"
      puts "URI: #{req.uri}"
      puts "HEADERS:"
      req.headers.each { |k, v| puts "  #{k}: #{v}" }
      not_found(req)
    end

    def get_docs_html(args, req)
      respond_file(args, req, "docs/docs.html", "text/html")
    end

    def get_docs_css(args, req)
      respond_file(args, req, "docs/docs.css", "text/css")
    end

    def get_docs_search_gif(args, req)
      respond_file(args, req, "docs/docs_search.gif", "image/gif")
    end

    def get_src_backup_index_html(args, req)
      respond_file(args, req, "tmp/src_backup/src_backup_index.html", "text/html")
    end

    def get_src_backup_index_txt(args, req)
      respond_file(args, req, "tmp/src_backup/src_backup_index.txt", "text/txt")
    end

    def get_src_backup_css(args, req)
      respond_file(args, req, "tmp/src_backup/src_backup.css", "text/css")
    end

    def get_src_backup_changes_html(args, req)
      respond_file(args, req, "tmp/src_backup/src_backup_changes.html", "text/html")
    end

    def get_src_backup_changes_txt(args, req)
      respond_file(args, req, "tmp/src_backup/src_backup_changes.txt", "text/txt")
    end

    def get_api_eval(args, req)
      respond_html(req, eval_view("Eval", "/vellum/eval/", DEFAULT_CODE, req))
    end

    def post_api_eval(args, req)
      respond_text(req, eval_posted(args, req)[1])
    end

    def api_css_string
      nil
    end

    def get_api_console(args, req)
      respond_html(req, console_view(DEFAULT_CODE, req))
    end

    def console_view(code, req = nil)
      result = "<pre>#{Markup.escape(@console_result.to_s)}</pre>\n"
      eval_view("console", "/vellum/console/", code, req) + result + links
    end

    def control_panel_view
      buttons = [["Show Console", "/vellum/show_console/"], ["Reset Game", "/vellum/reset/"],
                 ["Record Gameplay", "/vellum/record/"], ["Stop Recording", "/vellum/record_stop/"],
                 ["Replay Recording", "/vellum/replay/"]]
      forms = buttons.map do |label, action|
        "<form method=\"post\" action=\"#{action}\"><input type=\"submit\" value=\"#{label}\"></form>\n"
      end
      page("console", forms.join + links)
    end

    def get_api_control_panel(args, req)
      respond_html(req, control_panel_view)
    end

    def post_api_reset(args, req)
      $qmx.reset
      respond_html(req, control_panel_view)
    end

    def post_api_record(args, req)
      $recording.start(100)
      respond_html(req, control_panel_view)
    end

    def post_api_record_stop(args, req)
      $recording.stop("replay.txt")
      respond_html(req, control_panel_view)
    end

    def post_api_replay(args, req)
      $replay.start("replay.txt")
      respond_html(req, control_panel_view)
    end

    def post_api_show_console(args, req)
      $console.show
      respond_html(req, control_panel_view)
    end

    def post_api_console(args, req)
      code, @console_result = eval_posted(args, req)
      respond_html(req, console_view(code, req))
    end

    # In production every request is the game's: no route is matched. A
    # request whose routing fails is answered 400 and reported, and the
    # others are served as usual.
    def tick(args)
      return unless args
      return if args.qmx.production
      args.inputs.http_requests.each do |req|
        next if req.answered?
        begin
          process!(args: args, req: req, match_candidate: match_candidate(req))
        rescue Exception => e
          unroutable(req, e)
        end
      end
    end

    # "+" is a space and each %XX one byte, decoded in one pass: a decoded
    # "%" never starts another escape, and bytes of any character come back.
    def url_decode(args, string)
      pieces = string.to_s.gsub("+", " ").split("%", -1)
      decoded = pieces.shift.to_s
      pieces.each do |piece|
        hex = piece[0, 2].to_s
        if hex.length == 2 && HEX_DIGITS.include?(hex[0]) && HEX_DIGITS.include?(hex[1])
          decoded << hex.to_i(16).chr << piece[2..-1]
        else
          decoded << "%" << piece
        end
      end
      decoded
    end

    def file_extensions
      [".html", ".css", ".gif", ".txt", ".ico", ".rb"]
    end

    def routes
      [
        [{ method: "get", uri: "/" }, :get_index],
        [{ method: "get", uri: "/vellum/boot/" }, :get_api_boot],
        [{ method: "get", uri: "/vellum/trace/" }, :get_api_trace],
        [{ method: "get", uri: "/vellum/puts/" }, :get_api_puts],
        [{ method: "get", uri: "/vellum/log/" }, :get_api_log],
        [{ method: "post", uri: "/vellum/log/" }, :post_api_log],
        [{ method: "get", uri: "/vellum/changes/" }, :get_api_changes],
        [{ method: "get", uri: "/vellum/eval/" }, :get_api_eval],
        [{ method: "post", uri: "/vellum/eval/" }, :post_api_eval],
        [{ method: "get", uri: "/vellum/console/" }, :get_api_console],
        [{ method: "post", uri: "/vellum/console/" }, :post_api_console],
        [{ method: "get", uri: "/vellum/control_panel/" }, :get_api_control_panel],
        [{ method: "post", uri: "/vellum/reset/" }, :post_api_reset],
        [{ method: "post", uri: "/vellum/record/" }, :post_api_record],
        [{ method: "post", uri: "/vellum/record_stop/" }, :post_api_record_stop],
        [{ method: "post", uri: "/vellum/replay/" }, :post_api_replay],
        [{ method: "post", uri: "/vellum/show_console/" }, :post_api_show_console],
        [{ method: "get", uri: "/vellum/code/" }, :get_api_code],
        [{ method: "get", uri_without_query_string: "/vellum/code/edit/", has_query_string: true }, :get_api_code_edit],
        [{ method: "post", uri_without_query_string: "/vellum/code/update/", has_query_string: true },
         :post_api_code_update],
        [{ method: "get", uri: "/docs.html" }, :get_docs_html],
        [{ method: "get", uri_without_query_string: "/docs.css" }, :get_docs_css],
        [{ method: "get", uri: "/docs_search.gif" }, :get_docs_search_gif],
        [{ method: "get", uri: "/src_backup_index.html" }, :get_src_backup_index_html],
        [{ method: "get", uri: "/src_backup_index.txt" }, :get_src_backup_index_txt],
        [{ method: "get", uri: "/src_backup_changes.html" }, :get_src_backup_changes_html],
        [{ method: "get", uri: "/src_backup_changes.txt" }, :get_src_backup_changes_txt],
        [{ method: "get", uri: "/src_backup.css" }, :get_src_backup_css],
        [{ method: "get", uri: "/favicon.ico" }, :get_favicon_ico],
        [{ method: "get", end_with_rb: true }, :get_src_backup]
      ]
    end

    def process!(opts)
      candidate = opts[:match_candidate]
      routes.each do |criteria, handler|
        next unless criteria.all? { |key, value| candidate[key] == value }
        return process_single!(opts.merge(handler: handler))
      end
      nil
    end

    # A handler that fails answers 500 with what went wrong.
    def process_single!(opts)
      req = opts[:req]
      handler = opts[:handler]
      refusal = refusal_for(handler, req)
      return respond_text(req, refusal, 403) if refusal
      send(handler, opts[:args], req)
    rescue Exception => e
      respond_text(req, "#{e}\n#{e.__backtrace_to_org__}", 500)
    end

    def match_candidate(req)
      uri = req.uri.to_s
      path, query = split_query(uri)
      has_extension = file_extensions.any? { |extension| uri.include?(extension) }
      uri = "#{path}/#{query ? "?#{query}" : ""}" if !has_extension && !path.end_with?("/")
      path, query = split_query(uri)
      # The method stays text: a Symbol made of each request's method would
      # stay in the interpreter for good.
      { method: req.method.to_s.downcase, uri: uri, uri_without_query_string: path,
        query_string: query, has_query_string: !query.nil?, has_api_prefix: uri.start_with?("/vellum"),
        end_with_rb: uri.end_with?(".rb"), has_file_extension: has_extension,
        has_trailing_slash: path.end_with?("/") }
    end

    private

    def unroutable(req, error)
      log_error("The HTTP request #{req.method.to_s[0, 40]} #{req.uri.to_s[0, 200]} could not be routed, " \
                "so it was answered 400: #{error.class}: #{error}")
      respond_text(req, "This request could not be routed, sorry.\n", 400)
    rescue Exception
      # Answered already, or the answer itself failed; either way it is done.
      nil
    end

    # The part before the first "?" and the part after the last one.
    def split_query(uri)
      first = uri.index("?")
      return [uri, nil] unless first
      [uri[0, first], uri[(uri.rindex("?") + 1)..-1]]
    end

    # Why the request may not reach the handler, or nil. A page can only
    # reach this server under a name of its own site rebound to this
    # machine, so a Host that is a name other than "localhost" is refused
    # everywhere; an IP address is how a device reaches it. A page of
    # another site reveals itself by its Origin, refused wherever the route
    # changes something.
    def refusal_for(handler, req)
      host = header(req, "Host")
      if host && !host_address?(host) && !loopback_host?(host)
        return "forbidden: this server answers requests addressed to localhost or to an IP address, not to #{host}.\n"
      end
      origin = header(req, "Origin")
      if origin && handler.to_s.start_with?("post_") && !same_origin?(origin, host)
        return "forbidden: #{req.uri} takes no requests from pages of other sites (#{origin}).\n"
      end
      return nil unless GUARDED_HANDLERS.include?(handler)
      if engine_client?(req)
        return "forbidden: #{req.uri} takes no requests made by a game's HTTP client, from this engine or another.\n"
      end
      return nil if loopback_address?(req.remote_address.to_s) && host && loopback_host?(host)
      "forbidden: #{req.uri} answers only this machine's own pages and tools.\n"
    end

    # The host part of a Host header and whether a well-formed port (or
    # none) follows it; nil for anything else.
    def host_name(host)
      text = host.to_s
      if text.start_with?("[")
        close = text.index("]")
        return nil unless close
        name, rest = text[0, close + 1], text[(close + 1)..-1]
      else
        at = text.index(":")
        name, rest = at ? [text[0, at], text[at..-1]] : [text, ""]
      end
      return nil unless rest.empty? || (rest.length.between?(2, 6) && rest[1..-1].each_char.all? { |c| DIGITS.include?(c) })
      name
    end

    # "127.0.0.1"-style dotted quads only: four numbers of up to three
    # digits, none above 255.
    def dotted_quad(name)
      parts = name.to_s.split(".", -1)
      return nil unless parts.length == 4
      return nil unless parts.all? { |p| p.length.between?(1, 3) && p.each_char.all? { |c| DIGITS.include?(c) } && p.to_i <= 255 }
      parts.map(&:to_i)
    end

    def loopback_address?(name)
      quad = dotted_quad(name)
      quad && quad[0] == 127
    end

    def loopback_host?(host)
      name = host_name(host)
      return false unless name
      name.downcase == "localhost" || name == "[::1]" || loopback_address?(name)
    end

    # A Host that is an IP address (any, loopback or not).
    def host_address?(host)
      name = host_name(host)
      return false unless name
      return true if dotted_quad(name)
      name.start_with?("[") && name.length > 2 && name[1..-2].each_char.all? { |c| IPV6_CHARACTERS.include?(c) }
    end

    # The engine's own pages post back to the address they came from.
    def same_origin?(origin, host)
      !host.nil? && origin.downcase == "http://#{host.downcase}"
    end

    # Any User-Agent line counts: a proxy that adds a line of its own, or a
    # client that sends a second, must not hide the engine's.
    def engine_client?(req)
      req.user_agents.any? { |agent| agent.to_s.include?(ENGINE_AGENT_PREFIX) }
    end

    def header(req, name)
      wanted = name.downcase
      req.headers.each { |k, v| return v if k.to_s.downcase == wanted }
      nil
    end

    def query_file(args, req)
      _, query = split_query(req.uri.to_s)
      form_field(args, query, "file") || ""
    end

    # The decoded value of a URL-encoded form's or query's first field of
    # that name; nil when it has none.
    def form_field(args, text, name)
      pair = text.to_s.split("&").find { |p| p.start_with?("#{name}=") }
      pair && url_decode(args, pair[(name.length + 1)..-1])
    end

    # The posted form's last value (the code field of the API's forms).
    def posted_code(body)
      text = body.to_s
      at = text.rindex("=")
      at ? text[(at + 1)..-1] : text
    end

    # Runs the posted code with a fresh object as self; answers the code
    # and the result's text.
    def eval_posted(args, req)
      code = url_decode(args, posted_code(req.body))
      source = code.gsub("$result", "$eval_result")
      begin
        Object.new.instance_eval { Kernel.eval(source) }
      rescue Exception => e
        $eval_result = e
      end
      result = if !$eval_result.nil? then $eval_result
               elsif !$eval_results.nil? then $eval_results
               else "nil"
               end
      $eval_result = nil
      $eval_results = nil
      [code, result.to_s]
    end

    def eval_view(title, action, code, req)
      host = req ? (header(req, "Host") || "localhost:9001") : "localhost:9001"
      style = "<style>pre { white-space: pre-wrap; border: 1px solid silver; padding: 10px; font-size: 14px; }</style>\n"
      page(title, "#{style}<form method=\"post\" action=\"#{action}\">\n" \
                  "<textarea name=\"code\" rows=\"10\" cols=\"80\">\n#{Markup.escape(code)}</textarea>\n" \
                  "<p><input type=\"submit\" value=\"Eval\"></p>\n</form>\n" \
                  "<pre>curl --data-urlencode 'code=#{Markup.escape(DEFAULT_CODE.split("\n").last)}' " \
                  "http://#{Markup.escape(host)}/vellum/eval/</pre>\n")
    end

    def page(title, body)
      "<html>\n<head>\n<meta charset=\"utf-8\">\n<title>#{title}</title>\n</head>\n<body>\n#{body}</body>\n</html>\n"
    end

    def respond_html(req, html)
      req.respond(200, html, { "Content-Type" => "text/html" })
    end

    def respond_text(req, text, status = 200)
      req.respond(status, text, { "Content-Type" => "text/plain" })
    end

    def respond_file(args, req, path, type)
      text = args.qmx.read_file(path)
      return not_found(req) if text.nil?
      req.respond(200, text, { "Content-Type" => type })
    end

    def not_found(req)
      req.respond(404, "not found: #{Markup.escape(req.uri)}")
    end

    # The "message" field of a posted form, decoded; the body itself when
    # it is no form or has no such field.
    def posted_message(args, req)
      type = header(req, "Content-Type").to_s
      kind = type.split(";").first.to_s.strip.downcase
      body = req.body.to_s
      field = if kind == "multipart/form-data"
                multipart_field(body, type, "message")
              elsif kind == "application/x-www-form-urlencoded"
                form_field(args, body, "message")
              end
      field || body
    end

    def multipart_field(body, type, name)
      parameter = type.split(";").map(&:strip).find { |p| p.downcase.start_with?("boundary=") }
      return nil unless parameter
      boundary = parameter[9..-1].delete("\"")
      return nil if boundary.empty?
      body.split("--#{boundary}").each do |part|
        at = part.index("\r\n\r\n")
        next unless at
        head = part[0, at]
        next unless head.include?("name=\"#{name}\"")
        content = part[(at + 4)..-1]
        return content.end_with?("\r\n") ? content[0, content.length - 2] : content
      end
      nil
    end
  end
end
