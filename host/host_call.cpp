#include "host_call.h"

#include <SDL2/SDL.h>

char *host_exception_text(mrb_state *mrb, mrb_value exception) {
    mrb->exc = nullptr;
    mrb_value text = mrb_funcall_argv(mrb, exception, mrb_intern_lit(mrb, "inspect"), 0, nullptr);
    if (mrb->exc || !mrb_string_p(text)) {
        // inspect itself raised: fall back to the class name so that nothing
        // is lost silently.
        mrb->exc = nullptr;
        const char *name = mrb_obj_classname(mrb, exception);
        return SDL_strdup(name ? name : "exception");
    }
    size_t length = (size_t)RSTRING_LEN(text);
    char *copy = (char *)SDL_malloc(length + 1);
    if (!copy) return nullptr;
    SDL_memcpy(copy, RSTRING_PTR(text), length);
    copy[length] = 0;
    return copy;
}

bool host_log_pending_exception(mrb_state *mrb) {
    if (!mrb || !mrb->exc) return false;
    mrb_value exception = mrb_obj_value(mrb->exc);
    char *text = host_exception_text(mrb, exception);
    SDL_Log("%s", text ? text : "exception");
    SDL_free(text);
    mrb->exc = nullptr;
    return true;
}

mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method, mrb_int argc,
                    const mrb_value *argv) {
    // A stale exception would make this call answer that object instead.
    host_log_pending_exception(mrb);
    mrb_value result = mrb_funcall_argv(mrb, receiver, mrb_intern_cstr(mrb, method), argc, argv);
    if (host_log_pending_exception(mrb)) return mrb_nil_value();
    // The caller may call Ruby again before it is done with the result.
    mrb_gc_protect(mrb, result);
    return result;
}
