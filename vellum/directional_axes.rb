module QMX
  # Directions as numbers, for anything that answers up, down, left and
  # right: -1, 0 or 1 on each axis, left and down being negative.
  module DirectionalAxes
    def left_right
      return -1 if left
      return 1 if right
      0
    end

    def up_down
      return 1 if up
      return -1 if down
      0
    end
  end
end
