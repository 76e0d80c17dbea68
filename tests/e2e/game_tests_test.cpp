// `--test FILE` runs the game's test methods and prints a summary; the exit
// status tells a script whether everything passed.
#include "engine_run.h"

#include <gtest/gtest.h>

namespace {

TEST(GameTests, TheSummaryIsPrintedAndTheExitStatusSaysWhetherAllPassed) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    auto run_tests = [&](const std::string &tests) {
        sandbox.write_game_file("app/tests.rb", tests);
        return sandbox.run({sandbox.game_dir, "--test", "app/tests.rb"}, 30);
    };
    const std::string passing = "def test_passes(args, assert) = assert.true!(args.state.tick_count == -1)\n";
    engine_result result = run_tests(passing + "def test_asserts_nothing(args, assert); end\n"
                                               "def test_fails(args, assert) = assert.equal!(nil, 3)\n");
    EXPECT_EQ(result.exit_code, 1) << result.err;
    for (const char *line : {"** Summary", "1 test(s) passed.", "**** :test_passes", "1 test(s) inconclusive.",
                             "**** :test_asserts_nothing", "1 test(s) failed.", "**** Test name: :test_fails",
                             "actual:\n(nil)\n\ndid not equal\n\nexpected:\n3."})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;

    EXPECT_EQ(run_tests(passing).exit_code, 0);
    // A test file that does not load runs nothing, which is no success.
    EXPECT_EQ(run_tests("raise 'typo'\n").exit_code, 1);
    result = run_tests(passing + "def test_invalid(args) = nil\n");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.out.find("TEST METHOD INVALID:\nI found a test method called :test_invalid."), std::string::npos)
        << result.out;
}

} // namespace
