// Outgoing HTTP and HTTPS transfers over libcurl, which is opened at run time
// (never linked) on the first request. A transfer is started by one call,
// advanced by http_tick once per simulation frame, and reports through the
// three callbacks of its record. Everything runs on the simulation thread.
#pragma once

#include <cstdint>

struct http_request;
typedef int (*http_request_callback)(http_request *request);
typedef void (*http_request_done)(http_request *request);

enum http_request_kind : uint32_t {
    HTTP_KIND_GET = 0,
    HTTP_KIND_POST_FORM = 1,
    HTTP_KIND_PUT_FILE = 2,
    HTTP_KIND_HEAD = 3,
};

// Redirects a transfer follows at most; one more ends it as a failure.
constexpr long HTTP_MAX_REDIRECTS = 10;
// A connection (name look-up included) not made within this time ends the
// transfer as a failure. Once connected, a transfer runs as long as its
// server takes: the caller ends it with `cancel`.
constexpr long HTTP_CONNECT_TIMEOUT_MS = 30000;
// Room for libcurl's own description of a failure.
constexpr uint32_t HTTP_ERROR_TEXT_SIZE = 256;
// Bytes of one answer (its header names and values and its body) that a
// transfer hands its caller to keep, unless the game sets another bound: an
// answer that never ends must not fill the game's memory.
constexpr uint64_t HTTP_RESPONSE_LIMIT_DEFAULT = 256ull * 1024 * 1024;
// What one header line costs beyond its bytes: libcurl keeps every line of
// an answer (trailers too) in a record of its own, and the game's progress
// Hash gets two Strings and an entry for it. A flood of short lines is
// counted at what it takes, not at its few bytes.
constexpr uint64_t HTTP_HEADER_LINE_COST = 320;

// The most one transfer hands its caller in one frame, however its peer
// cuts or encodes the answer (a byte a chunk, a body that inflates a
// thousandfold, an endless run of trailer lines): body bytes, header lines,
// and pieces libcurl passes on (each chunk of a chunked answer is one).
// What comes beyond waits in libcurl, which reads no more meanwhile, for the
// next frames.
constexpr uint64_t HTTP_FRAME_BODY_BYTES = 2ull * 1024 * 1024;
constexpr uint32_t HTTP_FRAME_HEADER_LINES = 512;
constexpr uint32_t HTTP_FRAME_PIECES = 32768;

// What libcurl reads from the network at once. All it reads is decoded at
// once, a frame's bound reached or not: a small buffer keeps that to a few
// MiB however much a compressed body inflates. Reading is called for up to
// HTTP_READS_PER_FRAME times a frame, so plain downloads go as fast as with
// libcurl's own larger buffer.
constexpr long HTTP_RECEIVE_BUFFER_BYTES = 4096;
constexpr int HTTP_READS_PER_FRAME = 4;

// Header lines and body bytes that arrived for a transfer and wait for the
// caller, in the order they came.
struct http_arrivals;

// One transfer. The caller owns the record and fills the first four fields;
// the client clears and uses the rest. The record belongs to the client from
// a successful start until on_done has been called.
struct http_request {
    void *user;
    http_request_callback on_header; // nonzero goes on, zero aborts; may be NULL
    http_request_callback on_data;   // nonzero goes on, zero aborts; may be NULL
    http_request_done on_done;       // called once when finished; may be NULL
    uint32_t complete;
    int32_t response_code; // -1 once the transfer (or its setup) failed
    // Byte counts as libcurl gives them, whole: an answer may pass 4 GiB.
    uint64_t request_written;
    uint64_t request_total;
    uint64_t response_read;
    uint64_t response_total;
    const uint8_t *value; // header value or body chunk, only during a callback
    uint32_t value_length;
    const char *key; // header name during a header callback, else NULL
    uint32_t key_length;
    uint32_t kind;
    void *upload_file; // PHYSFS_File of a file upload
    void *easy;
    void *header_list;
    void *form;
    // Set to 1 by the caller while the transfer runs: the next http_tick
    // ends it, with or without data arriving (response_code -1, on_done
    // called). The client sets it too when a callback answered zero.
    uint32_t cancel;
    char *url;                             // a copy, for the failure message
    char error_text[HTTP_ERROR_TEXT_SIZE]; // libcurl's reason for a failure
    // 1 when the client itself refused the transfer (the reason is in
    // error_text): it is never sent and fails on the next http_tick.
    uint32_t refused;
    // 1 when a redirect led to this engine's own server, where the
    // transfer was ended before its request went out.
    uint32_t redirected_home;
    // The bound of the answer's bytes handed to the callbacks (header
    // names and values, body), taken from http_response_limit at the
    // start; the bytes handed so far; and 1 once the answer passed the
    // bound, which ends the transfer as a failure, said in the log.
    uint64_t response_limit;
    uint64_t response_kept;
    uint32_t over_limit;
    // What arrived and is not handed to the callbacks yet (at most about a
    // frame's worth), and the pieces libcurl passed on in this frame.
    http_arrivals *arrived;
    uint32_t pieces_this_frame;
    // 1 while libcurl holds back what it read, until the caller has had
    // what arrived.
    uint32_t paused;
    // Body bytes handed over from the answer now arriving: libcurl reads
    // and drops the body of a redirect it follows, and those bytes count
    // against the bound too.
    uint64_t answer_body_kept;
    // 1 once libcurl has finished the transfer (finished_failed says
    // whether it failed), while what arrived is still being handed over;
    // on_done follows when it has all gone.
    uint32_t finished;
    uint32_t finished_failed;
};

// Each answers 1 when the transfer was started, 0 when not. headers is NULL
// or a NULL-terminated list of complete header lines; extra is, for a form
// POST, a NULL-terminated list name, value, name, value ... and, for a file
// upload, the virtual-file-system path of the file. The lists may be freed
// once the call returns. A header line holding a carriage return or line
// feed (which would add headers of its own) is refused: nothing is sent,
// and the transfer fails on the next http_tick. Every request carries the
// engine's User-Agent ("Vellumcore-<devid>-<gameid>/<version> (<platform>)"),
// by which an engine's server knows requests made by games; the values of
// the caller's User-Agent lines go in front of it, in the same header.
//
// Redirects are followed, but never into this engine's own server (its
// port on any address of this machine, however the redirect spells it):
// there the developer API runs code and writes files for requests from
// this machine. Such a transfer fails before its request goes out. Where
// libcurl cannot say where a redirect leads, redirects are not followed.
int http_start_request(uint32_t kind, const char *url, const char *const *headers, const void *extra,
                       http_request *request);
int http_get(const char *url, const char *const *headers, http_request *request);
int http_head(const char *url, const char *const *headers, http_request *request);
int http_post(const char *url, const char *const *headers, const char *const *form_fields, http_request *request);

// The bound of one answer for the transfers started from now on, in bytes
// (above 0); HTTP_RESPONSE_LIMIT_DEFAULT until set. It lasts the run.
void http_set_response_limit(uint64_t bytes);
uint64_t http_response_limit();

// Ends the cancelled and refused transfers, advances every other one
// without blocking, hands each caller up to a frame's worth of what arrived
// for it, in order (each header line alone, the body bytes between two
// header lines as one chunk), and finishes the completed ones once all
// they brought was handed over. A failure the caller
// did not ask for is logged once with its reason and the URL, shown
// without its user name and password and with control characters escaped.
void http_tick();
// Releases libcurl; the next start opens it again. Transfers in flight are
// left alone: their callbacks never run, and what arrived for them is let
// go.
void http_quit();
