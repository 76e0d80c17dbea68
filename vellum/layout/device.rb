module QMX
  # The measurements the layout grid is computed from.
  class Device
    include SerializedText
    attr :name, :w, :h, :safe_area, :grid_area, :control_area, :aspect

    def initialize
      @name = ""
      @w = 0
      @h = 0
      @safe_area = QMX::SafeArea.new
      @grid_area = QMX::GridArea.new
      @control_area = QMX::ControlArea.new
      @aspect = QMX::AspectRatio.new
    end

    def assert!(result, message)
      return nil if result
      raise message
    end

    def check_math!
      assert!(control_area.w + control_area.margin.left + control_area.margin.right == w,
              "Math for Width didn't pan out.")
      assert!(control_area.h + control_area.margin.top + control_area.margin.bottom == h,
              "Math for Height didn't pan out.")
    end

    def serialize
      { name: name, w: w, h: h, aspect: aspect.serialize, safe_area: safe_area.serialize,
        grid_area: grid_area.serialize, control_area: control_area.serialize }
    end
  end
end
