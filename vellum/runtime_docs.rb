# Documentation of the runtime object ($qmx, args.qmx). Loaded before the
# runtime class, which extends itself with it.
module RuntimeDocs
  def docs_method_sort_order
    [:docs_class, :docs_api_summary, :docs_reset, :docs_calcstringbox, :docs_write_file, :docs_parse_json,
     :docs_start_recording]
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
      ticks once the game has loaded and booted, with the game reset. Stopping a recording resets the game
      at once, in the middle of the tick that stops it: ~args.state~ is empty and ~Kernel.tick_count~ is -1
      for the rest of that tick. The end of a replay resets the game again.
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
