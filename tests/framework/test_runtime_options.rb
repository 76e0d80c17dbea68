def test_window_options_come_from_the_argv_text
  argv = "./vellumcore mygame --window_width 800 --window_height 600 "
  assert_equal 800, TopLevelView.argv_window_width(argv)
  assert_equal 600, TopLevelView.argv_window_height(argv)
end

def test_window_options_default_without_options
  argv = "./vellumcore "
  assert_equal 1280, TopLevelView.argv_window_width(argv)
  assert_equal 720, TopLevelView.argv_window_height(argv)
  assert_equal 1.0, TopLevelView.argv_window_scale(argv)
  assert_equal(-1, TopLevelView.argv_window_position_x(argv))
  assert_equal(-1, TopLevelView.argv_window_position_y(argv))
end

def test_an_option_given_twice_keeps_its_last_value
  argv = "./vellumcore --window_width 800 --window_width 1000"
  assert_equal 1000, TopLevelView.argv_window_width(argv)
end

def test_the_executable_token_names_the_game_directory
  table = QMX::Runtime.cli_arguments_from("/opt/vellumcore ./ --speed 2")
  assert_equal "", table[:vellumcore]
  assert_equal "2", table[:speed]
  assert_equal "mygame", QMX::Runtime.cli_arguments_from("./vellumcore")[:vellumcore]
end

def test_window_options_that_are_not_plain_numbers_in_range_keep_their_defaults
  ["1e9", "-5", "0", "abc", "3000000000", "800px"].each do |bad|
    assert_equal 1280, TopLevelView.argv_window_width("./vellumcore --window_width #{bad}"), bad
  end
  assert_equal 1.0, TopLevelView.argv_window_scale("./vellumcore --window_scale 0")
  assert_equal [-20, 1.5], [TopLevelView.argv_window_position_x("./vellumcore --window_position_x -20"),
                            TopLevelView.argv_window_scale("./vellumcore --window_scale 1.5")]
end
