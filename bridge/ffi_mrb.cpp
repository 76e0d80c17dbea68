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

} // namespace

void ffi_mrb_methods_define(mrb_state *mrb, RClass *mrb_class) {
    mrb_define_method(mrb, mrb_class, "parse", mrb_parse_source, MRB_ARGS_REQ(1));
}
