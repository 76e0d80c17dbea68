// The one way the host calls into Ruby. mruby keeps an exception pending on
// the state after a call raises, and every later call then returns the stale
// exception object; so each call logs a pending exception's inspect text once
// with SDL_Log, clears it, and answers nil in its place. A method the
// receiver does not have is not called: that is reported once per class and
// method name, and the call answers nil.
#pragma once

#include "mruby_api.h"

#include <mruby/error.h>

mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method, mrb_int argc,
                    const mrb_value *argv);

// The same, and tells whether the call failed (it raised, or the receiver
// lacks the method), for callers that must tell a failure from a nil answer.
mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method, mrb_int argc, const mrb_value *argv,
                    bool *failed);

// Calls with no arguments.
inline mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method) {
    return host_call(mrb, receiver, method, 0, nullptr);
}

// Call after the host has run a file's top level (framework, game file, test
// file). A block made at a top level shares the interpreter's outermost
// frame as its environment, and the interpreter's next top-level run drops
// that link without copying the frame out: the block would then see the next
// file's locals and, once the stack grows and moves, freed memory, which
// crashes the collector when it marks the block. This gives such blocks their
// own copy of the frame and unhooks it from the outermost frame.
void host_finish_top_level(mrb_state *mrb);

// Logs and clears a pending exception; true when there was one.
bool host_log_pending_exception(mrb_state *mrb);

// The inspect text of an exception, or a fallback when inspect itself raises.
// The caller frees the result with SDL_free.
char *host_exception_text(mrb_state *mrb, mrb_value exception);

// Runs body with a rescue around it, for native code that makes Ruby values
// while foreign code is on the stack (a parser's callbacks): a raise must not
// unwind through frames that know nothing of it. An exception body raises is
// logged like host_call's and cleared; the answer is then false and *result
// nil. Objects body made are released from the GC arena except its result.
// A caller that passes out_of_memory reports the interpreter running out of
// memory itself, as its own failure: that is then told there, not logged.
bool host_protect(mrb_state *mrb, mrb_protect_error_func *body, void *userdata, mrb_value *result,
                  bool *out_of_memory = nullptr);
