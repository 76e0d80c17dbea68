// The developer API driven with curl, and remote hot reload between two
// engines on loopback, each server on a port of its own.
#include "engine_run.h"
#include "http_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

namespace {

// The machine's own address on a network other than loopback, if any.
std::string non_loopback_ipv4() {
    std::istringstream addresses(run("hostname -I 2>/dev/null"));
    for (std::string address; addresses >> address;)
        if (address.find('.') != std::string::npos && address.rfind("127.", 0) != 0) return address;
    return "";
}

TEST(HttpApi, EvalLogAndAFileEditedThroughTheFormOverCurlAndEvalRefusedFromElsewhere) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    const std::string original = "first &amp; line <b>\n\nnon-ascii: \xc3\xa9 \xe6\x97\xa5\n</textarea>\nlast";
    sandbox.write_game_file("app/probe.rb", original);
    sandbox.write_game_file("app/main.rb", server_game(port));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    std::string url = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(curl("--data-urlencode 'code=$result = 1 + 1' " + url + "/vellum/eval/"),
              "HTTP/1.0 200 :)\r\nContent-Length: 1\r\nConnection: close\r\nContent-Type: text/plain\r\n\r\n2");
    EXPECT_EQ(body_of(curl(url + "/vellum/log")).rfind("Vellumcore QMX Log Messages.", 0), 0u);
    std::string refused = curl("-H 'Origin: http://elsewhere.test' --data-urlencode 'code=$qmx.write_file(\"x.txt\", \"\")' " +
                               url + "/vellum/eval/");
    EXPECT_EQ(refused.rfind("HTTP/1.0 403", 0), 0u) << refused;
    // From another address of this machine (when it has one) eval is refused;
    // what remote hot reload reads stays open.
    if (std::string address = non_loopback_ipv4(); !address.empty()) {
        std::string other = "http://" + address + ":" + std::to_string(port);
        refused = curl("--data-urlencode 'code=$qmx.write_file(\"x.txt\", \"\")' " + other + "/vellum/eval/");
        EXPECT_EQ(refused.rfind("HTTP/1.0 403", 0), 0u) << refused;
        EXPECT_EQ(curl(other + "/vellum/boot/").rfind("HTTP/1.0 200", 0), 0u);
    }

    // Edited the way a browser does it: the text area's text, unescaped,
    // sent back with CR LF line ends.
    std::string form = body_of(curl("'" + url + "/vellum/code/edit/?file=app/probe.rb'"));
    std::smatch area;
    ASSERT_TRUE(std::regex_search(form, area, std::regex("<textarea name=\"code\"[^>]*>\n([^<]*)</textarea>")));
    std::string text = area[1];
    for (auto [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}})
        text = replace_all(text, entity, character);
    write_file(sandbox.root + "/posted.txt", replace_all(text, "\n", "\r\n"));
    curl("--data-urlencode 'code@" + sandbox.root + "/posted.txt' '" + url + "/vellum/code/update/?file=app/probe.rb'");
    EXPECT_EQ(read_file(sandbox.game_dir + "/app/probe.rb"), original);

    engine.stop();
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/x.txt"));
}

TEST(RemoteHotload, FilesSavedTogetherOnTheServerArriveAndRun) {
    EngineSandbox server, client;
    uint16_t port = free_port();
    const std::string requires_both = "require 'app/a.rb'\nrequire 'app/b.rb'\n";
    for (EngineSandbox *sandbox : {&server, &client}) {
        sandbox->write_game_file("app/a.rb", "$a = 1\n");
        sandbox->write_game_file("app/b.rb", "$b = 1\n");
    }
    server.write_game_file("app/main.rb", requires_both + server_game(port));
    client.write_game_file("app/server_ip_address.txt", "127.0.0.1\n");
    client.write_game_file("app/main.rb", requires_both + "class QMX::RemoteHotloadClient\n  def server_port = " +
                                              std::to_string(port) + R"(
end
def tick args
  if args.state.tick_count == 0
    $remote_hotload_client.start
    Kernel.global_tick_count = 280 # past the first seconds the client waits
  end
  $qmx.write_file("arrived.txt", "#{$a} #{$b}") if $a == 2 && $b == 2
end
)");
    EngineProcess serving = server.start({server.game_dir});
    ASSERT_TRUE(serving.wait_for_file(server.game_dir + "/ready.txt", 30));
    EngineProcess fetching = client.start({client.game_dir});
    // A second later than anything the server loaded at boot.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    server.write_game_file("app/a.rb", "$a = 2\n");
    server.write_game_file("app/b.rb", "$b = 2\n");
    EXPECT_TRUE(fetching.wait_for_file(client.game_dir + "/arrived.txt", 30));
    serving.stop();
    EXPECT_EQ(read_file(client.game_dir + "/app/a.rb"), "$a = 2\n") << fetching.stop().out;
}

} // namespace
