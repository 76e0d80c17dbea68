# Documentation of the tick-time helpers on numbers. The receiver is the
# tick at which something started.
module NumericDocs
  def docs_method_sort_order
    [:docs_frame_index, :docs_elapsed_time, :docs_elapsed?, :docs_new?]
  end

  def docs_frame_index
    <<~TEXT
      * DOCS: ~Numeric#frame_index~

      The frame of an animation to show now, for an animation that started at the receiver's tick:
      ~count~ frames, each shown for ~hold_for~ ticks, from the start again when ~repeat~ is true.
      nil before the start and after the end of an animation that does not repeat.
      #+begin_src ruby
        index = args.state.walk_started_at.frame_index(count: 6, hold_for: 4, repeat: true)
      #+end_src
    TEXT
  end

  def docs_elapsed_time
    <<~TEXT
      * DOCS: ~Numeric#elapsed_time~

      Ticks since the receiver's tick: ~args.state.jumped_at.elapsed_time~.
    TEXT
  end

  def docs_elapsed?
    <<~TEXT
      * DOCS: ~Numeric#elapsed?~

      True once more than ~offset~ ticks have passed since the receiver's tick:
      ~args.state.shot_at.elapsed?(30)~ is true from the 31st tick after the shot.
    TEXT
  end

  def docs_new?
    <<~TEXT
      * DOCS: ~Numeric#new?~

      True on the very tick of the receiver: ~args.state.level_started_at.new?~.
    TEXT
  end
end

class Numeric
  extend Docs
  extend NumericDocs
end
