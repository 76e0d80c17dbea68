// The embedded server: request parsing on an in-memory connection, the
// exact bytes of answers, and real loopback sockets for what only a peer
// can do (pieces over several frames, early hang-ups, shutdown).
#include "bridge/http_server.h"

#include <gtest/gtest.h>

#include <SDL2/SDL.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct parsed {
    bool complete, closed;
    std::string method, uri, body;
    std::vector<std::string> headers;
};

// Feeds the text in pieces of `piece` bytes, as separate reads would.
parsed parse(const std::string &text, size_t piece = 1 << 20) {
    httpserver_connection c{};
    httpserver_request *request = nullptr;
    for (size_t at = 0; at < text.size() && !request && c.state < HTTPSERVER_WAITING;) {
        if (!httpserver_reserve(&c)) break;
        size_t n = std::min({piece, text.size() - at, (size_t)(c.size - c.position - 1)});
        memcpy(c.buffer + c.position, text.data() + at, n);
        at += n;
        request = httpserver_received(&c, (uint32_t)n);
    }
    parsed out{request != nullptr, c.state == HTTPSERVER_CLOSING, "", "", "", {}};
    if (request) {
        out.method = request->method;
        out.uri = request->uri;
        out.body.assign(request->body, request->body_length);
        for (uint32_t i = 0; i < request->header_count; ++i) out.headers.push_back(request->headers[i]);
    }
    SDL_free(request);
    SDL_free(c.buffer);
    return out;
}

TEST(HttpServerParsing, RequestsAreSplitIntoTheirParts) {
    parsed get = parse("GET /vellum/ HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(get.complete);
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.uri, "/vellum/");
    EXPECT_EQ(get.headers, std::vector<std::string>{"Host: x"});
    EXPECT_EQ(get.body, "");

    parsed bare = parse("POST /a HTTP/1.0\nContent-Length:  5 \nX:y\n\nhelloEXTRA", 3);
    ASSERT_TRUE(bare.complete);
    EXPECT_EQ(bare.body, "hello");
    EXPECT_EQ(bare.headers, (std::vector<std::string>{"Content-Length:  5 ", "X:y"}));
    EXPECT_EQ(parse(std::string("POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\n\0\1\2", 41)).body,
              std::string("\0\1\2", 3));
}

TEST(HttpServerParsing, MalformedOrOversizedRequestsAreDropped) {
    const std::string limit = std::to_string(HTTPSERVER_REQUEST_LIMIT);
    for (const std::string &text : {
             std::string("GET\r\n\r\n"),                                    // no blank in the request line
             std::string("\r\n\r\n"),                                       // no request line at all
             std::string("POST / HTTP/1.0\r\nContent-Length: -1\r\n\r\n"),   // a sign
             std::string("POST / HTTP/1.0\r\nContent-Length: 18446744073709551615\r\n\r\n"),
             std::string("POST / HTTP/1.0\r\nContent-Length: 12abc\r\n\r\n"),
             std::string("POST / HTTP/1.0\r\nContent-Length: " + limit + "\r\n\r\n"),
             std::string("POST / HTTP/1.0\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\n"),
             std::string("GET /") + std::string(HTTPSERVER_REQUEST_LIMIT + 4096, 'a'),
         }) {
        EXPECT_TRUE(parse(text, 4096).closed) << text.substr(0, 80);
    }
}

std::string answer(int status, std::vector<const char *> lines, const char *body, bool head = false) {
    httpserver_connection c{};
    c.state = HTTPSERVER_WAITING;
    c.is_head = head;
    httpserver_build_response(&c, status, lines.data(), (uint32_t)lines.size(), body, body ? (uint32_t)strlen(body) : 0);
    std::string bytes(c.buffer, c.size);
    SDL_free(c.buffer);
    return bytes;
}

TEST(HttpServerAnswers, HeadAndBodyAreWrittenExactly) {
    const std::string tail = "Connection: close\r\n";
    EXPECT_EQ(answer(200, {}, "ok"), "HTTP/1.0 200 :)\r\nContent-Type: text/html; charset=utf-8\r\n"
                                     "Content-Length: 2\r\n" + tail + "\r\nok");
    EXPECT_EQ(answer(404, {"content-type: text/plain", "Content-Length: 99", "connection: keep-alive", "X-A: b"},
                     "no"),
              "HTTP/1.0 404 :(\r\nContent-Length: 2\r\n" + tail + "content-type: text/plain\r\nX-A: b\r\n\r\nno");
    EXPECT_EQ(answer(399, {}, nullptr).substr(0, 16), "HTTP/1.0 399 :)\r");
    EXPECT_EQ(answer(400, {}, nullptr).substr(0, 16), "HTTP/1.0 400 :(\r");
    EXPECT_EQ(answer(200, {}, "body", true),
              "HTTP/1.0 200 :)\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 0\r\n" + tail + "\r\n");
}

// A real server on a loopback port, driven frame by frame.
class HttpServerSockets : public ::testing::Test {
protected:
    uint16_t port = 0;

    void SetUp() override {
        int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        bind(probe, (sockaddr *)&address, length);
        getsockname(probe, (sockaddr *)&address, &length);
        port = ntohs(address.sin_port);
        close(probe);
        ASSERT_EQ(httpserver_init(port), 1);
    }
    void TearDown() override { httpserver_quit(); }

    int connect_client() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        EXPECT_EQ(connect(fd, (sockaddr *)&address, sizeof(address)), 0);
        timeval wait{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
        return fd;
    }

    // Ticks until a request completes (answered with `body`) or frames run out.
    httpserver_request *tick_for_request(int frames = 200) {
        for (int i = 0; i < frames; ++i) {
            if (httpserver_request *r = httpserver_tick()) return r;
            SDL_Delay(2);
        }
        return nullptr;
    }

    std::string read_all(int fd) {
        std::string text;
        char chunk[4096];
        for (int i = 0; i < 400; ++i) {
            httpserver_tick();
            ssize_t got = recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
            if (got == 0) break;
            if (got > 0) text.append(chunk, (size_t)got);
            else SDL_Delay(2);
        }
        close(fd);
        return text;
    }

    // One request answered with "ok": the server is still serving.
    std::string round_trip() {
        int client = connect_client();
        send(client, "GET / HTTP/1.0\r\n\r\n", 18, 0);
        httpserver_request *request = tick_for_request();
        if (!request) return "";
        httpserver_respond(request, 200, nullptr, 0, "ok", 2);
        return read_all(client);
    }
};

TEST_F(HttpServerSockets, PiecesAreJoinedAndABrokenClientLeavesTheServerServing) {
    int dropped = connect_client();
    send(dropped, "GET / HT", 8, 0);
    ASSERT_EQ(tick_for_request(20), nullptr);
    close(dropped); // hangs up half-way

    int bad = connect_client();
    send(bad, "POST / HTTP/1.0\r\nContent-Length: -1\r\n\r\n", 39, 0);
    EXPECT_EQ(read_all(bad), ""); // closed without an answer
    EXPECT_EQ(round_trip().substr(0, 16), "HTTP/1.0 200 :)\r");

    int client = connect_client();
    httpserver_request *request = nullptr;
    for (const char *piece : {"GET /pie", "ces HTTP/1.0\r\nHo", "st: x\r\n", "\r\n"}) {
        ASSERT_EQ(request, nullptr);
        send(client, piece, strlen(piece), 0);
        request = tick_for_request(5);
    }
    if (!request) request = tick_for_request();
    ASSERT_NE(request, nullptr);
    EXPECT_STREQ(request->uri, "/pieces");
    EXPECT_EQ(httpserver_respond(request, 200, nullptr, 0, "ok", 2), 1);
    // The record is gone: a second answer through the same pointer is ignored.
    EXPECT_EQ(httpserver_respond(request, 500, nullptr, 0, "again", 5), 0);
    std::string text = read_all(client);
    EXPECT_EQ(text.substr(0, 16), "HTTP/1.0 200 :)\r");
    EXPECT_EQ(text.substr(text.size() - 6), "\r\n\r\nok");
}

TEST_F(HttpServerSockets, AnAnswerToAClientThatLeftDoesNotEndTheProcess) {
    int client = connect_client();
    send(client, "GET / HTTP/1.0\r\n\r\n", 18, 0);
    httpserver_request *request = tick_for_request();
    ASSERT_NE(request, nullptr);
    close(client);
    std::string big(4 << 20, 'x'); // more than one send can take
    httpserver_respond(request, 200, nullptr, 0, big.data(), (uint32_t)big.size());
    for (int i = 0; i < 50; ++i) httpserver_tick();
    EXPECT_EQ(round_trip().substr(0, 16), "HTTP/1.0 200 :)\r");
}

TEST_F(HttpServerSockets, ShutdownAnswersWhatIsStillWaiting) {
    int client = connect_client();
    send(client, "GET / HTTP/1.0\r\n\r\n", 18, 0);
    ASSERT_NE(tick_for_request(), nullptr); // never answered by the game
    httpserver_quit();
    char text[512] = {};
    recv(client, text, sizeof(text) - 1, MSG_WAITALL);
    close(client);
    EXPECT_NE(std::string(text).find("HTTP/1.0 503 :(\r\n"), std::string::npos) << text;
    EXPECT_NE(std::string(text).find("\r\n\r\nThis server is shutting down, sorry.\n"), std::string::npos);
}

} // namespace
