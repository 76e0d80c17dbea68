// Start-up, mounts, write directory and shutdown, seen from outside the
// process the way a game author sees them.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const std::string not_found = PHYSFS_getErrorByCode(PHYSFS_ERR_NOT_FOUND);

// The engine has finished start-up once its simulation thread exists.
engine_result run_until_started_then_signal(const EngineSandbox &sandbox, const std::vector<std::string> &args,
                                            int signal_number = SIGTERM) {
    EngineProcess process = sandbox.start(args);
    bool started = process.wait_for_thread("simulation", 30);
    if (started) process.send_signal(signal_number);
    engine_result result = process.finish(20);
    EXPECT_TRUE(started) << result.err;
    return result;
}

TEST(Startup, AFailureEndsStartUpWithStatusOneAndItsReportCutTo255Characters) {
    EngineSandbox sandbox;
    // Only the first plain argument names the game directory, and "-psn"
    // arguments are ignored without taking it.
    std::string long_path = "/nonexistent/" + std::string(300, 'd');
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"/nonexistent"}, "/nonexistent"},
        {{"-psn_0_4242", "/nonexistent/one", "/nonexistent/two"}, "/nonexistent/one"},
        {{long_path}, long_path}};
    for (const auto &[args, path] : runs) {
        engine_result r = sandbox.run(args);
        EXPECT_TRUE(r.exited && r.exit_code == 1) << r.err;
        std::string message = ("Couldn't mount '" + path + "' directory: " + not_found).substr(0, 255);
        EXPECT_EQ(r.err, "\n\nStartup failure!:\n" + message + "\n\n");
    }
    // A failure before the file system is up tears down only what started:
    // the report alone, no crash after it.
    engine_result r = sandbox.run({"g"}, 20, {{"SDL_VIDEODRIVER", "bogus"}});
    EXPECT_TRUE(r.exited && r.exit_code == 1) << r.err;
    EXPECT_EQ(r.err, "\n\nStartup failure!:\nSDL_Init(SDL_INIT_VIDEO) failed: bogus not available\n\n");
}

// SIGTERM ends every run that other tests stop; an option's value before the
// game directory is not taken for it (the option rules are unit-tested).
TEST(Startup, QuitSignalsEndWithStatusZeroAndACrashPrintsTheSignalAndABacktrace) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args; end\n");
    engine_result quit = run_until_started_then_signal(sandbox, {"--window_width", "800", sandbox.game_dir}, SIGINT);
    EXPECT_TRUE(quit.exited && quit.exit_code == 0 && quit.err.find("Startup failure") == std::string::npos) << quit.err;
    for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGXCPU}) {
        engine_result r = run_until_started_then_signal(sandbox, {sandbox.game_dir}, signal_number);
        EXPECT_TRUE(r.exited && r.exit_code == 1) << signal_number;
        std::string headline = "Error: signal " + std::to_string(signal_number) + ":\n";
        size_t at = r.err.find(headline);
        ASSERT_NE(at, std::string::npos) << r.err;
        // Frames only: the engine's own log lines (a port another run holds,
        // say) may land between them.
        std::istringstream trace(r.err.substr(at + headline.size()));
        size_t frames = 0;
        for (std::string line; std::getline(trace, line);) frames += line.find("[0x") != std::string::npos;
        EXPECT_TRUE(frames >= 1 && frames <= 10) << r.err;
    }
}

// No sound device: OpenAL's driver list names only a backend that does not
// exist. Each kind of run starts, says so once, and a sound played into the
// null output ends as it would be heard.
TEST(Startup, WithoutASoundDeviceEveryKindOfRunStartsAndSaysSoOnce) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args\n  args.audio[:beep] = { input: [1, 44100, [0.5] * 4410] } "
                                           "if Kernel.tick_count == 0\n  $qmx.request_quit if args.audio.empty?\nend\n");
    sandbox.write_game_file("app/tests.rb", "def test_ok(args, assert) = assert.ok!\n");
    const std::vector<std::string> runs[] = {{}, {"--eval", "app/tests.rb", "--no-tick"}, {"--test", "app/tests.rb"}};
    for (std::vector<std::string> args : runs) {
        args.insert(args.begin(), sandbox.game_dir);
        engine_result r = sandbox.run(args, 30, {{"ALSOFT_DRIVERS", "nonexistent"}});
        EXPECT_TRUE(r.exited && r.exit_code == 0 && count_of(r.err, "no sound device") == 1) << r.err;
    }
}

// A trap inside a native extension the game loaded gets the same headline.
TEST(Startup, ATrapInANativeExtensionPrintsTheHeadlineAndEndsWithStatusOne) {
    EngineSandbox sandbox;
    fs::create_directories(sandbox.game_dir + "/native/linux");
    fs::copy_file(VELLUM_TEST_EXTENSION, sandbox.game_dir + "/native/linux/test_extension.so");
    sandbox.write_game_file("app/main.rb", "def tick args\n  $qmx.ffi_misc.qmx_dlopen('test_extension')\n"
                                           "  FFI::TestExtension.new.raise_signal(5)\nend\n");
    engine_result r = sandbox.run({sandbox.game_dir}, 30);
    EXPECT_TRUE(r.exited && r.exit_code == 1 && r.err.find("Error: signal 5:\n") != std::string::npos) << r.err;
}

// A program the game starts from its tick runs from the simulation thread,
// which leaves the quit signals to the main thread; the program must not
// inherit that, or it outlives every request to end it. Once it has ended
// the game's tick goes on and asks to quit.
TEST(Signals, AProgramTheGameStartsEndsOnSigterm) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args\n  return unless Kernel.tick_count == 1\n"
                                           "  $qmx.exec(\"sh -c 'echo $$ > child.txt; exec sleep 37'\")\n"
                                           "  $qmx.request_quit\nend\n");
    EngineProcess process = sandbox.start({sandbox.game_dir});
    const std::string pid_file = sandbox.root + "/child.txt";
    ASSERT_TRUE(wait_until([&] { return read_file(pid_file).find('\n') != std::string::npos; }, 30));
    const pid_t child = std::stoi(read_file(pid_file));
    kill(child, SIGTERM);
    engine_result r = process.finish(10);
    if (r.timed_out) kill(child, SIGKILL);
    EXPECT_TRUE(r.exited && r.exit_code == 0 && !r.timed_out) << r.err;
}

// Production mode moves the write directory to the user's preference folder,
// named after the game's metadata; the folder only appears in production.
TEST(ProductionMode, TheOptionWithAnyNumberOfDashesOrTheMarkerFileTurnsItOn) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick args; end\n");
    sandbox.write_game_file("metadata/game_metadata.txt",
                            "devid=studio\ndevtitle=Studio\ngameid=space\ngametitle=Space Game\nversion=1\n");
    const std::string pref_dir = sandbox.home_dir + "/.local/share/Space Game", marker = "metadata/VELLUMCORE_PRODUCTION_BUILD";
    for (const char *option : {"", "--production", "-production", "---production", "marker"}) {
        fs::remove_all(sandbox.home_dir + "/.local");
        if (option == std::string("marker")) sandbox.write_game_file(marker, "");
        std::vector<std::string> args = {sandbox.game_dir};
        if (option[0] == '-') args.push_back(option);
        EXPECT_EQ(run_until_started_then_signal(sandbox, args).exit_code, 0) << option;
        EXPECT_EQ(fs::is_directory(pref_dir), *option != 0) << option;
    }
}

// A game that saves a file and a screenshot, then quits.
const char saving_game[] =
    "def tick args\n"
    "  $qmx.write_file('save.txt', 'saved') if Kernel.tick_count == 1\n"
    "  args.outputs.screenshots << { x: 0, y: 0, w: 8, h: 8, path: 'shot.png' } if Kernel.tick_count == 1\n"
    "  $qmx.request_quit if Kernel.tick_count == 5\n"
    "end\n";

// The preference folder is one folder named after the titles, whatever
// they hold.
TEST(ProductionMode, TheSaveFolderStaysInsideThePreferenceDirectory) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", saving_game);
    sandbox.write_game_file("metadata/game_metadata.txt",
                            "devid=d\ndevtitle=D\ngameid=g\ngametitle=../../../escaped\nversion=1\n");
    EXPECT_EQ(sandbox.run({sandbox.game_dir, "--production"}, 40).exit_code, 0);
    EXPECT_EQ(read_file(sandbox.home_dir + "/.local/share/.._.._.._escaped/save.txt"), "saved");
    EXPECT_FALSE(fs::exists(sandbox.root + "/escaped"));
}

// With "app" beside the executable and no game directory named, the game's
// files and screenshots are written where the game is.
TEST(GameDirectory, AGameBesideTheExecutableWritesBesideIt) {
    EngineSandbox sandbox;
    write_file(sandbox.base_dir + "/app/main.rb", saving_game);
    engine_result r = sandbox.run({}, 40);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(sandbox.base_dir + "/save.txt"), "saved");
    EXPECT_EQ(Screenshot(sandbox.base_dir + "/shot.png").width, 8u);
}

TEST(GameDirectory, MygameBesideTheExecutableIsMountedWhenNoneIsNamed) {
    EngineSandbox sandbox;
    // The metadata read at start-up shows which folder was mounted: production
    // mode names the preference folder after its game title.
    write_file(sandbox.base_dir + "/mygame/app/main.rb", "def tick args; end\n");
    write_file(sandbox.base_dir + "/mygame/metadata/game_metadata.txt",
               "devid=d\ndevtitle=D\ngameid=g\ngametitle=Default Game\nversion=1\n");
    EXPECT_EQ(run_until_started_then_signal(sandbox, {"--production"}).exit_code, 0);
    EXPECT_TRUE(fs::is_directory(sandbox.home_dir + "/.local/share/Default Game"));

    // With "app" already in the search path nothing more is mounted, so the
    // metadata of mygame is not seen and the defaults apply.
    fs::remove_all(sandbox.home_dir + "/.local");
    write_file(sandbox.base_dir + "/app/main.rb", "def tick args; end\n");
    EXPECT_EQ(run_until_started_then_signal(sandbox, {"--production"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(sandbox.home_dir + "/.local/share/Default Game"));
    EXPECT_TRUE(fs::is_directory(sandbox.home_dir + "/.local/share/Hello SDL"));
}

// A game's own files under the names of the engine's (its font, the console
// logo, the controller picture) are the ones read and measured, from a
// folder or an archive, in development and in production: the engine's
// files beside the executable come after the game's. The game ships each
// also under a name of its own, and the engine's font as "engine.ttf", so
// that it can tell which was read.
TEST(GameDirectory, AGamesOwnFilesComeBeforeTheEnginesOfTheSameName) {
    const std::string dist = VELLUM_DIST_DIR, font = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
    const std::pair<std::string, std::string> shipped[] = {
        {"font.ttf", font}, {"own.ttf", font}, {"engine.ttf", dist + "/font.ttf"},
        // The two pictures swapped.
        {"console-logo.png", dist + "/vellumcore-controller.png"}, {"own-logo.png", dist + "/vellumcore-controller.png"},
        {"vellumcore-controller.png", dist + "/console-logo.png"}, {"own-controller.png", dist + "/console-logo.png"}};
    const struct {
        const char *name;
        bool packed, production;
    } runs[] = {{"folder", false, false}, {"archive", true, false}, {"archive, production", true, true}};
    for (const auto &run : runs) {
        EngineSandbox sandbox;
        for (const auto &[name, from] : shipped) sandbox.write_game_file(name, read_file(from));
        sandbox.write_game_file("app/main.rb", R"(
def tick(args)
  w = ->(font) { $qmx.calcstringbox("Hello world", 0, font) }
  same = ->(a, b) { (r = $qmx.read_file(a)) && r == $qmx.read_file(b) }
  puts "answer: #{[w["font.ttf"] == w["own.ttf"], w["own.ttf"] != w["engine.ttf"], same["font.ttf", "own.ttf"],
                   same["console-logo.png", "own-logo.png"], same["vellumcore-controller.png", "own-controller.png"]]}"
  $qmx.request_quit
end
)");
        std::vector<std::string> args = {run.packed ? sandbox.pack_game() : sandbox.game_dir};
        if (run.production) args.push_back("--production");
        engine_result result = sandbox.run(args, 40);
        EXPECT_EQ(result.exit_code, 0) << run.name << result.err;
        EXPECT_EQ(count_of(result.out, "answer: [true, true, true, true, true]\n"), 1u) << run.name << result.out;
    }
}

} // namespace
