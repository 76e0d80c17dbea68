// The embedded HTTP/1.0 server: no threads, polled once per simulation
// frame. Each poll accepts every pending connection it has room for, reads
// what each socket holds without blocking, hands each complete request out,
// sends the answer it is given, one request per connection, then closes.
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
// Header lines a request may have; one more is answered 431. Each line
// becomes Ruby text for the game, so their number, not only their bytes,
// must stay small.
constexpr uint32_t HTTPSERVER_HEADER_LINE_LIMIT = 100;
// A receive buffer starts this large and doubles, to the request limit
// plus one step at most.
constexpr uint32_t HTTPSERVER_BUFFER_STEP = 1024;
// Far longer than any method HTTP defines: a longer one, or one that is not
// an HTTP token, cannot be routed and is answered 400.
constexpr uint32_t HTTPSERVER_METHOD_LIMIT = 32;
// After its answer a connection reads and drops what its client still sends
// for this long, or until the client closes: closing with unread bytes
// would reset the connection and could destroy the answer on its way.
constexpr uint32_t HTTPSERVER_LINGER_MS = 2000;
// At the connection cap a new client takes the slot of a connection that has
// made no progress for this long (an idle or trickling client, or one whose
// answer has lain unread): one just accepted, or just told to send its body,
// keeps its slot, and new clients wait in the kernel's queue meanwhile.
constexpr uint32_t HTTPSERVER_DISPLACE_IDLE_MS = 1000;

enum httpserver_connection_state : uint32_t {
    HTTPSERVER_READING_HEAD = 0,
    HTTPSERVER_READING_BODY = 1,
    HTTPSERVER_WAITING = 2,
    HTTPSERVER_SENDING = 3,
    HTTPSERVER_CLOSING = 4,
    HTTPSERVER_CLOSED = 5,
    HTTPSERVER_LINGERING = 6, // answer sent, our side shut; waiting for the client to close
};

struct httpserver_request;

// How far the request head has been read, so that each received byte is
// looked at once however the head arrives.
struct httpserver_head_scan {
    uint32_t line_start;   // offset of the line being received
    uint32_t searched;     // offset up to which that line holds no line feed
    uint32_t lines;        // complete lines so far, the request line included
    uint32_t hosts;        // Host, Origin and Transfer-Encoding lines so far
    uint32_t origins;
    uint32_t transfer_codings;
    uint32_t has_length;   // a Content-Length line was read
    uint32_t content_length;
    uint32_t bodiless;     // GET or HEAD: what follows the head is another request
    uint32_t http10;       // the request line names HTTP/1.0, whose clients know no interim answers
    uint32_t expects_continue; // an "Expect: 100-continue" line was read
    uint32_t examined;     // bytes looked at for line ends so far: each received byte at most once
};

struct httpserver_connection {
    int socket;
    uint32_t state;
    char *buffer;         // received bytes (NUL-terminated once complete), then the answer
    uint32_t size;        // reading: capacity; sending: answer length
    uint32_t position;    // reading: bytes received; sending: bytes sent
    uint32_t deadline;    // SDL tick after which a connection that makes no progress (or lingers) is closed
    uint32_t line_count;  // lines before the blank line
    uint32_t expected_length;
    uint32_t is_head;
    httpserver_connection *next;   // the next (older) connection
    httpserver_request *request;   // handed out and not answered yet
    uint32_t peer_address;         // IPv4, host byte order
    uint32_t head_deadline;        // SDL tick by which the request head must be complete
    uint32_t progress_at;          // SDL tick of its last progress: accepted, bytes read or sent
    httpserver_head_scan scan;
    // A request with no Content-Length whose method may carry a body: bytes
    // after its head are a body sent without one, answered 411.
    uint32_t unannounced_body;
    // Leading bytes of the answer sent before it was built (every answer
    // begins alike): sent to a client that stopped sending, whose reset, if
    // it has gone, shows at once.
    uint32_t sent_early;
    // A client that asked whether to send its body ("Expect: 100-continue")
    // is told to go on at once, or it waits its own timeout before every
    // upload: 1 while that interim answer is still to be sent.
    uint32_t continue_pending;
};

// Every text points into the connection's buffer. A request whose client
// hung up before its answer loses its connection (NULL) and waits, with
// no texts, for whoever holds it to answer it.
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

// A header line holding a carriage return or line feed would add header
// lines of its own making: neither the server's answers nor the client's
// requests send one.
bool http_line_holds_break(const char *line);

// 1 when listening on the port of every IPv4 interface, 0 when not.
int httpserver_init(uint16_t port);
// The port the server listens on (on every IPv4 address of the machine),
// 0 while it is off.
uint16_t httpserver_port();
// The requests completed during this pass, oldest connection first, or NULL.
httpserver_request *httpserver_tick();
// Formats the answer of a connection that waits for one and starts sending
// it: 1 when it did. A header line holding a carriage return or line feed
// would let the answer forge headers of its own: the connection is answered
// 500 instead and -1 returned. 0 when nothing could be sent.
int httpserver_build_response(httpserver_connection *connection, int status, const char *const *header_lines,
                              uint32_t header_count, const char *body, uint32_t body_length);
// Answers a request handed out by httpserver_tick and frees it. A pointer
// that is not such a request (already answered, or never one) is left alone.
// Answers as httpserver_build_response does; a request whose client has
// hung up is freed and answers 0.
extern "C" int httpserver_respond(httpserver_request *request, int status, const char *const *header_lines,
                                  uint32_t header_count, const char *body, uint32_t body_length);
// Answers 500 in place of an answer that cannot be sent as it was given (its
// status, body or headers are unfit), as httpserver_respond does.
int httpserver_respond_failed(httpserver_request *request);
// 1 when the client of a handed-out request hung up before its answer.
int httpserver_client_gone(const httpserver_request *request);
// Answers what is still pending, then closes everything.
void httpserver_quit();

// The reading half of a connection, apart from the socket: takes note of
// `count` bytes that arrived at the end of the received ones and, once the
// request is complete, answers it (the connection then waits for its
// answer). An oversized request, or one whose length cannot be read, moves
// the connection to closing; one that cannot be routed (no request line, a
// method that is no HTTP token, more than one Host or Origin header) is
// answered 400, as is a header line that begins with a blank (a folded
// line) or has one before its colon, and a head holding a NUL byte; one
// with more than HTTPSERVER_HEADER_LINE_LIMIT header lines 431, and a body
// without a Content-Length (chunked, or bytes after the head of a request
// other than GET or HEAD) 411. A client that asked whether to send its
// body is to be told to go on (continue_pending). The caller grows the
// buffer first (httpserver_reserve).
httpserver_request *httpserver_received(httpserver_connection *connection, uint32_t count);
// Room for the next read: at least one byte beyond the free space kept for
// the terminating NUL. False (and the connection closing) past the limit or
// when memory runs out.
bool httpserver_reserve(httpserver_connection *connection);
