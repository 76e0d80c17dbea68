// The embedded server: request parsing on an in-memory connection, the
// exact bytes of answers, and shutdown with a client waiting. How it copes
// with real clients is seen through the engine in tests/e2e/http_test.cpp.
#include "bridge/http_server.h"
#include "../e2e/http_support.h"

#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <string>
#include <vector>

namespace {

struct parsed {
    bool complete, closed;
    std::string method, uri, body;
    std::vector<std::string> headers;
    std::string refused; // the status line of the server's own answer
    uint32_t received, examined; // bytes taken in, and searched for line ends
    bool told_to_continue;       // the interim "go on" answer is due
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
    parsed out{request != nullptr, c.state == HTTPSERVER_CLOSING, "", "", "", {}, "", c.position, c.scan.examined,
               c.continue_pending != 0};
    if (c.state == HTTPSERVER_SENDING) out.refused = std::string(c.buffer, c.size).substr(0, 12);
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

TEST(HttpServerParsing, RequestsAreSplitIntoTheirPartsAndMalformedOrOversizedOnesDropped) {
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
    // Malformed or oversized requests are dropped (a request line that
    // cannot be routed is answered 400 instead: tests/e2e/http_test.cpp).
    const std::string limit = std::to_string(HTTPSERVER_REQUEST_LIMIT);
    for (const std::string &text : {
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

// However the bytes arrive, each head is read to the same end: header lines
// are counted, and bytes after a head that announced no body are another
// request for GET and HEAD but a body without a length for the others.
TEST(HttpServerParsing, HeaderLinesAreCountedAndBodiesWithoutALengthRefusedInAnyPieces) {
    std::string lines = "GET / HTTP/1.0\r\n";
    for (uint32_t i = 0; i < HTTPSERVER_HEADER_LINE_LIMIT; ++i) lines += "a\n";
    for (size_t piece : {1, 7, 4096}) {
        EXPECT_TRUE(parse(lines + "\r\n", piece).complete) << piece;
        EXPECT_EQ(parse(lines + "a\n\r\n", piece).refused, "HTTP/1.0 431") << piece;
        EXPECT_EQ(parse(lines + "a\n", piece).refused, "HTTP/1.0 431") << piece;
    }
    for (auto [text, refused] : {std::pair{"POST / HTTP/1.0\r\n\r\nhello", "HTTP/1.0 411"},
                                 {"DELETE / HTTP/1.0\r\n\r\nx", "HTTP/1.0 411"},
                                 {"GET / HTTP/1.0\r\n\r\nGET / HTTP/1.0\r\n\r\n", ""},
                                 {"head / HTTP/1.0\r\n\r\nHEAD / HTTP/1.0\r\n\r\n", ""},
                                 {"POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nhello", ""}}) {
        parsed result = parse(text);
        EXPECT_EQ(result.refused, refused) << text;
        EXPECT_EQ(result.complete, !*refused) << text;
    }
}

// A client that asks whether to send its body is told to go on, unless it
// cannot understand the answer (HTTP/1.0) or has sent the body already.
TEST(HttpServerParsing, AClientThatAsksWhetherToSendItsBodyIsToldToGoOn) {
    const std::string length = "Content-Length: 5\r\n";
    for (auto [head, told] : {std::pair{"PUT /a HTTP/1.1\r\nExpect: 100-continue\r\n" + length + "\r\n", true},
                              {"POST /a HTTP/1.1\r\n" + length + "expect:\t100-Continue \r\n\r\n", true},
                              {"PUT /a HTTP/1.1\r\nExpect: 100-continue\r\n" + length + "\r\nhel", true},
                              {"PUT /a HTTP/1.0\r\nExpect: 100-continue\r\n" + length + "\r\n", false},
                              {"PUT /a HTTP/1.1\r\nExpect: 100-continues\r\n" + length + "\r\n", false},
                              {"PUT /a HTTP/1.1\r\nX-Expect: 100-continue\r\n" + length + "\r\n", false},
                              {"PUT /a HTTP/1.1\r\n" + length + "\r\n", false}}) {
        parsed result = parse(head);
        EXPECT_EQ(result.told_to_continue, told) << head;
        EXPECT_FALSE(result.complete) << head;
    }
    parsed whole = parse("PUT /a HTTP/1.1\r\nExpect: 100-continue\r\n" + length + "\r\nhello");
    EXPECT_TRUE(whole.complete && !whole.told_to_continue);
}

// The head reader's work, counted rather than timed: each byte that arrives
// is searched for a line end once, in whatever pieces it comes, and a head
// of many short lines costs its first lines up to the limit, however long it
// is. (The rate a game keeps while clients flood it so is the benchmark's.)
TEST(HttpServerParsing, TheHeadReaderSearchesEachByteOnceAndStopsAtTheLineLimit) {
    const std::string request_line = "GET /ok HTTP/1.0\r\n";
    std::string flood = request_line, long_lines = request_line;
    for (int i = 0; i < 250000; ++i) flood += "a\n";
    for (int i = 0; i < 50; ++i) long_lines += "X-A: " + std::string(5000, 'x') + "\r\n";
    const uint32_t limit_bytes = (uint32_t)request_line.size() + 2 * (HTTPSERVER_HEADER_LINE_LIMIT + 1);
    for (size_t piece : {1, 7, 4096, 65536}) {
        parsed refused = parse(flood + "\r\n", piece);
        EXPECT_EQ(refused.refused, "HTTP/1.0 431") << piece;
        EXPECT_LE(refused.examined, limit_bytes) << piece;
        parsed whole = parse(long_lines + "\r\n", piece);
        EXPECT_TRUE(whole.complete) << piece;
        EXPECT_EQ(whole.examined, whole.received) << piece;
    }
}

std::string answer(int status, std::vector<const char *> lines, const char *body) {
    httpserver_connection c{};
    c.state = HTTPSERVER_WAITING;
    httpserver_build_response(&c, status, lines.data(), (uint32_t)lines.size(), body, body ? (uint32_t)strlen(body) : 0);
    std::string bytes(c.buffer, c.size);
    SDL_free(c.buffer);
    return bytes;
}

// A plain answer and one to HEAD are compared byte for byte end to end
// (tests/e2e/http_test.cpp).
TEST(HttpServerAnswers, TheGamesHeadersReplaceTheDefaultsButNotTheLengthOrConnection) {
    EXPECT_EQ(answer(404, {"content-type: text/plain", "Content-Length: 99", "connection: keep-alive", "X-A: b"}, "no"),
              "HTTP/1.0 404 :(\r\nContent-Length: 2\r\nConnection: close\r\ncontent-type: text/plain\r\nX-A: b\r\n\r\nno");
    EXPECT_EQ(answer(399, {}, nullptr).substr(0, 16), "HTTP/1.0 399 :)\r");
    EXPECT_EQ(answer(400, {}, nullptr).substr(0, 16), "HTTP/1.0 400 :(\r");
}

httpserver_request *first_request(int frames = 1000) {
    httpserver_request *request = nullptr;
    for (int i = 0; i < frames && !request; ++i, SDL_Delay(1)) request = httpserver_tick();
    return request;
}

// Sent from the thread that runs the server: a peer that has gone away
// must fail the send, not raise a signal that ends the process.
TEST(HttpServerSockets, AnAnswerToAClientThatLeftEndsOnlyItsConnection) {
    uint16_t port = free_port();
    ASSERT_EQ(httpserver_init(port), 1);
    int client = send_request(port, "GET / HTTP/1.0\r\n\r\n");
    httpserver_request *request = first_request();
    ASSERT_NE(request, nullptr);
    close(client);
    std::string big(8 << 20, 'x'); // more than one send takes
    EXPECT_EQ(httpserver_respond(request, 200, nullptr, 0, big.data(), (uint32_t)big.size()), 1);
    for (int i = 0; i < 50; ++i, SDL_Delay(1)) httpserver_tick();
    httpserver_quit();
}

// A client that trickles its request head, a byte at a time well inside the
// idle limit, is closed once the head has had its time.
TEST(HttpServerSockets, ARequestHeadThatTricklesInIsCutOff) {
    uint16_t port = free_port();
    ASSERT_EQ(httpserver_init(port), 1);
    int client = send_request(port, "G");
    Uint64 started = SDL_GetTicks64(), sent = started;
    bool closed = false;
    char byte;
    while (!closed && SDL_GetTicks64() - started < HTTPSERVER_HEAD_MS + 5000) {
        EXPECT_EQ(httpserver_tick(), nullptr);
        if (SDL_GetTicks64() - sent >= 200) {
            sent = SDL_GetTicks64();
            send(client, "E", 1, MSG_NOSIGNAL);
        }
        ssize_t got = recv(client, &byte, 1, MSG_DONTWAIT);
        closed = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        SDL_Delay(5);
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(SDL_GetTicks64() - started, HTTPSERVER_HEAD_MS - 1000);
    close(client);
    httpserver_quit();
}

// What a waiting client gets when the engine shuts down.
TEST(HttpServerSockets, AWaitingRequestIsAnsweredBeforeTheSocketsClose) {
    uint16_t port = free_port();
    ASSERT_EQ(httpserver_init(port), 1);
    int client = send_request(port, "GET / HTTP/1.0\r\n\r\n");
    ASSERT_NE(first_request(), nullptr); // never answered by the game
    httpserver_quit();
    std::string text = read_answer(client);
    EXPECT_EQ(text.substr(0, 16), "HTTP/1.0 503 :(\r") << text;
    EXPECT_EQ(text.substr(text.size() - 41), "\r\n\r\nThis server is shutting down, sorry.\n");
}

} // namespace
