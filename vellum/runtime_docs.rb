# Documentation of the runtime object ($qmx, args.qmx). Loaded before the
# runtime class, which extends itself with it.
module RuntimeDocs
  def docs_method_sort_order
    [:docs_class, :docs_api_summary, :docs_reset, :docs_calcstringbox, :docs_write_file, :docs_parse_json,
     :docs_http_get, :docs_start_recording]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~QMX::Runtime~

      The engine's runtime, reachable as ~$qmx~ and ~args.qmx~: files, text measuring, saved state,
      reset, recording and the window.
    TEXT
  end

  def docs_api_summary
    <<~TEXT
      * DOCS: ~QMX::Runtime#api_summary~

      - ~read_file(path)~, ~write_file(path, text)~, ~append_file(path, text)~: files of the game.
      - ~parse_json(text)~, ~parse_json_file(path)~, ~parse_xml(text)~, ~parse_xml_file(path)~: data files.
      - ~calcstringbox(text, size_enum, font)~: the width and height of a text.
      - ~save_state~, ~load_state~, ~serialize_state~, ~deserialize_state~: saved games.
      - ~reset~, ~request_quit~, ~set_window_title(title)~, ~openurl(url)~.
      - ~http_get(url)~, ~http_post(url, form)~, ~http_put(url, file)~, ~http_head(url)~: HTTP requests.
      - ~start_recording(seed)~, ~stop_recording(file)~, ~start_replay(file)~: recorded input.
    TEXT
  end

  def docs_reset
    <<~TEXT
      * DOCS: ~QMX::Runtime#reset~

      Starts the game over: empties ~args.state~ and the outputs and sets ~Kernel.tick_count~ back to -1.
      ~$qmx.reset seed: 42~ also seeds the random numbers.
    TEXT
  end

  def docs_calcstringbox
    <<~TEXT
      * DOCS: ~QMX::Runtime#calcstringbox~

      The width and height in logical pixels that a label of a text takes at a size and in a font
      (the width it is aligned by and the height of its line), whatever the window's size:
      #+begin_src ruby
        w, h = $qmx.calcstringbox("Game Over", 4, "font.ttf")
      #+end_src
    TEXT
  end

  def docs_write_file
    <<~TEXT
      * DOCS: ~QMX::Runtime#write_file~

      Writes a text to a file of the game directory, creating its folders; answers whether every byte
      was written. ~$qmx.read_file~ answers the text or nil.
      #+begin_src ruby
        $qmx.write_file("data/high_score.txt", args.state.high_score.to_s)
      #+end_src
      ~$qmx.append_file~ adds a text to the end of a file (making it when it is missing) and answers
      whether it did.
    TEXT
  end

  def docs_start_recording
    <<~TEXT
      * DOCS: ~QMX::Runtime#start_recording~

      ~$qmx.start_recording(seed)~ records the game's input, with the random numbers seeded, and
      ~$qmx.stop_recording("r.txt")~ saves it; ~$recording.start_replay("r.txt")~ (or ~--replay r.txt~ on
      the command line) plays it back tick for tick. However they are started, both begin between two
      ticks once the game has loaded and booted, with the game reset; past the engine's 1,000th tick,
      and after ~app/main.rb~ was saved while the game played, ~args.state~ is emptied, ~app/main.rb~ is
      loaded again and ~boot~ runs again first, as at start-up.
      Random numbers the top level or ~boot~ draw come before the seed: draw what the play depends on in
      ~tick~. A reset inside a recording or a replay does not load ~app/main.rb~ again. A replay begun in
      the game starts with the callbacks its recording started with (one recorded earlier in the run).
      In a replay the game's own calls to the recorder are answered as in its recording: what that
      refused (~start_replay~, ~$replay.stop~, a second ~start_recording~) is refused alike.
      Input the game gives itself from its tick (~$qmx.key_down_raw~) acts in the replay where the game
      gives it, as it did while recording. Typed text (~args.inputs.text~) is not recorded, and is
      dropped while a replay runs. Stopping a recording resets the game at once, in the
      middle of the tick that stops it: ~args.state~ is empty and ~Kernel.tick_count~ is -1 for the rest
      of that tick. Its replay runs that tick to its end and stops before the next, with a reset of its
      own.
    TEXT
  end

  def docs_http_get
    <<~TEXT
      * DOCS: ~QMX::Runtime#http_get~

      ~$qmx.http_get(url, headers)~, ~http_post(url, form, headers)~, ~http_put(url, file, headers)~ and
      ~http_head(url, headers)~ start a request and answer at once with a progress Hash (nil when it
      could not start) that the engine fills in on later frames: ~:complete~ is true once the transfer has
      ended, ~:http_response_code~ is the status (-1 when it failed), ~:response_data~ the body and
      ~:response_headers~ a Hash; setting ~:cancel~ to true stops it. The headers are an Array of
      ~"Name: value"~ lines; ~http_post~ sends its form, a Hash, as ~multipart/form-data~. An answer
      that brings more than ~$qmx.http_response_limit~ bytes (256 MiB unless set) fails there.
      #+begin_src ruby
        args.state.scores ||= $qmx.http_post("https://example.com/scores", { name: "ada", score: 3 })
        if args.state.scores[:complete] && args.state.scores[:http_response_code] == 200
          reply = $qmx.parse_json(args.state.scores[:response_data])
        end
      #+end_src
      Requests the game's server receives are in ~args.inputs.http_requests~.
    TEXT
  end

  def docs_parse_json
    <<~TEXT
      * DOCS: ~QMX::Runtime#parse_json~

      Reads JSON text into plain Ruby values (~parse_json_file(path)~ reads a file of the game): objects
      become Hashes with String keys, arrays Arrays, whole numbers Integers (~3.0~ and ~1e3~ too), other
      numbers Floats, ~null~ nil. Only the first complete value is read. A document that does not parse
      answers nil, and the log says why, with its line and column.
      #+begin_src ruby
        menu = $qmx.parse_json('{"title": "Main", "items": ["Start", "Quit"]}')
        menu["items"].length # => 2
      #+end_src
    TEXT
  end
end
