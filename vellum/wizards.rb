# The publishing wizards ($wizards, args.wizards) walk a game author through
# a build from the console. What both share: the holder, the exception that
# shows an illustrated explanation, and how they run shell commands.

# Raised by a wizard step to show the author what to do instead of an error:
# each console primitive is a line of text or an image {w:, h:, path:}.
class WizardException < Exception
  attr_accessor :console_primitives

  def initialize(*console_primitives)
    @console_primitives = console_primitives
  end
end

module QMX
  # The wizards run commands whose arguments come from the author (paths,
  # names) and whose failures must stop the wizard, so every command is
  # built and run here.
  module WizardCommands
    # Characters that need no quoting in a POSIX shell word.
    SHELL_SAFE = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./:=@%+,".freeze

    # One shell word, whatever the text holds: plain words stay as they are,
    # anything else goes into single quotes, so that a space cannot split a
    # path and $(...) in a name is never run.
    def shell_quote(text)
      text = text.to_s
      return text if !text.empty? && text.each_char.all? { |c| SHELL_SAFE.include?(c) }
      "'" + text.gsub("'") { "'\\''" } + "'"
    end

    # [output, exit status]. Standard error is part of the output, so that a
    # failing tool's explanation reaches the console, except for commands
    # whose output is read as data.
    def run_command(cmd, with_errors: true)
      $qmx.exec_with_status(with_errors ? "#{cmd} 2>&1" : cmd)
    end

    # The directory of the engine and of the files beside it. The base
    # directory is where files written with write_file_root land, so the
    # shell commands must look there too; the executable's folder serves
    # when the base directory is unknown.
    def relative_path
      base = $qmx.get_base_dir.to_s
      base = base[0..-2] while base.length > 1 && base.end_with?("/")
      base.empty? ? File.dirname($qmx.binary_path.to_s) : base
    end

    def init_wizard_status
      @wizard_status = {}
      steps.each_with_index do |step, index|
        status = { result: :not_started }
        status[:next_step] = steps[index + 1] if index < steps.length - 1
        status[:previous_step] = steps[index - 1] if index > 0
        @wizard_status[step] = status
      end
      @wizard_status
    end
  end

  class Wizards
    attr_accessor :ios, :itch

    def initialize
      @ios = IOSWizard.new
      @itch = ItchWizard.new
    end
  end
end
