# Documentation of the object a game's tick receives.
module ArgsDocs
  def docs_method_sort_order
    [:docs_api_summary, :docs_audio]
  end

  def docs_audio
    <<~TEXT
      * DOCS: ~QMX::Args#audio~

      A Hash of the sounds that play. Each entry plays while it is in the Hash; removing it stops the
      sound. ~input~ is a WAV or Ogg Vorbis file, ~[channels, rate, samples]~ (an Array of Floats) or
      ~[channels, rate, callable]~ (called with no arguments for more samples; nil ends the sound);
      ~gain~, ~pitch~, ~looping~ and ~paused~ may change while it plays.
      #+begin_src ruby
        args.audio[:engine] ||= { input: "sounds/engine.wav", looping: true }
        args.audio[:engine][:pitch] = 1.0 + args.state.speed / 10
        args.audio.delete(:engine) if args.state.stopped
      #+end_src
    TEXT
  end
end

module QMX
  class Args
    extend Docs
    extend ArgsDocs
  end
end
