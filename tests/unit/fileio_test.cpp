// The file helpers under FFI::File (whose own tests cover writes, appends
// and queries through Ruby): what only the native side shows.
#include "host/fileio.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>

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

} // namespace
