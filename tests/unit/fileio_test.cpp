// The file helpers under FFI::File (whose own tests cover writes, appends
// and queries through Ruby): what only the native side shows.
#include "host/engine_log.h"
#include "host/fileio.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

using FileHelpers = VfsTest;

TEST_F(FileHelpers, LoadfileWritesAndOverrides) {
    put("empty.txt", "");
    put("data.bin", std::string("a\0b", 3));
    for (auto [name, bytes] : {std::pair{"empty.txt", std::string("", 1)}, std::pair{"data.bin", std::string("a\0b", 4)}}) {
        size_t size = 99;
        char *data = (char *)loadfile(name, &size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data, size + 1), bytes) << name;
        SDL_free(data);
    }
    size_t size = 99;
    EXPECT_EQ(loadfile("missing.txt", &size), nullptr);
    EXPECT_EQ(size, 0u);
    // Writing with no length empties the file; a file where a folder is
    // needed makes the write fail, not succeed.
    EXPECT_EQ(write_file_to_vfs(0, "a/c.txt", "hello", 5) + write_file_to_vfs(0, "a/c.txt", "", 0), 2);
    EXPECT_EQ(get("a/c.txt"), "");
    EXPECT_EQ(write_file_to_vfs(0, "a/c.txt/inner.txt", "x", 1), 0);
    std::string other = dir + "/a";
    EXPECT_EQ(storefile_write_override(other.c_str(), "f.txt", "1", 1) +
                  appendfile_write_override(other.c_str(), "f.txt", "2", 1), 2);
    EXPECT_EQ(get("a/f.txt"), "12");
    EXPECT_STREQ(PHYSFS_getWriteDir(), other.c_str());
    EXPECT_EQ(storefile_write_override("/nonexistent/folder", "f.txt", "1", 1), 0);
    char *joined = sprintf_alloc("%s/%s", "a", "b");
    EXPECT_STREQ(joined, "a/b");
    SDL_free(joined);
}

// A replacing write either puts every byte in place or leaves the file as it
// was, and only a folder ever becomes the write directory: PhysicsFS would
// empty an archive it was asked to write into.
TEST_F(FileHelpers, ReplacingKeepsTheOldFileOnFailureAndNeverWritesIntoAnArchive) {
    put("keep.txt", "old");
    std::filesystem::permissions(dir + "/keep.txt", std::filesystem::perms(0640));
    EXPECT_EQ(write_file_to_vfs(0, "keep.txt", "new", 3), 1);
    EXPECT_STREQ(file_write_error(), "");
    EXPECT_EQ(get("keep.txt"), "new");
    EXPECT_EQ(std::filesystem::status(dir + "/keep.txt").permissions(), std::filesystem::perms(0640));
    // A folder in the target's place refuses the write and keeps its content.
    put("folder/inside.txt", "inside");
    EXPECT_EQ(write_file_to_vfs(0, "folder", "x", 1), 0);
    EXPECT_STRNE(file_write_error(), "");
    EXPECT_EQ(get("folder/inside.txt"), "inside");
    for (const char *bad : {"../x", "a/../../x", "a:b", "/", ""}) EXPECT_EQ(write_file_to_vfs(0, bad, "x", 1), 0) << bad;
    // No temporary file stays behind, whatever happened.
    int files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 2);
    // A folder reads as no file.
    size_t size = 99;
    EXPECT_EQ(loadfile("folder", &size), nullptr);
    EXPECT_EQ(size, 0u);
    // An archive given as the write directory keeps every byte.
    put("game.zip", "PK\x03\x04 not really");
    std::string archive = dir + "/game.zip";
    EXPECT_EQ(storefile_write_override(archive.c_str(), "saved.txt", "x", 1) +
                  appendfile_write_override(archive.c_str(), "log.txt", "x", 1), 0);
    EXPECT_EQ(get("game.zip"), "PK\x03\x04 not really");
    EXPECT_STREQ(PHYSFS_getWriteDir(), dir.c_str());
    EXPECT_NE(std::string(file_write_error()).find("is not a folder"), std::string::npos);
}

// The engine's log opens each level of its path as it stands at that
// moment: its folder swapped for a link to elsewhere, again and again while
// messages are written, never takes a line there.
TEST(EngineLog, AFolderSwappedForALinkTakesNoLineElsewhere) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("vellum-log-race-" + std::to_string(getpid()));
    const fs::path base = root / "base", outside = root / "outside", logs = base / "logs";
    fs::create_directories(base);
    fs::create_directories(outside);
    SDL_LogSetOutputFunction([](void *, int, SDL_LogPriority, const char *) {}, nullptr);
    engine_log_init(base.c_str());
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const fs::path kept = base / "logs.kept";
        std::error_code ignored;
        while (!done) {
            fs::rename(logs, kept, ignored);
            fs::create_directory_symlink(outside, logs, ignored);
            fs::remove(logs, ignored);
            fs::rename(kept, logs, ignored);
        }
    });
    for (int i = 0; i < 20000; ++i) SDL_Log("line %d", i);
    done = true;
    swapper.join();
    EXPECT_FALSE(fs::exists(outside / "log.txt"));
    EXPECT_TRUE(fs::file_size(logs / "log.txt") > 0);
    fs::remove_all(root);
}

} // namespace
