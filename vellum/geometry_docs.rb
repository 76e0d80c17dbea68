# Documentation of the geometry functions (QMX::Geometry, also mixed into
# hashes and arrays that stand for rectangles).
module GeometryDocs
  def docs_method_sort_order
    [:docs_class, :docs_scale_rect]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~Geometry~

      Functions over rectangles (~x~, ~y~, ~w~, ~h~), lines and points, available on hashes, arrays and
      primitives and as ~args.geometry~: ~intersect_rect?~, ~inside_rect?~, ~scale_rect~, ~angle_to~,
      ~point_inside_circle?~ and more.
    TEXT
  end

  def docs_scale_rect
    <<~TEXT
      * DOCS: ~Geometry#scale_rect~

      A copy of the rectangle scaled by ~percentage~ (1 is the same size) around an anchor given as
      fractions of its width and height (0, 0 is the bottom left corner; 0.5, 0.5 the centre):
      #+begin_src ruby
        { x: 100, y: 100, w: 50, h: 50 }.scale_rect(2, 0.5, 0.5) # => x: 75, y: 75, w: 100, h: 100
      #+end_src
    TEXT
  end
end

module Geometry
  extend Docs
  extend GeometryDocs
end
