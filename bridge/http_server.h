// The embedded HTTP/1.0 server: no threads, polled once per simulation
// frame. Each poll accepts every pending connection it has room for, reads
// requests without blocking, hands each complete request out, sends the
// answer it is given, one request per connection, then closes.
#pragma once

#include <cstdint>

constexpr uint32_t HTTPSERVER_IDLE_MS = 60000;
// A request head must be complete this long after its connection was
// accepted, however slowly its bytes trickle in.
constexpr uint32_t HTTPSERVER_HEAD_MS = 10000;
// Open connections at most: the game's own files must always find a free
// descriptor, whatever clients do.
constexpr uint32_t HTTPSERVER_MAX_CONNECTIONS = 64;
constexpr uint32_t HTTPSERVER_REQUEST_LIMIT = 524288;
constexpr uint32_t HTTPSERVER_BUFFER_STEP = 1024;

enum httpserver_connection_state : uint32_t {
    HTTPSERVER_READING_HEAD = 0,
    HTTPSERVER_READING_BODY = 1,
    HTTPSERVER_WAITING = 2,
    HTTPSERVER_SENDING = 3,
    HTTPSERVER_CLOSING = 4,
    HTTPSERVER_CLOSED = 5,
};

struct httpserver_request;

struct httpserver_connection {
    int socket;
    uint32_t state;
    char *buffer;         // received bytes (NUL-terminated once complete), then the answer
    uint32_t size;        // reading: capacity; sending: answer length
    uint32_t position;    // reading: bytes received; sending: bytes sent
    uint32_t deadline;    // SDL tick after which a connection that makes no progress is closed
    uint32_t line_count;  // lines before the blank line
    uint32_t expected_length;
    uint32_t is_head;
    httpserver_connection *next;   // the next (older) connection
    httpserver_request *request;   // handed out and not answered yet
    uint32_t peer_address;         // IPv4, host byte order
    uint32_t head_deadline;        // SDL tick by which the request head must be complete
    uint32_t fresh;                // accepted during the current poll, not read yet
};

// Every text points into the connection's buffer.
struct httpserver_request {
    char *method;
    char *uri;
    char **headers; // header_count lines, line ends removed
    uint32_t header_count;
    char *body;
    uint32_t body_length;
    httpserver_connection *connection;
    httpserver_request *next;
};

// 1 when listening on the port of every IPv4 interface, 0 when not.
int httpserver_init(uint16_t port);
// The requests completed during this pass, oldest connection first, or NULL.
httpserver_request *httpserver_tick();
// Formats the answer of a connection that waits for one and starts sending it.
void httpserver_build_response(httpserver_connection *connection, int status, const char *const *header_lines,
                               uint32_t header_count, const char *body, uint32_t body_length);
// Answers a request handed out by httpserver_tick and frees it. A pointer
// that is not such a request (already answered, or never one) is left alone:
// answers 1 when the request was answered, 0 otherwise.
extern "C" int httpserver_respond(httpserver_request *request, int status, const char *const *header_lines,
                                  uint32_t header_count, const char *body, uint32_t body_length);
// Answers what is still pending, then closes everything.
void httpserver_quit();

// The reading half of a connection, apart from the socket: takes note of
// `count` bytes that arrived at the end of the received ones and, once the
// request is complete, answers it (the connection then waits for its
// answer). A malformed or oversized request moves the connection to
// closing. The caller grows the buffer first (httpserver_reserve).
httpserver_request *httpserver_received(httpserver_connection *connection, uint32_t count);
// Room for the next read: at least one byte beyond the free space kept for
// the terminating NUL. False (and the connection closing) past the limit or
// when memory runs out.
bool httpserver_reserve(httpserver_connection *connection);
