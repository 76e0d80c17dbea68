// The embedded server's Ruby side: FFI::Misc#httpserver_init and
// #http_respond, and the hand-off of each complete request to the runtime.
#include "ffi.h"
#include "http_methods.h"
#include "http_server.h"

#include "../host/engine_log.h"
#include "../host/host_call.h"

#include <SDL2/SDL.h>

#include <cstring>

namespace {

const char *const REJECT_HEADERS[] = {"Content-Type: text/plain; charset=utf-8"};
const char REJECT_BODY[] = "This request was rejected, sorry.\n";

// A CPtr keeps its address after the answer freed the record; emptied, a
// second answer through it finds nothing.
void forget_request(mrb_state *mrb, mrb_value cptr) {
    if (ffi_cptr_get(mrb, cptr)) DATA_PTR(cptr) = nullptr;
}

mrb_value headers_hash(mrb_state *mrb, const httpserver_request *request) {
    mrb_value hash = mrb_hash_new(mrb);
    for (uint32_t i = 0; i < request->header_count; ++i) {
        const char *line = request->headers[i];
        const char *colon = SDL_strchr(line, ':');
        mrb_value key, value;
        if (colon) {
            key = mrb_str_new(mrb, line, colon - line);
            const char *text = colon + 1;
            while (*text == ' ' || *text == '\t') ++text;
            value = mrb_str_new_cstr(mrb, text);
        } else {
            key = mrb_str_new_cstr(mrb, line);
            value = mrb_str_new_lit(mrb, "");
        }
        mrb_hash_set(mrb, hash, key, value);
    }
    return hash;
}

mrb_value peer_text(mrb_state *mrb, uint32_t address) {
    char text[16];
    SDL_snprintf(text, sizeof(text), "%u.%u.%u.%u", (address >> 24) & 255, (address >> 16) & 255,
                 (address >> 8) & 255, address & 255);
    return mrb_str_new_cstr(mrb, text);
}

void hand_off_one(game_state *state, httpserver_request *request) {
    mrb_state *mrb = state->mrb;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value cptr = ffi_cptr_new(mrb, request);
    mrb_value args[6] = {
        mrb_str_new_cstr(mrb, request->method ? request->method : ""),
        mrb_str_new_cstr(mrb, request->uri ? request->uri : ""),
        headers_hash(mrb, request),
        mrb_str_new(mrb, request->body, request->body_length),
        cptr,
        peer_text(mrb, request->connection->peer_address),
    };
    bool failed = true;
    if (!mrb_nil_p(cptr)) host_call(mrb, state->runtime, "new_http_request", 6, args, &failed);
    // A request Ruby never took would hang its client until shutdown.
    if (failed) {
        httpserver_respond(request, 400, REJECT_HEADERS, 1, REJECT_BODY, sizeof(REJECT_BODY) - 1);
        forget_request(mrb, cptr);
    }
    mrb_gc_arena_restore(mrb, arena);
}

mrb_value misc_httpserver_init(mrb_state *mrb, mrb_value) {
    mrb_int port = 0;
    mrb_get_args(mrb, "i", &port);
    httpserver_init((uint16_t)(port & 0xFFFF));
    return mrb_nil_value();
}

mrb_value misc_http_respond(mrb_state *mrb, mrb_value) {
    mrb_value cptr;
    mrb_int status = 0;
    const char *body = nullptr;
    mrb_int body_length = 0;
    const mrb_value *headers = nullptr;
    mrb_int header_count = 0;
    mrb_get_args(mrb, "ois!a!", &cptr, &status, &body, &body_length, &headers, &header_count);
    void *request = ffi_cptr_get(mrb, cptr);
    if (!request) return mrb_nil_value();
    http_check_string_list(mrb, headers, header_count);
    const char **lines = nullptr;
    if (!http_new_string_list(mrb, headers, header_count, &lines)) return mrb_nil_value();
    if (status < INT32_MIN) status = INT32_MIN;
    if (status > INT32_MAX) status = INT32_MAX;
    if (body_length > (mrb_int)UINT32_MAX) body_length = 0;
    int answered = httpserver_respond((httpserver_request *)request, (int)status, lines,
                                      lines ? (uint32_t)header_count : 0, body, (uint32_t)body_length);
    forget_request(mrb, cptr);
    // The game may echo what a client sent: an answer it could not send is
    // said in the log, and the game goes on.
    for (mrb_int i = 0; answered < 0 && lines && i < header_count; ++i) {
        const char *line = lines[i];
        if (!http_line_holds_break(line)) continue;
        size_t length = SDL_strlen(line);
        char *shown = engine_log_escape(line, SDL_min(length, (size_t)200));
        SDL_Log("* ERROR: An answer was not sent: its header line \"%s%s\" holds a line break, so its request "
                "was answered 500 instead.", shown ? shown : "", length > 200 ? "..." : "");
        SDL_free(shown);
        break;
    }
    SDL_free(lines);
    return mrb_nil_value();
}

// Whether the client of a request hung up before its answer.
mrb_value misc_http_client_gone(mrb_state *mrb, mrb_value) {
    mrb_value cptr;
    mrb_get_args(mrb, "o", &cptr);
    void *request = ffi_cptr_get(mrb, cptr);
    return mrb_bool_value(request && httpserver_client_gone((httpserver_request *)request));
}

} // namespace

void httpserver_hand_off(game_state *state) {
    httpserver_request *request = httpserver_tick();
    while (request) {
        httpserver_request *next = request->next;
        request->next = nullptr;
        hand_off_one(state, request);
        request = next;
    }
}

void http_server_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "httpserver_init", misc_httpserver_init, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "http_respond", misc_http_respond, MRB_ARGS_REQ(4));
    mrb_define_method(mrb, misc_class, "http_client_gone?", misc_http_client_gone, MRB_ARGS_REQ(1));
}
