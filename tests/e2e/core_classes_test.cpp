// The grid's origin modes as the renderer draws them, and the log files the
// logging layer writes, seen from outside the process.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A screenshot read in image coordinates: row 0 is the top.
struct Image {
    std::vector<unsigned char> pixels;
    unsigned width = 0, height = 0;

    bool load(const std::string &path) { return lodepng::decode(pixels, width, height, path) == 0; }
    bool red_at(unsigned x, unsigned y) const {
        size_t i = ((size_t)y * width + x) * 4;
        return pixels[i] > 200 && pixels[i + 1] < 40 && pixels[i + 2] < 40;
    }
};

TEST(GridOrigin, CentreAndBottomLeftPlaceTheOriginWhereTheRendererDrawsIt) {
    EngineSandbox sandbox;
    sandbox.use_fixture("grid_origin");
    engine_result r = sandbox.run({sandbox.game_dir}, 30, {{"SDL_RENDER_DRIVER", "software"}});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;

    // Two requests for the centre send one command; the way back sends one.
    EXPECT_EQ(read_file(sandbox.game_dir + "/grids.txt"), "[[640.0, 360.0, -1.0], [0.0, 720, -1.0]]");

    Image centre, bottom_left;
    ASSERT_TRUE(centre.load(sandbox.game_dir + "/center.png")) << r.out << r.err;
    ASSERT_TRUE(bottom_left.load(sandbox.game_dir + "/bottom_left.png")) << r.out << r.err;
    ASSERT_EQ(centre.width, 1280u);
    ASSERT_EQ(centre.height, 720u);
    EXPECT_TRUE(centre.red_at(640, 360));
    EXPECT_FALSE(centre.red_at(5, 715));
    EXPECT_TRUE(bottom_left.red_at(5, 715));
    EXPECT_FALSE(bottom_left.red_at(640, 360));
}

std::string after(const std::string &text, const std::string &marker) {
    size_t at = text.find(marker);
    return at == std::string::npos ? std::string() : text.substr(at);
}

TEST(LogFiles, EachLevelPrintAndTraceIsWrittenAsShown) {
    EngineSandbox sandbox;
    sandbox.use_fixture("log_files");
    engine_result r = sandbox.run({sandbox.game_dir}, 30);
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;

    std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    EXPECT_EQ(log.rfind("Vellumcore QMX Log Messages.", 0), 0u) << log;
    EXPECT_EQ(after(log, "plain\n").substr(0, 96),
              "plain\ntext\n* INFO: ready\n* ERROR: boom\n  #+BEGIN:\n  line one\n  line two\n  #+END:\n  \n\n")
        << log;
    EXPECT_EQ(read_file(sandbox.base_dir + "/logs/puts.txt"), "hello\n5\n");
    EXPECT_NE(r.out.find("* INFO: ready\n"), std::string::npos) << r.out;

    std::string trace = read_file(sandbox.base_dir + "/logs/trace.txt");
    const std::string intro =
        "Add trace!(SOMEOBJECT) to the top of ~tick~ and this file will be populated with invocation information.\n";
    EXPECT_EQ(trace.rfind(intro + "Tracing work on Worker.\n\n  work(21)\n  ", 0), 0u) << trace;
    EXPECT_NE(trace.find("ms success: work\nWorker#work: "), std::string::npos) << trace;
    EXPECT_NE(trace.find("ms avg, "), std::string::npos) << trace;
}

TEST(LogFiles, ProductionWritesNoLogs) {
    EngineSandbox sandbox;
    sandbox.use_fixture("log_files");
    engine_result r = sandbox.run({sandbox.game_dir, "--production"}, 30);
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("* INFO: ready"), std::string::npos) << r.out;
    for (const auto &entry : fs::recursive_directory_iterator(sandbox.root))
        EXPECT_NE(entry.path().filename().string(), "logs") << entry.path();
}

} // namespace
