// The Ruby side of HTTP: the FFI::Misc request methods of the client, the
// server's methods, and the hand-off of the server's requests to the runtime.
#pragma once

#include "../host/game_state.h"

// The index of the first element that is not a String, or holds a NUL byte
// (which a C string would cut short); -1 when there is none.
mrb_int http_unfit_string(const mrb_value *values, mrb_int count);
// Every element must be a String without NUL bytes: raises TypeError or
// ArgumentError otherwise. Called before anything is allocated, so a bad
// element leaks nothing.
void http_check_string_list(mrb_state *mrb, const mrb_value *values, mrb_int count);
// A NULL-terminated array of the strings' pointers (the strings stay Ruby's),
// to free with SDL_free; NULL for a NULL list. False when memory ran out.
bool http_new_string_list(mrb_state *mrb, const mrb_value *values, mrb_int count, const char ***out);

void http_client_methods_define(mrb_state *mrb, RClass *misc_class);

// Passes each cancel the game asked for (a truthy :cancel in a request's
// progress Hash) to its transfer, then advances the client (http_tick).
// Called once per simulation frame.
void http_requests_tick();
void http_server_methods_define(mrb_state *mrb, RClass *misc_class);

// Polls the embedded server and hands each request it completed to the
// runtime's new_http_request. Called once per simulation frame.
void httpserver_hand_off(game_state *state);
