// Helpers of the HTTP end-to-end tests: free loopback ports, raw
// requests, curl, and a fixture game that runs the engine's server.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

// A port nobody listens on just now, as the kernel picks one.
inline uint16_t free_port() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof(address);
    bind(probe, (sockaddr *)&address, length);
    getsockname(probe, (sockaddr *)&address, &length);
    close(probe);
    return ntohs(address.sin_port);
}

// A connection that has sent the bytes; -1 when it could not. Connecting,
// sending and each read give up after `milliseconds`.
inline int send_request(uint16_t port, const std::string &bytes, int milliseconds = 15000) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    timeval wait{milliseconds / 1000, milliseconds % 1000 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait));
    if (connect(fd, (sockaddr *)&address, sizeof(address)) == 0 && send(fd, bytes.data(), bytes.size(), 0) > 0)
        return fd;
    close(fd);
    return -1;
}

// Everything until the server closes; *reset tells whether it reset the
// connection instead of closing it.
inline std::string read_answer(int fd, bool *reset = nullptr) {
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while (fd >= 0 && (got = recv(fd, chunk, sizeof(chunk), 0)) > 0) text.append(chunk, (size_t)got);
    if (reset) *reset = got < 0 && errno == ECONNRESET;
    if (fd >= 0) close(fd);
    return text;
}

inline std::string round_trip(uint16_t port, const std::string &bytes) {
    return read_answer(send_request(port, bytes));
}

inline std::string run(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t got; pipe && (got = fread(chunk, 1, sizeof(chunk), pipe)) > 0;) out.append(chunk, got);
    if (pipe) pclose(pipe);
    return out;
}

inline std::string curl(const std::string &args) {
    return run("curl -s -i --max-time 15 " + args);
}

inline std::string body_of(const std::string &response) {
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? "" : response.substr(at + 4);
}

inline std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

inline const char REJECTED[] = "HTTP/1.0 400 :(\r\nContent-Length: 34\r\nConnection: close\r\n"
                               "Content-Type: text/plain; charset=utf-8\r\n\r\nThis request was rejected, sorry.\n";

// A game that answers some requests, loses one on the way, breaks the
// routing of another, lets one wait while game time jumps, answers one a
// frame late, echoes the body of one into a header, answers others with
// what cannot be sent, saves a file when asked, and counts its resets.
inline std::string server_game(uint16_t port) {
    return "PORT = " + std::to_string(port) + R"(
class QMX::Runtime
  alias_method :game_new_http_request, :new_http_request
  def new_http_request(method, uri, *rest)
    raise "lost on the way" if uri == "/lost"
    game_new_http_request(method, uri, *rest)
  end
end
class QMX::Api
  alias_method :engine_match_candidate, :match_candidate
  def match_candidate(req)
    raise "routing broke" if req.uri == "/boom"
    engine_match_candidate(req)
  end
end
class Unprintable
  def to_s = raise("no text")
end
# Answers respond cannot send: the request's body (here with a NUL) as a
# header's value or name, and a status, body or headers of the wrong kind.
def unfit_answer(req, index)
  [[200, "x", { "X-Echo" => req.body }], [200, "x", { req.body => "x" }], ["200", "x"], [99, "x"], [2**40, "x"],
   [200, :x], [200, "x", "X-A: b"], [200, "x", { Unprintable.new => "b" }], [200, "x", ["X-A: 1"]],
   [200, "x", [["X-A", "1"], "X-B: 2"]], [200, "x", [["X-A", "1", "2"]]], [200, "x", [["X-A"]]],
   [200, "x", [["X-A", req.body]]]][index]
end
def tick args
  $resets = $resets.to_i + 1 if Kernel.tick_count < $last_tick.to_i
  $last_tick = Kernel.tick_count
  $qmx.start_server!(port: PORT) if args.state.tick_count == 0
  $qmx.write_file("ready.txt", "") if args.state.tick_count == 1
  args.inputs.http_requests.each do |req|
    if req.uri == "/ok"
      req.respond(200, "ok")
    elsif req.uri == "/twice" # straight to the native answer, twice, then with something else
      cptr = req.instance_variable_get(:@reqcptr)
      [[cptr, 200, "first"], [cptr, 500, "second"], [Random.new, 500, "third"]].each { |a| $qmx.ffi_misc.http_respond(*a, nil) }
    elsif req.uri == "/bad"
      req.respond(200, 42) rescue nil
    elsif req.uri == "/save"
      req.respond(200, "saved #{$qmx.write_file("save.txt", "x")}")
    elsif req.uri == "/wait" # half a minute of game time passes; the request waits on
      $waited = $waited.to_i + 1
      Kernel.tick_count += 1800 if $waited == 1
      req.respond(200, "waited") if $waited == 3
    elsif req.uri == "/echo" # the body's size and the frame it arrived on
      req.respond(200, "#{req.body.size} #{Kernel.global_tick_count}")
    elsif req.uri == "/queued"
      req.respond(200, $qmx.instance_variable_get(:@http_requests).size.to_s)
    elsif req.uri == "/later" # answered on the frame after it arrived
      req.respond(200, "later #{req.body}") if ($later ||= {}).delete(req.id)
      $later[req.id] = true unless req.answered?
    elsif req.uri == "/crlf" # echoes what the client sent
      req.respond(200, "x", { "X-Echo" => req.body })
    elsif req.uri.start_with?("/unfit/")
      req.respond(*unfit_answer(req, req.uri[7..-1].to_i))
    elsif req.uri == "/pairs" # headers as [name, value] pairs, as a Hash gives them
      req.respond(200, "x", [["X-A", "1"], [:"X-B", 2], ["Content-Type", "text/plain"]])
    elsif req.uri == "/fraction" # a Float status loses its fraction
      req.respond(200.9, "x")
    elsif req.uri == "/resets"
      req.respond(200, $resets.to_i.to_s)
    end
  end
end
)";
}

