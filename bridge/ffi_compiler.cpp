// FFI::Compiler: listings of what the interpreter makes of Ruby source.
#include "ffi.h"

#include "../host/host_call.h"

#include <cstdio>

// Exported by the interpreter library without a public declaration.
extern "C" void mrb_codedump_all(mrb_state *mrb, RProc *proc);

namespace {

// Prints the syntax tree and the bytecode listing of the source (every
// nested piece included) on standard output, without running it. A syntax
// error is printed by the parser on standard error and the empty program is
// listed in place of the source.
mrb_value compiler_dump_codegen(mrb_state *mrb, mrb_value) {
    const char *source = nullptr;
    mrb_get_args(mrb, "z", &source);
    mrbc_context *context = mrbc_context_new(mrb);
    context->dump_result = TRUE;
    mrb_parser_state *parser = mrb_parse_string(mrb, source, context);
    // This interpreter's code generator crashes on the tree a failed parse
    // leaves; the empty program is what that tree stands for.
    if (parser && (parser->nerr > 0 || !parser->tree)) {
        mrb_parser_free(parser);
        parser = mrb_parse_string(mrb, "", nullptr);
    }
    RProc *proc = parser ? mrb_generate_code(mrb, parser) : nullptr;
    host_log_pending_exception(mrb);
    if (proc) mrb_codedump_all(mrb, proc);
    std::fflush(stdout);
    if (parser) mrb_parser_free(parser);
    mrbc_context_free(mrb, context);
    return mrb_nil_value();
}

} // namespace

void ffi_compiler_methods_define(mrb_state *mrb, RClass *compiler_class) {
    mrb_define_method(mrb, compiler_class, "dump_codegen", compiler_dump_codegen, MRB_ARGS_REQ(1));
}
