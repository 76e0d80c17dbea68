#include "host_call.h"

#include <SDL2/SDL.h>

#include <set>
#include <string>

namespace {

mrb_value call_inspect(mrb_state *mrb, void *exception) {
    return mrb_funcall_argv(mrb, *(mrb_value *)exception, mrb_intern_lit(mrb, "inspect"), 0, nullptr);
}

bool is_out_of_memory(mrb_state *mrb, mrb_value exception) {
    return mrb_exception_p(exception) && mrb_obj_ptr(exception) == mrb->nomem_err;
}

} // namespace

char *host_exception_text(mrb_state *mrb, mrb_value exception) {
    mrb->exc = nullptr;
    // Describing the interpreter's own out-of-memory error would need memory
    // and raise it again, so it has a fixed text. Whatever inspect raises
    // stays in here: callers may sit between foreign frames.
    const char *out_of_memory = "Out of memory (NoMemoryError)";
    if (is_out_of_memory(mrb, exception)) return SDL_strdup(out_of_memory);
    mrb_bool raised = FALSE;
    mrb_value text = mrb_protect_error(mrb, call_inspect, &exception, &raised);
    if (raised || !mrb_string_p(text)) {
        // inspect itself failed: fall back to the class name so that nothing
        // is lost silently.
        const char *name = raised && is_out_of_memory(mrb, text) ? out_of_memory : mrb_obj_classname(mrb, exception);
        return SDL_strdup(name ? name : "exception");
    }
    size_t length = (size_t)RSTRING_LEN(text);
    char *copy = (char *)SDL_malloc(length + 1);
    if (!copy) return nullptr;
    SDL_memcpy(copy, RSTRING_PTR(text), length);
    copy[length] = 0;
    return copy;
}

namespace {

void log_exception(mrb_state *mrb, mrb_value exception) {
    char *text = host_exception_text(mrb, exception);
    SDL_Log("%s", text ? text : "exception");
    SDL_free(text);
    mrb->exc = nullptr;
}

} // namespace

bool host_log_pending_exception(mrb_state *mrb) {
    if (!mrb || !mrb->exc) return false;
    log_exception(mrb, mrb_obj_value(mrb->exc));
    return true;
}

bool host_protect(mrb_state *mrb, mrb_protect_error_func *body, void *userdata, mrb_value *result,
                  bool *out_of_memory) {
    mrb_bool raised = FALSE;
    mrb_value value = mrb_protect_error(mrb, body, userdata, &raised);
    const bool memory_ran_out = raised && is_out_of_memory(mrb, value);
    if (out_of_memory) *out_of_memory = memory_ran_out;
    if (raised) {
        if (!memory_ran_out || !out_of_memory) log_exception(mrb, value);
        value = mrb_nil_value();
    }
    if (result) *result = value;
    return !raised;
}

void host_finish_top_level(mrb_state *mrb) {
    mrb_context *context = mrb ? mrb->c : nullptr;
    // Only a run at the outermost frame leaves its environment there.
    if (!context || !context->cibase || context->ci != context->cibase) return;
    REnv *env = mrb_vm_ci_env(context->cibase);
    if (!env) return;
    // Unhooked first: the copy is refused while the frame still owns it.
    mrb_vm_ci_env_set(context->cibase, nullptr);
    mrb_env_unshare(mrb, env);
}

namespace {

// A method the receiver lacks is reported once per class and name: the frame
// step would otherwise raise and log the same error every frame (and
// method_missing does not see the arguments of a call made from here).
void report_missing_method(mrb_state *mrb, mrb_value receiver, const char *method) {
    static std::set<std::string> reported;
    const char *class_name = mrb_obj_classname(mrb, receiver);
    std::string key = std::string(class_name ? class_name : "?") + "#" + method;
    if (!reported.insert(key).second) return;
    SDL_Log("* ERROR: %s has no method %s; the engine's calls to it are skipped.", class_name ? class_name : "?",
            method);
}

} // namespace

mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method, mrb_int argc,
                    const mrb_value *argv) {
    bool failed = false;
    return host_call(mrb, receiver, method, argc, argv, &failed);
}

mrb_value host_call(mrb_state *mrb, mrb_value receiver, const char *method, mrb_int argc, const mrb_value *argv,
                    bool *failed) {
    *failed = true;
    // A stale exception would make this call answer that object instead.
    host_log_pending_exception(mrb);
    mrb_sym name = mrb_intern_cstr(mrb, method);
    if (!mrb_respond_to(mrb, receiver, name)) {
        report_missing_method(mrb, receiver, method);
        return mrb_nil_value();
    }
    mrb_value result = mrb_funcall_argv(mrb, receiver, name, argc, argv);
    if (host_log_pending_exception(mrb)) return mrb_nil_value();
    *failed = false;
    // The caller may call Ruby again before it is done with the result.
    mrb_gc_protect(mrb, result);
    return result;
}
