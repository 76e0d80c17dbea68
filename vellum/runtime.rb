# The one runtime object the host creates at start-up and ticks every frame.
module QMX
  class Runtime
    attr_reader :platform, :production, :logical_width, :logical_height, :binary_path, :argv

    # The options the runtime reads from the ARGV text: "--name value" pairs.
    def self.cli_arguments_from(argv)
      table = {}
      argv.to_s.split(" --").each do |piece|
        tokens = piece.split(" ")
        next if tokens.empty?
        key = tokens.shift
        value = tokens.join(" ").strip
        value = nil if value.empty?
        if key.include?("vellumcore")
          value = "mygame" if value.nil?
          value = "" if value == "./"
          table[:vellumcore] = value
        else
          key = key[1..-1] while key.start_with?("-")
          table[key.to_sym] = value unless key.empty?
        end
      end
      table
    end

    def self.parse_cli_argument(argv, name, default = nil)
      value = cli_arguments_from(argv)[name.to_sym]
      value.nil? ? default : value
    end

    def self.parse_cli_argument_i(argv, name, default = 0)
      parse_cli_argument(argv, name, default).to_i
    end

    def self.argv_window_width(argv)
      parse_cli_argument(argv, :window_width, "1280").to_i
    end

    def self.argv_window_height(argv)
      parse_cli_argument(argv, :window_height, "720").to_i
    end

    def self.argv_window_scale(argv)
      parse_cli_argument(argv, :window_scale, "1.0").to_f
    end

    def self.argv_window_position_x(argv)
      parse_cli_argument(argv, :window_position_x, "-1").to_i
    end

    def self.argv_window_position_y(argv)
      parse_cli_argument(argv, :window_position_y, "-1").to_i
    end

    def initialize(platform, production, logical_width, logical_height, argv, binary_path)
      $qmx ||= self
      $runtime ||= self
      @platform = platform
      @production = production
      @logical_width = logical_width
      @logical_height = logical_height
      @argv = argv.to_s.rstrip
      @binary_path = binary_path.to_s.strip
      @quit_requested = false
    end

    def cli_arguments
      @cli_arguments ||= Runtime.cli_arguments_from(@argv)
    end

    def tick(sdl_tick)
      @sdl_tick = sdl_tick
    end

    def request_quit
      @quit_requested = true
    end

    def quit_requested?
      @quit_requested
    end

    def quit!
    end
  end
end
