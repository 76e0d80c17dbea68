# The read-me chapters of the built-in documentation: the first pages a new
# game author reads, in the console or in the exported docs/docs.html.
module QMX
  # Exists only to carry the read-me chapters.
  class ReadMe
  end

  module ReadMeDocs
    def docs_method_sort_order
      [:docs_usage, :docs_hello_world, :docs_deployment, :docs_deployment_mobile, :docs_vellumcore_philosophy,
       :docs_faq, :docs_ticks_and_frames, :docs_sprites, :docs_labels, :docs_sounds, :docs_game_state,
       :docs_troubleshooting_performance]
    end

    def docs_usage
      <<~TEXT
        * Usage
        Run the engine with the folder of your game: ~./vellumcore mygame~. The game's code starts in
        ~app/main.rb~, which defines ~tick(args)~; the engine calls it 60 times a second. Saving a source
        file reloads it while the game runs. Open the console with the backtick key and type ~docs~ there.
      TEXT
    end

    def docs_hello_world
      <<~TEXT
        * Hello World
        Put this into ~mygame/app/main.rb~ and run ~./vellumcore mygame~:
        #+begin_src ruby
          def tick args
            args.outputs.labels << { x: 640, y: 400, text: "Hello World!", alignment_enum: 1 }
          end
        #+end_src
      TEXT
    end

    def docs_deployment
      <<~TEXT
        * Deployment
        The game's names and version live in ~metadata/game_metadata.txt~ (devid, devtitle, gameid,
        gametitle, version, icon). To publish to itch, type ~$wizards.itch.start~ in the console: it asks
        for every missing value and then runs the publishing tool ~vellumcore-publish~ beside the engine.
      TEXT
    end

    def docs_deployment_mobile
      <<~TEXT
        * Deployment To Mobile Devices
        On a Mac with Xcode, type ~$wizards.ios.start env: :dev~ in the console to build, sign and install
        the game on a connected device, or ~$wizards.ios.start env: :prod~ for a build for the store. Save
        your provisioning profiles as ~profiles/development.mobileprovision~ and
        ~profiles/distribution.mobileprovision~ beside the engine. A development build reloads code from
        this machine while it runs on the device.
      TEXT
    end

    def docs_vellumcore_philosophy
      <<~TEXT
        * Philosophy
        A game is a function of its state: ~tick~ reads ~args.state~ and the inputs, changes the state and
        describes the frame in ~args.outputs~. Nothing is drawn that the game did not put there this frame.
      TEXT
    end

    def docs_faq
      <<~TEXT
        * Frequently Asked Questions
        ** How do I quit the game?
        Call ~$qmx.request_quit~.
        ** Where are the errors?
        An exception pauses the game, opens the console and is written to ~exceptions/current.txt~
        beside the engine. Logs are in ~logs/~.
        ** What are the keys called?
        After what they type: ~:a~ to ~:z~, ~:zero~ to ~:nine~, ~:space~, ~:enter~, ~:escape~,
        ~:backspace~, ~:tab~, ~:delete~, the arrows ~:up~, ~:down~, ~:left~, ~:right~, ~:home~, ~:end~,
        ~:pageup~, ~:pagedown~, ~:shift~, ~:control~, ~:alt~, ~:meta~ (also ~:shift_left~, ~:shift_right~
        and so on), and punctuation by name: ~:backtick~ (it opens the console), ~:hyphen~,
        ~:equal_sign~, ~:comma~, ~:period~, ~:forward_slash~... With Shift a key is named after the
        character it types (Shift+1 is ~:exclamation_point~). ~args.inputs.keyboard.key_down.truthy_keys~
        lists the keys pressed this tick.
        ** What are a controller's buttons called?
        ~:a~, ~:b~, ~:x~, ~:y~, ~:l1~, ~:r1~, ~:l2~, ~:r2~, ~:l3~, ~:r3~ and ~:start~; ~:up~, ~:down~,
        ~:left~ and ~:right~ for either stick or the d-pad, ~:directional_up~ and its three twins for the
        d-pad alone: ~args.inputs.controller_one.key_down.a~.
        ** How does the game run a console command?
        Keys it presses itself with ~$qmx.key_down_raw~ do not open the console. It sets the command and
        runs it: ~$qmx.console.set_command_silent("give_gold 10")~, then ~$qmx.console.eval_the_set_command~.
        ** How does the game make HTTP requests?
        With ~$qmx.http_get(url)~ and its twins, which answer a progress Hash to poll: type
        ~QMX::Runtime.docs_http_get~ at the console.
        ** How does the game answer HTTP requests?
        Each request to the engine's server is in ~args.inputs.http_requests~ on the tick it arrives, the
        developer API's paths included: ~request.method~ is the method as sent ("GET"), ~request.uri~ the
        path with the query, not decoded ("/scores?level=2"), ~request.headers~ a Hash and ~request.body~ a
        String. ~request.respond(200, "text")~ answers it. After the game's tick the developer API answers
        the requests for its paths that the game left, so answer only your own paths.
      TEXT
    end

    def docs_ticks_and_frames
      <<~TEXT
        * Ticks And Frames
        The engine runs 60 ticks a second. ~Kernel.tick_count~ counts the game's ticks from 0 and goes back
        to -1 on ~$qmx.reset~; ~Kernel.global_tick_count~ never resets. Time in the engine is counted in
        ticks: ~2.seconds~ is 120. Before the first tick, once ~app/main.rb~ has loaded, the engine calls
        the game's ~boot(args)~ if it has one, once a run: not after a reset, which empties ~args.state~,
        so set up the state in ~tick~ with ~||=~ and never call ~boot~ from it. Only a recording or a
        replay begun past the engine's 1,000th tick, or after ~app/main.rb~ was saved while the game
        played, runs it again, on an empty state, as at start-up.
      TEXT
    end

    def docs_sprites
      <<~TEXT
        * Sprites
        A sprite draws a PNG file of the game directory into a rectangle whose origin is its bottom left:
        #+begin_src ruby
          args.outputs.sprites << { x: 100, y: 100, w: 64, h: 64, path: "sprites/player.png", angle: 45 }
        #+end_src
      TEXT
    end

    def docs_labels
      <<~TEXT
        * Labels
        A label's ~y~ is the top edge of its text. ~size_enum~ makes it larger (positive) or smaller
        (negative); ~alignment_enum~ is 0 left, 1 centre, 2 right. ~$qmx.calcstringbox~ measures a text.
        #+begin_src ruby
          args.outputs.labels << { x: 640, y: 360, text: "Score: 10", size_enum: 2, alignment_enum: 1 }
        #+end_src
      TEXT
    end

    def docs_sounds
      <<~TEXT
        * Sounds
        Add an entry to ~args.audio~ to play a WAV or Ogg Vorbis file; remove it to stop it:
        #+begin_src ruby
          args.audio[:music] = { input: "sounds/music.ogg", gain: 0.5, looping: true }
        #+end_src
        ~input~ may also be ~[channels, rate, samples]~, an Array of Floats from -1.0 to 1.0, or
        ~[channels, rate, callable]~: the engine calls the callable with no arguments whenever the sound
        needs more, and it returns the next samples, or nil to end the sound:
        #+begin_src ruby
          calls = 0
          args.audio[:beep] = { input: [1, 44100, lambda { (calls += 1) > 10 ? nil : [0.2, -0.2] * 220 }] }
        #+end_src
      TEXT
    end

    def docs_game_state
      <<~TEXT
        * Game State
        ~args.state~ keeps whatever the game assigns to it between ticks: ~args.state.score ||= 0~ sets a
        value once. ~$qmx.save_state~ writes it to ~game_state.txt~ and ~$qmx.load_state~ reads it back,
        together with the tick count.
      TEXT
    end

    def docs_troubleshooting_performance
      <<~TEXT
        * Troubleshooting Performance
        Type ~$qmx.framerate_diagnostics~ in the console for what the last frames cost. Keep unchanging
        primitives in the ~static_~ collections so that they are not rebuilt every tick.
      TEXT
    end

    # Longer examples kept with the chapters; not listed as documentation.
    def animate_a_sprite
      <<~TEXT
        * Animating A Sprite
        #+begin_src ruby
          index = 0.frame_index(count: 6, hold_for: 4, repeat: true)
          args.outputs.sprites << { x: 100, y: 100, w: 32, h: 32, path: "sprites/walk-\#{index}.png" }
        #+end_src
      TEXT
    end

    def scale_sprites
      <<~TEXT
        * Scaling Sprites
        Change ~w~ and ~h~; ~rect.scale_rect(2, 0.5, 0.5)~ doubles a rectangle around its centre.
      TEXT
    end
  end

  class ReadMe
    extend Docs
    extend ReadMeDocs
  end
end
