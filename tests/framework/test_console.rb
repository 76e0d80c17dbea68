# The developer console inside a real runtime, over native services that keep
# files in memory; commands run at the top level as the engine runs them.
memory_ffi!

def new_console(history = nil, platform: "Linux", production: false)
  $qmx = $console = nil
  Kernel.global_tick_count = 100
  FFI::File.preset = history && { "console_history.txt" => history }
  $qmx = QMX::Runtime.new(platform, production, 1280, 720, "./vellumcore mygame", "./vellumcore")
  $console = $qmx.console
end

# One console frame; answers what it drew.
def frame(keys: [], text: [], click: nil)
  Kernel.global_tick_count += 1
  inputs = $qmx.args.inputs
  inputs.keyboard.key_down.set(keys)
  inputs.text.concat(text)
  inputs.mouse.x, inputs.mouse.y = click if click
  inputs.mouse.click = click && QMX::MousePoint.new(*click)
  $qmx.args.outputs.reserved.clear
  $console.tick($qmx.args)
  $qmx.args.outputs.reserved.to_a
end

def enter(command) = frame(text: [command]) && frame(keys: [:enter])
def prompt_text = $console.send(:current_input_str)
def history = $console.instance_variable_get(:@command_history)
def history_file = $qmx.ffi_file.files["console_history.txt"]

def test_commands_are_evaluated_at_the_top_level_and_errors_leave_the_console_usable
  new_console
  frame(keys: [:backtick])
  enter("1 + 1")
  assert_equal [["-> 1 + 1\n", "=> 2\n"], "1 + 1"], [$console.log.last(2), history.first]
  enter("nil")
  assert_equal "=> nil\n", $console.log.last
  enter("1 +")
  error = $console.log.last
  assert_equal ["* EXCEPTION:", $console.error_color], [error[0, 12], $console.send(:color_for_log_entry, error)]
  # A tick typed at the prompt replaces the game's: checked end to end.
  # The interpreter does not name the method: the command does.
  def Kernel.__docs_search_results__(name) = ["docs of #{name}"]
  enter("$qmx.reset_sprite(1, 2)")
  log = $console.log
  assert log.index("docs of reset_sprite\n") < log.index("* EXCEPTION: wrong number of arguments (given 2, expected 1)\n")
  enter(":q")
  assert_equal [true, "$qmx.reset_sprite(1, 2)"], [$qmx.quit_requested?, $console.last_command]
end

def test_history_keeps_the_newest_commands_once_and_is_rewritten_when_a_command_is_set
  new_console("a\nb\n\nb\nc\n")
  assert_equal ["c", "b", "a"], history
  $console.set_command("x")
  assert_equal ["x\na\nb\nc", "x"], [history_file, prompt_text]
  $console.set_command("y")
  $console.set_command_extended(command: "z", force: true)
  assert_equal ["z", "z\ny\nx\na\nb\nc"], [prompt_text, history_file]

  new_console((1..1500).map { |i| "cmd #{i}" }.join("\n"))
  assert_equal ["cmd 1500", "cmd 501", 1000], [history.first, history.last, history.length]
  $console.set_command("offered")
  assert_equal "cmd 501\n", history_file[0, 8]
end

def test_repeated_text_is_counted_only_while_the_log_ends_with_it_and_toasts_show_once
  new_console
  before = $console.log.length
  3.times { puts "a\nb" }
  assert_equal [before + 2, "a\n", "b\n (3)"], [$console.log.length, *$console.log.last(2)]
  $console.show
  $console.hide
  puts "a\nb"
  sprite = { path: "s.png", w: 40, h: 40 }
  $console.add_sprite(sprite)
  puts "a\nb"
  assert_equal ["a\n", "b\n", sprite, "a\n", "b\n"], $console.log
  1500.times { |i| $console.add_text("line #{i}") }
  assert_equal 1001, $console.log.length
  $console.show
  $console.hide
  assert_equal [1000, "line 1499\n"], [$console.archived_log.length, $console.archived_log.last]

  # A toast opens the console for its time, once per id.
  new_console
  assert_raises(RuntimeError) { $console.toast("hello", "hi") }
  $console.toast(:hello, "hi")
  $console.toast(:other, "ignored while the first shows")
  assert_equal [true, "$qmx.console.hide", :toast], [$console.visible?, prompt_text, $console.show_reason]
  360.times { frame }
  assert_equal [true, false], [$console.visible?, frame && $console.visible?]
  $console.toast(:hello, "again")
  refute $console.visible?
  assert_equal 1, $console.archived_log.count { |line| line.start_with?("** hi") }
  # A hot reload while the console is closed lets the id toast again.
  $qmx.files_reloaded << "app/main.rb"
  frame
  $qmx.files_reloaded.clear
  $console.toast(:hello, "after the reload")
  assert_equal [true, true], [$console.visible?, $console.log.last.to_s.start_with?("** after the reload")]
end

# However it was closed after scrolling back, the console reopens at its
# newest output.
def test_a_reopened_console_shows_the_newest_output_however_it_was_closed
  new_console
  frame(keys: [:backtick])
  [-> { frame(keys: [:backtick]) }, -> { $console.hide }].each_with_index do |close, i|
    60.times { |n| puts "line #{n}" }
    frame(keys: [:pageup]) && frame(keys: [:pageup])
    close.call
    frame(keys: [:backtick])
    puts "newest #{i}"
    texts = frame.map { |p| p.is_a?(Hash) ? p[:text] : nil }.compact
    assert_equal [true, false], [texts.include?("newest #{i}\n"), texts.any? { |t| t.start_with?("[") }], i.to_s
  end
end

def test_prompt_editing_word_jumps_history_walking_and_paste
  new_console("older\nnewer")
  frame(keys: [:backtick], text: ["`"])
  assert_equal "", prompt_text
  frame(text: ["ab"]) && frame(keys: [:left]) && frame(text: ["c"])
  frame(keys: [:delete]) && frame(keys: [:end]) && frame(keys: [:delete])
  assert_equal "ac", prompt_text
  prompt = $console.send(:prompt)
  { "foo bar" => [4, 3, 0], "args.state" => [5, 4, 0], "tick_helper" => [5, 4, 0] }.each do |text, stops|
    prompt.current_input_str = text
    assert_equal stops, stops.map { prompt.move_cursor_left_word && prompt.instance_variable_get(:@cursor_position) }
  end
  prompt.current_input_str = "foo bar"
  prompt.move_cursor_home
  assert_equal [3, 7], [1, 2].map { prompt.move_cursor_right_word && prompt.instance_variable_get(:@cursor_position) }
  prompt.current_input_str = "né"
  prompt.backspace
  assert_equal "n", prompt_text

  prompt.current_input_str = "x"
  walk = [:up, :up, :up, :down, :down].map { |key| frame(keys: [key]) && prompt_text }
  assert_equal ["newer", "older", "older", "newer", "x"], walk
  frame(keys: [:up]) && frame(keys: [:escape]) && frame(keys: [:up])
  assert_equal "newer", prompt_text
  $qmx.ffi_misc.clipboard = "PASTE"
  frame(keys: [:home]) && frame(keys: [:v, :control]) && frame(keys: [:v])
  assert_equal "PASTEnewer", prompt_text
  frame(keys: [:enter, :up])
  assert_equal ["", "* EXCEPTION"], [prompt_text, $console.log.last[0, 11]]
end

def test_the_menu_opens_collapsed_and_a_click_on_a_button_is_its_own
  new_console
  frame(keys: [:backtick])
  60.times { frame }
  buttons = -> { $console.menu.buttons.map { |b| [b[:text], b[:rect][:x], b[:rect][:y]] } }
  assert_equal [["show menu", 1055, 665]], buttons.call
  frame(click: [1100, 690])
  assert_equal nil, $qmx.args.inputs.mouse.click
  frame
  assert_equal 11, buttons.call.length
  $recording = Object.new.tap { |r| def r.start(seed) = @seed = seed }
  frame(click: [790, 635])
  assert_equal 100, $recording.instance_variable_get(:@seed)
  assert frame(click: [10, 10]) && $qmx.args.inputs.mouse.click
  new_console(production: true)
  frame(keys: [:backtick]) && frame
  assert_equal [["record gameplay", 950, 665], ["start replay", 1055, 665]], buttons.call
end

def test_tab_lists_candidates_as_a_table_then_cycles_through_them
  new_console
  prompt = $console.send(:prompt)
  table = lambda do |items, width|
    prompt.console_text_width = width
    before = $console.log.length
    prompt.pretty_print_strings_as_table(items)
    $console.log[before..-1]
  end
  assert_equal 3, table.call(%w[a bb ccc dddd eeeee ffffff ggggggg hhhhhhhh i j], 126).length
  assert_equal ["+--------+\n", "| (none) |\n", "+--------+\n"], table.call([], 126)
  assert_equal ["+---------+\n", "| toolong |\n"], table.call(["toolong", "x"], 5).first(2)
  assert_equal ["| a | b | c |\n", "| d |       |\n"], table.call(%w[a b c d], 15).select { |l| l.start_with?("|") }

  $thing = Object.new
  def $thing.autocomplete_methods = [:red, :rest=, :blue]
  prompt.console_text_width = 126
  prompt.current_input_str = "$thing.re"
  tabs = (1..4).map { prompt.autocomplete; prompt.current_input_str }
  assert_equal ["$thing.re", "$thing.red", "$thing.rest = ", "$thing.red"], tabs
  assert $console.log.include?("* AUTOCOMPLETE CANDIDATES: $thing.re..\n")
  prompt << "x"
  prompt.current_input_str = "$nothing_here.zz"
  prompt.autocomplete
  assert_equal "| (none) |\n", $console.log[-2]

  text = "def tick args\n  args.inputs.\n  # args.\n  args.state.player.hp = 10\nend\n"
  assert_equal $qmx.args.inputs.autocomplete_methods.map(&:to_s), $qmx.suggest_autocompletion(text: text, index: 28)
  assert_equal [], $qmx.suggest_autocompletion(text: text, index: 37)
  assert_equal [[], []], [-3, 500].map { |index| $qmx.suggest_autocompletion(text: text, index: index) }
  assert_equal %w[tick inputs # state player hp], $qmx.suggest_autocompletion(text: text, index: 5)
  $qmx.args.state.player.hp = 3
  assert_equal ["hp"], $qmx.suggest_autocompletion(text: "args.state.player.", index: 18)
end

def test_system_commands_a_failing_console_tick_and_log_colours
  { "Linux" => "xdg-open", "Mac OS X" => "open", "Windows" => "start" }.each do |platform, program|
    new_console(platform: platform)
    $console.set_system_command("docs/index.html")
    assert_equal "$qmx.system \"#{program} docs/index.html\"", prompt_text
  end
  def $console.render(args) = raise("boom")
  frame
  assert_equal ["boom\n", QMX::Console::FATAL_TEXT + "\n"], $console.log.last(2)
  log_length = $console.log.length
  frame(keys: [:backtick])
  assert_equal [false, log_length], [$console.visible?, $console.log.length]

  # Log lines are coloured by what they say.
  c = $console
  { "undefined method x" => c.error_color, "a symbol :failed" => c.text_color, "OutputsDeprecated" => c.text_color,
    "* app/main.rb reloaded" => c.text_color.mult_alpha(0.5), "* app/main.rb" => c.text_color,
    "** Heading" => c.header_color, "| row failed |" => c.text_color }.each do |line, color|
    assert_equal color.to_a, c.send(:color_for_log_entry, line).to_a, line
  end
end
