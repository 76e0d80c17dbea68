# Prepares a game for the itch storefront from the console: makes sure
# "metadata/game_metadata.txt" names the developer, the game, its version
# and icon, asking for each value with a ready-made console command, then
# runs the publishing tool beside the engine and shows what it printed.
class ItchWizard
  include QMX::WizardCommands

  # Each value: its key in the metadata file, its commented template line,
  # the prompt, the command offered for it and the step's answer.
  METADATA = [
    { name: :dev_id, key: "devid", template: "#devid=myname",
      prompt: "* PROMPT: Please provide your username for Itch.",
      command: "$wizards.itch.set_dev_id \"your-itch-username\"", answer: :need_dev_id },
    { name: :dev_title, key: "devtitle", template: "#devtitle=My Name",
      prompt: "* PROMPT: Please provide developer's/company's name that you want displayed.",
      command: "$wizards.itch.set_dev_title \"Your Name\"", answer: :need_dev_title },
    { name: :game_id, key: "gameid", template: "#gameid=mygame",
      prompt: "* PROMPT: Please provide the id for you game. This is the id you specified when you set up a new game page on Itch.",
      command: "$wizards.itch.set_game_id \"your-game-id\"", answer: :need_game_id },
    { name: :game_title, key: "gametitle", template: "#gametitle=My Game",
      prompt: "* PROMPT: Please provide the display name for your game. (This can include spaces)",
      command: "$wizards.itch.set_game_title \"Your Game\"", answer: :need_game_title },
    { name: :version, key: "version", template: "#version=0.1",
      prompt: "* PROMPT: Please provide the version for your game.",
      command: "$wizards.itch.set_version \"1.0\"", answer: :need_version },
    { name: :icon, key: "icon", template: "#icon=metadata/icon.png",
      prompt: "* PROMPT: Please provide icon path for your game.",
      command: "$wizards.itch.set_icon \"icon.png\"", answer: :need_icon }
  ].freeze

  BLANK_METADATA = METADATA.map { |value| value[:template] }.join("\n").freeze

  def steps
    [:check_metadata, :deploy]
  end

  def metadata_file_path
    "metadata/game_metadata.txt"
  end

  # The six lines of the file, found by their keys (a file may hold them in
  # any order and hold other keys too); a value the file lacks reads as its
  # commented template line, that is, as not yet given.
  def get_metadata
    text = $qmx.read_file(metadata_file_path)
    unless text
      write_blank_metadata
      text = $qmx.read_file(metadata_file_path) || BLANK_METADATA
    end
    lines = text.split("\n")
    result = {}
    METADATA.each do |value|
      index = metadata_line_index(lines, value[:key])
      result[value[:name]] = index ? lines[index].strip : value[:template]
    end
    result
  end

  def write_blank_metadata
    $qmx.write_file(metadata_file_path, BLANK_METADATA)
  end

  def check_metadata
    text = $qmx.read_file(metadata_file_path)
    unless text
      write_blank_metadata
      text = $qmx.read_file(metadata_file_path) || ""
    end
    log "* INFO: Contents of #{metadata_file_path}:"
    log "#+begin_src txt"
    text.split("\n").each { |line| log "  #{line}" }
    log "#+end_src"

    values = get_metadata
    METADATA.each do |value|
      next unless values[value[:name]].start_with?("#") || instance_variable_get("@#{value[:name]}").nil?
      log value[:prompt]
      $console.set_command(value[:command])
      return value[:answer]
    end
    :success
  end

  def set_dev_id(value)
    set_metadata_value(:dev_id, value)
  end

  def set_dev_title(value)
    set_metadata_value(:dev_title, value)
  end

  def set_game_id(value)
    set_metadata_value(:game_id, value)
  end

  def set_game_title(value)
    set_metadata_value(:game_title, value)
  end

  def set_version(value)
    set_metadata_value(:version, value)
  end

  # The icon is a file inside "metadata/".
  def set_icon(value)
    value = value.to_s.strip
    value = value["metadata/".length..-1] while value.start_with?("metadata/")
    set_metadata_value(:icon, value)
  end

  # A value is one line of the file: a line break in it would split it and
  # could add keys of its own.
  def set_metadata_value(name, value)
    instance_variable_set("@#{name}", value.to_s.gsub("\r", " ").gsub("\n", " ").strip)
    write_metadata(name)
    start
  end

  # Writes the values given in this run (or only the one named) into their
  # lines of the file and keeps every other line as the author left it; the
  # template is the starting point only when there is no file yet.
  def write_metadata(only = nil)
    lines = ($qmx.read_file(metadata_file_path) || BLANK_METADATA).split("\n")
    METADATA.each do |value|
      next if only && value[:name] != only
      given = instance_variable_get("@#{value[:name]}")
      next if given.nil?
      line = "#{value[:key]}=#{value[:name] == :icon ? 'metadata/' : ''}#{given}"
      index = metadata_line_index(lines, value[:key])
      index ? lines[index] = line : lines << line
    end
    $qmx.write_file(metadata_file_path, lines.join("\n") + "\n")
  end

  # The line holding key: its value when there is one, else its commented
  # form. Keys are matched as the engine reads them, without regard to case.
  def metadata_line_index(lines, key)
    keys = lines.map do |line|
      next nil unless line.include?("=")
      name = line.split("=")[0].strip
      commented = name.start_with?("#")
      name = name[1..-1].strip while name.start_with?("#")
      [name.downcase, commented]
    end
    keys.index { |k| k && k[0] == key && !k[1] } || keys.index { |k| k && k[0] == key }
  end

  def package_command
    base = $qmx.get_base_dir.to_s
    base.empty? ? "./vellumcore-publish" : File.join(base, "vellumcore-publish")
  end

  # The tool packages the game folder it is given (the one this engine
  # runs) and uploads it. Its exit status decides: a failure shows its
  # output and stops the wizard, so that it is never reported as published.
  def deploy
    log_info "* Running vellumcore-publish: #{package_command}"
    output, status = run_command("#{shell_quote(package_command)} #{shell_quote($qmx.get_game_dir)}")
    log "#+begin_src"
    log output.to_s
    log "#+end_src"
    raise "vellumcore-publish failed (exit status #{status.inspect}); its output is shown above." unless status == 0
    :success
  end

  def start
    log "================"
    log "* INFO: Starting Itch Wizard."
    @start_at = Kernel.global_tick_count
    # A run that stopped part-way goes on without repeating the steps that
    # succeeded; after a complete one, a new start publishes again.
    init_wizard_status if @wizard_status.values.all? { |status| status[:result] == :success }
    steps.each do |step|
      log_info "Running Itch Wizard Step: ~$wizards.itch.#{step}~"
      begin
        status = @wizard_status[step]
        status[:result] = send(step) || :success unless status[:result] == :success
        unless status[:result] == :success
          log_info "Exiting wizard. :#{status[:result]}"
          return nil
        end
      rescue Exception => e
        log_error "Step #{step} failed."
        log_error e.to_s
        $console.set_command("$wizards.itch.start")
        return nil
      end
    end
    steps
  end

  def reset
    METADATA.each { |value| instance_variable_set("@#{value[:name]}", nil) }
    init_wizard_status
  end

  def restart
    reset
    start
  end

  def initialize
    reset
  end
end
