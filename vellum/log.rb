# Terminal colour escape sequences for the coloured log methods.
XTERM_COLOR = {
  black: "\e[30m",
  red: "\e[31m",
  green: "\e[32m",
  yellow: "\e[33m",
  blue: "\e[34m",
  magenta: "\e[35m",
  cyan: "\e[36m",
  white: "\e[37m",
  bright_black: "\e[30;1m",
  bright_red: "\e[31;1m",
  bright_green: "\e[32;1m",
  bright_yellow: "\e[33;1m",
  bright_blue: "\e[34;1m",
  bright_magenta: "\e[35;1m",
  bright_cyan: "\e[36;1m",
  bright_white: "\e[37;1m",
  reset: "\e[0m"
}

module QMX
  # Messages to standard output, the console and (outside production) the
  # files under "logs/" in the base directory. Before the runtime exists
  # messages still reach standard output.
  class Log
    @once = {}

    # Appends the lines to "logs/log.txt" and answers the runtime that should
    # show them; nil before there is a runtime (they are printed instead) and
    # in production (nothing is written).
    def self.__log_file_lines__(args)
      runtime = $qmx
      unless runtime
        args.each { |obj| original_puts(obj) }
        return nil
      end
      return nil if runtime.production
      runtime.append_file_root("logs/log.txt", args.join("\n") + "\n")
      runtime
    end

    def self.write_to_log_and_puts(*args)
      runtime = __log_file_lines__(args)
      return nil unless runtime
      args.each { |obj| runtime.log(obj, QMX::Log) }
      nil
    end

    def self.write_to_log_and_print(*args)
      runtime = $qmx
      text = args.join("\n")
      unless runtime
        Kernel.print(text)
        return nil
      end
      return nil if runtime.production
      runtime.append_file_root("logs/log.txt", text)
      Kernel.print(text)
      nil
    end

    def self.puts_important(*args)
      runtime = __log_file_lines__(args)
      return nil unless runtime
      runtime.notify!("Important notification occurred.")
      # Shown whatever the log level, as puts shows it.
      args.each { |obj| runtime.log(obj, Kernel) }
      nil
    end

    # With two or more arguments the first is an id and the second the text.
    def self.puts(*args)
      write_to_log_and_puts(args.length >= 2 ? (args[1] || args[0]) : args[0])
    end

    def self.multiline?(*args)
      return true if args.length > 1
      args[0].to_s.include?("\n")
    end

    def self.join_lines(args)
      return args if args.is_a?(String)
      return "" if args.nil? || args.empty?
      return args[0] if args.length == 1
      args.map(&:to_s).join("\n")
    end

    def self.headline(name)
      body = join_lines(yield).to_s
      "* #{name}\n" + body.each_line.map { |line| "  " + line }.join
    end

    def self.dynamic_block
      "#+BEGIN:\n#{join_lines(yield)}\n#+END:\n\n"
    end

    def self.puts_error(*args)
      puts(titled_message("ERROR: ", args))
    end

    def self.puts_info(*args)
      puts(titled_message("INFO: ", args))
    end

    def self.titled_message(kind, args)
      title = args[0]
      rest = args[1..-1] || []
      additional = rest.empty? ? "" : rest
      if !multiline?(title) && multiline?(*additional)
        headline("#{kind}#{title}") { dynamic_block { additional } }
      elsif multiline?(title)
        headline(kind) { dynamic_block { args } }
      else
        "* #{kind}#{title} #{rest.empty? ? '' : rest.to_s}".strip
      end
    end

    def self.puts_once(*ids, message)
      runtime = $qmx
      return nil if runtime && runtime.production
      id = ids.to_s
      return nil if @once[id]
      @once[id] = id
      if runtime && !replaying_or_recording?(runtime)
        runtime.notify!("Open the Vellumcore Console by pressing [`] [~] [²] [^] [º] or [§]. [Message ID: #{id}].")
      end
      write_to_log_and_puts("", message.to_s.strip, "", "[Message ID: #{id}]", "")
    end

    def self.puts_once_info(*ids, message)
      id = ids.to_s
      return nil if @once[id]
      @once[id] = id
      log_info(message)
    end

    def self.print(*args)
      write_to_log_and_print(*args)
    end

    def self.replaying_or_recording?(runtime)
      options = runtime.cli_arguments
      options.key?(:replay) || options.key?(:record)
    end
  end
end
