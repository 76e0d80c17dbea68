// Running Ruby from a native test: the inspect text of what a piece of code
// answers, or "raised <class>" (the exception is cleared).
#pragma once

#include "host/mruby_api.h"

#include <string>

inline std::string ruby_eval(mrb_state *mrb, const std::string &code) {
    mrb_value value = mrb_load_nstring(mrb, code.data(), code.size());
    if (mrb->exc) {
        std::string name = mrb_obj_classname(mrb, mrb_obj_value(mrb->exc));
        mrb->exc = nullptr;
        return "raised " + name;
    }
    mrb_value text = mrb_inspect(mrb, value);
    return std::string(RSTRING_PTR(text), RSTRING_LEN(text));
}
