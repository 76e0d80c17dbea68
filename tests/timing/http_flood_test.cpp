// Clients that flood the game's HTTP server with oversized request heads
// leave the game at full speed.
#include "../e2e/engine_run.h"
#include "../e2e/http_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// 64 clients, each sending over and over a head of 250,000 two-byte header
// lines (500 KB, inside the request limit): 320 MB a second. The game
// measures its own tick rate over three seconds of its own clock while
// they send.
TEST(Pacing, SixtyFourClientsSendingHeadsOfShortLinesLeaveTheGameAtFullSpeed) {
    EngineSandbox sandbox;
    const uint16_t port = free_port();
    sandbox.write_game_file("app/main.rb", "PORT = " + std::to_string(port) + R"RUBY(
def tick args
  $qmx.start_server!(port: PORT) if args.state.tick_count == 0
  $qmx.write_file("ready.txt", "") if args.state.tick_count == 1
  args.inputs.http_requests.each { |request| request.respond(200, "ok") }
  if !$start && $qmx.ffi_file.path_exists("measure.txt")
    $start = [Time.now.to_f, Kernel.global_tick_count]
  elsif $start && !$measured && Time.now.to_f - $start[0] >= 3
    $measured = true
    $qmx.write_file("rate.txt", ((Kernel.global_tick_count - $start[1]) / (Time.now.to_f - $start[0])).to_s)
  end
end
)RUBY");
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));

    std::string head = "GET /ok HTTP/1.0\r\n";
    for (int i = 0; i < 250000; ++i) head += "a\n";
    head += "\r\n";
    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0}, too_large{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 64; ++i)
        clients.emplace_back([&] {
            while (flooding) {
                // Ten heads a second each, and a short wait for the answer:
                // a server that never answers must not slow the flood down.
                auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                std::string answer = read_answer(send_request(port, head, 300));
                ++sent;
                if (answer.rfind("HTTP/1.0 431", 0) == 0) ++too_large;
                std::this_thread::sleep_until(next);
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    write_file(sandbox.game_dir + "/measure.txt", "");
    bool measured = wait_until([&] { return file_exists(sandbox.game_dir + "/rate.txt"); }, 30);
    flooding = false;
    for (std::thread &client : clients) client.join();
    ASSERT_TRUE(measured);
    double rate = std::stod(read_file(sandbox.game_dir + "/rate.txt"));
    EXPECT_GE(rate, 55) << sent << " heads sent";
    // The server kept reading them and said what was wrong with each.
    EXPECT_GE(sent.load(), 64 * 3);
    EXPECT_GE(too_large.load(), sent.load() * 9 / 10);
    EXPECT_EQ(engine.stop().exit_code, 0);
}

} // namespace
