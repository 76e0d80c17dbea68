#include "http_client.h"
#include "http_server.h"
#include "local_address.h"

#include "../host/engine_log.h"
#include "../host/fileio.h"
#include "../host/metadata.h"

// Only the constants and types of libcurl's headers are used: the library
// itself is opened at run time, so a machine without it still runs games.
#define CURL_DISABLE_TYPECHECK
#define CURL_DISABLE_DEPRECATION
#include <curl/curl.h>

#include <SDL2/SDL.h>
#include <cstring>
#include <physfs.h>

static_assert(HTTP_ERROR_TEXT_SIZE >= CURL_ERROR_SIZE, "libcurl writes up to CURL_ERROR_SIZE bytes of error text");

namespace {

#if defined(__APPLE__)
const char *const CURL_LIBRARY_NAME = "libcurl.4.dylib";
#elif defined(_WIN32)
const char *const CURL_LIBRARY_NAME = "libcurl.dll";
#else
const char *const CURL_LIBRARY_NAME = "libcurl.so.4";
#endif

// The 22 functions of libcurl the client uses, bound by name.
struct curl_api {
    CURL *(*easy_init)();
    void (*easy_cleanup)(CURL *);
    CURLcode (*easy_setopt)(CURL *, CURLoption, ...);
    CURLcode (*global_init)(long);
    void (*global_cleanup)();
    CURLM *(*multi_init)();
    CURLMcode (*multi_cleanup)(CURLM *);
    CURLMcode (*multi_perform)(CURLM *, int *);
    CURLMsg *(*multi_info_read)(CURLM *, int *);
    CURLMcode (*multi_add_handle)(CURLM *, CURL *);
    CURLMcode (*multi_remove_handle)(CURLM *, CURL *);
    CURLSH *(*share_init)();
    CURLSHcode (*share_setopt)(CURLSH *, CURLSHoption, ...);
    CURLSHcode (*share_cleanup)(CURLSH *);
    curl_version_info_data *(*version_info)(CURLversion);
    const char *(*easy_strerror)(CURLcode);
    CURLcode (*easy_getinfo)(CURL *, CURLINFO, ...);
    void (*slist_free_all)(curl_slist *);
    curl_slist *(*slist_append)(curl_slist *, const char *);
    CURLFORMcode (*formadd)(curl_httppost **, curl_httppost **, ...);
    void (*formfree)(curl_httppost *);
    CURLcode (*easy_pause)(CURL *, int);
};

struct http_client_state {
    bool bound;
    void *library;
    curl_api curl;
    char *user_agent;
    bool global_initialised;
    CURLM *multi;
    CURLSH *share;
    // The transfers started and not finished, so that a cancelled one can
    // be ended while no data arrives for it.
    http_request **running;
    size_t running_count;
    size_t running_capacity;
    // Pieces libcurl has passed on, over all transfers.
    uint64_t pieces;
};

http_client_state client;

// Apart from the client's state: a bound the game set outlives the
// library's release.
uint64_t response_limit = HTTP_RESPONSE_LIMIT_DEFAULT;

// Counts bytes of the answer about to be handed to the caller; false (the
// transfer ends) when they would take it past its bound.
bool keep_response_bytes(http_request *request, uint64_t count) {
    if (count > request->response_limit - request->response_kept) {
        request->over_limit = 1;
        return false;
    }
    request->response_kept += count;
    return true;
}

// One header line (its key and value, each NUL-terminated, in one block) or
// a run of body bytes.
struct http_arrival {
    char *bytes;
    size_t key_length; // a header line's
    size_t length;     // the value's, or the body bytes held
    size_t capacity;   // of a body run
    bool body;
};

} // namespace

struct http_arrivals {
    http_arrival *items;
    size_t head, count, capacity;
    uint32_t lines;      // header lines waiting
    uint64_t body_bytes; // body bytes waiting
};

namespace {

// Whether the caller has a frame's worth waiting, or libcurl has passed on
// a frame's worth of pieces: then libcurl is held back until the next frame.
bool arrivals_full(const http_request *request) {
    const http_arrivals *arrived = request->arrived;
    return request->pieces_this_frame >= HTTP_FRAME_PIECES ||
           (arrived && (arrived->lines >= HTTP_FRAME_HEADER_LINES || arrived->body_bytes >= HTTP_FRAME_BODY_BYTES));
}

void free_arrivals(http_request *request) {
    http_arrivals *arrived = request->arrived;
    if (!arrived) return;
    for (size_t i = arrived->head; i < arrived->count; ++i) SDL_free(arrived->items[i].bytes);
    SDL_free(arrived->items);
    SDL_free(arrived);
    request->arrived = nullptr;
}

// The next free item of the transfer's arrivals; NULL when memory runs out.
http_arrival *new_arrival(http_request *request) {
    if (!request->arrived) request->arrived = (http_arrivals *)SDL_calloc(1, sizeof(http_arrivals));
    http_arrivals *arrived = request->arrived;
    if (!arrived) return nullptr;
    if (arrived->count == arrived->capacity) {
        size_t capacity = arrived->capacity ? arrived->capacity * 2 : 16;
        void *grown = SDL_realloc(arrived->items, capacity * sizeof(http_arrival));
        if (!grown) return nullptr;
        arrived->items = (http_arrival *)grown;
        arrived->capacity = capacity;
    }
    http_arrival *item = &arrived->items[arrived->count];
    *item = http_arrival{};
    return item;
}

bool arrive_header(http_request *request, const char *key, size_t key_length, const char *value,
                   size_t value_length) {
    http_arrival *item = new_arrival(request);
    char *bytes = item ? (char *)SDL_malloc(key_length + value_length + 2) : nullptr;
    if (!bytes) return false;
    SDL_memcpy(bytes, key, key_length);
    bytes[key_length] = 0;
    SDL_memcpy(bytes + key_length + 1, value, value_length);
    bytes[key_length + 1 + value_length] = 0;
    *item = http_arrival{bytes, key_length, value_length, 0, false};
    request->arrived->count++;
    request->arrived->lines++;
    return true;
}

// Body bytes join the run that arrived last, when it is body.
bool arrive_body(http_request *request, const char *data, size_t length) {
    http_arrivals *arrived = request->arrived;
    http_arrival *item = arrived && arrived->count > arrived->head ? &arrived->items[arrived->count - 1] : nullptr;
    if (!item || !item->body) {
        item = new_arrival(request);
        if (!item) return false;
        item->body = true;
        request->arrived->count++;
    }
    if (item->length + length > item->capacity) {
        size_t capacity = item->capacity ? item->capacity : 16384;
        while (capacity < item->length + length) capacity *= 2;
        char *grown = (char *)SDL_realloc(item->bytes, capacity);
        if (!grown) return false;
        item->bytes = grown;
        item->capacity = capacity;
    }
    SDL_memcpy(item->bytes + item->length, data, length);
    item->length += length;
    request->arrived->body_bytes += length;
    return true;
}

// Hands the caller what arrived, in the order it came, up to a frame's
// worth: each header line to on_header, and the body bytes between two
// header lines as one chunk to on_data. False when a callback answered zero.
bool hand_over(http_request *request) {
    http_arrivals *arrived = request->arrived;
    if (!arrived) return true;
    uint32_t lines = 0;
    uint64_t bytes = 0;
    bool go_on = true;
    while (go_on && arrived->head < arrived->count) {
        http_arrival &item = arrived->items[arrived->head];
        size_t length = item.length;
        if (item.body) {
            if (bytes == HTTP_FRAME_BODY_BYTES) break;
            length = (size_t)SDL_min((uint64_t)item.length, HTTP_FRAME_BODY_BYTES - bytes);
            bytes += length;
        } else {
            if (lines == HTTP_FRAME_HEADER_LINES) break;
            ++lines;
        }
        request->key = item.body ? nullptr : item.bytes;
        request->key_length = item.body ? 0 : (uint32_t)item.key_length;
        request->value = (const uint8_t *)(item.body ? item.bytes : item.bytes + item.key_length + 1);
        request->value_length = (uint32_t)length;
        http_request_callback callback = item.body ? request->on_data : request->on_header;
        go_on = !callback || callback(request);
        request->key = nullptr;
        request->key_length = 0;
        request->value = nullptr;
        request->value_length = 0;
        if (item.body) {
            arrived->body_bytes -= length;
            // The rest moves to the front, where more may join it.
            item.length -= length;
            SDL_memmove(item.bytes, item.bytes + length, item.length);
            if (item.length > 0) continue;
        } else {
            arrived->lines--;
        }
        SDL_free(item.bytes);
        arrived->head++;
    }
    // What is left moves to the front, so the items never creep along.
    size_t left = arrived->count - arrived->head;
    SDL_memmove(arrived->items, arrived->items + arrived->head, left * sizeof(http_arrival));
    arrived->head = 0;
    arrived->count = left;
    return go_on;
}

bool has_arrivals(const http_request *request) {
    return request->arrived && request->arrived->count > request->arrived->head;
}

struct curl_symbol {
    const char *name;
    void **slot;
};

// The order of the lookups is the order of the names here.
const curl_symbol curl_symbols[] = {
    {"curl_easy_init", (void **)&client.curl.easy_init},
    {"curl_easy_cleanup", (void **)&client.curl.easy_cleanup},
    {"curl_easy_setopt", (void **)&client.curl.easy_setopt},
    {"curl_global_init", (void **)&client.curl.global_init},
    {"curl_global_cleanup", (void **)&client.curl.global_cleanup},
    {"curl_multi_init", (void **)&client.curl.multi_init},
    {"curl_multi_cleanup", (void **)&client.curl.multi_cleanup},
    {"curl_multi_perform", (void **)&client.curl.multi_perform},
    {"curl_multi_info_read", (void **)&client.curl.multi_info_read},
    {"curl_multi_add_handle", (void **)&client.curl.multi_add_handle},
    {"curl_multi_remove_handle", (void **)&client.curl.multi_remove_handle},
    {"curl_share_init", (void **)&client.curl.share_init},
    {"curl_share_setopt", (void **)&client.curl.share_setopt},
    {"curl_share_cleanup", (void **)&client.curl.share_cleanup},
    {"curl_version_info", (void **)&client.curl.version_info},
    {"curl_easy_strerror", (void **)&client.curl.easy_strerror},
    {"curl_easy_getinfo", (void **)&client.curl.easy_getinfo},
    {"curl_slist_free_all", (void **)&client.curl.slist_free_all},
    {"curl_slist_append", (void **)&client.curl.slist_append},
    {"curl_formadd", (void **)&client.curl.formadd},
    {"curl_formfree", (void **)&client.curl.formfree},
    {"curl_easy_pause", (void **)&client.curl.easy_pause},
};

// Requests answer nil on a machine without libcurl; the reason is said once
// per run, not on every attempt.
void report_unavailable(const char *why) {
    static bool reported = false;
    if (reported) return;
    reported = true;
    SDL_Log("* WARNING: HTTP requests are unavailable: %s could not be used (%s).", CURL_LIBRARY_NAME, why);
}

bool bind_library() {
    if (client.bound) return true;
    client.library = SDL_LoadObject(CURL_LIBRARY_NAME);
    if (!client.library) {
        report_unavailable(SDL_GetError());
        return false;
    }
    for (const curl_symbol &symbol : curl_symbols) {
        *symbol.slot = SDL_LoadFunction(client.library, symbol.name);
        if (!*symbol.slot) {
            report_unavailable(symbol.name);
            http_quit();
            return false;
        }
    }
    const game_metadata_record *metadata = game_metadata();
    client.user_agent = sprintf_alloc("Vellumcore-%s-%s/%s (%s)", metadata->devid, metadata->gameid,
                                      metadata->version, SDL_GetPlatform());
    if (!client.user_agent) {
        http_quit();
        return false;
    }
    client.global_initialised = client.curl.global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    if (!client.global_initialised) {
        http_quit();
        return false;
    }
    client.multi = client.curl.multi_init();
    client.share = client.multi ? client.curl.share_init() : nullptr;
    if (!client.share) {
        http_quit();
        return false;
    }
    client.curl.share_setopt(client.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    client.curl.share_setopt(client.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    client.curl.share_setopt(client.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    client.bound = true;
    return true;
}

bool add_running(http_request *request) {
    if (client.running_count == client.running_capacity) {
        size_t capacity = client.running_capacity ? client.running_capacity * 2 : 16;
        void *grown = SDL_realloc(client.running, capacity * sizeof(http_request *));
        if (!grown) return false;
        client.running = (http_request **)grown;
        client.running_capacity = capacity;
    }
    client.running[client.running_count++] = request;
    return true;
}

void remove_running(http_request *request) {
    for (size_t i = 0; i < client.running_count; ++i) {
        if (client.running[i] != request) continue;
        client.running[i] = client.running[--client.running_count];
        return;
    }
}

void release_transfer(http_request *request) {
    if (request->easy) {
        if (client.multi) client.curl.multi_remove_handle(client.multi, (CURL *)request->easy);
        client.curl.easy_cleanup((CURL *)request->easy);
    }
    if (request->header_list) client.curl.slist_free_all((curl_slist *)request->header_list);
    if (request->form) client.curl.formfree((curl_httppost *)request->form);
    if (request->upload_file) PHYSFS_close((PHYSFS_File *)request->upload_file);
    SDL_free(request->url);
    request->url = nullptr;
    request->easy = nullptr;
    request->header_list = nullptr;
    request->form = nullptr;
    request->upload_file = nullptr;
}

int fail_start(http_request *request) {
    release_transfer(request);
    request->complete = 1;
    request->response_code = -1;
    return 0;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One header line as libcurl hands it (the status line, a header, a
// trailer, or the blank line that ends them), queued for the caller; false
// when the answer passed its bound or memory ran out.
bool take_header_line(http_request *request, const char *line, size_t length) {
    const char *start = line;
    const char *end = line + length;
    while (end > start && is_blank(end[-1])) --end;
    while (start < end && is_blank(*start)) ++start;
    // A new answer (the first, or one after a redirect) begins.
    if (end - start >= 5 && !SDL_memcmp(start, "HTTP/", 5)) request->answer_body_kept = 0;
    const char *key_end = end;
    const char *value = end;
    const char *colon = start < end ? (const char *)memchr(start + 1, ':', (size_t)(end - start - 1)) : nullptr;
    if (colon) {
        value = colon + 1;
        while (value < end && is_blank(*value)) ++value;
        key_end = colon;
        while (key_end > start && is_blank(key_end[-1])) --key_end;
    }
    // The key ends at a NUL in the line, as the caller reads it.
    const char *nul = (const char *)memchr(start, 0, (size_t)(key_end - start));
    size_t key_length = (size_t)((nul ? nul : key_end) - start);
    size_t value_length = (size_t)(end - value);
    if (!request->on_header || (key_length == 0 && value_length == 0)) return true;
    if (!keep_response_bytes(request, HTTP_HEADER_LINE_COST + key_length + value_length)) return false;
    return arrive_header(request, start, key_length, value, value_length);
}

size_t header_callback(char *buffer, size_t size, size_t count, void *user) {
    http_request *request = (http_request *)user;
    if (request->response_code == 0) {
        long code = 0;
        client.curl.easy_getinfo((CURL *)request->easy, CURLINFO_RESPONSE_CODE, &code);
        request->response_code = (int32_t)code;
    }
    size_t n = size * count;
    if (n == 0) return 0;
    if (arrivals_full(request)) {
        request->paused = 1;
        return CURL_WRITEFUNC_PAUSE;
    }
    ++request->pieces_this_frame;
    ++client.pieces;
    // Lines held back while the transfer paused come as one piece.
    for (size_t at = 0; at < n;) {
        const char *line_end = (const char *)memchr(buffer + at, '\n', n - at);
        size_t length = line_end ? (size_t)(line_end - (buffer + at)) + 1 : n - at;
        if (!take_header_line(request, buffer + at, length)) return 0;
        at += length;
    }
    return n;
}

size_t write_callback(char *data, size_t size, size_t count, void *user) {
    http_request *request = (http_request *)user;
    size_t n = size * count;
    if (arrivals_full(request)) {
        request->paused = 1;
        return CURL_WRITEFUNC_PAUSE;
    }
    ++request->pieces_this_frame;
    ++client.pieces;
    request->answer_body_kept += n;
    if (!request->on_data) return n;
    if (!keep_response_bytes(request, n) || !arrive_body(request, data, n)) return 0;
    return n;
}

int progress_callback(void *user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    http_request *request = (http_request *)user;
    request->request_written = (uint64_t)ulnow;
    request->request_total = (uint64_t)ultotal;
    request->response_read = (uint64_t)dlnow;
    request->response_total = (uint64_t)dltotal;
    // The body of a redirect that libcurl follows is read and dropped
    // without reaching the write callback: what of the answer now arriving
    // was read beyond what was handed over counts against the bound too, so
    // that one that never ends fails there.
    uint64_t read = (uint64_t)dlnow;
    if (read > request->answer_body_kept &&
        read - request->answer_body_kept > request->response_limit - request->response_kept) {
        request->over_limit = 1;
        return 1;
    }
    return 0;
}

size_t read_callback(char *buffer, size_t size, size_t count, void *user) {
    http_request *request = (http_request *)user;
    PHYSFS_sint64 got = PHYSFS_readBytes((PHYSFS_File *)request->upload_file, buffer, size * count);
    if (got < 0) {
        PHYSFS_getLastErrorCode(); // reading the code clears it
        return CURL_READFUNC_ABORT;
    }
    return (size_t)got;
}

bool starts_with_nocase(const char *line, const char *prefix) {
    return SDL_strncasecmp(line, prefix, SDL_strlen(prefix)) == 0;
}

// The length of the name of a caller's User-Agent line ("User-Agent:" and
// libcurl's "User-Agent;" for an empty one), or 0 for any other line.
size_t user_agent_name_length(const char *line) {
    size_t length = SDL_strlen("User-Agent");
    return starts_with_nocase(line, "User-Agent") && (line[length] == ':' || line[length] == ';') ? length + 1 : 0;
}

// The User-Agent a request carries: the caller's own (from its User-Agent
// lines, which libcurl would otherwise send in place of the engine's) in
// front of the engine's. An engine's server recognises its own kind by it
// and runs no code for it, so no game can leave it out. NULL when memory
// runs out.
char *user_agent_for(const char *const *headers) {
    char *agent = SDL_strdup("");
    for (size_t i = 0; agent && headers && headers[i]; ++i) {
        size_t name = user_agent_name_length(headers[i]);
        if (!name) continue;
        const char *value = headers[i] + name;
        while (*value == ' ' || *value == '\t') ++value;
        if (headers[i][name - 1] == ';' || !*value) continue;
        char *joined = sprintf_alloc("%s%s ", agent, value);
        SDL_free(agent);
        agent = joined;
    }
    char *whole = agent ? sprintf_alloc("%s%s", agent, client.user_agent) : nullptr;
    SDL_free(agent);
    return whole;
}

bool append_header(http_request *request, const char *line) {
    curl_slist *list = client.curl.slist_append((curl_slist *)request->header_list, line);
    if (!list) return false;
    request->header_list = list;
    return true;
}

bool build_form(http_request *request, const char *const *fields) {
    curl_httppost *first = nullptr;
    curl_httppost *last = nullptr;
    for (size_t i = 0; fields && fields[i]; i += 2) {
        const char *value = fields[i + 1] ? fields[i + 1] : "";
        CURLFORMcode added = client.curl.formadd(&first, &last, CURLFORM_COPYNAME, fields[i], CURLFORM_COPYCONTENTS,
                                                 value, CURLFORM_END);
        // Kept even on failure so that the release frees what was added.
        request->form = first;
        if (added != CURL_FORMADD_OK) return false;
        if (!fields[i + 1]) break;
    }
    client.curl.easy_setopt((CURL *)request->easy, CURLOPT_HTTPPOST, first);
    return true;
}

bool open_upload(http_request *request, const char *path) {
    PHYSFS_File *file = path && !vfs_name_refusal(path) ? PHYSFS_openRead(path) : nullptr;
    if (!file) return false;
    request->upload_file = file;
    PHYSFS_sint64 length = PHYSFS_fileLength(file);
    CURL *easy = (CURL *)request->easy;
    client.curl.easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    client.curl.easy_setopt(easy, CURLOPT_READFUNCTION, read_callback);
    client.curl.easy_setopt(easy, CURLOPT_READDATA, request);
    client.curl.easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, (curl_off_t)(length < 0 ? -1 : length));
    return true;
}

// A game may pass on a URL a player typed or a server sent: only HTTP and
// HTTPS are spoken, for the request and every redirect. Any other scheme
// (files, raw TCP protocols) ends the transfer as a failure before anything
// is read, written or connected. A libcurl too old for the text form takes
// the bit mask; one that takes neither is not used at all.
bool allow_web_protocols_only(CURL *easy) {
    if (client.curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        client.curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK)
        return true;
    const long web = CURLPROTO_HTTP | CURLPROTO_HTTPS;
    if (client.curl.easy_setopt(easy, CURLOPT_PROTOCOLS, web) == CURLE_OK &&
        client.curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS, web) == CURLE_OK)
        return true;
    SDL_Log("* ERROR: HTTP requests are unavailable: %s cannot be limited to HTTP and HTTPS.", CURL_LIBRARY_NAME);
    return false;
}

// The connection a request is about to go out on leads to this engine's
// own server: its port, on an address of this machine.
bool leads_to_own_server(const char *address, int port) {
    uint16_t own_port = httpserver_port();
    return own_port != 0 && port == own_port && network_is_own_ipv4_address(address);
}

// Runs once the connection for each request of a transfer is made (the
// first and every redirect's), before anything is sent on it: the address
// connected to is what counts, however the redirect spelled it.
int prereq_callback(void *user, char *primary_address, char *, int primary_port, int) {
    http_request *request = (http_request *)user;
    long redirects = 0;
    client.curl.easy_getinfo((CURL *)request->easy, CURLINFO_REDIRECT_COUNT, &redirects);
    if (redirects == 0 || !leads_to_own_server(primary_address, primary_port)) return CURL_PREREQFUNC_OK;
    request->redirected_home = 1;
    return CURL_PREREQFUNC_ABORT;
}

// A server the game talks to may redirect it to this machine's own server,
// where the developer API runs code for requests from this machine; each
// request a redirect makes is looked at before it goes out. A libcurl that
// cannot show it follows no redirect at all.
void follow_redirects_elsewhere_only(CURL *easy, http_request *request) {
    if (client.curl.easy_setopt(easy, CURLOPT_PREREQFUNCTION, prereq_callback) == CURLE_OK &&
        client.curl.easy_setopt(easy, CURLOPT_PREREQDATA, request) == CURLE_OK) {
        client.curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        return;
    }
    static bool reported = false;
    if (!reported)
        SDL_Log("* WARNING: HTTP redirects are not followed: %s cannot tell where they lead.", CURL_LIBRARY_NAME);
    reported = true;
    client.curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
}

// A request the client will not send: it fails on the next tick, with
// this reason, like any transfer that failed.
int refuse_start(http_request *request, const char *url, const char *header) {
    request->url = SDL_strdup(url);
    char *shown = engine_log_escape(header, SDL_strlen(header));
    SDL_snprintf(request->error_text, sizeof(request->error_text),
                 "its header line \"%s\" holds a line break, so nothing was sent", shown ? shown : "");
    SDL_free(shown);
    request->refused = 1;
    if (!request->url || !add_running(request)) return fail_start(request);
    return 1;
}

} // namespace

int http_start_request(uint32_t kind, const char *url, const char *const *headers, const void *extra,
                       http_request *request) {
    if (!url || !request) return 0;
    if (!bind_library()) return 0;
    SDL_memset(&request->complete, 0, sizeof(http_request) - offsetof(http_request, complete));
    request->kind = kind;
    request->response_limit = response_limit;

    // A form goes out as multipart/form-data with the boundary libcurl
    // chooses; a default type in its place would make it unreadable.
    const char *default_type = kind == HTTP_KIND_POST_FORM ? nullptr : "application/octet-stream";
    for (size_t i = 0; headers && headers[i]; ++i) {
        if (starts_with_nocase(headers[i], "Content-Type:")) {
            default_type = nullptr;
            break;
        }
    }

    // A line break in a header line would send headers of the line's own
    // making.
    for (size_t i = 0; headers && headers[i]; ++i)
        if (http_line_holds_break(headers[i])) return refuse_start(request, url, headers[i]);

    CURL *easy = client.curl.easy_init();
    if (!easy) return fail_start(request);
    request->easy = easy;
    request->url = SDL_strdup(url);
    if (!request->url) return fail_start(request);
    client.curl.easy_setopt(easy, CURLOPT_SHARE, client.share);
    client.curl.easy_setopt(easy, CURLOPT_URL, url);
    if (!allow_web_protocols_only(easy)) return fail_start(request);

    for (size_t i = 0; headers && headers[i]; ++i)
        if (!user_agent_name_length(headers[i]) && !append_header(request, headers[i])) return fail_start(request);
    if (default_type) {
        char *line = sprintf_alloc("Content-Type: %s", default_type);
        bool appended = line && append_header(request, line);
        SDL_free(line);
        if (!appended) return fail_start(request);
    }

    switch (kind) {
    case HTTP_KIND_GET:
        client.curl.easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        break;
    case HTTP_KIND_POST_FORM:
        if (!append_header(request, "Expect:")) return fail_start(request);
        if (!build_form(request, (const char *const *)extra)) return fail_start(request);
        break;
    case HTTP_KIND_PUT_FILE:
        if (!open_upload(request, (const char *)extra)) return fail_start(request);
        break;
    case HTTP_KIND_HEAD:
        client.curl.easy_setopt(easy, CURLOPT_NOBODY, 1L);
        break;
    default:
        break;
    }

    client.curl.easy_setopt(easy, CURLOPT_HTTPHEADER, request->header_list);
    client.curl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, write_callback);
    client.curl.easy_setopt(easy, CURLOPT_WRITEDATA, request);
    client.curl.easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progress_callback);
    client.curl.easy_setopt(easy, CURLOPT_XFERINFODATA, request);
    client.curl.easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    client.curl.easy_setopt(easy, CURLOPT_HEADERFUNCTION, header_callback);
    client.curl.easy_setopt(easy, CURLOPT_HEADERDATA, request);
    client.curl.easy_setopt(easy, CURLOPT_BUFFERSIZE, HTTP_RECEIVE_BUFFER_BYTES);
    char *agent = user_agent_for(headers);
    if (!agent) return fail_start(request);
    client.curl.easy_setopt(easy, CURLOPT_USERAGENT, agent); // libcurl keeps a copy
    SDL_free(agent);
    follow_redirects_elsewhere_only(easy, request);
    // A server that redirects in a circle would otherwise keep the
    // transfer going forever.
    client.curl.easy_setopt(easy, CURLOPT_MAXREDIRS, HTTP_MAX_REDIRECTS);
    client.curl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, HTTP_CONNECT_TIMEOUT_MS);
    client.curl.easy_setopt(easy, CURLOPT_ERRORBUFFER, request->error_text);
    client.curl.easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    client.curl.easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    client.curl.easy_setopt(easy, CURLOPT_PRIVATE, request);

    // A transfer the multi handle refused would never finish: it is
    // reported as not started instead.
    CURLMcode added = client.curl.multi_add_handle(client.multi, easy);
    if (added != CURLM_OK) {
        SDL_Log("* ERROR: An HTTP request could not be started (multi handle error %d).", (int)added);
        return fail_start(request);
    }
    if (!add_running(request)) return fail_start(request);
    return 1;
}

int http_get(const char *url, const char *const *headers, http_request *request) {
    return http_start_request(HTTP_KIND_GET, url, headers, nullptr, request);
}

int http_head(const char *url, const char *const *headers, http_request *request) {
    return http_start_request(HTTP_KIND_HEAD, url, headers, nullptr, request);
}

int http_post(const char *url, const char *const *headers, const char *const *form_fields, http_request *request) {
    return http_start_request(HTTP_KIND_POST_FORM, url, headers, form_fields, request);
}

namespace {

bool is_scheme_character(char c) {
    return SDL_isalnum((unsigned char)c) || c == '+' || c == '-' || c == '.';
}

// The URL as the log shows it (the log is served to the network by the
// developer API): without the user name and password that may stand
// before its host, and with control characters escaped, so that a line
// break in it cannot forge a log line. NULL when memory runs out.
char *loggable_url(const char *url) {
    const char *authority = SDL_strstr(url, "://");
    bool has_scheme = authority && authority > url;
    for (const char *c = url; has_scheme && c < authority; ++c) has_scheme = is_scheme_character(*c);
    authority = has_scheme ? authority + 3 : url;
    const char *host = authority;
    for (const char *c = authority; *c && !SDL_strchr("/?#", *c); ++c)
        if (*c == '@') host = c + 1;
    char *joined = sprintf_alloc("%.*s%s", (int)(authority - url), url, host);
    char *shown = joined ? engine_log_escape(joined, SDL_strlen(joined)) : nullptr;
    SDL_free(joined);
    return shown;
}

// Says once why a transfer the caller did not end failed: libcurl's reason
// (a refused connection and a bad certificate look different), or the
// client's own.
void report_failure(http_request *request, CURLcode result) {
    char *url = loggable_url(request->url ? request->url : "(unknown)");
    if (request->over_limit) {
        SDL_Log("* WARNING: The HTTP request to %s failed: its answer came to more than %llu bytes, the most one "
                "answer may hold ($qmx.http_response_limit), so it was ended and what had arrived let go.",
                url ? url : "", (unsigned long long)request->response_limit);
    } else if (request->redirected_home) {
        char *effective = nullptr;
        client.curl.easy_getinfo((CURL *)request->easy, CURLINFO_EFFECTIVE_URL, &effective);
        char *target = loggable_url(effective ? effective : "");
        SDL_Log("* WARNING: The HTTP request to %s failed: a redirect led to this engine's own server (%s), "
                "which the engine's own requests never reach by a redirect.", url ? url : "", target ? target : "");
        SDL_free(target);
    } else {
        const char *reason = request->error_text[0] ? request->error_text : client.curl.easy_strerror(result);
        char *shown = engine_log_escape(reason, SDL_strlen(reason));
        SDL_Log("* WARNING: The HTTP request to %s failed: %s", url ? url : "", shown ? shown : "");
        SDL_free(shown);
    }
    SDL_free(url);
}

// libcurl is done with the transfer: its outcome is kept and said once
// when the caller did not ask for it (through cancel or a callback's zero),
// and libcurl's part is let go. What arrived before a failure still reaches
// the caller, unless the answer passed its bound.
void end_with_curl(http_request *request, bool failed, CURLcode result) {
    if (request->finished) return;
    request->finished = 1;
    request->finished_failed = failed;
    if (failed) {
        if (!request->cancel) report_failure(request, result);
    } else {
        long code = 0;
        client.curl.easy_getinfo((CURL *)request->easy, CURLINFO_RESPONSE_CODE, &code);
        request->response_code = (int32_t)code;
    }
    if (failed && (request->over_limit || request->cancel)) free_arrivals(request);
    release_transfer(request);
}

// Hands a finished transfer back to its caller.
void finish_transfer(http_request *request) {
    remove_running(request);
    free_arrivals(request);
    request->complete = 1;
    request->key = nullptr;
    request->key_length = 0;
    request->value = nullptr;
    request->value_length = 0;
    if (request->finished_failed) request->response_code = -1;
    // The record is the caller's again from here on (it may be freed).
    if (request->on_done) request->on_done(request);
}

// Lets libcurl go on with a transfer it held back, once its caller has had
// what arrived before: what it held comes first.
void resume(http_request *request) {
    request->pieces_this_frame = 0;
    if (!request->paused || !request->easy || arrivals_full(request)) return;
    request->paused = 0;
    CURLcode resumed = client.curl.easy_pause((CURL *)request->easy, CURLPAUSE_CONT);
    if (resumed != CURLE_OK) end_with_curl(request, true, resumed);
}

// The transfers due to end now, one at a time: a done callback may start
// or end others.
void finish_due_transfers() {
    for (size_t i = 0; i < client.running_count;) {
        http_request *request = client.running[i];
        if (request->cancel || request->refused) {
            end_with_curl(request, true, CURLE_ABORTED_BY_CALLBACK);
            // Cancelled while what arrived was still being handed over.
            request->finished_failed = 1;
            free_arrivals(request);
        }
        if (request->finished && !has_arrivals(request)) {
            finish_transfer(request);
            i = 0;
        } else {
            ++i;
        }
    }
}

} // namespace

void http_tick() {
    if (!client.bound) return;
    // Ended first, so that a transfer cancelled during the game's tick stops
    // in this frame whether or not its server sends anything.
    finish_due_transfers();
    for (size_t i = 0; i < client.running_count; ++i) resume(client.running[i]);
    // Again while data keeps coming: each call reads a bounded amount.
    for (int read = 0; read < HTTP_READS_PER_FRAME; ++read) {
        uint64_t before = client.pieces;
        int running = 0;
        client.curl.multi_perform(client.multi, &running);
        int left = 0;
        while (CURLMsg *message = client.curl.multi_info_read(client.multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL *easy = message->easy_handle;
            CURLcode result = message->data.result;
            char *user = nullptr;
            client.curl.easy_getinfo(easy, CURLINFO_PRIVATE, &user);
            http_request *request = (http_request *)user;
            if (!request) continue;
            end_with_curl(request, result != CURLE_OK, result);
        }
        if (client.pieces == before) break;
    }
    // Each caller gets a frame's worth of what arrived; a callback that
    // answers zero ends its transfer.
    for (size_t i = 0; i < client.running_count; ++i)
        if (!hand_over(client.running[i])) client.running[i]->cancel = 1;
    finish_due_transfers();
}

void http_set_response_limit(uint64_t bytes) {
    if (bytes > 0) response_limit = bytes;
}

uint64_t http_response_limit() {
    return response_limit;
}

void http_quit() {
    for (size_t i = 0; i < client.running_count; ++i) free_arrivals(client.running[i]);
    if (client.share) client.curl.share_cleanup(client.share);
    if (client.multi) client.curl.multi_cleanup(client.multi);
    if (client.global_initialised) client.curl.global_cleanup();
    if (client.library) SDL_UnloadObject(client.library);
    SDL_free(client.user_agent);
    SDL_free(client.running);
    client = http_client_state{};
}
