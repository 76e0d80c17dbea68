# Documentation of args.outputs and its collections.
module OutputsDocs
  def docs_method_sort_order
    [:docs_class, :docs_solids, :docs_borders, :docs_render_targets]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~QMX::Outputs~

      ~args.outputs~ holds what is drawn this tick. The collections are drawn in this order, each in the
      order its primitives were added: ~solids~, ~sprites~, ~primitives~, ~labels~, ~lines~, ~borders~.
      Each ~static_~ collection is drawn right after its twin and keeps its contents from tick to tick.
    TEXT
  end

  def docs_solids
    <<~TEXT
      * DOCS: ~QMX::Outputs#solids~

      Filled rectangles:
      #+begin_src ruby
        args.outputs.solids << { x: 0, y: 0, w: 100, h: 100, r: 255, g: 0, b: 0, a: 255 }
      #+end_src
    TEXT
  end

  def docs_borders
    <<~TEXT
      * DOCS: ~QMX::Outputs#borders~

      Rectangle outlines, with the same attributes as solids:
      #+begin_src ruby
        args.outputs.borders << { x: 10, y: 10, w: 100, h: 50, r: 0, g: 0, b: 255 }
      #+end_src
    TEXT
  end

  def docs_render_targets
    <<~TEXT
      * DOCS: ~QMX::Outputs#[]~

      Render targets: ~args.outputs[:name]~ is an off-screen canvas with the same collections as
      ~args.outputs~ (~solids~, ~sprites~, ~labels~, ...), made anew, empty and transparent, the first time
      a tick asks for it, and drawn before the screen. Its size is ~w~ and ~h~ (the logical screen's unless
      set) and ~background_color~ (~[r, g, b]~ or ~[r, g, b, a]~) fills it. A sprite with ~path: :name~
      draws it, scaled to the sprite's size. Inside it (0, 0) is its bottom left corner, whichever origin
      the screen uses.
      #+begin_src ruby
        minimap = args.outputs[:minimap]
        minimap.w = 200
        minimap.h = 100
        minimap.background_color = [0, 0, 80]
        minimap.solids << { x: 10, y: 10, w: 20, h: 20, r: 255, g: 255, b: 0 }
        args.outputs.sprites << { x: 1040, y: 580, w: 200, h: 100, path: :minimap }
      #+end_src
    TEXT
  end

  def docs_screenshots
    <<~TEXT
      * DOCS: ~QMX::Outputs#screenshots~

      Saves part of the screen as a PNG file in the game directory at the end of the tick. Pixels of the
      key colour ~r~, ~g~, ~b~ (black by default) become transparent unless ~a~ is 255:
      #+begin_src ruby
        args.outputs.screenshots << { x: 0, y: 0, w: 1280, h: 720, path: "screenshot.png", a: 255 }
      #+end_src
    TEXT
  end
end

module QMX
  class Outputs
    extend Docs
    extend OutputsDocs
  end
end
