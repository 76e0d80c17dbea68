# Documentation of the list helpers the framework adds to Array.
module ArrayDocs
  def docs_method_sort_order
    [:docs_class, :docs_map, :docs_each, :docs_reject_nil, :docs_reject_false, :docs_product, :docs_map_2d,
     :docs_include_any?, :docs_any_intersect_rect?]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~Array~

      An Array of four numbers ~[x, y, w, h]~ can stand in for a rectangle, and Arrays of hashes are what
      the output collections hold. The framework adds the helpers below.
    TEXT
  end

  def docs_map
    <<~TEXT
      * DOCS: ~Array#map~

      A new Array of the block's answers:
      #+begin_src ruby
        [1, 2, 3].map { |i| i * 2 } # => [2, 4, 6]
      #+end_src
    TEXT
  end

  def docs_each
    <<~TEXT
      * DOCS: ~Array#each~

      Runs the block for every element, in order, and answers the Array itself.
    TEXT
  end

  def docs_reject_nil
    <<~TEXT
      * DOCS: ~Array#reject_nil~

      The elements that are not nil: ~[1, nil, false].reject_nil~ gives ~[1, false]~.
    TEXT
  end

  def docs_reject_false
    <<~TEXT
      * DOCS: ~Array#reject_false~

      The truthy elements: ~[1, nil, false].reject_false~ gives ~[1]~.
    TEXT
  end

  def docs_product
    <<~TEXT
      * DOCS: ~Array#product~

      Every pair of an element of the Array with one of the other Array (the Array itself when none is
      given), for example the cells of a grid:
      #+begin_src ruby
        (0..2).to_a.product([0, 1]) # => [[0, 0], [0, 1], [1, 0], [1, 1], [2, 0], [2, 1]]
      #+end_src
    TEXT
  end

  def docs_map_2d
    <<~TEXT
      * DOCS: ~Array#map_2d~

      For an Array of rows: the block gets the row index, the column index and the value of every cell.
      #+begin_src ruby
        [[1, 2], [3, 4]].map_2d { |row, col, value| value * 10 } # => [10, 20, 30, 40]
      #+end_src
    TEXT
  end

  def docs_include_any?
    <<~TEXT
      * DOCS: ~Array#include_any?~

      True when the Array holds any of the arguments: ~[:a, :b].include_any?(:b, :c)~ is true.
    TEXT
  end

  def docs_any_intersect_rect?
    <<~TEXT
      * DOCS: ~Array#any_intersect_rect?~

      True when any rectangle of the Array overlaps the given one:
      #+begin_src ruby
        args.state.walls.any_intersect_rect?(args.state.player)
      #+end_src
    TEXT
  end
end

class Array
  extend Docs
  extend ArrayDocs
end
