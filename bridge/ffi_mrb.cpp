// FFI::MRB: evaluation and syntax checks of Ruby source in the running
// interpreter.
#include "ffi.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr size_t PARSE_LINE_LIMIT = 254;
constexpr size_t PARSE_TEXT_LIMIT = 2999;

// A syntax check that runs nothing: "Syntax OK", or one
// "line L:C: message" line per error the parser collected.
mrb_value mrb_parse_source(mrb_state *mrb, mrb_value) {
    mrb_value source;
    mrb_get_args(mrb, "S", &source);
    mrbc_context *context = mrbc_context_new(mrb);
    context->capture_errors = TRUE;
    context->no_exec = TRUE;
    mrb_parser_state *parser = mrb_parse_nstring(mrb, RSTRING_PTR(source), RSTRING_LEN(source), context);
    std::string report;
    if (!parser) {
        report = "line 0:0: the parser could not start\n";
    } else {
        size_t errors = std::min<size_t>(parser->nerr, sizeof(parser->error_buffer) / sizeof(parser->error_buffer[0]));
        for (size_t i = 0; i < errors; ++i) {
            const mrb_parser_message &error = parser->error_buffer[i];
            char line[PARSE_LINE_LIMIT + 1];
            std::snprintf(line, sizeof(line), "line %d:%d: %s\n", error.lineno, error.column,
                          error.message ? error.message : "");
            report += line;
        }
        mrb_parser_free(parser);
    }
    mrbc_context_free(mrb, context);
    if (report.empty()) return mrb_str_new_lit(mrb, "Syntax OK");
    if (report.size() > PARSE_TEXT_LIMIT) report.resize(PARSE_TEXT_LIMIT);
    return mrb_str_new(mrb, report.data(), report.size());
}

// Runs the source at the top level of the running interpreter (self is the
// top-level object, so `def` and instance variables land where the game's own
// files put theirs). The value is discarded; an exception, or the SyntaxError
// a parse failure makes, is raised in the caller.
mrb_value mrb_eval_source(mrb_state *mrb, mrb_value) {
    mrb_value source;
    mrb_get_args(mrb, "S", &source);
    mrb_load_nstring_cxt(mrb, RSTRING_PTR(source), RSTRING_LEN(source), nullptr);
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_exc_raise(mrb, exception);
    }
    return mrb_nil_value();
}

} // namespace

void ffi_mrb_methods_define(mrb_state *mrb, RClass *mrb_class) {
    mrb_define_method(mrb, mrb_class, "eval", mrb_eval_source, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, mrb_class, "parse", mrb_parse_source, MRB_ARGS_REQ(1));
}
