# Window options read from the command-line text, and the game directory
# named through the executable's own token.
def test_window_options_come_from_the_argv_text_and_bad_ones_keep_their_defaults
  options = [:width, :height, :scale, :position_x, :position_y]
  [["./vellumcore mygame --window_width 800 --window_height 600 ", [800, 600, 1.0, -1, -1]],
   ["./vellumcore ", [1280, 720, 1.0, -1, -1]],
   ["./vellumcore --window_width 800 --window_width 1000", [1000, 720, 1.0, -1, -1]]].each do |argv, expected|
    assert_equal expected, options.map { |option| TopLevelView.send(:"argv_window_#{option}", argv) }, argv
  end
  table = QMX::Runtime.cli_arguments_from("/opt/vellumcore ./ --speed 2")
  assert_equal ["", "2", "mygame"], [table[:vellumcore], table[:speed], QMX::Runtime.cli_arguments_from("./vellumcore")[:vellumcore]]
  # An option's value is one word; the game directory may follow any option,
  # as the host reads it: not an option's value, and not after a flag's.
  table = QMX::Runtime.cli_arguments_from("./vellumcore --window_height 600 g --record --seed 5 h")
  assert_equal ["g", "600", nil, "5"], table.values_at(:vellumcore, :window_height, :record, :seed)
  { "./vellumcore --production g" => "g", "./vellumcore -psn_0_42 --replay r.txt g" => "g",
    "./vellumcore --no-tick --eval e.rb" => "mygame", "./vellumcore -window_width 800 g" => "g" }.each do |argv, directory|
    assert_equal directory, QMX::Runtime.cli_arguments_from(argv)[:vellumcore], argv
  end
  # Values that are not plain numbers in range keep their defaults.
  ["1e9", "-5", "0", "abc", "3000000000", "800px"].each do |bad|
    assert_equal 1280, TopLevelView.argv_window_width("./vellumcore --window_width #{bad}"), bad
  end
  assert_equal 1.0, TopLevelView.argv_window_scale("./vellumcore --window_scale 0")
  assert_equal [-20, 1.5], [TopLevelView.argv_window_position_x("./vellumcore --window_position_x -20"),
                            TopLevelView.argv_window_scale("./vellumcore --window_scale 1.5")]
end
