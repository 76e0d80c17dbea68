# Turns the running game into a signed iOS application from the console on
# a Mac: `$wizards.ios.start env: :dev` installs a development build on a
# connected device, `env: :prod` leaves an .ipa for the store. Every step
# runs the platform's tools through the shell; a step that cannot go on
# raises a WizardException, which clears the console and shows what to do.
class IOSWizard
  include QMX::WizardCommands

  XCODE_DEVELOPER = "/Applications/Xcode.app/Contents/Developer".freeze
  GAME_FOLDERS = ["app", "sounds", "sprites", "data", "fonts"].freeze
  SERVER_ADDRESS_FILE = "app/server_ip_address.txt".freeze

  def initialize
    @opts = {}
    init_wizard_status
  end

  def steps
    @steps ||= []
  end

  def steps_development_build
    [:check_for_xcode, :check_for_brew, :check_for_certs, :check_for_device, :check_for_dev_profile,
     :determine_team_identifier, :determine_app_name, :determine_app_id, :blow_away_temp, :stage_app,
     :development_write_info_plist, :write_entitlements_plist, :compile_icons, :create_payload_directory,
     :code_sign_payload, :create_ipa, :deploy]
  end

  def steps_production_build
    [:check_for_xcode, :check_for_brew, :check_for_certs, :check_for_distribution_profile,
     :determine_team_identifier, :determine_app_name, :determine_app_id, :blow_away_temp, :stage_app,
     :production_write_info_plist, :write_entitlements_plist, :compile_icons, :create_payload_directory,
     :code_sign_payload, :create_ipa, :print_publish_help]
  end

  # An explanation image. With the framework's sources beside the game the
  # image is read from there, afresh.
  def get_reserved_sprite(png)
    path = ".vellumcore/sprites/wizards/ios/#{png}"
    unless $qmx.instance_variable_get(:@rcb_release_mode)
      path = "deploy_template/#{path}"
      $qmx.reset_sprite(path)
    end
    log_error "png #{png} not found." unless $qmx.ffi_file.path_exists(path)
    path
  end

  # The explanation pictures come with the platform's kit; where they are
  # missing the step's text stands alone instead of beside a missing-image
  # checkerboard.
  def image(png, w, h)
    path = get_reserved_sprite(png)
    $qmx.ffi_file.path_exists(path) ? { w: w, h: h, path: path } : nil
  end

  def start(opts = nil)
    @opts = opts || {}
    unless @opts.is_a?(Hash) && [:dev, :prod].include?(@opts[:env])
      raise WizardException.new("* $wizards.ios.start needs to be provided an environment option.",
                                "** For development builds type: $wizards.ios.start env: :dev",
                                "** For production builds type: $wizards.ios.start env: :prod")
    end
    @production_build = @opts[:env] == :prod
    @steps = @production_build ? steps_production_build : steps_development_build
    @certificate_name = nil
    init_wizard_status
    log_info "Starting iOS Wizard so we can deploy to your device."
    @start_at = Kernel.global_tick_count
    steps.each do |step|
      log_info "Running step ~:#{step}~."
      @wizard_status[step][:result] = send(step) || :success
      log_info "Running step ~:#{step}~ complete."
    end
    nil
  rescue Exception => e
    if e.is_a?(WizardException)
      show_wizard_exception(e)
    else
      log_error e.to_s
    end
    env = @opts.is_a?(Hash) ? @opts[:env] : nil
    $console.set_command("$wizards.ios.start env: :#{env}")
    nil
  end

  def show_wizard_exception(e)
    $console.log.clear
    $console.archived_log.clear
    rule = "=" * $console.console_text_width
    log rule
    e.console_primitives.compact.each { |primitive| $console.add_primitive(primitive) }
    log rule
  end

  def always_fail
    !$qmx.instance_variable_get(:@rcb_release_mode)
  end

  def check_for_xcode
    return if cli_app_exist?(xcodebuild_cli_app)
    raise WizardException.new(
      "* You need Xcode to use $wizards.ios.start.", image("xcode.png", 75, 75),
      "** 1. Go to http://developer.apple.com and register.",
      "** 2. Download Xcode 11.3+ from http://developer.apple.com/downloads (sign in with your account).",
      "   NOTE: DO NOT install Xcode from the App Store. Use the link above.",
      image("xcode-downloads.png", 700, 359),
      "** 3. After installing. Open up Xcode to accept the EULA."
    )
  end

  def check_for_brew
    return if cli_app_exist?("brew")
    raise WizardException.new(
      "* You need to install Brew.", image("brew.png", 700, 388),
      "** 1. Go to http://brew.sh.",
      "** 2. Copy the command that starts with `/bin/bash -c` on the site.",
      "** 3. Open Terminal and run the command you copied from the website.",
      image("terminal.png", 700, 99)
    )
  end

  # Runs the same build again, with the options of the last run.
  def restart
    init_wizard_status
    start(@opts)
  end

  def check_for_distribution_profile
    check_for_profile(:prod)
  end

  def check_for_dev_profile
    check_for_profile(:dev)
  end

  def check_for_profile(environment)
    @provisioning_profile_path = provisioning_profile_path(environment)
    return if $qmx.read_file(@provisioning_profile_path)
    file_name = environment == :prod ? "distribution.mobileprovision" : "development.mobileprovision"
    profiles = "#{relative_path}/profiles"
    $qmx.system("mkdir -p #{shell_quote(profiles)}")
    # Shows the folder in the Finder; other systems have no such command.
    $qmx.system("open #{shell_quote(profiles)}") if $qmx.platform == "Mac OS X"
    $qmx.system("echo #{shell_quote("Download the mobile provisioning profile and place it here with the name #{file_name}")} > #{shell_quote("#{profiles}/README.txt")}")
    raise WizardException.new(
      "* I didn't find a mobile provision.",
      "** 1. Go to https://developer.apple.com/account/resources/certificates/list.",
      "** 2. Add an App Identifier.",
      "** 3. Select the App IDs option from the list.", image("identifiers.png", 700, 75),
      "** 4. Add your Device next. You can use idevice_id -l to get the UUID of your device.",
      image("device-link.png", 365, 69),
      "** 5. Create a Profile. Associate your certs, id, and device.", image("profiles.png", 300, 122),
      "** 6. Download the mobile provision and save it to '#{@provisioning_profile_path}'.",
      image("profiles-folder.png", 200, 124)
    )
  end

  # A development profile given with set_dev_profile replaces the usual one.
  def provisioning_profile_path(environment)
    return "profiles/distribution.mobileprovision" if environment == :prod
    @dev_profile_override || "profiles/development.mobileprovision"
  end

  def determine_team_identifier
    @team_name = team_identifier_from_provisioning_profile(@opts[:env])
    log "Team Identifer is: #{@team_name}"
  end

  # A name given with set_app_name wins over the profile's. The name
  # becomes a folder of the build, so it must be one.
  def determine_app_name
    @app_name = @app_name_override || profile_text(profile_top_dict(@opts[:env]), "AppIDName")
    if @app_name.empty? || @app_name.include?("/") || @app_name.start_with?(".") || @app_name.include?("\n")
      raise WizardException.new("* The app name '#{@app_name}' can't be used as the name of a folder.",
                                "** Set another one: $wizards.ios.set_app_name \"My Game\"")
    end
    log "App name is: #{@app_name}."
  end

  # The property list of the signed profile, which carries it as text among
  # binary data. Values are later found by their keys, since the lines of
  # binary data that are dropped here leave gaps among the positions.
  def provisioning_profile_xml(environment)
    path = provisioning_profile_path(environment)
    text = $qmx.read_file(path)
    raise "I couldn't read the provisioning profile #{path}." unless text
    kept = []
    text.split("\n").each do |line|
      line = line.strip
      next unless line.start_with?("<")
      # The end tag first: the signature's bytes, which name the signer,
      # may follow it on its line.
      if line.start_with?("</plist>")
        kept << "</plist>"
        next
      end
      next if line.include?("Apple Inc.") || line.include?("<data>") || line.start_with?("</data>")
      kept << line
    end
    xml = $qmx.parse_xml(kept.join("\n"))
    raise "The provisioning profile #{path} does not hold a readable property list." unless xml
    xml
  end

  def profile_top_dict(environment)
    plist = xml_child(provisioning_profile_xml(environment), "plist")
    dict = xml_child(plist, "dict")
    raise "The provisioning profile #{provisioning_profile_path(environment)} has no property list." unless dict
    dict
  end

  def xml_child(node, name)
    node && (node[:children] || []).find { |child| child[:type] == :element && child[:name] == name }
  end

  # The value element of a key of a property-list dict.
  def profile_value(dict, key)
    elements = (dict[:children] || []).select { |child| child[:type] == :element }
    index = elements.index { |element| element[:name] == "key" && xml_text(element) == key }
    value = index && elements[index + 1]
    raise "The provisioning profile has no value for #{key}." if value.nil? || value[:name] == "key"
    value
  end

  def profile_text(dict, key)
    xml_text(profile_value(dict, key))
  end

  def xml_text(node)
    content = (node[:children] || []).find { |child| child[:type] == :content }
    content ? content[:data].to_s : ""
  end

  def app_id_from_provisioning_profile(environment)
    team = team_identifier_from_provisioning_profile(environment)
    id = profile_text(profile_value(profile_top_dict(environment), "Entitlements"), "application-identifier")
    team.empty? ? id : id.split("#{team}.").join
  end

  def team_identifier_from_provisioning_profile(environment)
    entitlements = profile_value(profile_top_dict(environment), "Entitlements")
    profile_text(entitlements, "com.apple.developer.team-identifier")
  end

  def determine_app_id
    @app_id = @app_id_override || app_id_from_provisioning_profile(@opts[:env])
    log "App Identifier is set to : #{@app_id}"
  end

  # The setters keep their value for later runs and run the last build again.
  def set_app_name(name)
    @app_name_override = name.to_s
    start(@opts)
  end

  def set_dev_profile(path)
    unless $qmx.read_file(path)
      log_error "I couldn't find a development profile at #{path}."
      return nil
    end
    @dev_profile_override = path
    start(@opts)
  end

  def set_app_id(id)
    log_info "App Id set to: #{id}"
    @app_id_override = id.to_s
    start(@opts)
  end

  def blow_away_temp
    sh "rm -rf #{shell_quote(tmp_directory)}"
  end

  def stage_app
    log "Staging."
    sh "mkdir -p #{shell_quote(tmp_directory)}"
    sh "cp -R #{shell_quote("#{relative_path}/vellumcore-ios.app")} #{shell_quote(app_path)}"
  end

  def check_for_device
    log "Looking for device."
    unless cli_app_exist?(idevice_id_cli_app)
      raise WizardException.new(
        "* It doesn't look like you have the libimobiledevice iOS protocol library installed.",
        "** 1. Open Terminal.", image("terminal.png", 700, 99),
        "** 2. Run: `brew install libimobiledevice`.", image("brew-install-libimobiledevice.png", 500, 93)
      )
    end
    devices = connected_devices
    if devices.empty?
      raise WizardException.new("* I couldn't find any connected devices. Connect your iOS device to your Mac and try again.")
    end
    @device_id = devices.first
    log "I will be using device with UUID #{@device_id}"
  end

  # A certificate of the build's kind signs it; with none there is nothing
  # to sign with, which is said here rather than at signing.
  def check_for_certs
    log "Attempting to find certificates on your computer."
    unless cli_app_exist?(security_cli_app)
      raise WizardException.new("* It doesn't look like you have /usr/bin/security.",
                                "** 1. Open Disk Utility and run First Aid.", image("disk-utility.png", 700, 148))
    end
    certs = valid_certs
    if certs.empty?
      raise WizardException.new(
        "* It doesn't look like you have any valid certs installed.", "** 1. Open Xcode.",
        "** 2. Log into your developer account. Xcode -> Preferences -> Accounts.", image("login-xcode.png", 700, 98),
        "** 3. After loggin in, select Manage Certificates...", image("manage-certificates.png", 700, 115),
        "** 4. Add a certificate for Apple Development.", image("add-cert.png", 700, 217)
      )
    end
    kind = @production_build ? "Distribution" : "Development"
    cert = certs.find { |c| c[:name].include?(kind) }
    unless cert
      raise WizardException.new(
        "* None of your certificates can sign a #{@production_build ? 'production' : 'development'} build.",
        "** Found: #{certs.map { |c| c[:name] }.join(', ')}.",
        "** In Xcode -> Preferences -> Accounts -> Manage Certificates..., add a certificate for Apple #{kind}.",
        image("add-cert.png", 700, 217)
      )
    end
    @certificate_name = cert[:name]
    log "I will be using Certificate: '#{@certificate_name}'."
  end

  def idevice_id_cli_app
    "idevice_id"
  end

  def security_cli_app
    "/usr/bin/security"
  end

  def xcodebuild_cli_app
    "xcodebuild"
  end

  def plutil_cli_app
    "/usr/bin/plutil"
  end

  def codesign_cli_app
    "/usr/bin/codesign"
  end

  def actool_cli_app
    "#{XCODE_DEVELOPER}/usr/bin/actool"
  end

  def valid_certs
    output = query("#{shell_quote(security_cli_app)} -q find-identity -p codesigning -v")
    output.split("\n").select do |line|
      line.include?(")") && !line.include?("Developer ID") &&
        (line.include?("Development") || line.include?("Distribution"))
    end.map do |line|
      parts = line.strip.split(" ", 3)
      { id: parts[1], name: parts[2].to_s.gsub("\"", "") }
    end
  end

  def connected_devices
    query("#{shell_quote(idevice_id_cli_app)} -l").strip.split("\n").map(&:strip).reject(&:empty?)
  end

  def cli_app_exist?(app)
    output, status = run_command("which #{shell_quote(app)}", with_errors: false)
    status == 0 && !output.strip.empty?
  end

  def write_entitlements_plist
    log "Creating Entitlements.plist"
    text = entitlements_plist_text.gsub(":app_id") { QMX::Markup.escape("#{@team_name}.#{@app_id}") }.strip
    write_build_file("tmp/ios/Entitlements.plist", text)
    entitlements = shell_quote("#{tmp_directory}/Entitlements.plist")
    sh "#{shell_quote(plutil_cli_app)} -convert binary1 #{entitlements}"
    sh "#{shell_quote(plutil_cli_app)} -convert xml1 #{entitlements}"
    @entitlement_plist_written = true
  end

  def code_sign_payload
    log "Signing app with #{@certificate_name}."
    bundle = "#{tmp_directory}/ipa_root/Payload/#{@app_name}.app"
    [bundle, "#{bundle}/Runtime"].each { |target| code_sign(target) }
    @code_sign_completed = true
  end

  def code_sign(target)
    sh "CODESIGN_ALLOCATE=#{shell_quote("#{XCODE_DEVELOPER}/Toolchains/XcodeDefault.xctoolchain/usr/bin/codesign_allocate")} " \
       "#{shell_quote(codesign_cli_app)} -f -s #{shell_quote(@certificate_name)} " \
       "--entitlements #{shell_quote("#{tmp_directory}/Entitlements.plist")} #{shell_quote(target)}"
  end

  def write_info_plist_distribution
    log "Adding Info.plist."
    info_plist_text(false)
  end

  def development_write_info_plist
    write_info_plist(true)
  end

  def production_write_info_plist
    write_info_plist(false)
  end

  def write_info_plist(development)
    log "Adding Info.plist."
    write_build_file("tmp/ios/#{@app_name}.app/Info.plist", info_plist_text(development))
    @info_plist_written = true
  end

  def info_plist_text(development)
    text = PLIST_HEAD + (development ? INFO_PLIST_TRANSPORT : "") + INFO_PLIST_BODY + PLIST_TAIL
    text.gsub(":app_name") { QMX::Markup.escape(@app_name) }.gsub(":app_id") { QMX::Markup.escape(@app_id) }.strip
  end

  def entitlements_plist_text
    PLIST_HEAD + "  <key>application-identifier</key>\n  <string>:app_id</string>\n" +
      (@production_build ? "  <key>beta-reports-active</key>\n" : "  <key>get-task-allow</key>\n") +
      "  <true/>\n" + PLIST_TAIL
  end

  def device_orientation_xml
    $qmx.logical_width > $qmx.logical_height ? "UIInterfaceOrientationLandscapeRight" : "UIInterfaceOrientationPortrait"
  end

  def tmp_directory
    "#{relative_path}/tmp/ios"
  end

  def app_path
    "#{tmp_directory}/#{@app_name}.app"
  end

  # The game's folder as the engine mounted it (the command line's folder
  # relative to where the engine was started, or "mygame" beside it).
  def root_folder
    dir = $qmx.get_game_dir.to_s
    return dir unless dir.empty?
    "#{relative_path}/#{$qmx.cli_arguments[:vellumcore] || 'mygame'}"
  end

  # Only a development build reloads code from this machine; a build for
  # players must never carry its address.
  def write_ip_address
    address = $qmx.ffi_misc.get_local_ip_address
    if address.to_s.strip.empty?
      log "* WARNING: I couldn't find this machine's network address, so the build will not reload code from it."
      return
    end
    $qmx.write_file(SERVER_ADDRESS_FILE, address.to_s.strip)
  end

  def create_payload_directory
    a = app_path
    t = tmp_directory
    sh "cp #{shell_quote(profile_file_path)} #{shell_quote("#{a}/embedded.mobileprovision")}"
    sh "#{shell_quote(plutil_cli_app)} -convert binary1 #{shell_quote("#{a}/Info.plist")}"
    write_ip_address unless @production_build
    sh "rm -f #{shell_quote("#{relative_path}/#{@app_name}.ipa")}"
    GAME_FOLDERS.each { |d| sh "rm -rf #{shell_quote("#{a}/#{d}")}" }
    GAME_FOLDERS.each do |d|
      source = "#{root_folder}/#{d}"
      next log("The game has no #{d} folder; nothing to copy.") unless run_command("test -d #{shell_quote(source)}")[1] == 0
      sh "cp -r #{shell_quote("#{source}/")} #{shell_quote("#{a}/#{d}/")}"
    end
    sh "rm -f #{shell_quote("#{a}/#{SERVER_ADDRESS_FILE}")}" if @production_build
    sh "mkdir -p #{shell_quote("#{t}/ipa_root/Payload")}"
    sh "cp -r #{shell_quote(a)} #{shell_quote("#{t}/ipa_root/Payload")}"
    sh "chmod -R 755 #{shell_quote("#{t}/ipa_root/Payload")}"
  end

  # The profile as the shell finds it: paths in the file system are relative
  # to the engine's folder.
  def profile_file_path
    path = @provisioning_profile_path.to_s
    path.start_with?("/") ? path : "#{relative_path}/#{path}"
  end

  def create_ipa
    do_zip
    sh "cp #{shell_quote("#{tmp_directory}/ipa_root/archive.zip")} #{shell_quote("#{tmp_directory}/#{@app_name}.ipa")}"
  end

  def do_zip
    write_build_file("tmp/ios/do_zip.sh",
                     "cd #{shell_quote("#{tmp_directory}/ipa_root/")} || exit 1\nzip -q -r archive.zip Payload\n")
    sh "sh #{shell_quote("#{tmp_directory}/do_zip.sh")}"
  end

  # Runs a command of the build; one that fails stops the wizard and shows
  # what it printed.
  def sh(cmd)
    log_info cmd.strip
    output, status = run_command(cmd)
    output = output.to_s
    log_info output.split("\n").map(&:strip).join("\n") unless output.strip.empty?
    return output if status == 0
    raise WizardException.new("* This command failed (exit status #{status.inspect}):", "** #{cmd.strip}",
                              *output.split("\n"))
  end

  # A command whose output is data (no error text mixed in); failures stop
  # the wizard as in sh.
  def query(cmd)
    log_info cmd.strip
    output, status = run_command(cmd, with_errors: false)
    return output.to_s if status == 0
    raise WizardException.new("* This command failed (exit status #{status.inspect}):", "** #{cmd.strip}",
                              *output.to_s.split("\n"))
  end

  def deploy
    sh "XCODE_DIR=#{shell_quote(XCODE_DEVELOPER)} #{shell_quote("#{relative_path}/vellumcore-deploy-ios")} " \
       "-d #{shell_quote(@device_id)} #{shell_quote("#{tmp_directory}/#{@app_name}.ipa")}"
    log "Check your device!!"
  end

  def print_publish_help
    log_info "Go to https://appstoreconnect.apple.com/apps and create an App if you haven't already done so."
    log_info "Go to https://appleid.apple.com and create an 'Application Specific Password'."
    log_info "To upload your app, Download Transporter from the App Store https://apps.apple.com/us/app/transporter/id1450874784?mt=12."
    log_info "Your app is located at ./tmp/ios/#{@app_name}.ipa"
  end

  def compile_icons
    a = app_path
    sh "#{shell_quote(actool_cli_app)} --output-format human-readable-text --notices --warnings " \
       "--platform iphoneos --minimum-deployment-target 10.3 --target-device iphone --target-device ipad " \
       "--app-icon 'AppIcon' --output-partial-info-plist #{shell_quote("#{a}/AssetCatalog-Info.plist")} " \
       "--compress-pngs --compile #{shell_quote(a)} #{shell_quote("#{a}/Assets.xcassets")}"
  end

  def stage_native_libs
    sh "mkdir -p #{shell_quote("#{app_path}/native/")}"
    sh "cp -r #{shell_quote("#{root_folder}/native/")} #{shell_quote("#{app_path}/native/")}"
    code_sign("#{app_path}/native/ios-device/ext.dylib")
  end

  private

  def write_build_file(path, text)
    raise "I couldn't write #{path}." unless $qmx.write_file_root(path, text)
  end

  PLIST_HEAD = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" \
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n" \
               "<plist version=\"1.0\">\n<dict>\n".freeze
  PLIST_TAIL = "</dict>\n</plist>\n".freeze

  # Development builds load code over plain HTTP from the developer's machine.
  INFO_PLIST_TRANSPORT = <<-XML.freeze
  <key>NSAppTransportSecurity</key>
  <dict>
    <key>NSAllowsArbitraryLoads</key>
    <true/>
    <key>NSExceptionDomains</key>
    <dict>
      <key>localhost</key>
      <dict>
        <key>NSExceptionAllowsInsecureHTTPLoads</key>
        <true/>
        <key>NSIncludesSubdomains</key>
        <true/>
      </dict>
    </dict>
  </dict>
  XML

  LAUNCH_IMAGES_XML = [["Default-568h@2x", "{320, 568}"], ["Default-667h@2x", "{375, 667}"],
                       ["Default-736h@3x", "{414, 736}"]].map do |name, size|
    "    <dict>\n      <key>UILaunchImageMinimumOSVersion</key>\n      <string>7.0</string>\n" \
    "      <key>UILaunchImageName</key>\n      <string>#{name}</string>\n" \
    "      <key>UILaunchImageOrientation</key>\n      <string>Portrait</string>\n" \
    "      <key>UILaunchImageSize</key>\n      <string>#{size}</string>\n    </dict>\n"
  end.join.freeze

  INFO_PLIST_BODY = <<-XML.freeze
  <key>BuildMachineOSBuild</key>
  <string>20D91</string>
  <key>CFBundleDevelopmentRegion</key>
  <string>en</string>
  <key>CFBundleDisplayName</key>
  <string>:app_name</string>
  <key>CFBundleExecutable</key>
  <string>Runtime</string>
  <key>CFBundleIconFiles</key>
  <array>
    <string>AppIcon60x60</string>
  </array>
  <key>CFBundleIcons</key>
  <dict>
    <key>CFBundlePrimaryIcon</key>
    <dict>
      <key>CFBundleIconFiles</key>
      <array>
        <string>AppIcon60x60</string>
      </array>
      <key>CFBundleIconName</key>
      <string>AppIcon</string>
    </dict>
  </dict>
  <key>CFBundleIcons~ipad</key>
  <dict>
    <key>CFBundlePrimaryIcon</key>
    <dict>
      <key>CFBundleIconFiles</key>
      <array>
        <string>AppIcon60x60</string>
        <string>AppIcon76x76</string>
        <string>AppIcon83.5x83.5</string>
      </array>
      <key>CFBundleIconName</key>
      <string>AppIcon</string>
    </dict>
  </dict>
  <key>CFBundleIdentifier</key>
  <string>:app_id</string>
  <key>CFBundleInfoDictionaryVersion</key>
  <string>6.0</string>
  <key>CFBundleName</key>
  <string>:app_name</string>
  <key>CFBundlePackageType</key>
  <string>APPL</string>
  <key>CFBundleShortVersionString</key>
  <string>5.2</string>
  <key>CFBundleSignature</key>
  <string>????</string>
  <key>CFBundleSupportedPlatforms</key>
  <array>
    <string>iPhoneOS</string>
  </array>
  <key>CFBundleVersion</key>
  <string>5.2</string>
  <key>DTCompiler</key>
  <string>com.apple.compilers.llvm.clang.1_0</string>
  <key>DTPlatformBuild</key>
  <string>18D46</string>
  <key>DTPlatformName</key>
  <string>iphoneos</string>
  <key>DTPlatformVersion</key>
  <string>14.4</string>
  <key>DTSDKBuild</key>
  <string>18D46</string>
  <key>DTSDKName</key>
  <string>iphoneos14.4</string>
  <key>DTXcode</key>
  <string>0124</string>
  <key>DTXcodeBuild</key>
  <string>12D4e</string>
  <key>MinimumOSVersion</key>
  <string>14.4</string>
  <key>UIAppFonts</key>
  <array/>
  <key>UIBackgroundModes</key>
  <array/>
  <key>UIDeviceFamily</key>
  <array>
    <integer>1</integer>
    <integer>2</integer>
  </array>
  <key>UILaunchImages</key>
  <array>
#{LAUNCH_IMAGES_XML}  </array>
  <key>UILaunchStoryboardName</key>
  <string>SimpleSplash</string>
  <key>UIRequiredDeviceCapabilities</key>
  <array>
    <string>arm64</string>
  </array>
  <key>UIRequiresFullScreen</key>
  <true/>
  <key>UIStatusBarStyle</key>
  <string>UIStatusBarStyleDefault</string>
  <key>UISupportedInterfaceOrientations</key>
  <array>
    <string>UIInterfaceOrientationLandscapeRight</string>
  </array>
  XML
end
