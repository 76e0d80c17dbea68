# Documentation of args.inputs.mouse.
module MouseDocs
  def docs_method_sort_order
    [:docs_class]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~QMX::Mouse~

      ~args.inputs.mouse~: ~x~ and ~y~ in logical coordinates, ~click~ (where a button went down this
      tick, else nil), ~up~, ~moved~, ~wheel~, and ~button_left~, ~button_middle~, ~button_right~ while
      held.
      #+begin_src ruby
        if args.inputs.mouse.click && args.inputs.mouse.inside_rect?(args.state.button)
          args.state.clicked_at = Kernel.tick_count
        end
      #+end_src
    TEXT
  end
end

module QMX
  class Mouse
    extend Docs
    extend MouseDocs
  end
end
