// Writers on two threads that each select their own write directory.
#include "render_support.h"

#include "host/fileio.h"

#include <sys/stat.h>

#include <thread>

using namespace render_support;

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(WriteDirectory, SelectingAndWritingIsOneStepForEveryWriter) {
    const std::string base = vfs_dir();
    const std::string dirs[2] = {base + "/first", base + "/second"};
    for (const std::string &d : dirs) mkdir(d.c_str(), 0755);
    constexpr int FILES = 150;
    int failures[2] = {0, 0};
    auto writer = [&](int which) {
        for (int i = 0; i < FILES; ++i) {
            std::string name = "w" + std::to_string(which) + "_" + std::to_string(i) + ".txt";
            int ok = (i & 1) ? appendfile_write_override(dirs[which].c_str(), name.c_str(), "x", 1)
                             : storefile_write_override(dirs[which].c_str(), name.c_str(), "x", 1);
            if (!ok) ++failures[which];
        }
    };
    std::thread a(writer, 0), b(writer, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures[0], 0);
    EXPECT_EQ(failures[1], 0);
    int misplaced = 0;
    for (int which = 0; which < 2; ++which)
        for (int i = 0; i < FILES; ++i) {
            std::string name = "/w" + std::to_string(which) + "_" + std::to_string(i) + ".txt";
            if (!exists(dirs[which] + name) || exists(dirs[1 - which] + name)) ++misplaced;
        }
    EXPECT_EQ(misplaced, 0);
    PHYSFS_setWriteDir(base.c_str());
}

} // namespace
