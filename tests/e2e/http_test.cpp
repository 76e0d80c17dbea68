// HTTP seen from outside: the engine's requests against a small Python
// server on loopback, its own server driven with raw sockets and its
// developer API with curl, and remote hot reload between two engines. Every
// server gets a port of its own, so runs side by side never collide.
#include "engine_run.h"
#include "http_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <map>
#include <chrono>
#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::string_literals;

// The machine's own address on a network other than loopback, if any.
std::string non_loopback_ipv4() {
    std::istringstream addresses(run("hostname -I 2>/dev/null"));
    for (std::string address; addresses >> address;)
        if (address.find('.') != std::string::npos && address.rfind("127.", 0) != 0) return address;
    return "";
}

// The Python peer (also a proxy); killed when the test ends.
struct Peer {
    std::string log;
    EngineProcess process;
    int port = 0;
    explicit Peer(const EngineSandbox &sandbox, const std::string &address = "127.0.0.1",
                  const std::string &name = "peer")
        : log(sandbox.root + "/" + name + ".log"),
          process("/usr/bin/env", sandbox.root,
                  {"python3", std::string(VELLUM_PEERS_DIR) + "/http_peer.py", log, sandbox.root + "/" + name + ".port",
                   address},
                  {}) {
        const std::string port_file = sandbox.root + "/" + name + ".port";
        if (process.wait_for_file(port_file, 20)) port = std::stoi(read_file(port_file));
    }
};

TEST(HttpClient, TransfersReachALoopbackServerAndReportTheirProgress) {
    EngineSandbox sandbox;
    Peer peer(sandbox);
    ASSERT_NE(peer.port, 0);
    sandbox.write_game_file("metadata/game_metadata.txt",
                            "devid=studio\ndevtitle=Studio\ngameid=probe\ngametitle=Probe\nversion=1.2\n");
    sandbox.write_game_file("data.bin", std::string("\0\1\2\xff" "payload", 11));
    sandbox.write_game_file("app/main.rb", "BASE = 'http://127.0.0.1:" + std::to_string(peer.port) + R"('
def tick args
  if args.state.tick_count == 0
    $r = { get: $qmx.http_get("#{BASE}/redirect"), slow: $qmx.http_get("#{BASE}/slow"),
           post: $qmx.http_post("#{BASE}/form", { name: "x", level: 3 }),
           put: $qmx.http_put("#{BASE}/upload", "data.bin"), head: $qmx.http_head("#{BASE}/final") }
    puts "missing: #{$qmx.http_put("#{BASE}/upload", "missing.bin").inspect}"
    $qmx.http_get("#{BASE}/final").freeze # its updates fail; the engine must not
    $reads = []
  end
  $reads << $r[:slow][:response_read] unless $r[:slow][:complete]
  return if $quit || !$r.values.all? { |h| h[:complete] }
  $r.each { |k, h| puts "#{k}: #{[h[:http_response_code], h[:response_data].size, h[:response_data][0, 10], h[:response_headers]["X-Peer"]].inspect}" }
  puts "partial reads: #{$reads.count { |n| n > 0 && n < 30000 } > 0}"
  $quit = $qmx.request_quit
end
)");
    engine_result result = sandbox.run({sandbox.game_dir}, 60);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    for (const char *line : {"missing: nil", "get: [200, 10, \"final body\", \"two\"]",
                             "slow: [200, 30000, \"xxxxxxxxxx\", nil]", "post: [200, 6, \"posted\", nil]",
                             "put: [201, 6, \"stored\", nil]", "head: [200, 0, \"\", \"two\"]", "partial reads: true"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
    std::string seen = read_file(peer.log);
    for (const char *entry : {"'method': 'GET', 'path': '/redirect', 'agent': 'Vellumcore-studio-probe/1.2 (Linux)'",
                              "'method': 'GET', 'path': '/final', 'agent': 'Vellumcore-studio-probe/1.2 (Linux)'",
                              "'type': 'multipart/form-data; boundary=", "'fields': {'name': 'x', 'level': '3'}",
                              "'method': 'PUT', 'body': b'\\x00\\x01\\x02\\xffpayload'", "'method': 'HEAD'"})
        EXPECT_NE(seen.find(entry), std::string::npos) << entry << "\n" << seen;
}

// Transfers that would otherwise never end: a redirect loop, a refused
// connection, and a silent server and a stalled body that the game cancels
// at tick 60. The game quits once all four have ended.
TEST(HttpClient, EveryTransferEndsAndAFailureSaysWhy) {
    EngineSandbox sandbox;
    Peer peer(sandbox);
    ASSERT_NE(peer.port, 0);
    const std::string refused = "http://127.0.0.1:" + std::to_string(free_port()) + "/nobody";
    sandbox.write_game_file("app/main.rb", "B = 'http://127.0.0.1:" + std::to_string(peer.port) + "'\nR = '" + refused + R"('
def tick args
  t = args.state.tick_count
  $r ||= { loop: $qmx.http_get("#{B}/loop0"), refused: $qmx.http_get(R), silent: $qmx.http_get("#{B}/silent"),
           stalled: $qmx.http_get("#{B}/stall") }
  [:silent, :stalled].each { |k| $r[k][:cancel] = true } if t == 60
  return unless $r.values.all? { |h| h[:complete] } || t == 600
  puts "ended by #{t}: #{$r.map { |k, h| "#{k} #{h[:http_response_code]} #{h[:response_data].inspect}" }.join(', ')}"
  $qmx.request_quit
end
)");
    engine_result result = sandbox.run({sandbox.game_dir}, 60);
    std::smatch ended;
    ASSERT_TRUE(std::regex_search(result.out, ended, std::regex("ended by (\\d+): (.*)\n"))) << result.out;
    EXPECT_LE(std::stoi(ended[1]), 62);
    EXPECT_EQ(ended[2].str(), "loop -1 \"\", refused -1 \"\", silent -1 \"\", stalled -1 \"ab\"");
    // The cancelled transfers let go of their connections.
    EXPECT_TRUE(wait_until([&] { return count_of(read_file(peer.log), "{'closed'") == 2; }, 5)) << read_file(peer.log);
    // Each failure the game did not ask for is said once, with its reason.
    std::string all = result.out + result.err;
    EXPECT_EQ(count_of(all, "The HTTP request to " + refused + " failed: Failed to connect"), 1u) << all;
    EXPECT_EQ(count_of(all, "/loop0 failed: Maximum (10) redirects followed"), 1u) << all;
    EXPECT_EQ(count_of(all, "/silent failed"), 0u);
}

// Answers that never end, or end past the bound the game set, fail at it
// while the game ticks on: the log names the URL (without its password)
// and the bound, the body and headers gathered are let go, and the engine's
// memory stays small all along. So do trailer lines without end after a
// chunked body, each counted at what it takes, and a redirect whose body
// (which libcurl drops) never ends. An answer under the bound, its headers
// counted, arrives whole; a count of bytes past 4 GiB is given as it is.
TEST(HttpClient, AnAnswerPastItsBoundFailsThereWhileTheGameTicksOn) {
    EngineSandbox sandbox;
    Peer peer(sandbox);
    ASSERT_NE(peer.port, 0);
    const std::string host = "127.0.0.1:" + std::to_string(peer.port);
    sandbox.write_game_file("app/main.rb", "HOST = '" + host + R"('
LIMIT = 8 * 1024 * 1024
ROWS = { endless: "/endless", announced: "/sized/5368709120", near_bound: "/sized/#{LIMIT - 4096}",
         past_bound: "/sized/#{LIMIT + 1}", ordinary: "/sized/3000000", trailers: "/trailers",
         redirect_endless: "/redirect/endless", redirect_announced: "/redirect/sized/5368709120" }
def tick args
  if args.state.tick_count == 0
    puts "default bound: #{$qmx.http_response_limit}"
    $refused = [0, -1, 1.5, "8", nil].map do |bound|
      $qmx.http_response_limit = bound
      "set"
    rescue ArgumentError => e
      e.message.include?("takes a whole number of bytes above 0")
    end
    $qmx.http_response_limit = LIMIT
    $r = ROWS.transform_values { |path| $qmx.http_get("http://player:hunter2@#{HOST}#{path}") }
    $held = 0
    $running_ticks = 0
  end
  $held = [$held, *$r.values.map { |h| h[:response_data].bytesize }].max
  $running_ticks += 1 unless $r[:endless][:complete]
  return if $said || !$r.values.all? { |h| h[:complete] }
  $said = true
  $r.each do |name, h|
    near = h[:response_read] < LIMIT + 1048576
    puts "#{name}: #{h[:http_response_code]} #{h[:response_data].bytesize} #{h[:response_headers].size} read #{near} " \
         "total #{h[:response_total]}"
  end
  puts "refused: #{$refused.inspect}, bound: #{$qmx.http_response_limit}, held at most the bound: #{$held <= LIMIT}"
  puts "ticked while the endless answer ran: #{$running_ticks > 1}"
  $qmx.write_file("done.txt", "")
end
)");
    // The allocator's quarantine of freed memory would look like memory held.
    EngineProcess engine = sandbox.start({sandbox.game_dir}, {{"ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=0"}});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/done.txt", 60));
    const long mib = resident_mib(engine.pid());
    const std::string status = read_file("/proc/" + std::to_string(engine.pid()) + "/status");
    const size_t peak_at = status.find("VmHWM:");
    const long peak_mib = peak_at == std::string::npos ? -1 : std::stol(status.substr(peak_at + 6)) / 1024;
    engine_result result = engine.stop();
    for (const char *line : {"default bound: 268435456\n", "endless: -1 0 0 read true total 0\n",
                             "announced: -1 0 0 read true total 5368709120\n",
                             "near_bound: 200 8384512 4 read true total 8384512\n",
                             "past_bound: -1 0 0 read true total 8388609\n",
                             "ordinary: 200 3000000 4 read true total 3000000\n", "trailers: -1 0 0 read true total 0\n",
                             "redirect_endless: -1 0 0 read true total 0\n",
                             "redirect_announced: -1 0 0 read true total 5368709120\n",
                             "refused: [true, true, true, true, true], bound: 8388608, held at most the bound: true\n",
                             "ticked while the endless answer ran: true\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
    // About 170 MiB with the sanitizers, at the end and at the peak; the
    // endless answer alone would add a hundred a second, and the trailer
    // lines under the bound a gigabyte.
    EXPECT_GT(mib, 0);
    EXPECT_LT(mib, 300);
    EXPECT_LT(peak_mib, 300);
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    for (const char *path : {"/endless", "/sized/5368709120", "/sized/8388609", "/trailers", "/redirect/endless",
                             "/redirect/sized/5368709120"})
        EXPECT_EQ(count_of(log, "The HTTP request to http://" + host + path + " failed: its answer came to more than "
                                "8388608 bytes, the most one answer may hold"), 1u) << path << "\n" << log;
    EXPECT_EQ(count_of(log, "hunter2"), 0u);
    EXPECT_EQ(count_of(log, "failed"), 6u) << log;
    // The peer saw the endless answers' connections end.
    for (const char *path : {"/endless", "/sized/5368709120", "/trailers", "/redirect/endless", "/redirect/sized/"})
        EXPECT_TRUE(wait_until([&] { return count_of(read_file(peer.log), "{'cut': '" + std::string(path)) == 1; }, 5))
            << path << "\n" << read_file(peer.log);
}

// However a peer cuts or encodes its answer (chunks of 16 KiB or of one
// byte, 192 MiB compressed into 190 KB as a transfer encoding), the game
// gets it a frame's worth at a time and no frame waits for it. The game
// takes the body as it comes and lets it go, as a game that streams does.
// Each row runs alone, and its longest frame is held to that of 4 MiB sent
// plainly in this run, with a margin for a busy machine.
TEST(HttpClient, NoFrameWaitsOnHowAPeerCutsOrEncodesItsAnswer) {
    EngineSandbox sandbox;
    Peer peer(sandbox);
    ASSERT_NE(peer.port, 0);
    sandbox.write_game_file("app/main.rb", "HOST = 'http://127.0.0.1:" + std::to_string(peer.port) + R"('
ROWS = [[:plain, "/sized/4194304"], [:chunks_16k, "/chunked/16384/4194304"], [:chunks_1, "/chunked/1/4194304"],
        [:gzip, "/gzip/201326592"]]
def tick args
  now = Time.now.to_f
  $rows ||= []
  if $r
    $longest = [$longest, now - $last].max
    $got += $r[:response_data].bytesize
    $r[:response_data].clear
  end
  $last = now
  return unless $r.nil? || $r[:complete]
  $rows << "#{ROWS[$rows.size][0]}: #{$r[:http_response_code]} #{$got} #{($longest * 1000).round}" if $r
  return $qmx.write_file("done.txt", $rows.join(" ")) if $rows.size == ROWS.size
  $r = $qmx.http_get(HOST + ROWS[$rows.size][1])
  $longest, $got = 0, 0
end
)");
    EngineProcess engine = sandbox.start({sandbox.game_dir}, {{"ASAN_OPTIONS", "detect_leaks=0"}});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/done.txt", 120));
    const std::string rows = read_file(sandbox.game_dir + "/done.txt");
    engine.stop();
    std::map<std::string, long> longest;
    std::istringstream fields(rows);
    for (std::string name, code, size, frame; fields >> name >> code >> size >> frame;) {
        EXPECT_EQ(code + " " + size, name == "gzip:" ? "200 201326592" : "200 4194304") << rows;
        longest[name] = std::stol(frame);
    }
    ASSERT_EQ(longest.size(), 4u) << rows;
    for (const char *name : {"chunks_16k:", "chunks_1:", "gzip:"})
        EXPECT_LE(longest[name], std::max(4 * longest["plain:"], 150l)) << name << "\n" << rows;
}

// A URL the game passes on is spoken to over HTTP or HTTPS only: any other
// scheme fails at once, touching no file and no port. A header line that
// holds a line break is not sent, and nothing else of its request either.
// Each failure, like the server's and the runtime's own messages, reaches
// logs/log.txt too, which the developer API serves: a URL is written there
// without its password, and a line break in it forges no line.
TEST(HttpClient, NothingTheGamePassesOnReachesAFileAPortAHeaderOrALogLine) {
    EngineSandbox sandbox;
    // Never accepts: a connection would wait in its queue. Its port is
    // taken, so the game's server cannot listen there.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof(address);
    ASSERT_TRUE(bind(listener, (sockaddr *)&address, length) == 0 && listen(listener, 8) == 0);
    getsockname(listener, (sockaddr *)&address, &length);
    const std::string port = std::to_string(ntohs(address.sin_port)), tcp = "://127.0.0.1:" + port + "/x'";
    const std::string refused = "127.0.0.1:" + std::to_string(free_port());
    const std::vector<std::string> urls = {"'file:///etc/passwd'", "'gopher" + tcp, "'dict" + tcp, "'telnet" + tcp,
                                           "'file://" + sandbox.root + "/outside.txt'"};
    sandbox.write_game_file("app/main.rb", "URLS = [" + urls[0] + ", " + urls[1] + ", " + urls[2] + ", " + urls[3] +
                                               "]\nPORT = " + port + "\nREFUSED = '" + refused + R"('
def tick args
  if args.state.tick_count == 0
    $qmx.start_server!(port: PORT)
    $r = URLS.map { |url| $qmx.http_get(url) } + [$qmx.http_put()" + urls[4] + R"(, "app/main.rb"),
      $qmx.http_get("http://127.0.0.1:#{PORT}/x", ["X-Name: ada\r\nX-Injected: 1"]),
      $qmx.http_post("http://127.0.0.1:#{PORT}/x", { a: 1 }, ["X-Name: ada\nX-Injected: 1"]),
      $qmx.http_head("http://127.0.0.1:#{PORT}/x", ["X-Name: ada\r"]),
      $qmx.http_get("http://player:hunter2@#{REFUSED}/scores?page=2"),
      $qmx.http_get("http://#{REFUSED}/a\r\n* INFO: forged line")]
  end
  return unless $r.all? { |h| h[:complete] } || args.state.tick_count == 300
  puts "ended by #{args.state.tick_count}: #{$r.map { |h| [h[:http_response_code], h[:response_data]] }.uniq.inspect}"
  $qmx.request_quit
end
)");
    engine_result result = sandbox.run({sandbox.game_dir}, 60);
    std::smatch ended;
    ASSERT_TRUE(std::regex_search(result.out, ended, std::regex("ended by (\\d+): (.*)\n"))) << result.out << result.err;
    EXPECT_LE(std::stoi(ended[1]), 5);
    EXPECT_EQ(ended[2].str(), "[[-1, \"\"]]");
    EXPECT_FALSE(file_exists(sandbox.root + "/outside.txt"));
    fcntl(listener, F_SETFL, O_NONBLOCK);
    EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a connection reached the listener";
    close(listener);
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    for (const std::string &url : urls)
        EXPECT_EQ(count_of(log, "The HTTP request to " + url.substr(1, url.size() - 2) + " failed"), 1u) << url << log;
    for (const std::string &said : {"could not listen on port " + port, std::string("* INFO: Quit requested")})
        EXPECT_NE(log.find(said), std::string::npos) << said << "\n" << log;
    for (auto [said, times] : {std::pair{std::string("/x failed: its header line \"X-Name: ada%0D%0AX-Injected: 1\" holds a "
                                                     "line break, so nothing was sent"), 1},
                               {"/x failed: its header line \"X-Name: ada%0AX-Injected: 1\"", 1},
                               {"/x failed: its header line \"X-Name: ada%0D\"", 1},
                               {"The HTTP request to http://" + refused + "/scores?page=2 failed", 1},
                               {"hunter2", 0}, {"player", 0},
                               {"The HTTP request to http://" + refused + "/a%0D%0A* INFO: forged line failed", 1},
                               {"\n* INFO: forged line", 0}})
        EXPECT_EQ(count_of(log, said), (size_t)times) << said << "\n" << log;
}

std::string percent_encoded(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') out += (char)c;
        else out += "%" + std::string("0123456789ABCDEF").substr(c >> 4, 1) + "0123456789ABCDEF"[c & 15];
    }
    return out;
}

// A server the game posts to (here on another loopback address) redirects
// the post into the engine's own server, spelled every way that reaches it:
// the developer API must run nothing, write nothing and reset nothing, and
// no such request may even arrive. Redirects elsewhere, and the game's own
// requests to its own server, still work.
TEST(HttpClient, ARedirectNeverTakesTheGamesRequestIntoItsOwnServer) {
    EngineSandbox sandbox;
    Peer peer(sandbox, "127.0.0.2");
    ASSERT_NE(peer.port, 0);
    const std::string p = std::to_string(free_port()), peer_url = "http://127.0.0.2:" + std::to_string(peer.port);
    const std::string victim = "$victim = 1\n";
    sandbox.write_game_file("app/victim.rb", victim);
    std::vector<std::pair<std::string, std::string>> redirects = {
        {"307", "http://localhost:" + p + "/vellum/eval/"},
        {"308", "http://127.0.0.1:" + p + "/vellum/code/update/?file=app/victim.rb"},
        {"307", "http://0.0.0.0:" + p + "/vellum/reset/"},
        {"308", "http://[::ffff:127.0.0.1]:" + p + "/vellum/eval/"},
        {"307", "http://2130706433:" + p + "/vellum/code/update/?file=app/victim.rb"},
        {"308", "http://127.1:" + p + "/vellum/reset/"},
        {"302", "http://LOCALHOST:" + p + "/vellum/eval/"},
        {"303", "http://127.0.0.3:" + p + "/vellum/reset/"},
        {"301", "http://[::ffff:7f00:1]:" + p + "/game/echo"},
    };
    if (std::string own = non_loopback_ipv4(); !own.empty())
        redirects.push_back({"307", "http://" + own + ":" + p + "/vellum/eval/"});
    std::string rows;
    for (auto &[status, target] : redirects)
        rows += "  [\"" + status + " " + target + "\", \"" + peer_url + "/to/" + status + "/" + percent_encoded(target) + "\"],\n";
    rows += "  [\"own game route\", \"http://localhost:" + p + "/game/echo\"],\n";
    rows += "  [\"redirect elsewhere\", \"" + peer_url + "/to/307/" + percent_encoded(peer_url + "/final") + "\"],\n";
    sandbox.write_game_file("app/main.rb", "PORT = " + p + "\nROWS = [\n" + rows + R"(]
# Code for the eval route, and text for the code update: a form's last value.
FORM = { code: "x=$qmx.write_file('ran.txt', 'x')\n__END__\n" }
def tick args
  $resets = $resets.to_i + 1 if Kernel.tick_count < $last_tick.to_i
  $last_tick = Kernel.tick_count
  unless $r
    $qmx.start_server!(port: PORT)
    $r = ROWS.map { |name, url| [name, $qmx.http_post(url, FORM)] }
    $seen = []
  end
  args.inputs.http_requests.each do |req|
    $seen << "#{req.method} #{req.uri}"
    req.respond(200, "game: #{req.uri}") if req.uri.start_with?("/game/")
  end
  return unless $r.all? { |_, h| h[:complete] } || Kernel.global_tick_count > 900
  $r.each { |name, h| puts "#{name} => #{h[:http_response_code]} #{h[:response_data]}" }
  puts "seen: #{$seen.inspect}, resets: #{$resets.to_i}"
  $qmx.request_quit
end
)");
    engine_result result = sandbox.run({sandbox.game_dir}, 60);
    for (auto &[status, target] : redirects)
        EXPECT_NE(result.out.find(status + " " + target + " => -1 \n"), std::string::npos) << target << "\n" << result.out;
    EXPECT_NE(result.out.find("own game route => 200 game: /game/echo\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("redirect elsewhere => 200 posted\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("seen: [\"POST /game/echo\"], resets: 0\n"), std::string::npos) << result.out;
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/ran.txt"));
    EXPECT_EQ(read_file(sandbox.game_dir + "/app/victim.rb"), victim);
    EXPECT_EQ(count_of(read_file(sandbox.base_dir + "/logs/log.txt"), "a redirect led to this engine's own server"),
              redirects.size());
}

// Two engines on one machine (two copies of a game under test): a server
// the second posts to, on another loopback address, redirects its posts
// into the code routes of the first, directly or through a proxy on this
// machine, and through the proxy into the second's own. No request that an
// engine's HTTP client makes runs or writes code in any engine, however it
// arrives; what remote hot reload uses stays open to it, and a developer's
// own request to the same route still runs.
TEST(HttpClient, NoEnginesRequestRunsCodeInAnyEngineHoweverItArrives) {
    EngineSandbox first, second;
    Peer foreign(second, "127.0.0.2"), proxy(second, "127.0.0.1", "proxy");
    ASSERT_TRUE(foreign.port && proxy.port);
    const std::string a = std::to_string(free_port()), b = std::to_string(free_port());
    const std::string other = "$other = 1\n", foreign_url = "http://127.0.0.2:" + std::to_string(foreign.port);
    for (EngineSandbox *sandbox : {&first, &second}) sandbox->write_game_file("app/other.rb", other);
    first.write_game_file("app/main.rb", server_game((uint16_t)std::stoi(a)));
    EngineProcess serving = first.start({first.game_dir});
    ASSERT_TRUE(serving.wait_for_file(first.game_dir + "/ready.txt", 30));

    auto redirected = [&](const std::string &status, const std::string &target) {
        return foreign_url + "/to/" + status + "/" + percent_encoded(target);
    };
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"first's eval, redirected", redirected("307", "http://localhost:" + a + "/vellum/eval/")},
        {"first's code update, redirected", redirected("308", "http://127.0.0.1:" + a + "/vellum/code/update/?file=app/other.rb")},
        {"first's eval, redirected through the proxy", redirected("307", "http://127.0.0.5:" + a + "/vellum/eval/")},
        {"first's reset, redirected through the proxy", redirected("308", "http://127.0.0.5:" + a + "/vellum/reset/")},
        {"own code update, redirected through the proxy",
         redirected("308", "http://127.0.0.5:" + b + "/vellum/code/update/?file=app/other.rb")},
        {"first's eval, asked directly", "http://127.0.0.1:" + a + "/vellum/eval/"},
        {"first's log, asked directly", "http://localhost:" + a + "/vellum/log/"},
    };
    std::string table;
    for (auto &[name, url] : rows) table += "  [\"" + name + "\", \"" + url + "\"],\n";
    second.write_game_file("app/main.rb", "ROWS = [\n" + table + "]\nPORT = " + b + R"(
# Code for the eval route, and text for the code update: a form's last value.
FORM = { code: "x=$qmx.write_file('ran.txt', 'x')\n__END__\n" }
def tick args
  unless $r
    $qmx.start_server!(port: PORT)
    $r = ROWS.map { |name, url| [name, $qmx.http_post(url, FORM, ["User-Agent: SecondGame/2.0"])] }
  end
  return unless $r.all? { |_, h| h[:complete] } || Kernel.global_tick_count > 900
  $r.each { |name, h| puts "#{name} => #{h[:http_response_code]}" }
  $qmx.request_quit
end
)");
    const std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy.port);
    engine_result result = second.run({second.game_dir}, 60,
                                      {{"http_proxy", proxy_url}, {"no_proxy", "localhost,127.0.0.1"}});
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_NE(result.out.find(rows[i].first + " => " + (i + 1 < rows.size() ? "403" : "200") + "\n"), std::string::npos)
            << rows[i].first << "\n" << result.out << result.err;
    // The proxy took what it was meant to, with the game's own agent and the engine's.
    std::string proxied = read_file(proxy.log);
    EXPECT_EQ(count_of(proxied, "'proxied': 'http://127.0.0.5:"), 3u) << proxied;
    EXPECT_EQ(count_of(proxied, "'agent': 'SecondGame/2.0 Vellumcore-"), count_of(proxied, "'agent'")) << proxied;

    // A developer's own request to the same route runs.
    const std::string url = "http://127.0.0.1:" + a;
    EXPECT_EQ(body_of(curl("--data-urlencode 'code=$qmx.write_file(\"dev.txt\", \"x\"); $result = 7' " + url + "/vellum/eval/")),
              "7");
    EXPECT_EQ(body_of(curl(url + "/resets")), "0");
    EXPECT_EQ(serving.stop().exit_code, 0);
    EXPECT_TRUE(file_exists(first.game_dir + "/dev.txt"));
    for (EngineSandbox *sandbox : {&first, &second}) {
        EXPECT_FALSE(file_exists(sandbox->game_dir + "/ran.txt"));
        EXPECT_EQ(read_file(sandbox->game_dir + "/app/other.rb"), other);
    }
}

TEST(HttpClient, WithoutAUsableLibcurlRequestsAnswerNilAndTheGameRunsOn) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", R"(
def tick args
  puts "request: #{$qmx.http_get("http://127.0.0.1:1/").inspect}" if args.state.tick_count < 2
  $qmx.request_quit if args.state.tick_count == 10
end
)");
    engine_result result = sandbox.run({sandbox.game_dir}, 30, {{"LD_LIBRARY_PATH", VELLUM_CURL_STUB_DIR}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("request: nil\nrequest: nil\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Quit requested (10)"), std::string::npos) << result.out;
}

TEST(HttpServer, AGameAnswersItsRequestsTheDeveloperApiServesOnlyLoopbackAndTheRestIsRejected) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    const std::string original = "first &amp; line <b>\n\nnon-ascii: \xc3\xa9 \xe6\x97\xa5\n</textarea>\nlast";
    sandbox.write_game_file("app/probe.rb", original);
    sandbox.write_game_file("app/main.rb", server_game(port));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));

    EXPECT_EQ(round_trip(port, "GET /ok HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 :)\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 2\r\n"
              "Connection: close\r\n\r\nok");
    EXPECT_EQ(round_trip(port, "HEAD /ok HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 :)\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(body_of(round_trip(port, "GET /twice HTTP/1.0\r\n\r\n")), "first");
    EXPECT_EQ(round_trip(port, "GET /lost HTTP/1.0\r\n\r\n"), REJECTED);
    EXPECT_EQ(round_trip(port, "GET /bad HTTP/1.0\r\n\r\n").substr(0, 12), "HTTP/1.0 500");
    // Unanswered requests expire in real time, not game time.
    EXPECT_EQ(body_of(round_trip(port, "GET /wait HTTP/1.0\r\n\r\n")), "waited");

    // Broken requests, and a client that leaves half-way, close only their
    // own connection.
    for (const char *bad : {"POST / HTTP/1.0\r\nContent-Length: -1\r\n\r\n",
                            "POST / HTTP/1.0\r\nContent-Length: 18446744073709551615\r\n\r\n"})
        EXPECT_EQ(round_trip(port, bad), "") << bad;
    EXPECT_EQ(round_trip(port, "NOBLANK\r\n\r\n").substr(0, 12), "HTTP/1.0 400");
    close(send_request(port, "GET / HT"));
    EXPECT_EQ(round_trip(port, "GET /ok HTTP/1.0\r\n\r\n").substr(0, 16), "HTTP/1.0 200 :)\r");

    // The developer API over curl.
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

    // Pages of another site, or whose name was rebound to this machine's
    // address after they loaded, reach nothing; this machine's own tools do.
    const std::string p = std::to_string(port), run_code = "--data-urlencode 'code=$qmx.write_file(\"x.txt\", \"\")' ";
    for (const std::string &host : {"127.0.0.1.rebound.example:" + p, "rebound.example.127.0.0.1:" + p,
                                    "rebound.example:" + p}) {
        const std::string as_host = "-H 'Host: " + host + "' ";
        for (const std::string &request : {as_host + "-H 'Origin: http://" + host + "' " + run_code + url + "/vellum/eval/",
                                           as_host + run_code + url + "/vellum/eval/",
                                           as_host + "'" + url + "/vellum/code/edit/?file=app/main.rb'"})
            EXPECT_EQ(curl(request).substr(0, 12), "HTTP/1.0 403") << request;
    }
    EXPECT_EQ(curl("-H 'Origin: http://elsewhere.example' --data 'message=planted' " + url + "/vellum/log/").substr(0, 12),
              "HTTP/1.0 403");
    for (const std::string &host : {"localhost:" + p, "[::1]:" + p, std::string("127.1.2.3")})
        EXPECT_EQ(body_of(curl("-H 'Host: " + host + "' --data-urlencode 'code=$result = 1 + 1' " + url + "/vellum/eval/")),
                  "2") << host;

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

    // A file that does not exist yet is edited from an empty form; a path
    // that leads out of the game, or names a folder, is not.
    std::string fresh = curl("'" + url + "/vellum/code/edit/?file=app/new.rb'");
    EXPECT_TRUE(fresh.rfind("HTTP/1.0 200", 0) == 0 && fresh.find("cols=\"80\">\n</textarea>") != std::string::npos)
        << fresh;
    for (const char *file : {"../new.rb", "app/../../new.rb", "/tmp/new.rb", "app"})
        EXPECT_EQ(curl("'" + url + "/vellum/code/edit/?file=" + file + "'").substr(0, 12), "HTTP/1.0 404") << file;

    // An update that writes nothing says so.
    for (auto [file, status, said] : {std::tuple{"", "HTTP/1.0 400", "No file was named"},
                                      {"app", "HTTP/1.0 500", "app could not be written"}}) {
        std::string answer = curl("--data-urlencode 'code=x' '" + url + "/vellum/code/update/?file=" + file + "'");
        EXPECT_TRUE(answer.rfind(status, 0) == 0 && body_of(answer).find(said) != std::string::npos) << answer;
    }

    // Pending at shutdown: each gets the rejection.
    int first = send_request(port, "GET /pending HTTP/1.0\r\n\r\n");
    int second = send_request(port, "GET /pending HTTP/1.0\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    engine.send_signal(SIGTERM);
    EXPECT_EQ(read_answer(first), REJECTED);
    EXPECT_EQ(read_answer(second), REJECTED);
    EXPECT_EQ(engine.finish(20).exit_code, 0);
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/x.txt"));
    EXPECT_EQ(read_file(sandbox.base_dir + "/logs/log.txt").find("planted"), std::string::npos);
}

// Keys given through the developer API's eval while the game records
// (--record) reach the game on its next tick, as keys from the keyboard do,
// and are recorded for that tick: its replay sees every press where the
// recording saw it.
TEST(HttpServer, KeysGivenThroughEvalDuringARecordingActAsInItsReplay) {
    EngineSandbox sandbox;
    sandbox.use_fixture("api_input");
    const std::string port = std::to_string(free_port()), url = "http://127.0.0.1:" + port;
    EngineProcess engine = sandbox.start({sandbox.game_dir, "--record", "--port", port});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    const std::string eval = "--data-urlencode 'code=";
    for (int press = 0; press < 3; ++press)
        EXPECT_EQ(body_of(curl(eval + "$qmx.key_down_raw(97, 0); $qmx.key_up_raw(97, 0); $result = 1' " + url + "/vellum/eval/")),
                  "1");
    EXPECT_EQ(body_of(curl(eval + "$stop_at = Kernel.tick_count + 5; $result = 1' " + url + "/vellum/eval/")), "1");
    engine_result recording = engine.finish(30);
    ASSERT_EQ(recording.exit_code, 0) << recording.err;
    engine_result replay = sandbox.run({sandbox.game_dir, "--replay", "api.txt", "--port", std::to_string(free_port())}, 30);
    ASSERT_EQ(replay.exit_code, 0) << replay.err;
    // Each line: the tick, A's key_down (the tick it went down, or nil or
    // false), its key_held and the presses counted.
    const struct {
        const char *run;
        std::string lines;
    } cases[] = {{"recorded", read_file(sandbox.game_dir + "/recorded.txt")},
                 {"replayed", read_file(sandbox.game_dir + "/replayed.txt")}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.run);
        size_t lines = count_of(c.lines, "\n"), not_down = count_of(c.lines, "down=nil") + count_of(c.lines, "down=false");
        EXPECT_EQ(lines - not_down, 3u) << c.lines;
        EXPECT_EQ(c.lines.substr(c.lines.size() - 10), "presses=3\n") << c.lines;
    }
    EXPECT_EQ(cases[1].lines, cases[0].lines);
}

// A shipped game answers every request itself, in its own time: none of
// the developer routes is there to answer first.
TEST(HttpServer, AShippedGameAnswersEveryPathItself) {
    EngineSandbox sandbox;
    const std::string port = std::to_string(free_port()), url = "http://127.0.0.1:" + port;
    sandbox.write_game_file("app/main.rb", "def tick args\n  $qmx.start_server!(port: " + port + ", enable_in_prod: true)\n"
                            "  ($later || []).each { |req| req.respond(200, \"game: #{req.method} #{req.uri}\") }\n"
                            "  $later = args.inputs.http_requests.dup\nend\n");
    EngineProcess engine = sandbox.start({sandbox.game_dir, "--production"});
    ASSERT_TRUE(wait_until([&] { return body_of(curl(url + "/score")) == "game: GET /score"; }, 30));
    for (const char *path : {"/", "/favicon.ico", "/docs.html", "/vellum/log/", "/x.rb"})
        EXPECT_EQ(body_of(curl(url + path)), std::string("game: GET ") + path);
    EXPECT_EQ(body_of(curl("--data-urlencode 'code=$qmx.write_file(\"ran.txt\", \"\")' " + url + "/vellum/eval/")),
              "game: POST /vellum/eval/");
    EXPECT_EQ(engine.stop().exit_code, 0);
}

// Requests that used to freeze the game, hold its slots, slip past the
// developer API's checks or reach the game damaged: each is answered at
// once, and the game goes on ticking and answering.
TEST(HttpServer, NoRequestFreezesTheGameHoldsASlotOrReachesItMalformed) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    const std::string p = std::to_string(port);
    sandbox.write_game_file("app/main.rb", server_game(port));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    auto get = [&](const std::string &path) { return body_of(round_trip(port, "GET " + path + " HTTP/1.0\r\n\r\n")); };
    const std::string code = "code=%24qmx.write_file(%22ran.txt%22%2C%20%22%22)";
    auto eval = [&](const std::string &headers) {
        return "POST /vellum/eval/ HTTP/1.0\r\n" + headers + "Content-Length: " + std::to_string(code.size()) + "\r\n\r\n" + code;
    };
    std::string many_lines = "GET /ok HTTP/1.0\r\n";
    for (int i = 0; i < 100; ++i) many_lines += "X-A: 1\r\n";
    struct case_row {
        std::string request, later; // later: sent 200 ms after the request
        bool half_close;            // the client closes its sending side once done
        const char *status;
    };
    std::vector<case_row> rows = {
             {std::string(65535, 'A') + " / HTTP/1.0\r\n\r\n", "", false, "HTTP/1.0 400"},
             {"GE(T / HTTP/1.0\r\n\r\n", "", false, "HTTP/1.0 400"},
             {"GET /boom HTTP/1.0\r\n\r\n", "", false, "HTTP/1.0 400"},
             {eval("Host: evil.example\r\nHost: localhost:" + p + "\r\n"), "", false, "HTTP/1.0 400"},
             {eval("Host: localhost:" + p + "\r\nHOST : localhost:" + p + "\r\n"), "", false, "HTTP/1.0 400"},
             {eval("Host: localhost:" + p + "\r\nOrigin: http://evil.example\r\nOrigin: http://localhost:" + p + "\r\n"),
              "", false, "HTTP/1.0 400"},
             // A body the server cannot delimit, however it comes.
             {"POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "", false, "HTTP/1.0 411"},
             {"POST /echo HTTP/1.0\r\n\r\nhello", "", false, "HTTP/1.0 411"},
             {"PUT /echo HTTP/1.0\r\n\r\nhello", "", true, "HTTP/1.0 411"},
             {"POST /pending HTTP/1.0\r\n\r\n", "hello", false, "HTTP/1.0 411"},
             // Header lines are counted.
             {many_lines + "\r\n", "", false, "HTTP/1.0 200"},
             {many_lines + "X-A: 1\r\n\r\n", "", false, "HTTP/1.0 431"},
             // A client that has sent all and closed its sending side waits.
             {"GET /later HTTP/1.0\r\n\r\n", "", true, "HTTP/1.0 200"},
             {"POST /later HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello", "", true, "HTTP/1.0 200"},
             // The game echoes a body holding a carriage return into a header.
             {"POST /crlf HTTP/1.0\r\nContent-Length: 20\r\n\r\na\rSet-Cookie: evil=1", "", false, "HTTP/1.0 500"},
             // A carriage return inside a line of the head: one line here,
             // two for a server or proxy that ends lines at it.
             {"GET /crlf HTTP/1.0\r\nX-Echo: a\rSet-Cookie: evil=1\r\n\r\n", "", false, "HTTP/1.0 400"},
             {eval("Host: evil.example\rHost: localhost:" + p + "\r\n"), "", false, "HTTP/1.0 400"},
             {"GET /ok\rX: y HTTP/1.0\r\n\r\n", "", false, "HTTP/1.0 400"},
             {"GET /ok HTTP/1.0\r\nX-A: b\r\r\n\r\n", "", false, "HTTP/1.0 400"},
             // A blank before a colon, or a line folded into the one before:
             // names that other servers read otherwise.
             {"POST /echo HTTP/1.0\r\nContent-Length : 5\r\n\r\nhello", "", false, "HTTP/1.0 400"},
             {"POST /echo HTTP/1.0\r\nContent-Length: 5\r\n Transfer-Encoding: chunked\r\n\r\nhello", "", false,
              "HTTP/1.0 400"},
             {"GET /ok HTTP/1.0\r\nX-A: b\r\n\tc\r\n\r\n", "", false, "HTTP/1.0 400"},
             {"GET /ok HTTP/1.0\r\nX A\t: b\r\n\r\n", "", false, "HTTP/1.0 400"},
             // A NUL anywhere in the head: the lines after it must not be
             // lost on the way to the game or the developer API.
             {"GET /ok HTTP/1.0\r\nX-A: a\0b\r\nX-B: c\r\n\r\n"s, "", false, "HTTP/1.0 400"},
             {"GET /ok\0 HTTP/1.0\r\n\r\n"s, "", false, "HTTP/1.0 400"},
             {"GET /ok HTTP/1.0\r\nHost: x\0\r\n\r\n"s, "", false, "HTTP/1.0 400"},
             {eval("X-A: \0\r\nUser-Agent: Vellumcore-d-g/1.0 (Linux)\r\nHost: localhost:"s + p + "\r\n"), "", false,
              "HTTP/1.0 400"}};
    // An engine's User-Agent line followed by another (a proxy's, or a
    // second the client adds): no route that runs code or changes the game
    // takes it. The same request with other agents only is served.
    auto post = [&](const std::string &path, const std::string &headers, const std::string &body) {
        return "POST " + path + " HTTP/1.0\r\nHost: localhost:" + p + "\r\n" + headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    for (const char *path : {"/vellum/eval/", "/vellum/console/", "/vellum/code/update/?file=app/other.rb",
                             "/vellum/reset/", "/vellum/record/", "/vellum/record_stop/", "/vellum/replay/",
                             "/vellum/show_console/"})
        rows.push_back({post(path, "User-Agent: Vellumcore-d-g/1.0 (Linux)\r\nUser-Agent: curl/8.0\r\n", code), "",
                        false, "HTTP/1.0 403"});
    rows.push_back({post("/vellum/eval/", "User-Agent: Mozilla/5.0\r\nUser-Agent: curl/8.0\r\n", "code=%24result%3D1"), "",
                    false, "HTTP/1.0 200"});
    // Answers the game gives that cannot be sent, among them its echo of a
    // body holding a NUL into a header's value and into its name.
    const int unfit_answers = 13;
    for (int i = 0; i < unfit_answers; ++i)
        rows.push_back({"POST /unfit/" + std::to_string(i) + " HTTP/1.0\r\nContent-Length: 3\r\n\r\n" + std::string("a\0b", 3),
                        "", false, "HTTP/1.0 500"});
    for (const case_row &row : rows) {
        int fd = send_request(port, row.request);
        if (!row.later.empty()) {
            usleep(200000);
            send(fd, row.later.data(), row.later.size(), MSG_NOSIGNAL);
        }
        if (row.half_close) shutdown(fd, SHUT_WR);
        std::string answer = read_answer(fd);
        EXPECT_EQ(answer.substr(0, 12), row.status) << row.request.substr(0, 80);
        EXPECT_EQ(answer.find("Set-Cookie"), std::string::npos);
    }
    EXPECT_EQ(get("/ok"), "ok");
    EXPECT_EQ(round_trip(port, "GET /fraction HTTP/1.0\r\n\r\n").substr(0, 16), "HTTP/1.0 200 :)\r");
    EXPECT_EQ(round_trip(port, "GET /pairs HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 :)\r\nContent-Length: 1\r\nConnection: close\r\nX-A: 1\r\nX-B: 2\r\n"
              "Content-Type: text/plain\r\n\r\nx");

    // Clients that hang up before their answer give their slots back at once.
    for (int i = 0; i < 64; ++i) close(send_request(port, "GET /nobody HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(get("/ok"), "ok");
    EXPECT_TRUE(wait_until([&] { return get("/queued") == "1"; }, 5));

    // A large upload arrives within a few frames; pipelined requests get the
    // first answer and a clean close.
    int size = 0, asked_at = 0, arrived_at = 0;
    std::istringstream(get("/echo")) >> size >> asked_at;
    std::istringstream(body_of(round_trip(port, "POST /echo HTTP/1.0\r\nContent-Length: 500000\r\n\r\n" +
                                                    std::string(500000, 'u')))) >> size >> arrived_at;
    EXPECT_EQ(size, 500000);
    EXPECT_LT(arrived_at - asked_at, 30);
    std::string pipelined;
    for (int i = 0; i < 30; ++i) pipelined += "GET /ok HTTP/1.0\r\nX-Pad: " + std::string(100, 'p') + "\r\n\r\n";
    int fd = send_request(port, pipelined);
    usleep(300000);
    bool reset = true;
    EXPECT_EQ(body_of(read_answer(fd, &reset)), "ok");
    EXPECT_FALSE(reset);

    EXPECT_EQ(get("/resets"), "0");
    engine_result result = engine.stop();
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/ran.txt"));
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/app/other.rb"));
    // The game went on, never paused; each answer it could not send is said
    // once.
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    EXPECT_EQ(count_of(log, "holds a line break, so its request was answered 500"), 1u);
    EXPECT_EQ(count_of(log, "holds a NUL byte, so its request was answered 500"), 3u) << log;
    EXPECT_EQ(count_of(log, ", so its request was answered 500 instead."), (size_t)unfit_answers + 1) << log;
    EXPECT_FALSE(file_exists(sandbox.base_dir + "/exceptions/current.txt")) << read_file(sandbox.base_dir + "/exceptions/current.txt");
    EXPECT_EQ(count_of(result.out, "/boom could not be routed"), 1u) << result.out;
}

// Calls that cannot do what they ask say why: a server asked for before
// the game has loaded (at the top of main.rb, or in an --eval file loaded
// then) or once one is running on another port, and a form that is not
// one. The game's own start, on its first tick, is what counts.
TEST(HttpServer, AStartThatCannotActAndAFormThatCannotBeSentSayWhy) {
    EngineSandbox sandbox;
    const std::string top = std::to_string(free_port()), chosen = std::to_string(free_port()),
                      later = std::to_string(free_port()), evaluated = std::to_string(free_port());
    sandbox.write_game_file("app/eval.rb", "$qmx.start_server!(port: " + evaluated + ")\n");
    sandbox.write_game_file("app/main.rb", "$qmx.start_server!(port: " + top + ")\nCHOSEN = " + chosen +
                                               "\nLATER = " + later + R"(
def tick args
  $qmx.start_server!(port: CHOSEN) # every tick: once it runs, asking again for its port is no fault
  $qmx.start_server!(port: LATER) if args.state.tick_count == 2
  args.inputs.http_requests.each { |req| req.respond(200, "chosen") }
  return unless args.state.tick_count == 3
  ["a=1", 42, :name].each do |form|
    $qmx.http_post("http://127.0.0.1:#{CHOSEN}/", form)
  rescue TypeError => e
    puts "#{form.inspect}: #{e.message}"
  end
  $qmx.write_file("ready.txt", "")
end
)");
    EngineProcess engine = sandbox.start({sandbox.game_dir, "--eval", "app/eval.rb"});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    EXPECT_EQ(body_of(curl("http://127.0.0.1:" + chosen + "/")), "chosen");
    for (const std::string &port : {top, later, evaluated})
        EXPECT_EQ(curl("--connect-timeout 2 http://127.0.0.1:" + port + "/"), "") << port;
    engine_result result = engine.stop();
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    for (const std::string &said :
         {"~start_server!~ (port " + top + ") was called before the game had loaded",
          "~start_server!~ (port " + evaluated + ") was called before the game had loaded",
          "~start_server!~ (port " + later + ") was not acted on: the server was started on port " + chosen +
              " already"})
        EXPECT_EQ(count_of(log, said), 1u) << said << "\n" << log;
    EXPECT_EQ(count_of(log, "~start_server!~ (port " + chosen), 0u) << log;
    for (const char *form : {"\"a=1\"", "42", ":name"})
        EXPECT_NE(result.out.find(std::string(form) + ": ~http_post~ takes its form_fields (the second argument) as a "
                                  "Hash of field names to values, or an Array of [name, value] pairs"),
                  std::string::npos)
            << form << "\n" << result.out;
}

// Uploads whose client asks, before sending the body, whether the server
// wants it: curl does, with either method, and so does the engine's own
// http_put. Each is told to go on at once; curl is told to wait half a
// minute otherwise, so an upload left waiting shows as a missing answer.
// An HTTP/1.0 client, which cannot be told so, sends its body anyway.
TEST(HttpServer, AnUploadThatAsksWhetherToGoOnIsToldToAtOnce) {
    EngineSandbox sandbox;
    const std::string port = std::to_string(free_port()), url = "http://127.0.0.1:" + port + "/upload";
    const std::string upload = std::string(300000, 'u');
    sandbox.write_game_file("upload.bin", upload);
    write_file(sandbox.root + "/upload.bin", upload);
    sandbox.write_game_file("app/main.rb", "URL = '" + url + "'\nPORT = " + port + R"(
def tick args
  $qmx.start_server!(port: PORT) if args.state.tick_count == 0
  args.inputs.http_requests.each { |req| req.respond(200, "#{req.method} #{req.body.size}") if req.uri == "/upload" }
  if args.state.tick_count == 1
    $qmx.write_file("ready.txt", "")
    $puts = { "asks" => $qmx.http_put(URL, "upload.bin"),
              "does not ask" => $qmx.http_put(URL, "upload.bin", ["Expect:"]) }
    $ticks = {}
  end
  return unless $puts
  $puts.each { |name, h| $ticks[name] ||= args.state.tick_count if h[:complete] }
  return unless $ticks.size == $puts.size && !$said
  $said = true
  $puts.each do |name, h|
    told = h[:response_headers].keys.any? { |k| k.include?(" 100 ") }
    puts "#{name}: #{h[:http_response_code]} #{h[:response_data]}, told to go on: #{told}"
  end
  puts "ticks apart: #{$ticks["asks"] - $ticks["does not ask"]}"
  $qmx.write_file("done.txt", "")
end
)");
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    const std::string file = "'" + sandbox.root + "/upload.bin' ";
    struct row {
        std::string args, answer;
        bool told;
    };
    for (const row &r : std::vector<row>{
             {"--expect100-timeout 30 -T " + file, "PUT 300000", true},
             {"--expect100-timeout 30 -H 'Expect: 100-continue' --data-binary @" + file, "POST 300000", true},
             {"--http1.0 -H 'Expect: 100-continue' --data-binary @" + file, "POST 300000", false}}) {
        std::string answer = curl(r.args + url);
        EXPECT_EQ(answer.find("100 Continue\r\n\r\nHTTP/1.0 200 :)") != std::string::npos, r.told) << r.args << answer;
        EXPECT_TRUE(answer.size() >= r.answer.size() && answer.substr(answer.size() - r.answer.size()) == r.answer)
            << r.args << "\n" << answer;
    }
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/done.txt", 30));
    engine_result result = engine.stop();
    for (const char *line :
         {"asks: 200 PUT 300000, told to go on: true\n", "does not ask: 200 PUT 300000, told to go on: false\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
    // Told at once, the asking upload ends about when the other does; left
    // to its client's one-second wait, it would end some 60 ticks later.
    std::smatch apart;
    ASSERT_TRUE(std::regex_search(result.out, apart, std::regex("ticks apart: (-?\\d+)"))) << result.out;
    EXPECT_LT(std::stoi(apart[1]), 30) << result.out;
}

// Clients that connect in a burst, and clients that send half a request and
// stay, as many as the engine has descriptors: fresh requests are still
// answered and the game's own files still written.
TEST(HttpServer, ManyClientsStarveNeitherTheServerNorTheGamesFiles) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    sandbox.write_game_file("app/main.rb", server_game(port));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));
    rlimit files{200, 200};
    ASSERT_EQ(prlimit(engine.pid(), RLIMIT_NOFILE, &files, nullptr), 0);

    std::vector<std::string> answers(100);
    std::vector<std::thread> burst;
    auto started = std::chrono::steady_clock::now();
    for (std::string &answer : answers)
        burst.emplace_back([port, out = &answer] { *out = body_of(round_trip(port, "GET /ok HTTP/1.0\r\n\r\n")); });
    for (std::thread &client : burst) client.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 2.5);
    EXPECT_EQ(std::count(answers.begin(), answers.end(), "ok"), 100);

    // Half a request head each, one every 25 ms, as long as the engine has room.
    std::vector<int> idle;
    for (int i = 0; i < 251; ++i, usleep(25000))
        if (int fd = send_request(port, "GET /half HTTP/1.0\r\nX-Slow: ", 100); fd >= 0) idle.push_back(fd);
    EXPECT_EQ(body_of(round_trip(port, "GET /save HTTP/1.0\r\n\r\n")), "saved true");
    EXPECT_TRUE(file_exists(sandbox.game_dir + "/save.txt"));
    for (int fd : idle) close(fd);
    EXPECT_EQ(engine.stop().exit_code, 0);
}

// A game that goes on from its save, loaded in boot, starts its server there
// too (its first tick is no tick 0). Source paths of about 400 KB, sent
// together by a client that names no Host, are answered 404 while the game
// ticks on: looking one up used to hold a frame for seconds.
TEST(HttpServer, LongSourcePathsLeaveTheGameTickingAndBootStartsItsServerInEveryRun) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    sandbox.write_game_file("app/main.rb", "PORT = " + std::to_string(port) + R"(
def boot(args)
  $qmx.load_state
  $qmx.start_server!(port: PORT)
end
def tick(args)
  now = Time.now
  $longest = [$longest.to_f, now - $last].max if $last
  $last = now
  args.inputs.http_requests.each do |req|
    next unless req.uri == "/longest"
    req.respond(200, "#{Kernel.tick_count} #{($longest.to_f * 1000).round}")
    $longest = 0
  end
  return unless Kernel.tick_count == 10 && !$qmx.read_file("game_state.txt")
  $qmx.save_state
  $qmx.request_quit
end
)");
    ASSERT_EQ(sandbox.run({sandbox.game_dir}, 60).exit_code, 0);
    ASSERT_TRUE(file_exists(sandbox.game_dir + "/game_state.txt"));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    auto longest = [&] { return body_of(round_trip(port, "GET /longest HTTP/1.0\r\n\r\n")); };
    int tick = 0, longest_ms = -1;
    ASSERT_TRUE(wait_until([&] { return !longest().empty(); }, 30));
    std::istringstream(longest()) >> tick;
    EXPECT_GT(tick, 10);

    auto slashed = [](const char *part) {
        std::string text;
        for (int i = 0; i < 200000; ++i) text += part;
        return text + ".rb";
    };
    const std::vector<std::string> paths = {"/" + std::string(1000, 'a') + slashed("/b"), std::string(400000, '/') + "a.rb",
                                            "/vellum/" + std::string(300, 'c') + slashed("/d"),
                                            "/src_backup/" + std::string(256, 'e') + slashed("/f")};
    std::vector<std::string> answers(paths.size());
    std::vector<std::thread> clients;
    for (size_t i = 0; i < paths.size(); ++i)
        clients.emplace_back([&, i] { answers[i] = round_trip(port, "GET " + paths[i] + " HTTP/1.0\r\n\r\n").substr(0, 12); });
    for (std::thread &client : clients) client.join();
    std::istringstream(longest()) >> tick >> longest_ms;
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(answers[i], "HTTP/1.0 404") << i;
    // A frame is 16 ms; a second leaves room for a busy machine.
    EXPECT_LT(longest_ms, 1000);
    EXPECT_EQ(engine.stop().exit_code, 0);
}

// More clients at once than the server keeps connections: one that
// connected a little before the others and one that waits to be told to send
// its body keep their place; every request is answered.
TEST(HttpServer, ABurstBeyondTheConnectionCapIsAnsweredWhole) {
    EngineSandbox sandbox;
    uint16_t port = free_port();
    sandbox.write_game_file("app/main.rb", server_game(port));
    EngineProcess engine = sandbox.start({sandbox.game_dir});
    ASSERT_TRUE(engine.wait_for_file(sandbox.game_dir + "/ready.txt", 30));

    // A client connects, the other 99 send 100 ms later, and it sends 100 ms
    // after them.
    int early = send_request(port, "G");
    usleep(100000);
    std::vector<std::string> answers(100);
    std::vector<std::thread> burst;
    for (size_t i = 1; i < answers.size(); ++i)
        burst.emplace_back([&, i] { answers[i] = body_of(round_trip(port, "GET /ok HTTP/1.0\r\n\r\n")); });
    usleep(100000);
    send(early, "ET /ok HTTP/1.0\r\n\r\n", 19, MSG_NOSIGNAL);
    answers[0] = body_of(read_answer(early));
    for (std::thread &client : burst) client.join();
    EXPECT_EQ(answers[0], "ok");
    EXPECT_EQ(std::count(answers.begin(), answers.end(), "ok"), 100);

    // 100 uploads that each wait to be told to go on before sending the body.
    const std::string body(1000, 'u');
    std::vector<std::string> uploads(100);
    std::vector<std::thread> uploaders;
    for (std::string &answer : uploads)
        uploaders.emplace_back([&, out = &answer] {
            int fd = send_request(port, "POST /echo HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 1000\r\n\r\n");
            char told[64] = {};
            ssize_t got = fd >= 0 ? recv(fd, told, sizeof(told) - 1, 0) : -1;
            if (got > 0 && std::string(told) == "HTTP/1.1 100 Continue\r\n\r\n") send(fd, body.data(), body.size(), MSG_NOSIGNAL);
            *out = body_of(read_answer(fd)).substr(0, 5);
        });
    for (std::thread &uploader : uploaders) uploader.join();
    EXPECT_EQ(std::count(uploads.begin(), uploads.end(), "1000 "), 100);
    EXPECT_EQ(engine.stop().exit_code, 0);
}

// A device game, given the development machine's address, takes the files
// saved there: changed ones, and a new one that a changed one requires.
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
  $qmx.write_file("arrived.txt", "#{$a} #{$b}") if $a == 2 && $b == 2 && $c == 1
end
)");
    EngineProcess serving = server.start({server.game_dir});
    ASSERT_TRUE(serving.wait_for_file(server.game_dir + "/ready.txt", 30));
    EngineProcess fetching = client.start({client.game_dir});
    // A second later than anything the server loaded at boot.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    server.write_game_file("app/c.rb", "$c = 1\n");
    server.write_game_file("app/a.rb", "require 'app/c.rb'\n$a = 2\n");
    server.write_game_file("app/b.rb", "$b = 2\n");
    EXPECT_TRUE(fetching.wait_for_file(client.game_dir + "/arrived.txt", 30));
    serving.stop();
    EXPECT_EQ(read_file(client.game_dir + "/app/c.rb"), "$c = 1\n") << fetching.stop().out;
    // The device's log messages arrive on the server alone.
    std::string server_log = read_file(server.base_dir + "/logs/log.txt");
    EXPECT_NE(server_log.find("=======\n* REMOTE CLIENT INFO: Hotload server found at 127.0.0.1:"), std::string::npos);
    EXPECT_EQ(server_log.find("Content-Disposition"), std::string::npos) << server_log;
}

} // namespace
