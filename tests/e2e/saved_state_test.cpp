// Saved state as a game and a player editing a save see it, one engine run
// per group: each run's script checks a table of cases and prints the names
// of those that failed.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs app/check.rb once the game has loaded; it prints "failed: [...]".
engine_result run_check(EngineSandbox &sandbox, const std::string &script) {
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    sandbox.write_game_file("app/check.rb", script);
    return sandbox.run({sandbox.game_dir, "--eval", "app/check.rb", "--no-tick"}, 60);
}

// A save as the earlier writer wrote it (0.3 was 0.30000000000000004) and as
// a player may edit it; every value must be what the same text gives in the
// game's own code, and a Float must save in the shortest text that reads
// back as it.
TEST(SavedState, FloatsAndHandEditedFormsReadAsTheGamesOwnCode) {
    const std::string forms = R"(['single', 'it\'s', "\u00e9\u{41 42}\q\s\101\x41\M-a\C-a", {a: 1}, {"b c": 2, d?: 3},
  [1, 2,], {x: 1,}, 1_000, 0x10, 0b101, 0o17, 0d17, 017, +5, 1_000.5, 1e1_0, :'q r'])";
    EngineSandbox sandbox;
    sandbox.write_game_file("game_state.txt", "{entity_id: 1, old: [0.30000000000000004, 0.6000000000000001, "
                                              "0.15000000000000002, 0.09999999999999998],\n forms: " +
                                                  forms + ",\n}\n");
    engine_result result = run_check(sandbox, R"(state = $qmx.load_state
forms = )" + forms + R"(
checks = {
  old_floats: state && state.old == [0.3, 0.6, 0.15, 0.1],
  forms: state && state.forms == forms,
  json: $qmx.parse_json("[0.3, 0.6, 0.15, 1.0e-5]") == [0.3, 0.6, 0.15, 1.0e-5],
  shortest: $qmx.serialize_state({ f: [0.1, 1.0e-5, 0.3, 1.0 / 3] }) == "{:f=>[0.1, 1.0e-05, 0.3, 0.3333333333333332]}"
}
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

} // namespace
