// What a game writes, seen on disk: a save that cannot be written keeps the
// one before it and says why; a game run from an archive writes beside the
// engine and never into the archive; screenshots asked for just before a
// quit are still taken.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
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

TEST(Saves, ASaveThatCannotBeWrittenKeepsThePreviousSaveAndAnswersNil) {
    const struct {
        const char *name;
        engine_confinement confinement;
        bool read_only;
        const char *reason;
    } cases[] = {{"full disk", {64 * 1024, false}, false, "File too large"},
                 {"read-only folder", {0, true}, true, "Permission denied"}};
    for (const auto &c : cases) {
        EngineSandbox sandbox;
        sandbox.use_fixture("save_refused");
        sandbox.write_game_file("game_state.txt", good_save);
        sandbox.confinement = c.confinement;
        std::string save = sandbox.game_dir + "/game_state.txt";
        if (c.read_only)
            for (const std::string &path : {save, sandbox.game_dir})
                fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
        engine_result result = sandbox.run({sandbox.game_dir}, 40);
        fs::permissions(sandbox.game_dir, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(result.exit_code, 0) << c.name << result.err;
        EXPECT_EQ(read_file(sandbox.base_dir + "/result.txt"), "[nil, 7]") << c.name << result.out;
        EXPECT_EQ(read_file(save), good_save) << c.name;
        // No partial copy and no temporary file is left behind.
        EXPECT_EQ(listing(sandbox.game_dir), (std::vector<std::string>{"app", "app/main.rb", "game_state.txt"}))
            << c.name;
        EXPECT_EQ(count_of(result.out, "The game state could not be saved to =game_state_"), 1u) << c.name << result.out;
        EXPECT_NE(result.out.find(c.reason), std::string::npos) << c.name << result.out;
        EXPECT_EQ(result.out.find("saved to file"), std::string::npos) << c.name;
    }
}

// A game packed in an archive: the archive keeps every byte, its files land
// in the base directory instead, a folder reads as no file, and the
// screenshots of the two ticks before the quit exist.
TEST(Files, APackedGameWritesBesideTheEngineAndTheLastScreenshotsAreTaken) {
    EngineSandbox sandbox;
    sandbox.use_fixture("files_and_quit");
    const std::string game = sandbox.root + "/game.zip", base = sandbox.base_dir;
    ASSERT_EQ(std::system(("cd " + sandbox.game_dir + " && zip -qr " + game + " .").c_str()), 0);
    fs::remove_all(sandbox.game_dir);
    const std::string archive = read_file(game);
    engine_result result = sandbox.run({game}, 40);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(game), archive);
    EXPECT_EQ(read_file(base + "/answers.txt"), "[true, true, nil, \"x\"]") << result.out;
    EXPECT_TRUE(file_exists(base + "/saved.txt") && file_exists(base + "/game_state.txt"));
    for (const char *shot : {"/shot_4.png", "/shot_5.png"}) EXPECT_EQ(Screenshot(base + shot).width, 64u) << shot;
}

} // namespace
