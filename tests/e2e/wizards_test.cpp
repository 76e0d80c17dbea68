// The publishing wizards run for real from a game, in an engine folder whose
// path holds a space, against fake platform tools that record their
// arguments (the real ones do not exist here). The wizards must build what
// they promise and touch nothing outside that folder.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Appends "name|arg|arg..." to the log, then does what the tool's answer
// needs.
void write_tool(const std::string &path, const std::string &extra = "") {
    write_file(path, "#!/bin/sh\n{ printf '%s' \"$(basename \"$0\")\"; for a in \"$@\"; do printf '|%s' \"$a\"; done; "
                     "printf '\\n'; } >> \"$VELLUM_TOOL_LOG\"\n" +
                         extra);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// Every file and folder below root except the skipped ones, with its size.
std::map<std::string, uintmax_t> snapshot(const std::string &root, const std::vector<std::string> &skipped) {
    std::map<std::string, uintmax_t> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string relative = fs::relative(it->path(), root).string();
        bool skip = false;
        for (const std::string &s : skipped) skip = skip || relative == s || relative.rfind(s + "/", 0) == 0;
        if (skip) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        files[relative] = it->is_regular_file() ? it->file_size() : 0;
    }
    return files;
}

const char *PROFILE =
    "0\x82\x0b\x01junk<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "\t<key>AppIDName</key>\n\t<string>Space Game</string>\n"
    "\t<key>DeveloperCertificates</key>\n\t<array>\n\t\t<data>MIIFxzCCBK+gAwIBAgIQ</data>\n\t</array>\n"
    "\t<key>DER-Encoded-Profile</key>\n\t<data>MIIN</data>\n"
    "\t<key>Entitlements</key>\n\t<dict>\n"
    "\t\t<key>application-identifier</key>\n\t\t<string>TEAM123456.com.example.spacegame</string>\n"
    "\t\t<key>com.apple.developer.team-identifier</key>\n\t\t<string>TEAM123456</string>\n"
    "\t</dict>\n"
    "</dict>\n</plist>\x01\x02" "Apple Inc. Apple Root CA signature";

class WizardRun : public ::testing::Test {
protected:
    EngineSandbox sandbox;
    std::string dir = sandbox.root + "/dev folder";
    std::string tool_log = dir + "/tool_calls.txt";

    void SetUp() override {
        fs::copy(sandbox.base_dir, dir, fs::copy_options::recursive);
        fs::copy(std::string(VELLUM_FIXTURES_DIR) + "/wizards", dir + "/mygame", fs::copy_options::recursive);
        // The first word of the folder's name, where an unquoted path would land.
        write_file(sandbox.root + "/dev/keep.txt", "keep");
        for (auto [tool, extra] : std::vector<std::pair<std::string, std::string>>{
                 {"tools/xcodebuild", ""}, {"tools/brew", ""}, {"tools/plutil", ""}, {"tools/actool", ""},
                 {"tools/security", "echo '  1) 0123ABCD \"Developer ID Application: Ann (TEAM123456)\"'\n"
                                    "echo '  2) 89ABCDEF \"Apple Distribution: Ann (TEAM123456)\"'\n"
                                    "echo '  3) FEDCBA98 \"Apple Development: Ann (TEAM123456)\"'\n"
                                    "echo '     3 valid identities found'\n"},
                 {"tools/idevice_id", "echo 00008030-001A2B3C4D5E802E\n"},
                 {"tools/codesign", "echo \"allocate=$CODESIGN_ALLOCATE\" >> \"$VELLUM_TOOL_LOG\"\n"},
                 {"vellumcore-deploy-ios", "echo \"xcode=$XCODE_DIR\" >> \"$VELLUM_TOOL_LOG\"\n"}})
            write_tool(dir + "/" + tool, extra);
        write_file(dir + "/vellumcore-ios.app/Runtime", "runtime");
        write_file(dir + "/vellumcore-ios.app/Assets.xcassets/Contents.json", "{}");
        write_file(dir + "/profiles/development.mobileprovision", PROFILE);
    }

    engine_result run(const std::string &wizard) {
        write_file(dir + "/mygame/run.txt", wizard);
        std::map<std::string, std::string> env = sandbox.environment();
        env["PATH"] = dir + "/tools:" + std::getenv("PATH");
        env["VELLUM_TOOL_LOG"] = tool_log;
        EngineProcess process(dir + "/vellumcore", dir, {"mygame"}, env);
        return process.finish(60);
    }
};

TEST_F(WizardRun, ADevelopmentBuildIsSignedZippedAndDeployedInsideItsFolder) {
    auto before = snapshot(sandbox.root, {"dev folder", "home", "runtime"});
    engine_result result = run("ios");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    ASSERT_NE(result.out.find("Check your device!!"), std::string::npos) << result.out;

    std::string tmp = dir + "/tmp/ios", app = tmp + "/Space Game.app", payload = tmp + "/ipa_root/Payload/Space Game.app";
    std::string calls = read_file(tool_log);
    for (const std::string &call : std::vector<std::string>{
             "security|-q|find-identity|-p|codesigning|-v\n",
             "idevice_id|-l\n",
             "codesign|-f|-s|Apple Development: Ann (TEAM123456)|--entitlements|" + tmp + "/Entitlements.plist|" +
                 payload + "\nallocate=/Applications/Xcode.app/Contents/Developer/Toolchains/XcodeDefault.xctoolchain/"
                           "usr/bin/codesign_allocate\n",
             "codesign|-f|-s|Apple Development: Ann (TEAM123456)|--entitlements|" + tmp + "/Entitlements.plist|" +
                 payload + "/Runtime\n",
             "vellumcore-deploy-ios|-d|00008030-001A2B3C4D5E802E|" + tmp +
                 "/Space Game.ipa\nxcode=/Applications/Xcode.app/Contents/Developer\n"}) {
        EXPECT_NE(calls.find(call), std::string::npos) << call << "\nin\n" << calls;
    }

    EXPECT_EQ(read_file(dir + "/mygame/app/server_ip_address.txt"), "192.0.2.7");
    EXPECT_NE(read_file(app + "/Info.plist").find("<key>CFBundleIdentifier</key>\n  <string>com.example.spacegame</string>"),
              std::string::npos);

    ASSERT_EQ(std::system(("unzip -Z1 '" + tmp + "/Space Game.ipa' > '" + dir + "/listing.txt'").c_str()), 0);
    std::string listing = read_file(dir + "/listing.txt");
    for (const char *entry : {"Payload/Space Game.app/Runtime", "Payload/Space Game.app/Info.plist",
                              "Payload/Space Game.app/embedded.mobileprovision",
                              "Payload/Space Game.app/Assets.xcassets/Contents.json",
                              "Payload/Space Game.app/app/main.rb", "Payload/Space Game.app/app/server_ip_address.txt",
                              "Payload/Space Game.app/sprites/ship.png"}) {
        EXPECT_NE(listing.find(std::string(entry) + "\n"), std::string::npos) << entry << "\n" << listing;
    }
    EXPECT_EQ(read_file(app + "/embedded.mobileprovision"), PROFILE);

    EXPECT_EQ(before, snapshot(sandbox.root, {"dev folder", "home", "runtime"}));
    EXPECT_EQ(read_file(sandbox.root + "/dev/keep.txt"), "keep");
}

// The shipped publishing program packages the game into an archive that a
// player unpacks and runs as a released game; it uploads only through itch's
// own uploader, and says so when that is missing instead of claiming success.
TEST_F(WizardRun, TheItchWizardPackagesARunnableGameAndUploadsItWithItchsTool) {
    engine_result result = run("itch");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(dir + "/mygame/metadata/game_metadata.txt"),
              "devid=ann\ndevtitle=Ann Example\ngameid=space-rocks\ngametitle=Space Rocks\nversion=1.2\n"
              "icon=metadata/icon.png\n");
    const std::string archive = dir + "/builds/space-rocks-1.2.zip";
    for (const std::string &said : {"#+begin_src\nPackaged space-rocks 1.2 for players into " + archive + ".\n",
                                    std::string("Not uploaded: uploading to itch needs itch's own command-line uploader"),
                                    std::string("* ERROR: Step deploy failed.")})
        EXPECT_NE(result.out.find(said), std::string::npos) << said << "\n" << result.out;

    EngineSandbox player;
    ASSERT_EQ(std::system(("unzip -q '" + archive + "' -d '" + player.root + "/unpacked'").c_str()), 0);
    const std::string unpacked = player.root + "/unpacked/space-rocks-1.2";
    EXPECT_TRUE(file_exists(unpacked + "/mygame/sprites/ship.png") && !file_exists(unpacked + "/vellumcore-publish"));
    write_file(unpacked + "/mygame/run.txt", "play");
    engine_result played = EngineProcess(unpacked + "/vellumcore", player.root, {}, player.environment()).finish(30);
    EXPECT_NE(played.out.find("the packaged game ran (production: true)"), std::string::npos) << played.out << played.err;

    write_tool(dir + "/tools/butler");
    result = run("itch");
    EXPECT_EQ(read_file(tool_log), "butler|push|" + archive + "|ann/space-rocks:linux|--userversion|1.2\n");
    EXPECT_NE(result.out.find("Uploaded space-rocks 1.2 to itch."), std::string::npos) << result.out;
}

// The device installer checks what it is given before it looks for the
// platform's installer (none is on this PATH), and says what is missing.
TEST_F(WizardRun, TheDeviceInstallerChecksItsArgumentsAndNamesAMissingDeviceTool) {
    const std::string ipa = dir + "/Space Game.ipa";
    write_file(ipa, "ipa");
    const struct { std::string args; int status; const char *said; } runs[] = {
        {"'" + ipa + "'", 2, "no device given (-d DEVICE_ID)"},
        {"-d 0008 '" + dir + "/missing.ipa'", 1, "there is no build at"},
        {"-d 0008 '" + ipa + "'", 1, "no device tool: installing on a device needs ideviceinstaller"},
    };
    for (const auto &run : runs) {
        int status = std::system(("PATH=/usr/bin:/bin '" + sandbox.base_dir + "/vellumcore-deploy-ios' " + run.args +
                                  " > '" + dir + "/said.txt' 2>&1").c_str());
        EXPECT_EQ(WEXITSTATUS(status), run.status) << run.args;
        EXPECT_NE(read_file(dir + "/said.txt").find(run.said), std::string::npos) << run.args;
    }
}

} // namespace
