#include "host/fileio.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>

#include <filesystem>

namespace {

using FileHelpers = VfsTest;

TEST_F(FileHelpers, LoadfileReturnsTheWholeFileWithATerminator) {
    put("empty.txt", "");
    put("data.bin", std::string("a\0b", 3));
    size_t size = 99;
    char *empty = (char *)loadfile("empty.txt", &size);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(empty[0], 0);
    SDL_free(empty);

    char *data = (char *)loadfile("data.bin", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(data, 4), std::string("a\0b\0", 4));
    SDL_free(data);

    size = 99;
    EXPECT_EQ(loadfile("missing.txt", &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(FileHelpers, WritesCreateTheirFoldersAndAppendsAddToTheEnd) {
    EXPECT_EQ(write_file_to_vfs(0, "a/b/c.txt", "hello", 5), 1);
    EXPECT_EQ(get("a/b/c.txt"), "hello");
    EXPECT_EQ(write_file_to_vfs(1, "a/b/c.txt", " world", 6), 1);
    EXPECT_EQ(get("a/b/c.txt"), "hello world");
    EXPECT_EQ(write_file_to_vfs(1, "a/b/c.txt", "", 0), 1);
    EXPECT_EQ(get("a/b/c.txt"), "hello world");
    // Writing with no length empties the file.
    EXPECT_EQ(write_file_to_vfs(0, "a/b/c.txt", "", 0), 1);
    EXPECT_EQ(get("a/b/c.txt"), "");

    EXPECT_EQ(write_file_to_vfs(0, "plain.txt", "x", 1), 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/plain.txt"));
    // A file where a folder is needed makes the write fail, not succeed.
    EXPECT_EQ(write_file_to_vfs(0, "plain.txt/inner.txt", "x", 1), 0);
}

TEST_F(FileHelpers, OverridesSwitchTheWriteDirectory) {
    std::string other = dir + "/other";
    std::filesystem::create_directories(other);
    EXPECT_EQ(storefile_write_override(other.c_str(), "f.txt", "1", 1), 1);
    EXPECT_EQ(appendfile_write_override(other.c_str(), "f.txt", "2", 1), 1);
    EXPECT_EQ(get("other/f.txt"), "12");
    EXPECT_STREQ(PHYSFS_getWriteDir(), other.c_str());
    EXPECT_EQ(storefile_write_override("/nonexistent/folder", "f.txt", "1", 1), 0);
}

TEST_F(FileHelpers, QueriesAnswerForMissingFiles) {
    put("here.txt", "x");
    EXPECT_GT(lastmodtime("here.txt"), 0);
    EXPECT_EQ(lastmodtime("missing.txt"), -1);
    EXPECT_EQ(path_exists("here.txt"), 1);
    EXPECT_EQ(path_exists("missing.txt"), 0);

    char *joined = sprintf_alloc("%s/%s", "a", "b");
    ASSERT_NE(joined, nullptr);
    EXPECT_STREQ(joined, "a/b");
    SDL_free(joined);
}

} // namespace
