// Entities as a game uses them: a game may make as many as it likes.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs a game until it quits by itself; it must not have paused on an
// exception on the way.
engine_result run_game(EngineSandbox &sandbox, const std::string &main_rb) {
    sandbox.write_game_file("app/main.rb", main_rb);
    engine_result r = sandbox.run({sandbox.game_dir}, 40);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/exceptions")) << r.out;
    return r;
}

// Every entity's first read and write of a property gives it accessors of
// its own; 70,000 entities, more than one Ruby block can be referenced by,
// each read and written, and the game ticks on.
TEST(Entities, SeventyThousandEntitiesEachReadAndWrittenKeepTheGameTicking) {
    EngineSandbox sandbox;
    run_game(sandbox, R"(def tick(args)
  if Kernel.tick_count == 1
    args.state.items = Array.new(70_000) { |i| args.state.new_entity(:item, x: i) }
    args.state.items.each { |e| e.x = e.x + 1 }
  end
  return unless Kernel.tick_count == 60
  $qmx.write_file("sum.txt", args.state.items.inject(0) { |sum, e| sum + e.x }.to_s)
  $qmx.request_quit
end
)");
    EXPECT_EQ(read_file(sandbox.game_dir + "/sum.txt"), "2450035000");
}

} // namespace
