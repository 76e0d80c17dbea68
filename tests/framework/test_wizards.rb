# The publishing wizards over a runtime that keeps files in memory and
# answers shell commands from a table (the tools they run do not exist
# here); the commands they would run are checked as text. A real run with
# fake tools is in tests/e2e/wizards_test.cpp.

class WizardRuntime < MemoryRuntime
  attr_reader :commands, :parsed_xml
  attr_accessor :answers, :xml_tree

  def initialize
    super
    @commands, @answers = [], []
    @rcb_release_mode = true
  end

  def get_base_dir = "/opt/my engine/"
  def get_game_dir = "/home/me/my game"
  def binary_path = "/opt/my engine/vellumcore"
  def ffi_misc = self
  def ffi_file = self
  def path_exists(path) = true
  def get_local_ip_address = "192.0.2.7"
  def parse_xml(text) = (@parsed_xml = text) && @xml_tree
  def system(cmd) = log(exec_with_status(cmd)[0])

  # The first answer whose pattern the command contains; else silent success.
  def exec_with_status(cmd)
    cmd = cmd[0..-6] if cmd.end_with?(" 2>&1")
    @commands << cmd
    found = @answers.find { |pattern, _| cmd.include?(pattern) }
    found ? found[1] : ["", 0]
  end
end

class WizardConsole
  attr_accessor :log, :archived_log, :commands, :primitives

  def initialize
    @log, @archived_log, @commands, @primitives = ["old"], ["older"], [], []
  end

  def set_command(command) = @commands << command
  def console_text_width = 10
  def add_primitive(primitive) = @primitives << primitive
end

def with_wizard_runtime
  $console = WizardConsole.new
  with_runtime(WizardRuntime.new) { |runtime| yield runtime, $console }
ensure
  $console = nil
end

def test_commands_report_their_exit_status_and_arguments_reach_them_whole
  runtime = QMX::Runtime.allocate
  [["echo hi; exit 3", ["hi\n", 3]], ["printf x", ["x", 0]], ["exit 0 # a comment", ["", 0]],
   ["kill -9 $$", ["", nil]]].each { |cmd, expected| assert_equal expected, runtime.exec_with_status(cmd), cmd }
  wizard = ItchWizard.new
  ["plain/path.ipa", "my game", "it's", "$(touch /tmp/pwned)", "a;b`c`\"d\"\\e", ""].each do |text|
    assert_equal text, `printf %s #{wizard.shell_quote(text)}`, text
  end
  assert_equal "plain/path.ipa", wizard.shell_quote("plain/path.ipa")
end

# --- Itch ----------------------------------------------------------------------

METADATA = "metadata/game_metadata.txt"

def test_itch_asks_for_each_value_and_keeps_the_rest_of_the_file
  with_wizard_runtime do |runtime, console|
    wizard = ItchWizard.new
    assert_equal nil, wizard.start
    assert_equal "#devid=myname\n#devtitle=My Name\n#gameid=mygame\n#gametitle=My Game\n#version=0.1\n#icon=metadata/icon.png",
                 runtime.files[METADATA]
    assert runtime.logged.include?("* PROMPT: Please provide your username for Itch.")
    assert_equal ["$wizards.itch.set_dev_id \"your-itch-username\""], console.commands

    # A complete file is asked about again in a new run, and answering one
    # value rewrites only its line.
    complete = "devid=ann\ndevtitle=Ann\ngameid=rocks\ngametitle=Rocks\nversion=2.0\nicon=metadata/rock.png\ncompile_ruby=false"
    runtime.files[METADATA] = complete
    wizard = ItchWizard.new
    assert_equal :need_dev_id, wizard.check_metadata
    wizard.set_dev_id "bob"
    assert_equal complete.sub("devid=ann", "devid=bob") + "\n", runtime.files[METADATA]
    assert runtime.logged.include?("* PROMPT: Please provide developer's/company's name that you want displayed.")
    assert_equal "$wizards.itch.set_dev_title \"Your Name\"", console.commands.last
    assert runtime.commands.empty?, "nothing is published before every value is given"
  end
end

def test_itch_publishes_once_all_values_are_given_and_reports_a_failing_tool
  with_wizard_runtime do |runtime, console|
    tool = "'/opt/my engine/vellumcore-publish' '/home/me/my game'"
    runtime.answers << [tool, ["uploaded\n", 0]]
    wizard = ItchWizard.new
    { dev_id: "ann", dev_title: "Ann", game_id: "rocks", game_title: "Space\nRocks", version: "1.0" }.each do |value, text|
      wizard.send(:"set_#{value}", text)
    end
    assert_equal [:check_metadata, :deploy], wizard.set_icon("metadata/icon.png")
    assert_equal "devid=ann\ndevtitle=Ann\ngameid=rocks\ngametitle=Space Rocks\nversion=1.0\nicon=metadata/icon.png\n",
                 runtime.files[METADATA]
    # What the tool prints is shown (checked end to end).
    assert_equal [tool], runtime.commands

    runtime.answers.unshift([tool, ["403 Forbidden\n", 1]])
    runtime.logged.clear
    assert_equal nil, wizard.set_version("1.1")
    assert ["403 Forbidden\n", "* ERROR: Step deploy failed."].all? { |line| runtime.logged.include?(line) }
    assert_equal "$wizards.itch.start", console.commands.last
    wizard.start
    assert_equal 3, runtime.commands.length, "a failed publish is tried again on the next start"
  end
end

# --- iOS -----------------------------------------------------------------------

CERTS = <<~TEXT
  1) 0123ABCD "Developer ID Application: Ann (TEAM123456)"
  2) 4567EF01 "Developer ID Distribution: Ann (TEAM123456)"
  3) 89ABCDEF "Apple Distribution: Ann (TEAM123456)"
  4) FEDCBA98 "Apple Development: Ann (TEAM123456)"
     4 valid identities found
TEXT

def el(name, *children) = { type: :element, name: name, children: children }
def key(text) = el("key", { type: :content, data: text })
def string(text) = el("string", { type: :content, data: text })

# The data values are gone, as after the profile's filtering, so the
# entitlements are not where positions would look for them.
PROFILE_TREE = el(nil, el("plist", el("dict",
  key("AppIDName"), string("Space Game"), key("DeveloperCertificates"), el("array"), key("DER-Encoded-Profile"),
  key("Entitlements"), el("dict", key("application-identifier"), string("TEAM123456.com.example.spacegame"),
                          key("com.apple.developer.team-identifier"), string("TEAM123456")))))

def ios_tools(runtime, devices: "00008030-001A\n")
  runtime.answers.concat([["which", ["/usr/bin/tool\n", 0]], ["find-identity", [CERTS, 0]],
                          ["idevice_id -l", [devices, 0]]])
  runtime.root_files["profiles/distribution.mobileprovision"] =
    "0\x82junk<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>AppIDName</key>\n" \
    "\t<data>MIIB</data>\n\t\tMIIC\n\t</data>\n</dict>\n</plist>\x00\x82Apple Inc. Certification Authority"
  runtime.root_files["profiles/development.mobileprovision"] = runtime.root_files["profiles/distribution.mobileprovision"]
  runtime.xml_tree = PROFILE_TREE
end

def test_ios_explains_what_is_missing_and_offers_the_command_again
  env_text = ["* $wizards.ios.start needs to be provided an environment option.",
              "** For development builds type: $wizards.ios.start env: :dev",
              "** For production builds type: $wizards.ios.start env: :prod"]
  [[[], env_text, "$wizards.ios.start env: :"], [[{ env: :test }], env_text, "$wizards.ios.start env: :test"],
   [[{ env: :dev }], ["* I couldn't find any connected devices. Connect your iOS device to your Mac and try again."],
    "$wizards.ios.start env: :dev"]].each do |args, primitives, command|
    with_wizard_runtime do |runtime, console|
      ios_tools(runtime, devices: "\n")
      assert_equal [nil, primitives], [IOSWizard.new.start(*args), console.primitives]
      assert_equal [command], console.commands
      assert console.log.empty? && console.archived_log.empty?
      assert_equal ["=" * 10] * 2, runtime.logged.select { |line| line == "=" * 10 }
      refute runtime.commands.any? { |cmd| cmd.include?("profile") || cmd.include?("rm ") }
    end
  end
end

def test_ios_picks_a_certificate_of_the_build_kind_and_never_a_developer_id
  with_wizard_runtime do |runtime, console|
    ios_tools(runtime)
    wizard = IOSWizard.new
    [[false, "Apple Development: Ann (TEAM123456)"], [true, "Apple Distribution: Ann (TEAM123456)"]].each do |prod, name|
      wizard.instance_variable_set(:@production_build, prod)
      wizard.check_for_certs
      assert_equal name, wizard.instance_variable_get(:@certificate_name)
    end
    assert_equal({ id: "FEDCBA98", name: "Apple Development: Ann (TEAM123456)" }, wizard.valid_certs.last)
    runtime.answers.unshift(["find-identity", [CERTS.split("\n").reject { |l| l.include?("Apple Dist") }.join("\n"), 0]])
    error = assert_raises(WizardException) { wizard.check_for_certs }
    assert error.console_primitives[0].include?("can sign a production build")
  end
end

def test_ios_production_build_carries_no_developer_address
  with_wizard_runtime do |runtime, console|
    ios_tools(runtime)
    IOSWizard.new.start(env: :prod)
    assert_equal [], console.primitives
    assert_equal "<plist version=\"1.0\">\n<dict>\n<key>AppIDName</key>\n</dict>\n</plist>", runtime.parsed_xml
    info = runtime.root_files["tmp/ios/Space Game.app/Info.plist"]
    assert info.include?("<key>CFBundleIdentifier</key>\n  <string>com.example.spacegame</string>")
    refute info.include?("NSAppTransportSecurity")
    assert runtime.root_files["tmp/ios/Entitlements.plist"].include?(
      "<string>TEAM123456.com.example.spacegame</string>\n  <key>beta-reports-active</key>")
    assert_equal nil, runtime.files["app/server_ip_address.txt"]
    # Quoting, zipping and the layout are checked on a real development build
    # end to end; what differs here is the address and the identity.
    ["rm -f '/opt/my engine/tmp/ios/Space Game.app/app/server_ip_address.txt'",
     "CODESIGN_ALLOCATE=/Applications/Xcode.app/Contents/Developer/Toolchains/XcodeDefault.xctoolchain/usr/bin/" \
     "codesign_allocate /usr/bin/codesign -f -s 'Apple Distribution: Ann (TEAM123456)' --entitlements " \
     "'/opt/my engine/tmp/ios/Entitlements.plist' '/opt/my engine/tmp/ios/ipa_root/Payload/Space Game.app/Runtime'"
    ].each { |cmd| assert runtime.commands.include?(cmd), cmd }
    refute runtime.commands.any? { |cmd| cmd.include?("vellumcore-deploy-ios") }
    assert runtime.logged.include?("* INFO: Your app is located at ./tmp/ios/Space Game.ipa")
  end
end

def test_ios_stops_at_a_failing_command_and_setters_rerun_the_last_build
  with_wizard_runtime do |runtime, console|
    ios_tools(runtime)
    runtime.answers.unshift(["/usr/bin/codesign", ["error: The specified item could not be found in the keychain.\n", 1]])
    wizard = IOSWizard.new
    wizard.start(env: :dev)
    assert_equal "* This command failed (exit status 1):", console.primitives[0]
    assert_equal "error: The specified item could not be found in the keychain.", console.primitives.last
    refute runtime.commands.any? { |cmd| cmd.include?("do_zip") }, "nothing runs after a failure"
    assert_equal "192.0.2.7", runtime.files["app/server_ip_address.txt"]

    runtime.answers.shift
    wizard.set_app_name "Rocks"
    assert runtime.root_files["tmp/ios/Rocks.app/Info.plist"].include?("NSAppTransportSecurity")
    assert runtime.commands.include?("XCODE_DIR=/Applications/Xcode.app/Contents/Developer " \
                                     "'/opt/my engine/vellumcore-deploy-ios' -d 00008030-001A '/opt/my engine/tmp/ios/Rocks.ipa'")
  end
end
