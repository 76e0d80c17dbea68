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
// kernel's queue until the next poll accepts them all.
constexpr int LISTEN_BACKLOG = 128;

#ifdef MSG_NOSIGNAL
// A peer that has gone away must fail the send, not end the engine.
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;
#endif

int listen_socket = -1;
bool started = false;
httpserver_connection *connections = nullptr; // newest first
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
    connection->fresh = 1;
    if (peer.sin_family == AF_INET) connection->peer_address = ntohl(peer.sin_addr.s_addr);
    connection->next = connections;
    connections = connection;
    ++open_connections;
    return true;
}

// The connection that has been reading a request for the longest time,
// among those a poll has already read from; NULL when there is none.
httpserver_connection *oldest_reading_connection() {
    httpserver_connection *oldest = nullptr;
    for (httpserver_connection *c = connections; c; c = c->next)
        if (c->state <= HTTPSERVER_READING_BODY && !c->fresh) oldest = c;
    return oldest;
}

// Takes every pending connection while there is room. At the cap, a new
// client displaces the oldest one still sending its request (an idle or
// trickling client); connections that wait for the game's answer or
// receive it are never displaced, and while only such are open new
// clients wait in the kernel's queue.
void accept_pending(uint32_t now) {
    while (listen_socket >= 0) {
        httpserver_connection *displaced = nullptr;
        if (open_connections >= HTTPSERVER_MAX_CONNECTIONS) {
            displaced = oldest_reading_connection();
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

// Looks for the blank line that ends the head; once it is there, the
// request's full length is known and the connection reads the body.
void scan_head(httpserver_connection *connection) {
    const char *buffer = connection->buffer;
    uint32_t length = connection->position;
    uint32_t line_start = 0;
    uint32_t lines = 0;
    bool has_length = false;
    uint64_t content_length = 0;
    for (;;) {
        const char *feed = (const char *)memchr(buffer + line_start, '\n', length - line_start);
        if (!feed) return;
        uint32_t feed_index = (uint32_t)(feed - buffer);
        uint32_t line_length = feed_index - line_start;
        if (line_length > 0 && buffer[feed_index - 1] == '\r') --line_length;
        const char *line = buffer + line_start;
        if (line_length == 0) {
            uint64_t expected = (uint64_t)feed_index + 1 + content_length;
            if (expected > HTTPSERVER_REQUEST_LIMIT) {
                close_connection(connection);
                return;
            }
            connection->line_count = lines;
            connection->expected_length = (uint32_t)expected;
            connection->state = HTTPSERVER_READING_BODY;
            return;
        }
        if (line_length >= 16 && SDL_strncasecmp(line, "Content-Length:", 15) == 0) {
            if (has_length || !parse_content_length(line + 15, line_length - 15, &content_length)) {
                close_connection(connection);
                return;
            }
            has_length = true;
        }
        ++lines;
        line_start = feed_index + 1;
    }
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
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
        // A NUL inside the head ends it: the lines so far, no body.
        if (!feed || memchr(line, 0, (size_t)(feed - line))) break;
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

void read_step(httpserver_connection *connection, uint32_t now, httpserver_request **completed) {
    if (connection->state == HTTPSERVER_READING_HEAD && deadline_passed(connection->head_deadline, now)) {
        close_connection(connection);
        return;
    }
    if (!httpserver_reserve(connection)) return;
    uint32_t free_space = connection->size - connection->position;
    ssize_t got = recv(connection->socket, connection->buffer + connection->position, free_space - 1, 0);
    if (got > 0) {
        connection->deadline = now + HTTPSERVER_IDLE_MS;
        httpserver_request *request = httpserver_received(connection, (uint32_t)got);
        if (request) {
            request->next = *completed;
            *completed = request;
        }
    } else if (got == 0 || !would_block(errno)) {
        close_connection(connection);
    } else {
        close_when_idle(connection, now);
    }
}

void send_step(httpserver_connection *connection, uint32_t now) {
    ssize_t sent = send(connection->socket, connection->buffer + connection->position,
                        connection->size - connection->position, SEND_FLAGS);
    if (sent > 0) {
        connection->position += (uint32_t)sent;
        connection->deadline = now + HTTPSERVER_IDLE_MS;
        if (connection->position >= connection->size) close_connection(connection);
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

const char *const SHUTDOWN_HEADERS[] = {"Content-Type: text/plain; charset=utf-8"};
const char SHUTDOWN_BODY[] = "This server is shutting down, sorry.\n";

void answer_for_shutdown(httpserver_connection *connection) {
    if (connection->request) {
        httpserver_respond(connection->request, 503, SHUTDOWN_HEADERS, 1, SHUTDOWN_BODY, sizeof(SHUTDOWN_BODY) - 1);
    } else {
        httpserver_build_response(connection, 503, SHUTDOWN_HEADERS, 1, SHUTDOWN_BODY, sizeof(SHUTDOWN_BODY) - 1);
    }
}

} // namespace

bool httpserver_reserve(httpserver_connection *connection) {
    if (connection->size > HTTPSERVER_REQUEST_LIMIT) {
        close_connection(connection);
        return false;
    }
    if (connection->size - connection->position < HTTPSERVER_BUFFER_STEP) {
        char *grown = (char *)SDL_realloc(connection->buffer, connection->size + HTTPSERVER_BUFFER_STEP);
        if (!grown) {
            close_connection(connection);
            return false;
        }
        connection->buffer = grown;
        connection->size += HTTPSERVER_BUFFER_STEP;
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
    uint32_t now = SDL_GetTicks();
    accept_pending(now);
    now = SDL_GetTicks();
    httpserver_request *completed = nullptr;
    httpserver_connection **link = &connections;
    while (httpserver_connection *connection = *link) {
        connection->fresh = 0;
        switch (connection->state) {
        case HTTPSERVER_READING_HEAD:
        case HTTPSERVER_READING_BODY:
            read_step(connection, now, &completed);
            break;
        case HTTPSERVER_SENDING:
            send_step(connection, now);
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

void httpserver_build_response(httpserver_connection *connection, int status, const char *const *header_lines,
                               uint32_t header_count, const char *body, uint32_t body_length) {
    if (!connection || connection->state != HTTPSERVER_WAITING) return;
    if (connection->is_head || !body) body_length = 0;
    static const char HEAD_FORMAT[] = "HTTP/1.0 %d %s\r\n%sContent-Length: %u\r\nConnection: close\r\n";
    static const char DEFAULT_TYPE[] = "Content-Type: text/html; charset=utf-8\r\n";
    bool caller_type = false;
    uint64_t room = sizeof(HEAD_FORMAT) + (uint64_t)body_length + 32 + sizeof(DEFAULT_TYPE);
    for (uint32_t i = 0; i < header_count; ++i) {
        const char *line = header_lines[i];
        if (starts_with_nocase(line, "Content-Type:")) caller_type = true;
        room += SDL_strlen(line) + 2;
    }
    char *answer = room < UINT32_MAX ? (char *)SDL_malloc((size_t)room) : nullptr;
    if (!answer) {
        close_connection(connection);
        return;
    }
    int written = SDL_snprintf(answer, (size_t)room, HEAD_FORMAT, status, status <= 399 ? ":)" : ":(",
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
    connection->position = 0;
    connection->deadline = SDL_GetTicks() + HTTPSERVER_IDLE_MS;
    connection->state = HTTPSERVER_SENDING;
}

int httpserver_respond(httpserver_request *request, int status, const char *const *header_lines,
                       uint32_t header_count, const char *body, uint32_t body_length) {
    httpserver_connection *connection = waiting_connection_of(request);
    if (!connection) return 0;
    connection->request = nullptr;
    httpserver_build_response(connection, status, header_lines, header_count, body, body_length);
    SDL_free(request);
    return 1;
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
            httpserver_respond(request, 503, SHUTDOWN_HEADERS, 1, SHUTDOWN_BODY, sizeof(SHUTDOWN_BODY) - 1);
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
    open_connections = 0;
    started = false;
}
