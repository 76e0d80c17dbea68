// What a game writes, seen on disk: a write that cannot be made keeps the
// file before it and says why; a game run from an archive writes beside the
// engine, never into the archive, and reads back what it wrote; screenshots
// asked for just before a quit are still taken; a write stays in the game.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(entry.path(), dir));
    std::sort(names.begin(), names.end());
    return names;
}

const std::string good_save = "{:entity_id=>1, :entity_keys_by_ref=>{}, :tick_count=>5, :score=>7}";

// The line a game printed after "answer: ", once per run.
std::vector<std::string> answers(const std::string &out) {
    std::vector<std::string> found;
    for (size_t at = out.find("answer: "); at != std::string::npos; at = out.find("answer: ", at + 1))
        found.push_back(out.substr(at + 8, out.find('\n', at) - at - 8));
    return found;
}

// Every kind of write into a folder that cannot take it (a full disk, a
// read-only folder) answers its failure, says why once, leaves each file as
// it was and leaves no temporary file; the engine runs on and quits itself.
TEST(Files, WritesAFolderCannotTakeLeaveEveryFileAsItWasAndSayWhy) {
    const struct {
        const char *name;
        engine_confinement confinement;
        bool read_only;
        const char *reason;
    } cases[] = {{"full disk", {32 * 1024, false}, false, "File too large"},
                 {"read-only folder", {0, true}, true, "Permission denied"}};
    const std::string log_text(30 * 1024, 'l');
    for (const auto &c : cases) {
        EngineSandbox sandbox;
        sandbox.use_fixture("writes_refused");
        sandbox.write_game_file("game_state.txt", good_save);
        sandbox.write_game_file("log.txt", log_text);
        sandbox.confinement = c.confinement;
        std::string save = sandbox.game_dir + "/game_state.txt";
        if (c.read_only)
            for (const std::string &path : {save, sandbox.game_dir + "/log.txt", sandbox.game_dir})
                fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
        engine_result result = sandbox.run({sandbox.game_dir}, 40);
        fs::permissions(sandbox.game_dir, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(result.exit_code, 0) << c.name << result.err;
        EXPECT_EQ(read_file(sandbox.base_dir + "/result.txt"), "[nil, 7, false, false, false]") << c.name << result.out;
        EXPECT_EQ(read_file(save), good_save) << c.name;
        EXPECT_TRUE(read_file(sandbox.game_dir + "/log.txt") == log_text) << c.name;
        EXPECT_EQ(listing(sandbox.game_dir),
                  (std::vector<std::string>{"app", "app/main.rb", "game_state.txt", "log.txt"})) << c.name;
        const std::string all = result.out + result.err, reason = c.reason;
        for (const std::string &said : std::initializer_list<std::string>{
                 "The game state could not be saved to =game_state_", ".txt=: " + reason,
                 "The recording could not be saved to replay.txt", "The screenshot shot.png could not be written: " + reason})
            EXPECT_EQ(count_of(all, said), 1u) << c.name << ": " << said << "\n" << all;
        EXPECT_EQ(result.out.find("saved to file"), std::string::npos) << c.name;
    }
}

// A game packed in an archive: the archive keeps every byte, its files land
// in the base directory instead and are read from there before the archive
// (what it wrote over a file it ships reads back, in the same run and the
// next), a folder reads as no file, and the screenshots of the two ticks
// before the quit exist.
TEST(Files, APackedGameWritesBesideTheEngineReadsThatBackAndTheLastScreenshotsAreTaken) {
    EngineSandbox sandbox;
    sandbox.use_fixture("files_and_quit");
    sandbox.write_game_file("saved.txt", "shipped");
    sandbox.write_game_file("game_state.txt", good_save);
    const std::string game = sandbox.pack_game(), base = sandbox.base_dir;
    const std::string archive = read_file(game);
    for (int run = 0; run < 2; ++run) EXPECT_EQ(sandbox.run({game}, 40).exit_code, 0) << run;
    EXPECT_EQ(read_file(game), archive);
    EXPECT_EQ(read_file(base + "/answers.txt"),
              "[\"shipped\", true, true, nil, \"x\", 3]\n[\"x\", true, true, nil, \"x\", 3]\n");
    EXPECT_TRUE(file_exists(base + "/saved.txt") && file_exists(base + "/game_state.txt"));
    for (const char *shot : {"/shot_4.png", "/shot_5.png"}) EXPECT_EQ(Screenshot(base + shot).width, 64u) << shot;
}

// An append adds to the text the game reads under that name, whether that
// text is shipped in the game folder, in an archive or written earlier, in
// development and in production; what the game ships keeps every byte.
TEST(Files, AnAppendAddsToTheShippedTextInEveryKindOfRun) {
    const struct {
        const char *name;
        bool packed, production;
    } runs[] = {{"folder", false, false}, {"folder, production", false, true},
                {"archive", true, false}, {"archive, production", true, true}};
    for (const auto &run : runs) {
        EngineSandbox sandbox;
        sandbox.write_game_file("notes/log.txt", "shipped log;");
        sandbox.write_game_file("app/main.rb", R"(
def tick(args)
  puts "answer: #{[$qmx.append_file('notes/log.txt', 'appended;'), $qmx.read_file('notes/log.txt')].inspect}"
  $qmx.request_quit
end
)");
        const std::string game = run.packed ? sandbox.pack_game() : sandbox.game_dir;
        const std::string shipped = run.packed ? read_file(game) : "";
        std::vector<std::string> args = {game};
        if (run.production) args.push_back("--production");
        std::vector<std::string> said;
        for (int again = 0; again < 2; ++again) {
            engine_result result = sandbox.run(args, 40);
            EXPECT_EQ(result.exit_code, 0) << run.name << result.err;
            for (const std::string &answer : answers(result.out)) said.push_back(answer);
        }
        EXPECT_EQ(said, (std::vector<std::string>{"[true, \"shipped log;appended;\"]",
                                                  "[true, \"shipped log;appended;appended;\"]"}))
            << run.name;
        if (run.packed) {
            EXPECT_TRUE(read_file(game) == shipped) << run.name;
        } else if (run.production) {
            EXPECT_EQ(read_file(game + "/notes/log.txt"), "shipped log;") << run.name;
        }
    }
}

// The engine's own log never follows a symbolic link out of its folder,
// whether the link is the log file or its folder: the message is still
// printed, and nothing lands where the link leads.
TEST(Files, TheEnginesLogIsNotWrittenThroughALink) {
    for (const bool folder_link : {false, true}) {
        EngineSandbox sandbox;
        const std::string outside = sandbox.root + "/outside";
        write_file(outside + "/target.txt", "outside");
        if (folder_link) {
            fs::create_directory_symlink(outside, sandbox.base_dir + "/logs");
        } else {
            fs::create_directories(sandbox.base_dir + "/logs");
            fs::create_symlink(outside + "/target.txt", sandbox.base_dir + "/logs/log.txt");
        }
        // Measuring with a font that is missing makes the engine itself log.
        sandbox.write_game_file("app/main.rb", R"(
def tick(args)
  $qmx.calcstringbox("x", 0, "missing.ttf")
  $qmx.request_quit
end
)");
        engine_result result = sandbox.run({sandbox.game_dir}, 40);
        EXPECT_EQ(result.exit_code, 0) << folder_link << result.err;
        EXPECT_NE(result.err.find("font: Couldn't load 'missing.ttf'"), std::string::npos) << folder_link << result.err;
        EXPECT_EQ(listing(outside), std::vector<std::string>{"target.txt"}) << folder_link;
        EXPECT_EQ(read_file(outside + "/target.txt"), "outside") << folder_link;
    }
}

// Where a write lands: a name near the file system's limit is written, a
// symbolic link never leads a write out of the game, and the temporary files
// of an engine killed mid-save are gone once the game starts again, while
// those of a running engine, and files that only look like them, stay.
TEST(Files, LongNamesAreWrittenLinksRefusedAndAKilledEnginesTemporaryFilesCleared) {
    EngineSandbox sandbox;
    const std::string outside = sandbox.root + "/outside";
    write_file(outside + "/target.txt", "outside");
    fs::create_directory_symlink(outside, sandbox.game_dir + "/out");
    fs::create_symlink(outside + "/target.txt", sandbox.game_dir + "/link.txt");
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended), running = std::to_string(getpid());
    // Whether each stays: an ended engine's go; a running one's, and names
    // that only look like them, stay.
    const std::pair<std::string, bool> leftovers[] = {
        {sandbox.game_dir + "/.game_state.txt." + dead + "-3.tmp", false},
        {sandbox.base_dir + "/logs/.log.txt." + dead + "-1.tmp", false},
        {sandbox.game_dir + "/.game_state.txt." + running + "-1.tmp", true},
        {sandbox.game_dir + "/game_state.txt." + dead + "-3.tmp", true}};
    for (const auto &[path, stays] : leftovers) write_file(path, "cut short");
    sandbox.write_game_file("app/main.rb", R"(
def tick(args)
  long = "n" * 246 + ".txt"
  answers = [$qmx.write_file(long, "long"), $qmx.read_file(long)] +
            ["out/x.txt", "link.txt"].map { |f| [$qmx.write_file(f, "in"), $qmx.append_file(f, "in")] }
  $qmx.write_file_root("answers.txt", answers.inspect)
  $qmx.request_quit
end
)");
    EXPECT_EQ(sandbox.run({sandbox.game_dir}, 40).exit_code, 0);
    EXPECT_EQ(read_file(sandbox.base_dir + "/answers.txt"), "[true, \"long\", [false, false], [false, false]]");
    EXPECT_EQ(listing(outside), std::vector<std::string>{"target.txt"});
    EXPECT_TRUE(fs::is_symlink(sandbox.game_dir + "/link.txt"));
    for (const auto &[path, stays] : leftovers) EXPECT_EQ(file_exists(path), stays) << path;
}

// Names that no file system holds, as a peer or text that is no save may
// hand a game: every way to read or write a file answers at once, and the
// log says why, once per call. Looking one up used to cost its length times
// its slashes: a second or more for each of these.
TEST(Files, ANameNoFileSystemHoldsIsAnsweredAtOnceAndSaidSo) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(long_part = "a" * 1000 + "/b" * 150_000 + ".rb"
in_game = "app/" + "c" * 300 + "/d" * 150_000
too_long = "e/" * 3000 + "f.txt"
not_a_save = "<a>" + "x{}" * 400 + "</a>/" * 140_000
calls = {
  read: -> { $qmx.read_file(long_part) },
  read_in_a_folder: -> { $qmx.read_file(in_game) },
  read_too_long: -> { $qmx.read_file(too_long) },
  deserialize: -> { $qmx.deserialize_state(not_a_save) },
  write: -> { $qmx.write_file(long_part, "x") },
  append: -> { $qmx.append_file(in_game, "x") },
  json: -> { $qmx.parse_json_file(long_part) },
  xml: -> { $qmx.parse_xml_file(in_game) },
  image: -> { $qmx.load_image(long_part) },
  upload: -> { $qmx.http_put("http://127.0.0.1:9/", long_part) }
}
answered = {}
slow = []
calls.each do |name, call|
  started = Time.now
  answered[name] = call.call
  ms = ((Time.now - started) * 1000).round
  slow << [name, ms] if ms > 250
end
puts "slow: #{slow.inspect}"
puts "answered: #{answered.values.uniq.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("slow: []"), std::string::npos) << result.out.substr(0, 4000);
    EXPECT_NE(result.out.find("answered: [nil, false]"), std::string::npos) << result.out.substr(0, 4000);
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    EXPECT_EQ(count_of(log, "a part of its name between two slashes is longer than 255 bytes"), 9u) << log.substr(0, 4000);
    EXPECT_EQ(count_of(log, "its name is longer than 4,095 bytes"), 1u) << log.substr(0, 4000);
    EXPECT_EQ(count_of(log, "=<a>x{}x{}"), 1u);
    EXPECT_LT(log.size(), 20000u);
}

} // namespace
