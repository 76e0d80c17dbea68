// A virtual file system over a fresh temp folder, mounted and writable.
#pragma once

#include <physfs.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

class VfsTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/vellum-vfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(PHYSFS_init(nullptr));
        ASSERT_TRUE(PHYSFS_mount(dir.c_str(), nullptr, 0));
        ASSERT_TRUE(PHYSFS_setWriteDir(dir.c_str()));
    }

    void TearDown() override {
        PHYSFS_deinit();
        std::filesystem::remove_all(dir);
    }

    void put(const std::string &relative, const std::string &content) {
        std::filesystem::create_directories(std::filesystem::path(dir + "/" + relative).parent_path());
        std::ofstream(dir + "/" + relative, std::ios::binary) << content;
    }

    std::string get(const std::string &relative) {
        std::ifstream in(dir + "/" + relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};
