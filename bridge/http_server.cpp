#include "http_server.h"

#include <SDL2/SDL.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint32_t SHUTDOWN_WINDOW_MS = 300;
constexpr uint32_t SHUTDOWN_STEP_MS = 10;
// Room for a burst of clients that connect at once: they wait in the
// kernel's queue until a poll has a slot for each.
constexpr int LISTEN_BACKLOG = 128;

#ifdef MSG_NOSIGNAL
// A peer that has gone away must fail the send, not end the engine.
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;
#endif

const char *const TEXT_HEADERS[] = {"Content-Type: text/plain; charset=utf-8"};

// The engine's own answers: plain text to a connection that waits for one.
void answer_text(httpserver_connection *connection, int status, const char *body) {
    httpserver_build_response(connection, status, TEXT_HEADERS, 1, body, (uint32_t)SDL_strlen(body));
}

int listen_socket = -1;
bool started = false;
uint16_t listen_port = 0;
httpserver_connection *connections = nullptr; // newest first
httpserver_request *orphans = nullptr;         // handed out, their clients gone, not answered yet
uint32_t open_connections = 0;                 // connections whose socket is still open

void close_connection(httpserver_connection *connection) {
    connection->state = HTTPSERVER_CLOSING;
}

void mark_closed(httpserver_connection *connection) {
    connection->state = HTTPSERVER_CLOSED;
    --open_connections;
}

bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Errors that concern one pending connection, or a shortage that passes;
// the listening socket stays.
bool accept_error_is_transient(int error) {
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ECONNABORTED:
    case EINTR:
    case EPROTO:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
#ifdef ENONET
    case ENONET:
#endif
        return true;
    default:
        return false;
    }
}

bool set_socket_flags(int socket) {
    int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return false;
    // Shell commands the game runs must not inherit the server's sockets.
    int fd_flags = fcntl(socket, F_GETFD, 0);
    return fd_flags >= 0 && fcntl(socket, F_SETFD, fd_flags | FD_CLOEXEC) >= 0;
}

// False when nothing more can be accepted during this poll.
bool accept_one(uint32_t now) {
    sockaddr_in peer{};
    socklen_t peer_length = sizeof(peer);
    int socket = accept(listen_socket, (sockaddr *)&peer, &peer_length);
    if (socket < 0) {
        int error = errno;
        if (accept_error_is_transient(error)) return false;
        SDL_Log("* ERROR: The HTTP server stopped accepting connections (%s).", strerror(error));
        close(listen_socket);
        listen_socket = -1;
        return false;
    }
    httpserver_connection *connection =
        set_socket_flags(socket) ? (httpserver_connection *)SDL_calloc(1, sizeof(httpserver_connection)) : nullptr;
    if (!connection) {
        close(socket);
        return true;
    }
    connection->socket = socket;
    connection->state = HTTPSERVER_READING_HEAD;
    connection->deadline = now + HTTPSERVER_IDLE_MS;
    connection->head_deadline = now + HTTPSERVER_HEAD_MS;
    connection->progress_at = now;
    if (peer.sin_family == AF_INET) connection->peer_address = ntohl(peer.sin_addr.s_addr);
    connection->next = connections;
    connections = connection;
    ++open_connections;
    return true;
}

// Among the connections still reading a request or lingering after their
// answer, the one idle longest, if it has been idle for
// HTTPSERVER_DISPLACE_IDLE_MS; NULL when there is none.
httpserver_connection *longest_idle_connection(uint32_t now) {
    httpserver_connection *idlest = nullptr;
    for (httpserver_connection *c = connections; c; c = c->next) {
        if (c->state > HTTPSERVER_READING_BODY && c->state != HTTPSERVER_LINGERING) continue;
        uint32_t idle = now - c->progress_at;
        if (idle >= HTTPSERVER_DISPLACE_IDLE_MS && (!idlest || idle >= now - idlest->progress_at)) idlest = c;
    }
    return idlest;
}

// Takes every pending connection while there is room. At the cap, a new
// client displaces the connection idle longest, when one has held its slot
// without progress for a while; connections that wait for the game's answer
// or receive it are never displaced. Until a slot frees, new clients wait in
// the kernel's queue: a burst larger than the cap is answered in turn.
void accept_pending(uint32_t now) {
    while (listen_socket >= 0) {
        httpserver_connection *displaced = nullptr;
        if (open_connections >= HTTPSERVER_MAX_CONNECTIONS) {
            displaced = longest_idle_connection(now);
            if (!displaced) return;
        }
        if (!accept_one(now)) return;
        if (displaced) {
            close(displaced->socket);
            mark_closed(displaced);
        }
    }
}

// Deadlines count in the 32-bit millisecond clock; the signed difference
// survives its wrap.
bool deadline_passed(uint32_t deadline, uint32_t now) { return (int32_t)(deadline - now) <= 0; }

void close_when_idle(httpserver_connection *connection, uint32_t now) {
    if (deadline_passed(connection->deadline, now)) close_connection(connection);
}

// Digits only (blanks around them allowed), and never more than the request
// limit: a sign or a value that would wrap cannot pass.
bool parse_content_length(const char *text, uint32_t length, uint64_t *out) {
    uint32_t at = 0;
    while (at < length && (text[at] == ' ' || text[at] == '\t')) ++at;
    uint32_t digits = 0;
    uint64_t value = 0;
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (uint64_t)(text[at] - '0');
        if (value > HTTPSERVER_REQUEST_LIMIT) return false;
        ++at;
        ++digits;
    }
    while (at < length && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (digits == 0 || at != length) return false;
    *out = value;
    return true;
}

// Answers a request that is never handed out; what the client still sends
// is read and dropped until the connection closes.
void refuse(httpserver_connection *connection, int status, const char *body) {
    connection->state = HTTPSERVER_WAITING;
    answer_text(connection, status, body);
}

const char LENGTH_REQUIRED_BODY[] = "Length required: send a body with a Content-Length, "
                                    "not without one or with a Transfer-Encoding such as chunked.\n";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_token_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c && SDL_strchr("!#$%&'*+-.^_`|~", c));
}

// A request line the server can route: an HTTP token of a sane length as
// its method, then a blank.
bool routable_request_line(const char *line, uint32_t length) {
    uint32_t at = 0;
    while (at < length && at <= HTTPSERVER_METHOD_LIMIT && is_token_character(line[at])) ++at;
    return at > 0 && at <= HTTPSERVER_METHOD_LIMIT && at < length && is_blank(line[at]);
}

// Whether a header line's name (the text before its colon) is `name`, in
// any letter case.
bool header_named(const char *line, uint32_t length, const char *name) {
    const char *colon = (const char *)memchr(line, ':', length);
    if (!colon) return false;
    size_t name_length = (size_t)(colon - line);
    return name_length == SDL_strlen(name) && SDL_strncasecmp(line, name, name_length) == 0;
}

// A header line that begins with a blank continues the one before it (the
// obsolete folding), and a blank before the colon gives a name that other
// servers and proxies read without it ("Content-Length " or
// " Transfer-Encoding"): either lets one request mean two things on its
// way, so HTTP/1.1 has a server refuse both.
bool folded_or_blank_before_colon(const char *line, uint32_t length) {
    if (length > 0 && is_blank(line[0])) return true;
    const char *colon = (const char *)memchr(line, ':', length);
    for (const char *c = line; colon && c < colon; ++c)
        if (is_blank(*c)) return true;
    return false;
}

// Whether a header line is "Expect: 100-continue", in any letter case and
// with blanks around the value.
bool expects_continue(const char *line, uint32_t length) {
    if (!header_named(line, length, "Expect")) return false;
    const char *value = (const char *)memchr(line, ':', length) + 1;
    const char *end = line + length;
    while (value < end && is_blank(*value)) ++value;
    while (end > value && is_blank(end[-1])) --end;
    return end - value == 12 && SDL_strncasecmp(value, "100-continue", 12) == 0;
}

// Whether a request line ends in the version HTTP/1.0.
bool names_http10(const char *line, uint32_t length) {
    static const char VERSION[] = " HTTP/1.0";
    const uint32_t version_length = sizeof(VERSION) - 1;
    return length >= version_length && memcmp(line + length - version_length, VERSION, version_length) == 0;
}

// GET and HEAD carry no body: bytes after their head begin another
// (pipelined) request.
bool is_bodiless_method(const char *line, uint32_t length) {
    uint32_t method_length = 0;
    while (method_length < length && !is_blank(line[method_length])) ++method_length;
    return (method_length == 3 && SDL_strncasecmp(line, "GET", 3) == 0) ||
           (method_length == 4 && SDL_strncasecmp(line, "HEAD", 4) == 0);
}

// The head is complete (its blank line ends at feed_index): a request that
// cannot be served as sent is answered here, before its body; any other
// reads its body next.
void finish_head(httpserver_connection *connection, uint32_t feed_index) {
    const httpserver_head_scan &scan = connection->scan;
    // A Host or Origin given twice could pass the developer API's checks
    // with one value and mean the other.
    if (scan.hosts > 1 || scan.origins > 1) {
        refuse(connection, 400, scan.hosts > 1 ? "Bad request: more than one Host header.\n"
                                               : "Bad request: more than one Origin header.\n");
        return;
    }
    // Only a Content-Length tells this server where a body ends.
    if (scan.transfer_codings > 0) {
        refuse(connection, 411, LENGTH_REQUIRED_BODY);
        return;
    }
    uint64_t expected = (uint64_t)feed_index + 1 + scan.content_length;
    if (expected > HTTPSERVER_REQUEST_LIMIT) {
        close_connection(connection);
        return;
    }
    connection->unannounced_body = !scan.has_length && !scan.bodiless;
    if (connection->unannounced_body && connection->position > expected) {
        refuse(connection, 411, LENGTH_REQUIRED_BODY);
        return;
    }
    connection->line_count = scan.lines;
    connection->expected_length = (uint32_t)expected;
    connection->state = HTTPSERVER_READING_BODY;
    // A body that has not come in full yet is asked for (a client that
    // sends it without waiting has already begun).
    connection->continue_pending = scan.expects_continue && !scan.http10 && connection->position < expected;
}

// Reads the lines that have arrived since the last look, each byte once,
// until the blank line that ends the head.
void scan_head(httpserver_connection *connection) {
    httpserver_head_scan &scan = connection->scan;
    const char *buffer = connection->buffer;
    uint32_t length = connection->position;
    while (connection->state == HTTPSERVER_READING_HEAD) {
        const char *feed = (const char *)memchr(buffer + scan.searched, '\n', length - scan.searched);
        if (!feed) {
            scan.examined += length - scan.searched;
            scan.searched = length;
            return;
        }
        uint32_t feed_index = (uint32_t)(feed - buffer);
        scan.examined += feed_index + 1 - scan.searched;
        const char *line = buffer + scan.line_start;
        uint32_t line_length = feed_index - scan.line_start;
        if (line_length > 0 && buffer[feed_index - 1] == '\r') --line_length;
        scan.line_start = scan.searched = feed_index + 1;
        // A carriage return ends a line for some readers and not for others
        // ("Host: a\rHost: b" is one Host here, two elsewhere).
        if (memchr(line, '\r', line_length)) {
            refuse(connection, 400, "Bad request: a line of the head holds a carriage return before its end.\n");
            return;
        }
        // A NUL ends a line for C strings and not for others: the lines
        // after it (a User-Agent the developer API must see among them)
        // would be lost on the way to the game.
        if (memchr(line, 0, line_length)) {
            refuse(connection, 400, "Bad request: a line of the head holds a NUL byte.\n");
            return;
        }
        if (scan.lines == 0) {
            if (!routable_request_line(line, line_length)) {
                refuse(connection, 400, "Bad request: the request line needs an HTTP method, a blank and a path.\n");
                return;
            }
            scan.bodiless = is_bodiless_method(line, line_length);
            scan.http10 = names_http10(line, line_length);
        } else if (line_length == 0) {
            finish_head(connection, feed_index);
            return;
        } else if (scan.lines > HTTPSERVER_HEADER_LINE_LIMIT) {
            refuse(connection, 431, "Request header fields too large: too many header lines.\n");
            return;
        } else if (folded_or_blank_before_colon(line, line_length)) {
            refuse(connection, 400, "Bad request: a header line begins with a blank, or has one before its colon.\n");
            return;
        } else {
            if (line_length >= 16 && SDL_strncasecmp(line, "Content-Length:", 15) == 0) {
                uint64_t content_length = 0;
                if (scan.has_length || !parse_content_length(line + 15, line_length - 15, &content_length)) {
                    close_connection(connection);
                    return;
                }
                scan.has_length = 1;
                scan.content_length = (uint32_t)content_length;
            }
            scan.hosts += header_named(line, line_length, "Host");
            scan.origins += header_named(line, line_length, "Origin");
            scan.transfer_codings += header_named(line, line_length, "Transfer-Encoding");
            scan.expects_continue |= expects_continue(line, line_length);
        }
        ++scan.lines;
    }
}

char *find_blank(char *text) {
    while (*text && !is_blank(*text)) ++text;
    return *text ? text : nullptr;
}

httpserver_request *complete_request(httpserver_connection *connection) {
    char *buffer = connection->buffer;
    char *end = buffer + connection->position;
    *end = 0;
    connection->state = HTTPSERVER_WAITING;
    httpserver_request *request = (httpserver_request *)SDL_calloc(
        1, sizeof(httpserver_request) + connection->line_count * sizeof(char *));
    if (!request) {
        close_connection(connection);
        return nullptr;
    }
    request->headers = (char **)(request + 1);
    request->body = end;
    char *line = buffer;
    for (;;) {
        char *feed = (char *)memchr(line, '\n', (size_t)(end - line));
        // The head holds no NUL (refused while it was read).
        if (!feed) break;
        *feed = 0;
        if (feed > line && feed[-1] == '\r') feed[-1] = 0;
        if (*line == 0) {
            request->body = feed + 1;
            request->body_length = connection->expected_length - (uint32_t)(feed + 1 - buffer);
            break;
        }
        if (!request->method)
            request->method = line;
        else if (request->header_count < connection->line_count)
            request->headers[request->header_count++] = line;
        line = feed + 1;
    }
    char *blank = request->method ? find_blank(request->method) : nullptr;
    if (!blank) {
        // No request line the server can read: closed without an answer.
        SDL_free(request);
        close_connection(connection);
        return nullptr;
    }
    *blank = 0;
    request->uri = blank + 1;
    char *uri_end = find_blank(request->uri);
    if (uri_end) *uri_end = 0;
    connection->is_head = SDL_strcasecmp(request->method, "HEAD") == 0;
    request->connection = connection;
    connection->request = request;
    return request;
}

// Interim answers exist from HTTP/1.1 on, and only clients of that version
// are sent one.
const char CONTINUE_ANSWER[] = "HTTP/1.1 100 Continue\r\n\r\n";

// Tells a client that asked to go on with its body. The few bytes go out
// whole into a connection that has sent nothing yet; when the socket takes
// none just now they go on a later poll, and a part of them (which would
// leave the client a broken answer) closes the connection.
void send_continue(httpserver_connection *connection) {
    if (!connection->continue_pending || connection->state != HTTPSERVER_READING_BODY) return;
    const size_t length = sizeof(CONTINUE_ANSWER) - 1;
    ssize_t sent = send(connection->socket, CONTINUE_ANSWER, length, SEND_FLAGS);
    if (sent < 0 && would_block(errno)) return;
    connection->continue_pending = 0;
    if (sent != (ssize_t)length) close_connection(connection);
    else connection->progress_at = SDL_GetTicks();
}

// Reads what the socket holds, within the request limit, so that a large
// upload is not held to one buffer's worth a frame.
void read_step(httpserver_connection *connection, uint32_t now, httpserver_request **completed) {
    if (connection->state == HTTPSERVER_READING_HEAD && deadline_passed(connection->head_deadline, now)) {
        close_connection(connection);
        return;
    }
    bool progressed = false;
    while (connection->state <= HTTPSERVER_READING_BODY) {
        if (!httpserver_reserve(connection)) return;
        uint32_t free_space = connection->size - connection->position;
        ssize_t got = recv(connection->socket, connection->buffer + connection->position, free_space - 1, 0);
        if (got > 0) {
            progressed = true;
            httpserver_request *request = httpserver_received(connection, (uint32_t)got);
            if (request) {
                request->next = *completed;
                *completed = request;
            }
        } else if (got == 0 || !would_block(errno)) {
            close_connection(connection);
            return;
        } else {
            break;
        }
    }
    send_continue(connection);
    if (progressed) {
        connection->deadline = now + HTTPSERVER_IDLE_MS;
        connection->progress_at = now;
    } else {
        close_when_idle(connection, now);
    }
}

enum drain_result { DRAIN_OPEN, DRAIN_HUNG_UP, DRAIN_FAILED };

// Bytes that one poll reads and drops, over all connections together:
// however many clients keep sending, dropping what they send costs each
// frame little.
constexpr uint32_t DRAIN_BUDGET = 262144;
uint32_t drain_budget = 0; // left for the current poll

// Reads and drops what a client sends past its request (pipelined requests
// are not answered: the connection closes after the first answer), within
// what is left of the poll's budget. *dropped (when given) tells whether
// any byte came.
drain_result drain_input(httpserver_connection *connection, bool *dropped = nullptr) {
    char scratch[4096];
    while (drain_budget > 0) {
        ssize_t got = recv(connection->socket, scratch, SDL_min(sizeof(scratch), (size_t)drain_budget), 0);
        if (got == 0) return DRAIN_HUNG_UP;
        if (got < 0) return would_block(errno) ? DRAIN_OPEN : DRAIN_FAILED;
        drain_budget -= (uint32_t)got;
        if (dropped) *dropped = true;
    }
    return DRAIN_OPEN;
}

// The request handed out for the connection waits, without it and its
// texts, for its holder to answer it; that answer goes nowhere.
void orphan_request(httpserver_connection *connection) {
    httpserver_request *request = connection->request;
    connection->request = nullptr;
    if (!request) return;
    request->connection = nullptr;
    request->method = request->uri = request->body = nullptr;
    request->header_count = 0;
    request->body_length = 0;
    request->next = orphans;
    orphans = request;
}

// A request whose client hung up before its answer: the connection's slot
// is free at once.
void drop_waiting_request(httpserver_connection *connection) {
    orphan_request(connection);
    close_connection(connection);
}

// Every answer starts with these bytes, whatever its status.
const char STATUS_PREFIX[] = "HTTP/1.0 ";
constexpr uint32_t STATUS_PREFIX_LENGTH = sizeof(STATUS_PREFIX) - 1;

// A request waits for the game's answer. A client that has sent its request
// and then closed its sending side (as "nc -N" does) still waits for the
// answer; one that closed the connection altogether has gone. The two look
// alike until something is sent, so the answer's first bytes go out at
// once: a client that has gone answers them with a reset, which frees its
// slot on the next poll.
void wait_step(httpserver_connection *connection) {
    bool dropped = false;
    drain_result drained = drain_input(connection, &dropped);
    if (dropped && connection->unannounced_body) {
        // Bytes after the head of a request without a Content-Length: a body
        // the server cannot delimit.
        orphan_request(connection);
        answer_text(connection, 411, LENGTH_REQUIRED_BODY);
        return;
    }
    if (drained == DRAIN_FAILED) {
        drop_waiting_request(connection);
    } else if (drained == DRAIN_HUNG_UP && connection->sent_early == 0) {
        ssize_t sent = send(connection->socket, STATUS_PREFIX, STATUS_PREFIX_LENGTH, SEND_FLAGS);
        if (sent > 0) connection->sent_early = (uint32_t)sent;
        else if (sent < 0 && !would_block(errno)) drop_waiting_request(connection);
    } else if (drained == DRAIN_HUNG_UP) {
        // Once the client's end has arrived, reads no longer tell of a
        // reset; the socket's pending error does.
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(connection->socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            drop_waiting_request(connection);
    }
}

void send_step(httpserver_connection *connection, uint32_t now) {
    if (drain_input(connection) == DRAIN_FAILED) {
        close_connection(connection);
        return;
    }
    ssize_t sent = send(connection->socket, connection->buffer + connection->position,
                        connection->size - connection->position, SEND_FLAGS);
    if (sent > 0) {
        connection->position += (uint32_t)sent;
        connection->deadline = now + HTTPSERVER_IDLE_MS;
        connection->progress_at = now;
        if (connection->position >= connection->size) {
            // The end of the answer is told by closing our side only; the
            // client closes the connection once it has read it all.
            shutdown(connection->socket, SHUT_WR);
            connection->state = HTTPSERVER_LINGERING;
            connection->deadline = now + HTTPSERVER_LINGER_MS;
        }
    } else if (sent < 0 && !would_block(errno)) {
        close_connection(connection);
    } else {
        close_when_idle(connection, now);
    }
}

void free_connection(httpserver_connection *connection) {
    SDL_free(connection->request);
    SDL_free(connection->buffer);
    SDL_free(connection);
}

bool starts_with_nocase(const char *line, const char *prefix) {
    return SDL_strncasecmp(line, prefix, SDL_strlen(prefix)) == 0;
}

httpserver_connection *waiting_connection_of(httpserver_request *request) {
    for (httpserver_connection *c = connections; c; c = c->next)
        if (request && c->request == request && c->state == HTTPSERVER_WAITING) return c;
    return nullptr;
}

const char SHUTDOWN_BODY[] = "This server is shutting down, sorry.\n";

void answer_for_shutdown(httpserver_connection *connection) {
    if (connection->request) {
        httpserver_respond(connection->request, 503, TEXT_HEADERS, 1, SHUTDOWN_BODY, sizeof(SHUTDOWN_BODY) - 1);
    } else {
        answer_text(connection, 503, SHUTDOWN_BODY);
    }
}

} // namespace

bool httpserver_reserve(httpserver_connection *connection) {
    if (connection->size > HTTPSERVER_REQUEST_LIMIT) {
        close_connection(connection);
        return false;
    }
    if (connection->size - connection->position < HTTPSERVER_BUFFER_STEP) {
        uint32_t size = SDL_min(SDL_max(connection->size * 2, HTTPSERVER_BUFFER_STEP),
                                HTTPSERVER_REQUEST_LIMIT + HTTPSERVER_BUFFER_STEP);
        char *grown = (char *)SDL_realloc(connection->buffer, size);
        if (!grown) {
            close_connection(connection);
            return false;
        }
        connection->buffer = grown;
        connection->size = size;
    }
    return true;
}

httpserver_request *httpserver_received(httpserver_connection *connection, uint32_t count) {
    connection->position += count;
    if (connection->state == HTTPSERVER_READING_HEAD) scan_head(connection);
    if (connection->state == HTTPSERVER_READING_BODY && connection->position >= connection->expected_length)
        return complete_request(connection);
    return nullptr;
}

int httpserver_init(uint16_t port) {
    if (listen_socket >= 0) return 0;
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int error = errno;
    if (fd >= 0) {
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        if (set_socket_flags(fd) && bind(fd, (sockaddr *)&address, sizeof(address)) == 0 &&
            listen(fd, LISTEN_BACKLOG) == 0) {
            listen_socket = fd;
            // Port 0 lets the system choose one.
            socklen_t length = sizeof(address);
            getsockname(fd, (sockaddr *)&address, &length);
            listen_port = ntohs(address.sin_port);
            started = true;
            return 1;
        }
        error = errno;
        close(fd);
    }
    // Several engines may run side by side: the one that finds its port
    // taken goes on without a server and says so once.
    SDL_Log("* WARNING: The HTTP server could not listen on port %u (%s); it stays off for this run.",
            (unsigned)port, strerror(error));
    return 0;
}

httpserver_request *httpserver_tick() {
    drain_budget = DRAIN_BUDGET;
    uint32_t now = SDL_GetTicks();
    accept_pending(now);
    now = SDL_GetTicks();
    httpserver_request *completed = nullptr;
    httpserver_connection **link = &connections;
    while (httpserver_connection *connection = *link) {
        switch (connection->state) {
        case HTTPSERVER_READING_HEAD:
        case HTTPSERVER_READING_BODY:
            read_step(connection, now, &completed);
            break;
        case HTTPSERVER_WAITING:
            wait_step(connection);
            break;
        case HTTPSERVER_SENDING:
            send_step(connection, now);
            break;
        case HTTPSERVER_LINGERING:
            if (drain_input(connection) != DRAIN_OPEN) close_connection(connection);
            else close_when_idle(connection, now);
            break;
        case HTTPSERVER_CLOSING:
            if (close(connection->socket) == 0 || errno != EAGAIN) mark_closed(connection);
            break;
        case HTTPSERVER_CLOSED:
            *link = connection->next;
            free_connection(connection);
            continue;
        default:
            break;
        }
        link = &connection->next;
    }
    return completed;
}

bool http_line_holds_break(const char *line) {
    return SDL_strchr(line, '\r') || SDL_strchr(line, '\n');
}

namespace {

const char FAILED_BODY[] = "The game's answer could not be sent as it was given.\n";

} // namespace

int httpserver_build_response(httpserver_connection *connection, int status, const char *const *header_lines,
                              uint32_t header_count, const char *body, uint32_t body_length) {
    if (!connection || connection->state != HTTPSERVER_WAITING) return 0;
    for (uint32_t i = 0; i < header_count; ++i) {
        if (!http_line_holds_break(header_lines[i])) continue;
        answer_text(connection, 500, FAILED_BODY);
        return -1;
    }
    if (connection->is_head || !body) body_length = 0;
    static const char HEAD_FORMAT[] = "%s%d %s\r\n%sContent-Length: %u\r\nConnection: close\r\n";
    static const char DEFAULT_TYPE[] = "Content-Type: text/html; charset=utf-8\r\n";
    bool caller_type = false;
    uint64_t room = sizeof(HEAD_FORMAT) + sizeof(STATUS_PREFIX) + (uint64_t)body_length + 32 + sizeof(DEFAULT_TYPE);
    for (uint32_t i = 0; i < header_count; ++i) {
        const char *line = header_lines[i];
        if (starts_with_nocase(line, "Content-Type:")) caller_type = true;
        room += SDL_strlen(line) + 2;
    }
    char *answer = room < UINT32_MAX ? (char *)SDL_malloc((size_t)room) : nullptr;
    if (!answer) {
        close_connection(connection);
        return 0;
    }
    int written = SDL_snprintf(answer, (size_t)room, HEAD_FORMAT, STATUS_PREFIX, status, status <= 399 ? ":)" : ":(",
                               caller_type ? "" : DEFAULT_TYPE, (unsigned)body_length);
    size_t at = written > 0 ? (size_t)written : 0;
    for (uint32_t i = 0; i < header_count; ++i) {
        const char *line = header_lines[i];
        if (starts_with_nocase(line, "Content-Length:") || starts_with_nocase(line, "Connection:")) continue;
        size_t length = SDL_strlen(line);
        SDL_memcpy(answer + at, line, length);
        SDL_memcpy(answer + at + length, "\r\n", 2);
        at += length + 2;
    }
    SDL_memcpy(answer + at, "\r\n", 2);
    at += 2;
    if (body_length) SDL_memcpy(answer + at, body, body_length);
    at += body_length;
    // Built apart and swapped in: the request's texts live in the old buffer.
    SDL_free(connection->buffer);
    connection->buffer = answer;
    connection->size = (uint32_t)at;
    // What went out early is the answer's own start.
    connection->position = connection->sent_early;
    connection->deadline = SDL_GetTicks() + HTTPSERVER_IDLE_MS;
    connection->state = HTTPSERVER_SENDING;
    return 1;
}

namespace {

// Unlinks a request of the orphans; false when it is none of them.
bool take_orphan(const httpserver_request *request) {
    for (httpserver_request **link = &orphans; *link; link = &(*link)->next) {
        if (*link != request) continue;
        *link = request->next;
        return true;
    }
    return false;
}

} // namespace

int httpserver_respond(httpserver_request *request, int status, const char *const *header_lines,
                       uint32_t header_count, const char *body, uint32_t body_length) {
    httpserver_connection *connection = waiting_connection_of(request);
    if (!connection) {
        if (request && take_orphan(request)) SDL_free(request);
        return 0;
    }
    connection->request = nullptr;
    int built = httpserver_build_response(connection, status, header_lines, header_count, body, body_length);
    SDL_free(request);
    return built;
}

int httpserver_respond_failed(httpserver_request *request) {
    return httpserver_respond(request, 500, TEXT_HEADERS, 1, FAILED_BODY, sizeof(FAILED_BODY) - 1);
}

int httpserver_client_gone(const httpserver_request *request) {
    for (const httpserver_request *orphan = orphans; orphan; orphan = orphan->next)
        if (orphan == request) return 1;
    return 0;
}

void httpserver_quit() {
    if (!started) return;
    if (listen_socket >= 0) close(listen_socket);
    listen_socket = -1;
    uint32_t until = SDL_GetTicks() + SHUTDOWN_WINDOW_MS;
    while (connections) {
        httpserver_request *request = httpserver_tick();
        while (request) {
            httpserver_request *next = request->next;
            httpserver_respond(request, 503, TEXT_HEADERS, 1, SHUTDOWN_BODY, sizeof(SHUTDOWN_BODY) - 1);
            request = next;
        }
        for (httpserver_connection *c = connections; c; c = c->next) answer_for_shutdown(c);
        if (deadline_passed(until, SDL_GetTicks())) break;
        SDL_Delay(SHUTDOWN_STEP_MS);
    }
    while (httpserver_connection *connection = connections) {
        connections = connection->next;
        if (connection->state != HTTPSERVER_CLOSED) close(connection->socket);
        free_connection(connection);
    }
    while (httpserver_request *orphan = orphans) {
        orphans = orphan->next;
        SDL_free(orphan);
    }
    open_connections = 0;
    listen_port = 0;
    started = false;
}

uint16_t httpserver_port() {
    return started ? listen_port : 0;
}
