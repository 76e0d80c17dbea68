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

// The headers as a Hash, a repeated name keeping its last value; the value
// of every User-Agent line, whatever its letter case, goes to `agents` as
// well, since the developer API refuses a request when any of them names an
// engine.
mrb_value headers_hash(mrb_state *mrb, const httpserver_request *request, mrb_value agents) {
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
        if (colon && colon - line == 10 && SDL_strncasecmp(line, "User-Agent", 10) == 0) mrb_ary_push(mrb, agents, value);
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
    mrb_value agents = mrb_ary_new(mrb);
    mrb_value args[7] = {
        mrb_str_new_cstr(mrb, request->method ? request->method : ""),
        mrb_str_new_cstr(mrb, request->uri ? request->uri : ""),
        headers_hash(mrb, request, agents),
        mrb_str_new(mrb, request->body, request->body_length),
        cptr,
        peer_text(mrb, request->connection->peer_address),
        agents,
    };
    bool failed = true;
    if (!mrb_nil_p(cptr)) host_call(mrb, state->runtime, "new_http_request", 7, args, &failed);
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

// Room for what the log says is wrong with an answer.
constexpr size_t FAULT_TEXT_SIZE = 320;
// The most of a header line the log shows.
constexpr size_t SHOWN_LINE_LENGTH = 200;

// An answer's status: a whole number (a Float loses its fraction, as
// always) that a status line can carry.
bool read_status(mrb_value value, int *status) {
    double number = 0;
    if (mrb_integer_p(value)) number = (double)mrb_integer(value);
    else if (mrb_float_p(value)) number = (double)mrb_float(value);
    else return false;
    if (!(number >= 100 && number < 1000)) return false;
    *status = (int)number;
    return true;
}

void say_line_fault(char *fault, const char *line, size_t length, const char *what) {
    char *shown = engine_log_escape(line, SDL_min(length, SHOWN_LINE_LENGTH));
    SDL_snprintf(fault, FAULT_TEXT_SIZE, "its header line \"%s%s\" holds %s", shown ? shown : "",
                 length > SHOWN_LINE_LENGTH ? "..." : "", what);
    SDL_free(shown);
}

// Headers given as an Array: each element must be a [name, value] pair, as
// a Hash gives them. The index of the first that is not; -1 when all are.
mrb_int first_non_pair(mrb_value given) {
    for (mrb_int i = 0; i < RARRAY_LEN(given); ++i) {
        mrb_value pair = RARRAY_PTR(given)[i];
        if (!mrb_array_p(pair) || RARRAY_LEN(pair) != 2) return i;
    }
    return -1;
}

// What makes the game's answer unfit to send, said into `fault`; false when
// nothing does. `given` is what the game passed as headers (a Hash, an
// Array of [name, value] pairs, or nil), `headers` the lines made of it. A
// NUL byte would cut a header line short. (A line break, which would add
// header lines of the game's own making, the server itself refuses to
// send.)
bool answer_fault(mrb_state *mrb, mrb_value status, mrb_value body, mrb_value given, mrb_value headers, int *code,
                  char *fault) {
    if (!read_status(status, code)) {
        if (mrb_integer_p(status))
            SDL_snprintf(fault, FAULT_TEXT_SIZE, "its status %lld is not from 100 to 999", (long long)mrb_integer(status));
        else if (mrb_float_p(status))
            SDL_snprintf(fault, FAULT_TEXT_SIZE, "its status %g is not from 100 to 999", (double)mrb_float(status));
        else
            SDL_snprintf(fault, FAULT_TEXT_SIZE, "its status is a %s, not a number from 100 to 999",
                         mrb_obj_classname(mrb, status));
        return true;
    }
    if (!mrb_nil_p(body) && !mrb_string_p(body)) {
        SDL_snprintf(fault, FAULT_TEXT_SIZE, "its body is a %s, not a String", mrb_obj_classname(mrb, body));
        return true;
    }
    // An Array of whole "Name: value" lines would be taken pair by pair and
    // its lines sent cut up.
    if (mrb_array_p(given)) {
        mrb_int unfit = first_non_pair(given);
        if (unfit >= 0) {
            mrb_value element = RARRAY_PTR(given)[unfit];
            char what[64];
            if (mrb_array_p(element))
                SDL_snprintf(what, sizeof(what), "an Array of %lld", (long long)RARRAY_LEN(element));
            else
                SDL_snprintf(what, sizeof(what), "a %s", mrb_obj_classname(mrb, element));
            SDL_snprintf(fault, FAULT_TEXT_SIZE,
                         "its headers are an Array whose element %lld is %s, not a [name, value] pair",
                         (long long)unfit, what);
            return true;
        }
    } else if (!mrb_nil_p(given) && !mrb_hash_p(given)) {
        SDL_snprintf(fault, FAULT_TEXT_SIZE, "its headers are a %s, not a Hash or an Array of [name, value] pairs",
                     mrb_obj_classname(mrb, given));
        return true;
    }
    if (mrb_nil_p(headers)) return false;
    if (!mrb_array_p(headers)) {
        SDL_snprintf(fault, FAULT_TEXT_SIZE, "its headers (a %s) could not be made into header lines",
                     mrb_obj_classname(mrb, headers));
        return true;
    }
    const mrb_value *lines = RARRAY_PTR(headers);
    mrb_int count = RARRAY_LEN(headers);
    mrb_int unfit = http_unfit_string(lines, count);
    if (unfit >= 0 && !mrb_string_p(lines[unfit])) {
        SDL_snprintf(fault, FAULT_TEXT_SIZE, "one of its header lines is a %s, not a String",
                     mrb_obj_classname(mrb, lines[unfit]));
        return true;
    }
    if (unfit < 0) return false;
    say_line_fault(fault, RSTRING_PTR(lines[unfit]), (size_t)RSTRING_LEN(lines[unfit]), "a NUL byte");
    return true;
}

void log_unsent(const char *fault) {
    SDL_Log("* ERROR: An answer was not sent: %s, so its request was answered 500 instead.", fault);
}

// Answers a request with what the game gave. An answer that cannot be sent
// as given (a game echoing what a client sent may pass anything) is
// answered 500 instead and said once in the log; the game goes on.
mrb_value misc_http_respond(mrb_state *mrb, mrb_value) {
    mrb_value cptr, status, body, headers, given = mrb_nil_value();
    mrb_get_args(mrb, "oooo|o", &cptr, &status, &body, &headers, &given);
    httpserver_request *request = (httpserver_request *)ffi_cptr_get(mrb, cptr);
    if (!request) return mrb_nil_value();
    forget_request(mrb, cptr);
    int code = 0;
    char fault[FAULT_TEXT_SIZE];
    if (answer_fault(mrb, status, body, given, headers, &code, fault)) {
        httpserver_respond_failed(request);
        log_unsent(fault);
        return mrb_nil_value();
    }
    const char **lines = nullptr;
    uint32_t line_count = mrb_array_p(headers) ? (uint32_t)RARRAY_LEN(headers) : 0;
    if (!http_new_string_list(mrb, line_count ? RARRAY_PTR(headers) : nullptr, line_count, &lines)) {
        httpserver_respond_failed(request);
        return mrb_nil_value();
    }
    const char *bytes = mrb_string_p(body) ? RSTRING_PTR(body) : nullptr;
    mrb_int length = mrb_string_p(body) ? RSTRING_LEN(body) : 0;
    int answered =
        httpserver_respond(request, code, lines, line_count, bytes, length > (mrb_int)UINT32_MAX ? 0 : (uint32_t)length);
    for (uint32_t i = 0; answered < 0 && i < line_count; ++i) {
        if (!http_line_holds_break(lines[i])) continue;
        say_line_fault(fault, lines[i], SDL_strlen(lines[i]), "a line break");
        log_unsent(fault);
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
    mrb_define_method(mrb, misc_class, "http_respond", misc_http_respond, MRB_ARGS_ARG(4, 1));
    mrb_define_method(mrb, misc_class, "http_client_gone?", misc_http_client_gone, MRB_ARGS_REQ(1));
}
