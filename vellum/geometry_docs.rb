# Documentation of the geometry functions (QMX::Geometry, also mixed into
# hashes and arrays that stand for rectangles).
module GeometryDocs
  def docs_method_sort_order
    [:docs_class, :docs_intersect_rect?, :docs_inside_rect?, :docs_point_inside_circle?, :docs_distance,
     :docs_angle_to, :docs_scale_rect]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~Geometry~

      Collision and geometry functions over rectangles (~x~, ~y~, ~w~, ~h~), lines and points, called on
      ~args.geometry~ (~args.geometry.intersect_rect?(a, b)~) or as methods of what they take
      (~a.intersect_rect?(b)~): ~intersect_rect?~, ~inside_rect?~, ~point_inside_circle?~, ~distance~,
      ~angle_to~, ~scale_rect~ and more.

      They take rectangles as Hashes (~{ x: 0, y: 0, w: 10, h: 10 }~), Arrays (~[x, y, w, h]~) and objects
      of a class that says ~attr_rect~ (or ~attr_sprite~), which includes ~AttrRect~: the edges ~left~,
      ~right~, ~bottom~ and ~top~ from ~x~, ~y~, ~w~ and ~h~, and these functions as methods.

      An entity (~args.state.new_entity~) is not a rectangle, even with ~x~, ~y~, ~w~ and ~h~: it has no
      ~right~ or ~top~, so ~intersect_rect?~ answers false for it, and ~entity.intersect_rect?(other)~
      answers nil. Give the functions its properties as a Hash, ~entity.as_hash~. A strict entity
      (~new_entity_strict~) makes them raise an error that names ~AttrRect~; ~entity.extend(AttrRect)~
      makes it a rectangle.
      #+begin_src ruby
        enemy = args.state.new_entity(:enemy, x: 100, y: 100, w: 32, h: 32)
        args.geometry.intersect_rect?(enemy.as_hash, { x: 110, y: 110, w: 32, h: 32 }) # => true
      #+end_src
    TEXT
  end

  def docs_intersect_rect?
    <<~TEXT
      * DOCS: ~Geometry#intersect_rect?~

      Whether two rectangles overlap, for collision tests: ~args.geometry.intersect_rect?(a, b, tolerance)~
      or ~a.intersect_rect?(b, tolerance)~. They must overlap by at least twice the tolerance (0.1 unless
      given) on both axes, so rectangles that only touch do not collide; with a tolerance of 0 they do.
      #+begin_src ruby
        player = { x: args.state.player_x, y: 0, w: 80, h: 80 }
        args.state.hits += 1 if args.geometry.intersect_rect?(player, { x: 600, y: 0, w: 80, h: 720 })
      #+end_src
    TEXT
  end

  def docs_inside_rect?
    <<~TEXT
      * DOCS: ~Geometry#inside_rect?~

      Whether a rectangle lies wholly inside another (a rectangle is inside itself):
      ~args.geometry.inside_rect?(inner, outer, tolerance)~ or ~inner.inside_rect?(outer)~; the tolerance
      (0 unless given) lets the inner one stick out by that much. ~args.inputs.mouse.inside_rect?(rect)~
      asks it of the mouse.
    TEXT
  end

  def docs_point_inside_circle?
    <<~TEXT
      * DOCS: ~Geometry#point_inside_circle?~

      Whether a point (~x~, ~y~) is inside a circle given by its centre and radius; a point on the circle
      is outside: ~args.geometry.point_inside_circle?({ x: 3, y: 4 }, { x: 0, y: 0 }, 5)~ is false.
    TEXT
  end

  def docs_distance
    <<~TEXT
      * DOCS: ~Geometry::distance~

      The distance between two points, a Float: ~args.geometry.distance({ x: 0, y: 0 }, { x: 3, y: 4 })~
      is 5.0.
    TEXT
  end

  def docs_angle_to
    <<~TEXT
      * DOCS: ~Geometry#angle_to~

      The direction from one point to another in degrees, counter-clockwise from the right, more than 0
      and at most 360: ~args.geometry.angle_to({ x: 0, y: 0 }, { x: 0, y: 10 })~ is 90.0, and towards
      the right it is 360.0. ~angle_from~ is the direction back.
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
