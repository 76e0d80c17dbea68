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

// What a script or CI job types: each run ends by itself, at once, and its
// status says whether it did what was asked. Callbacks an --eval script
// schedules still run under --no-tick.
TEST(GameTests, RunsThatCannotTestOrEvaluateEndWithStatusOneAndSayWhy) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    sandbox.write_game_file("app/helpers.rb", "def helper = 1\n");
    sandbox.write_game_file("app/broken.rb", "def test_one(args, assert)\n  assert.ok!\n\ndef x(\n");
    sandbox.write_game_file("app/bad.rb", "raise 'the script broke'\n");
    sandbox.write_game_file("app/later.rb", "$qmx.schedule_callback(3) { puts \"called back at #{Kernel.tick_count}\" }\n");
    sandbox.write_game_file("app/tests.rb", "def test_fails(args, assert) = assert.false!(true)\n");
    sandbox.write_game_file("app/later_bad.rb", "$qmx.schedule_callback(2) { raise 'broke later' }\n");
    const struct { std::vector<std::string> options; int status; const char *said; } runs[] = {
        {{"--test", "app/tset.rb"}, 1, "File does not exist: app/tset.rb"},
        {{"--test"}, 1, "* TEST: No test ran"},
        {{"--test", "app/helpers.rb"}, 1, "No tests were found."},
        {{"--test", "app/broken.rb"}, 1, "app/broken.rb:5:0: syntax error"},
        {{"--eval", "missing.rb", "--no-tick"}, 1, "File does not exist: missing.rb"},
        {{"--eval", "app/bad.rb", "--no-tick"}, 1, "the script broke"},
        {{"--eval", "app/later.rb", "--no-tick"}, 0, "called back at 3"},
        {{"--eval", "app/later_bad.rb", "--no-tick"}, 1, "broke later"},
        {{"--eval", "app/helpers.rb", "--no-tick", "--test", "app/tests.rb"}, 1, "--test cannot be combined with --eval"},
        {{"--test", "app/tests.rb", "--eval", "app/helpers.rb"}, 1, "--test cannot be combined with --eval"},
        {{"--test", "app/tests.rb", "--record"}, 1, "--test cannot be combined with --record"},
        {{"--test", "app/tests.rb", "--replay", "x.txt"}, 1, "--test cannot be combined with --replay"},
        {{"--eval", "app/later.rb", "--no-tick", "--record"}, 1, "Nothing ran: --eval cannot be combined with --record"},
        {{"--record", "--eval", "app/later.rb"}, 1, "Nothing ran: --eval cannot be combined with --record"},
        {{"--eval", "app/later.rb", "--replay", "x.txt"}, 1, "Nothing ran: --eval cannot be combined with --replay"},
        {{"--replay", "x.txt", "--record"}, 1, "Nothing ran: --record cannot be combined with --replay"},
    };
    for (const auto &run : runs) {
        std::vector<std::string> args = {sandbox.game_dir};
        args.insert(args.end(), run.options.begin(), run.options.end());
        engine_result result = sandbox.run(args, 15);
        EXPECT_TRUE(result.exited && result.exit_code == run.status) << run.said << "\n" << result.out;
        EXPECT_NE(result.out.find(run.said), std::string::npos) << run.said << "\n" << result.out;
        // A refused --eval file is not run either.
        if (std::string(run.said).find("Nothing ran") != std::string::npos) {
            EXPECT_EQ(result.out.find("called back"), std::string::npos) << result.out;
        }
    }
}

} // namespace
