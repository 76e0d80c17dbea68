# The one object handed to the game's tick every frame: state, inputs,
# outputs, audio, grid, layout and the utility modules, plus the per-frame
# registries of named render targets and pixel arrays.
module QMX
  module ArgsDeprecated
    def vellum
      raise "* ERROR:\nArgs#vellum has been deprecated use Args#qmx instead (just rename args.vellum to args.qmx and you should be good to go).\n\n"
    end

    def game
      raise "* ERROR:\nArgs#game has been deprecated use Args#state instead (just rename args.game to args.state and you should be good to go).\n\n"
    end
  end

  class Args
    include ArgsDeprecated
    include Serialize

    attr_accessor :inputs, :outputs, :audio, :grid, :recording, :geometry, :fn, :runtime, :passes,
                  :wizards, :layout, :easing, :string
    attr_reader :state

    # The framework relies on the state being an entity every frame (its tick
    # count, reset, export, saving), so anything else is refused where the
    # game assigns it, with the game's own line in the report.
    def state=(value)
      unless value.is_a?(QMX::OpenEntity)
        raise ArgumentError, "* ERROR:\n~args.state~ can only be set to an entity (~QMX::OpenEntity~), " \
                             "not to #{value.nil? ? "nil" : "a value of class #{value.class}"}.\n" \
                             "To load a saved state use ~$qmx.load_state~; to start over use ~$qmx.reset~.\n"
      end
      @state = value
    end

    alias_method :qmx, :runtime

    def initialize(runtime, recording)
      @inputs = QMX::Inputs.new
      @outputs = QMX::Outputs.new(args: self)
      @audio = {}
      @grid = QMX::Grid.new(runtime)
      @render_targets = {}
      @pixel_arrays = {}
      @recording = recording
      @geometry = QMX::Geometry
      @fn = QMX::Fn
      @state = QMX::OpenEntity.new
      @state.tick_count = -1
      @runtime = runtime
      @passes = []
      # The publishing wizards are not part of every build.
      @wizards = QMX.const_defined?(:Wizards) ? QMX::Wizards.new : nil
      @layout = QMX::Layout.new(@grid.w, @grid.h)
      @easing = QMX::Easing
      @string = String
    end

    def tick_count
      @state.tick_count
    end

    def tick_count=(value)
      @state.tick_count = value
      value
    end

    def serialize
      { state: state.as_hash, inputs: inputs.serialize, passes: passes.serialize, outputs: outputs.serialize,
        grid: grid.serialize }
    end

    def destructure
      [grid, inputs, state, outputs, runtime, passes]
    end

    def clear_pixel_arrays
      pixel_arrays_clear
    end

    def pixel_arrays_clear
      @pixel_arrays = {}
    end

    def pixel_arrays
      @pixel_arrays
    end

    def pixel_array(name)
      name = name.to_s
      @pixel_arrays[name] ||= QMX::PixelArray.new
    end

    def clear_render_targets
      render_targets_clear
    end

    def render_targets_clear
      @render_targets = {}
    end

    def render_targets
      @render_targets
    end

    # The first call for a name in a frame makes a fresh, transparent target
    # that is drawn as a pass before the screen.
    def render_target(name)
      name = name.to_s
      target = @render_targets[name]
      return target if target
      target = QMX::Outputs.new(args: self, target: name, background_color_override: [255, 255, 255, 0])
      @render_targets[name] = target
      @passes << target
      target
    end

    def solids
      @outputs.solids
    end

    def static_solids
      @outputs.static_solids
    end

    def sprites
      @outputs.sprites
    end

    def static_sprites
      @outputs.static_sprites
    end

    def labels
      @outputs.labels
    end

    def static_labels
      @outputs.static_labels
    end

    def lines
      @outputs.lines
    end

    def static_lines
      @outputs.static_lines
    end

    def borders
      @outputs.borders
    end

    def static_borders
      @outputs.static_borders
    end

    def primitives
      @outputs.primitives
    end

    def static_primitives
      @outputs.static_primitives
    end

    def keyboard
      @inputs.keyboard
    end

    def mouse
      @inputs.mouse
    end

    def controller_one
      @inputs.controller_one
    end

    def controller_two
      @inputs.controller_two
    end

    def click
      click = @inputs.mouse.click
      click ? click.point : nil
    end

    def click_at
      click = @inputs.mouse.click
      click ? click.created_at : nil
    end

    def autocomplete_methods
      [:inputs, :outputs, :qmx, :state, :geometry, :audio, :grid, :layout, :fn]
    end
  end
end
