// The grid's origin modes as the renderer draws them, and the log files the
// logging layer writes, seen from outside the process.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Whether pixel (x, y) of a full-size screenshot is red.
bool red_at(const std::string &png, int x, int y) {
    Screenshot shot(png);
    const unsigned char *p = shot.width == 1280 && shot.height == 720 ? shot.at(x, y) : nullptr;
    return p && p[0] > 200 && p[1] < 40 && p[2] < 40;
}

TEST(GridOrigin, CentreAndBottomLeftPlaceTheOriginWhereTheRendererDrawsIt) {
    EngineSandbox sandbox;
    sandbox.run_fixture("grid_origin", {}, {{"SDL_RENDER_DRIVER", "software"}});
    // Two requests for the centre send one command; the way back sends one.
    EXPECT_EQ(read_file(sandbox.game_dir + "/grids.txt"), "[[640.0, 360.0, -1.0], [0.0, 720, -1.0]]");
    const std::string centre = sandbox.game_dir + "/center.png", bottom_left = sandbox.game_dir + "/bottom_left.png";
    EXPECT_TRUE(red_at(centre, 640, 359) && !red_at(centre, 5, 4));
    EXPECT_TRUE(red_at(bottom_left, 5, 4) && !red_at(bottom_left, 640, 359));
}

TEST(LogFiles, EachLevelPrintAndTraceIsWrittenAsShownAndProductionWritesNone) {
    EngineSandbox sandbox;
    engine_result r = sandbox.run_fixture("log_files");
    std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    EXPECT_EQ(log.rfind("Vellumcore QMX Log Messages.", 0), 0u) << log;
    EXPECT_NE(log.find("\nplain\ntext\n* INFO: ready\n* ERROR: boom\n  #+BEGIN:\n  line one\n  line two\n  #+END:\n  \n\n"),
              std::string::npos) << log;
    EXPECT_EQ(read_file(sandbox.base_dir + "/logs/puts.txt"), "hello\n5\n");
    EXPECT_NE(r.out.find("* INFO: ready\n"), std::string::npos) << r.out;

    std::string trace = read_file(sandbox.base_dir + "/logs/trace.txt");
    EXPECT_EQ(trace.rfind("Add trace!(SOMEOBJECT) to the top of ~tick~ and this file will be populated with invocation "
                          "information.\nTracing work on Worker.\n\n  work(21)\n  ", 0), 0u) << trace;
    EXPECT_NE(trace.find("ms success: work\nWorker#work: "), std::string::npos) << trace;
    EXPECT_NE(trace.find("ms avg, "), std::string::npos) << trace;

    // Production writes no logs.
    EngineSandbox production;
    r = production.run_fixture("log_files", {"--production"});
    EXPECT_EQ(r.out.find("* INFO: ready"), std::string::npos) << r.out;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(production.root))
        EXPECT_NE(entry.path().filename().string(), "logs") << entry.path();
    // Nor anything else of development (backups, console history): the
    // player's folder holds only what the game wrote, here nothing.
    for (const auto &entry : std::filesystem::recursive_directory_iterator(production.home_dir))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
}

} // namespace
