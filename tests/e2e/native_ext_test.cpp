// Native extensions in a real run: from the game's folder, where the library
// stays, and from a game packed in an archive, where the copy made for
// loading is gone once it has loaded. Two different extensions loaded in
// the same tick each register their own classes.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(NativeExtensions, LoadFromTheGameFolderAndFromAPackedGame) {
    for (bool packed : {false, true}) {
        EngineSandbox sandbox;
        sandbox.use_fixture("native_ext");
        std::string library = sandbox.game_dir + "/native/linux/test_extension.so";
        fs::create_directories(sandbox.game_dir + "/native/linux");
        fs::copy_file(VELLUM_TEST_EXTENSION, library);
        fs::copy_file(VELLUM_TEST_EXTENSION_OTHER, sandbox.game_dir + "/native/linux/other.so");
        fs::copy_file(VELLUM_TEST_EXTENSION_NO_ENTRY, sandbox.game_dir + "/native/linux/no_entry.so");
        const std::string game = packed ? sandbox.pack_game() : sandbox.game_dir;
        engine_result result = sandbox.run({game}, 30);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(read_file(sandbox.base_dir + "/native.txt"),
                  "[[nil, nil, nil, nil], \"hello game\", \"welcome game\", {\"level\"=>3}, \"map\", nil]") << packed;
        EXPECT_EQ(file_exists(library), !packed);
        EXPECT_FALSE(file_exists(sandbox.base_dir + "/vellumcore-sharedobjs")) << packed;
    }
}

} // namespace
