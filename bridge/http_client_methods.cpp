// FFI::Misc#http_get, #http_head, #http_post and #http_put: each starts one
// client transfer and answers the progress Hash that the transfer's
// callbacks keep filling, or nil when nothing was started.
#include "http_client.h"
#include "http_methods.h"

#include "../host/host_call.h"

#include <SDL2/SDL.h>
#include <cstring>

mrb_int http_unfit_string(const mrb_value *values, mrb_int count) {
    for (mrb_int i = 0; i < count; ++i)
        if (!mrb_string_p(values[i]) || memchr(RSTRING_PTR(values[i]), 0, (size_t)RSTRING_LEN(values[i]))) return i;
    return -1;
}

void http_check_string_list(mrb_state *mrb, const mrb_value *values, mrb_int count) {
    mrb_int unfit = http_unfit_string(values, count);
    if (unfit < 0) return;
    if (!mrb_string_p(values[unfit]))
        mrb_raisef(mrb, E_TYPE_ERROR, "expected a String in the list, got %Y", values[unfit]);
    mrb_raise(mrb, E_ARGUMENT_ERROR, "string contains null byte");
}

bool http_new_string_list(mrb_state *mrb, const mrb_value *values, mrb_int count, const char ***out) {
    *out = nullptr;
    if (!values) return true;
    const char **list = (const char **)SDL_calloc((size_t)count + 1, sizeof(char *));
    if (!list) return false;
    for (mrb_int i = 0; i < count; ++i) list[i] = mrb_string_cstr(mrb, values[i]);
    *out = list;
    return true;
}

// One request started from Ruby. The transfer record comes first, so a
// pointer to it is also a pointer to this record.
struct http_bridge_request {
    http_request request;
    mrb_state *mrb;
    mrb_value progress;
    mrb_value target;
    // The requests started from Ruby and not done yet, for the per-frame
    // look at their :cancel key.
    http_bridge_request *previous;
    http_bridge_request *next;
};

namespace {

http_bridge_request *live_requests = nullptr;

void link_live(http_bridge_request *bridge) {
    bridge->previous = nullptr;
    bridge->next = live_requests;
    if (live_requests) live_requests->previous = bridge;
    live_requests = bridge;
}

void unlink_live(http_bridge_request *bridge) {
    if (bridge->previous) bridge->previous->next = bridge->next;
    else if (live_requests == bridge) live_requests = bridge->next;
    if (bridge->next) bridge->next->previous = bridge->previous;
    bridge->previous = bridge->next = nullptr;
}

http_bridge_request *bridge_of(http_request *request) {
    return (http_bridge_request *)request;
}

void bridge_free(http_bridge_request *bridge) {
    unlink_live(bridge);
    mrb_gc_unregister(bridge->mrb, bridge->progress);
    mrb_gc_unregister(bridge->mrb, bridge->target);
    SDL_free(bridge);
}

void http_update_progress_hash(http_request *request) {
    http_bridge_request *bridge = bridge_of(request);
    mrb_state *mrb = bridge->mrb;
    mrb_value hash = bridge->progress;
    if (!mrb_hash_p(hash)) return;
    auto set = [&](mrb_sym key, mrb_value value) { mrb_hash_set(mrb, hash, mrb_symbol_value(key), value); };
    set(mrb_intern_lit(mrb, "complete"), mrb_bool_value(request->complete != 0));
    set(mrb_intern_lit(mrb, "http_response_code"), mrb_int_value(mrb, request->response_code));
    set(mrb_intern_lit(mrb, "request_written"), mrb_int_value(mrb, (mrb_int)request->request_written));
    set(mrb_intern_lit(mrb, "request_total"), mrb_int_value(mrb, (mrb_int)request->request_total));
    set(mrb_intern_lit(mrb, "response_read"), mrb_int_value(mrb, (mrb_int)request->response_read));
    set(mrb_intern_lit(mrb, "response_total"), mrb_int_value(mrb, (mrb_int)request->response_total));
    set(mrb_intern_lit(mrb, "key"), request->key ? mrb_str_new(mrb, request->key, request->key_length) : mrb_nil_value());
    set(mrb_intern_lit(mrb, "value"), request->value ? mrb_str_new(mrb, (const char *)request->value, request->value_length)
                                                     : mrb_nil_value());
}

mrb_value update_progress(mrb_state *, void *request) {
    http_update_progress_hash((http_request *)request);
    return mrb_nil_value();
}

// Runs outside any Ruby method (inside the client's tick), so the arena is
// restored after each call. The game holds the progress Hash and may have
// frozen it: the raise that storing into it then makes must not unwind
// through libcurl's frames.
int call_target(http_request *request, const char *method) {
    http_bridge_request *bridge = bridge_of(request);
    mrb_state *mrb = bridge->mrb;
    int arena = mrb_gc_arena_save(mrb);
    host_protect(mrb, update_progress, request, nullptr);
    bool failed = false;
    mrb_value result = host_call(mrb, bridge->target, method, 0, nullptr, &failed);
    mrb_gc_arena_restore(mrb, arena);
    // A callback that raised has been logged; the transfer goes on.
    return failed || mrb_test(result) ? 1 : 0;
}

int http_on_response_header(http_request *request) {
    return call_target(request, "http_response_header");
}

int http_on_response_data(http_request *request) {
    return call_target(request, "http_response_data");
}

// What was gathered of an answer past its bound, let go: the body in
// :response_data emptied with its memory (the game may hold the String
// itself) and the lines in :response_headers dropped.
mrb_value drop_response(mrb_state *mrb, void *data) {
    http_bridge_request *bridge = (http_bridge_request *)data;
    if (!mrb_hash_p(bridge->progress)) return mrb_nil_value();
    mrb_value body =
        mrb_hash_fetch(mrb, bridge->progress, mrb_symbol_value(mrb_intern_lit(mrb, "response_data")), mrb_nil_value());
    if (mrb_string_p(body)) mrb_str_resize(mrb, body, 0);
    mrb_value headers = mrb_hash_fetch(mrb, bridge->progress, mrb_symbol_value(mrb_intern_lit(mrb, "response_headers")),
                                       mrb_nil_value());
    if (mrb_hash_p(headers)) mrb_hash_clear(mrb, headers);
    return mrb_nil_value();
}

void http_on_done(http_request *request) {
    http_bridge_request *bridge = bridge_of(request);
    if (request->over_limit) {
        int arena = mrb_gc_arena_save(bridge->mrb);
        host_protect(bridge->mrb, drop_response, bridge, nullptr);
        mrb_gc_arena_restore(bridge->mrb, arena);
    }
    call_target(request, "http_done");
    bridge_free(bridge);
}

// The bridge record for obj, with the NULL-terminated header lines in
// *out_header_array; NULL (with nothing left allocated) when memory ran out.
http_bridge_request *http_request_new(mrb_state *mrb, mrb_value obj, const mrb_value *header_values,
                                      mrb_int header_count, const char ***out_header_array) {
    if (!http_new_string_list(mrb, header_values, header_count, out_header_array)) return nullptr;
    http_bridge_request *bridge = (http_bridge_request *)SDL_calloc(1, sizeof(http_bridge_request));
    if (!bridge) {
        SDL_free(*out_header_array);
        *out_header_array = nullptr;
        return nullptr;
    }
    bridge->mrb = mrb;
    bridge->progress = mrb_hash_new(mrb);
    bridge->target = obj;
    // Kept alive from here to the done callback even when the caller drops
    // them: the callbacks would otherwise reach collected objects.
    mrb_gc_register(mrb, bridge->progress);
    mrb_gc_register(mrb, bridge->target);
    bridge->request.user = &bridge->mrb;
    bridge->request.on_header = http_on_response_header;
    bridge->request.on_data = http_on_response_data;
    bridge->request.on_done = http_on_done;
    http_update_progress_hash(&bridge->request);
    return bridge;
}

mrb_value start_from_ruby(mrb_state *mrb, uint32_t kind) {
    mrb_value target;
    const char *url = nullptr;
    const mrb_value *headers = nullptr;
    mrb_int header_count = 0;
    const mrb_value *fields = nullptr;
    mrb_int field_count = 0;
    const char *file = nullptr;
    if (kind == HTTP_KIND_POST_FORM)
        mrb_get_args(mrb, "oza!a!", &target, &url, &headers, &header_count, &fields, &field_count);
    else if (kind == HTTP_KIND_PUT_FILE)
        mrb_get_args(mrb, "oza!z", &target, &url, &headers, &header_count, &file);
    else
        mrb_get_args(mrb, "oza!", &target, &url, &headers, &header_count);
    http_check_string_list(mrb, headers, header_count);
    http_check_string_list(mrb, fields, field_count);

    const char **header_array = nullptr;
    http_bridge_request *bridge = http_request_new(mrb, target, headers, header_count, &header_array);
    if (!bridge) return mrb_nil_value();
    const char **field_array = nullptr;
    if (!http_new_string_list(mrb, fields, field_count, &field_array)) {
        SDL_free(header_array);
        bridge_free(bridge);
        return mrb_nil_value();
    }
    const void *extra = kind == HTTP_KIND_POST_FORM ? (const void *)field_array : (const void *)file;
    int started = http_start_request(kind, url, header_array, extra, &bridge->request);
    SDL_free(header_array);
    SDL_free(field_array);
    if (!started) {
        bridge_free(bridge);
        return mrb_nil_value();
    }
    link_live(bridge);
    return bridge->progress;
}

mrb_value misc_http_get(mrb_state *mrb, mrb_value) {
    return start_from_ruby(mrb, HTTP_KIND_GET);
}

mrb_value misc_http_head(mrb_state *mrb, mrb_value) {
    return start_from_ruby(mrb, HTTP_KIND_HEAD);
}

mrb_value misc_http_post(mrb_state *mrb, mrb_value) {
    return start_from_ruby(mrb, HTTP_KIND_POST_FORM);
}

mrb_value misc_http_put(mrb_state *mrb, mrb_value) {
    return start_from_ruby(mrb, HTTP_KIND_PUT_FILE);
}

// The game cancels by storing a truthy :cancel in the progress Hash; a
// Hash with unusual keys could make the look-up run Ruby code, so it runs
// under a rescue.
mrb_value read_cancel(mrb_state *mrb, void *data) {
    http_bridge_request *bridge = (http_bridge_request *)data;
    if (!mrb_hash_p(bridge->progress)) return mrb_nil_value();
    return mrb_hash_fetch(mrb, bridge->progress, mrb_symbol_value(mrb_intern_lit(mrb, "cancel")), mrb_nil_value());
}

// The bound of one answer's bytes for the requests started from now on.
mrb_value misc_http_set_response_limit(mrb_state *mrb, mrb_value) {
    mrb_int bytes = 0;
    mrb_get_args(mrb, "i", &bytes);
    if (bytes <= 0)
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "the bound of an HTTP answer must be above 0 bytes, not %i", bytes);
    http_set_response_limit((uint64_t)bytes);
    return mrb_int_value(mrb, bytes);
}

mrb_value misc_http_response_limit(mrb_state *mrb, mrb_value) {
    return mrb_int_value(mrb, (mrb_int)http_response_limit());
}

} // namespace

void http_requests_tick() {
    for (http_bridge_request *bridge = live_requests; bridge; bridge = bridge->next) {
        mrb_state *mrb = bridge->mrb;
        int arena = mrb_gc_arena_save(mrb);
        mrb_value cancel = mrb_nil_value();
        if (host_protect(mrb, read_cancel, bridge, &cancel) && mrb_test(cancel)) bridge->request.cancel = 1;
        mrb_gc_arena_restore(mrb, arena);
    }
    http_tick();
}

void http_client_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "http_get", misc_http_get, MRB_ARGS_REQ(3));
    mrb_define_method(mrb, misc_class, "http_head", misc_http_head, MRB_ARGS_REQ(3));
    mrb_define_method(mrb, misc_class, "http_post", misc_http_post, MRB_ARGS_REQ(4));
    mrb_define_method(mrb, misc_class, "http_put", misc_http_put, MRB_ARGS_REQ(4));
    mrb_define_method(mrb, misc_class, "http_set_response_limit", misc_http_set_response_limit, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "http_response_limit", misc_http_response_limit, MRB_ARGS_NONE());
}
