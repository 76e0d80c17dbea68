// Feeds arbitrary bytes to the server's request reader, in pieces the way
// reads deliver them: every text of a completed request must lie inside the
// received bytes, no text of its head may hold a carriage return, no head
// holding a NUL byte may complete, no request may have more header lines
// than the limit, and the reader must never grow
// past its limit.
#include "bridge/http_server.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>

namespace {

void check_inside(const httpserver_connection &c, const char *text, size_t length) {
    if (text < c.buffer || text + length > c.buffer + c.position + 1) abort();
}

void check_head_text(const httpserver_connection &c, const char *text) {
    check_inside(c, text, strlen(text));
    if (strchr(text, '\r')) abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 64; // the first byte picks the read size
    ++data;
    --size;
    httpserver_connection c{};
    httpserver_request *request = nullptr;
    for (size_t at = 0; at < size && !request && c.state < HTTPSERVER_WAITING;) {
        if (!httpserver_reserve(&c)) break;
        size_t n = SDL_min(SDL_min(piece, size - at), (size_t)(c.size - c.position - 1));
        memcpy(c.buffer + c.position, data + at, n);
        at += n;
        request = httpserver_received(&c, (uint32_t)n);
    }
    if (c.size > HTTPSERVER_REQUEST_LIMIT + HTTPSERVER_BUFFER_STEP) abort();
    if (request) {
        if (request->header_count > HTTPSERVER_HEADER_LINE_LIMIT) abort();
        check_head_text(c, request->method);
        check_head_text(c, request->uri);
        for (uint32_t i = 0; i < request->header_count; ++i) check_head_text(c, request->headers[i]);
        check_inside(c, request->body, request->body_length);
        // The buffer holds the bytes as they came up to the body, line ends
        // aside: a NUL there would have cut a line short.
        if (memchr(data, 0, (size_t)(request->body - c.buffer))) abort();
    }
    SDL_free(request);
    SDL_free(c.buffer);
    return 0;
}
