// FFI::Misc#parse_xml and #parse_xml_file: an XML document as a tree of Ruby
// Hashes. The root is {type: :element, name: nil, children: [...]}; an
// element is {type: :element, name:, children:} plus attributes: {String =>
// String} when it has any; text is {type: :content, data:}; a processing
// instruction {type: :pi, name:, data:}. Any failure answers nil; for a
// document that is not well-formed the receiver keeps why and where
// (FFI::Misc#parse_error) for the runtime to report.
#include "ffi.h"
#include "xml.h"

#include "../host/host_call.h"

#include <cstring>

namespace {

struct xml_builder {
    mrb_state *mrb;
    mrb_value result, current, stack;
    mrb_value keep; // holds the root and the stack for the collector
    int arena;      // the GC arena as it was once keep existed
    bool strip;
};

mrb_value sym(mrb_state *mrb, const char *name) { return mrb_symbol_value(mrb_intern_cstr(mrb, name)); }

mrb_value text_string(mrb_state *mrb, const char *text, uint32_t length) {
    return mrb_str_new(mrb, text ? text : "", (mrb_int)length);
}

// {type: type, name: name, children: []}, or without name and children.
mrb_value node(mrb_state *mrb, const char *type, mrb_value name, bool with_children) {
    mrb_value hash = mrb_hash_new(mrb);
    mrb_hash_set(mrb, hash, sym(mrb, "type"), sym(mrb, type));
    if (!mrb_undef_p(name)) mrb_hash_set(mrb, hash, sym(mrb, "name"), name);
    if (with_children) mrb_hash_set(mrb, hash, sym(mrb, "children"), mrb_ary_new(mrb));
    return hash;
}

void add_child(xml_builder *builder, mrb_value child) {
    mrb_value children = mrb_hash_get(builder->mrb, builder->current, sym(builder->mrb, "children"));
    if (mrb_array_p(children)) mrb_ary_push(builder->mrb, children, child);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void build_start(xml_builder *builder, xml_parse_context *) {
    mrb_state *mrb = builder->mrb;
    builder->result = builder->current = node(mrb, "element", mrb_nil_value(), true);
    builder->stack = mrb_ary_new_from_values(mrb, 1, &builder->result);
    mrb_ary_push(mrb, builder->keep, builder->stack);
}

void build_element_start(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value element = node(mrb, "element", text_string(mrb, context->text, context->text_length), true);
    add_child(builder, element);
    mrb_ary_push(mrb, builder->stack, builder->current);
    builder->current = element;
}

// Stripping happens here rather than through String#strip!, so a game's
// changes to String cannot change what its documents parse to.
void build_content(xml_builder *builder, xml_parse_context *context) {
    const char *start = context->text, *end = context->text + context->text_length;
    if (builder->strip) {
        while (start < end && is_space(*start)) ++start;
        while (end > start && is_space(end[-1])) --end;
    }
    if (start == end) return;
    mrb_state *mrb = builder->mrb;
    mrb_value content = node(mrb, "content", mrb_undef_value(), false);
    mrb_hash_set(mrb, content, sym(mrb, "data"), mrb_str_new(mrb, start, end - start));
    add_child(builder, content);
}

void build_attribute(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value attributes = mrb_hash_get(mrb, builder->current, sym(mrb, "attributes"));
    if (!mrb_hash_p(attributes)) {
        attributes = mrb_hash_new(mrb);
        mrb_hash_set(mrb, builder->current, sym(mrb, "attributes"), attributes);
    }
    mrb_hash_set(mrb, attributes, text_string(mrb, context->previous_text, context->previous_length),
                 text_string(mrb, context->text, context->text_length));
}

void build_element_end(xml_builder *builder, xml_parse_context *) {
    builder->current = mrb_ary_pop(builder->mrb, builder->stack);
}

void build_pi(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value pi = node(mrb, "pi", text_string(mrb, context->previous_text, context->previous_length), false);
    mrb_hash_set(mrb, pi, sym(mrb, "data"), text_string(mrb, context->text, context->text_length));
    add_child(builder, pi);
}

typedef void (*build_step)(xml_builder *builder, xml_parse_context *context);

struct step_call {
    build_step step;
    xml_parse_context *context;
};

mrb_value run_step(mrb_state *, void *data) {
    step_call *call = (step_call *)data;
    call->step((xml_builder *)call->context->userdata, call->context);
    return mrb_nil_value();
}

// Each step runs under a rescue: an exception must not unwind through the
// XML parser, and one that happens is logged and cancels the parse. What a
// step made hangs from the root (or keep), so the arena can be reset.
int protected_step(xml_parse_context *context, build_step step) {
    xml_builder *builder = (xml_builder *)context->userdata;
    step_call call = {step, context};
    bool ok = host_protect(builder->mrb, run_step, &call, nullptr);
    mrb_gc_arena_restore(builder->mrb, builder->arena);
    return ok ? 1 : 0;
}

int on_start(xml_parse_context *context) { return protected_step(context, build_start); }
int on_element_start(xml_parse_context *context) { return protected_step(context, build_element_start); }
int on_content(xml_parse_context *context) { return protected_step(context, build_content); }
int on_attribute(xml_parse_context *context) { return protected_step(context, build_attribute); }
int on_element_end(xml_parse_context *context) { return protected_step(context, build_element_end); }
int on_pi(xml_parse_context *context) { return protected_step(context, build_pi); }

int on_finish(xml_parse_context *context) {
    xml_builder *builder = (xml_builder *)context->userdata;
    builder->current = builder->stack = mrb_nil_value();
    // A failed document leaves no partial tree behind.
    if (context->message) builder->result = mrb_nil_value();
    return 1;
}

// Runs parse (over text or a file) with the tree builder installed.
template <typename Parse> mrb_value build_tree(mrb_state *mrb, bool strip, Parse parse) {
    xml_builder builder = {};
    builder.mrb = mrb;
    builder.result = builder.current = builder.stack = mrb_nil_value();
    builder.keep = mrb_ary_new(mrb);
    builder.arena = mrb_gc_arena_save(mrb);
    builder.strip = strip;
    xml_parse_context context = {};
    context.userdata = &builder;
    context.on_start = on_start;
    context.on_finish = on_finish;
    context.on_element_start = on_element_start;
    context.on_content = on_content;
    context.on_attribute = on_attribute;
    context.on_element_end = on_element_end;
    context.on_pi = on_pi;
    parse(&context);
    return builder.result;
}

// Why a parse failed, with where: nothing for a file that could not be
// loaded (no fault of a document) or a build the game's code cancelled
// (its exception is logged already).
std::string failure_text(const xml_parse_context &context) {
    const char *message = context.message;
    if (!message || !std::strcmp(message, "Couldn't load file") || !std::strcmp(message, "Cancelled")) return "";
    // No position: nothing was read, so the document is empty (or memory
    // ran out before it could be).
    if (context.line == 0) return std::strcmp(message, "Out of memory") ? "the text is empty" : message;
    return std::string(message) + " at line " + std::to_string(context.line) + ", column " +
           std::to_string((unsigned long)context.column + 1);
}

mrb_value misc_parse_xml_file(mrb_state *mrb, mrb_value self) {
    const char *path = nullptr;
    mrb_bool strip = FALSE;
    mrb_get_args(mrb, "zb", &path, &strip);
    std::string failure;
    mrb_value tree = build_tree(mrb, strip, [&](xml_parse_context *context) {
        parse_xml_file(path, context);
        failure = failure_text(*context);
    });
    ffi_misc_record_parse_failure(mrb, self, failure);
    return tree;
}

mrb_value misc_parse_xml(mrb_state *mrb, mrb_value self) {
    const char *text = nullptr;
    mrb_int length = 0;
    mrb_bool strip = FALSE;
    mrb_get_args(mrb, "sb", &text, &length, &strip);
    std::string failure;
    mrb_value tree = xml_text_to_ruby(mrb, text, (size_t)length, strip, &failure);
    ffi_misc_record_parse_failure(mrb, self, failure);
    return tree;
}

} // namespace

mrb_value xml_text_to_ruby(mrb_state *mrb, const char *text, size_t length, bool strip, std::string *failure) {
    return build_tree(mrb, strip, [&](xml_parse_context *context) {
        parse_xml(text, length, context);
        if (failure) *failure = failure_text(*context);
    });
}

void xml_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "parse_xml_file", misc_parse_xml_file, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, misc_class, "parse_xml", misc_parse_xml, MRB_ARGS_REQ(2));
}
