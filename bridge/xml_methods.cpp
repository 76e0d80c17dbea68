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

// The Symbols of the tree: keys and node types.
enum xml_symbol { SYM_TYPE, SYM_ELEMENT, SYM_NAME, SYM_CHILDREN, SYM_ATTRIBUTES, SYM_CONTENT, SYM_DATA, SYM_PI,
                  SYM_COUNT };
const char *const SYMBOL_NAMES[SYM_COUNT] = {"type", "element", "name", "children",
                                             "attributes", "content", "data", "pi"};

// Looking a name up walks the interpreter's symbol table, which the framework
// makes so large that one look-up costs more than building a node. mruby
// never frees a symbol, so the ids are looked up once and kept; each is
// checked against its name before a parse, which also notices that the
// interpreter is another one (and then looks them up again).
const mrb_sym *tree_symbols(mrb_state *mrb) {
    thread_local mrb_sym ids[SYM_COUNT] = {};
    for (int i = 0; i < SYM_COUNT; ++i) {
        mrb_int length = 0;
        const char *name = ids[i] ? mrb_sym_name_len(mrb, ids[i], &length) : nullptr;
        size_t wanted = std::strlen(SYMBOL_NAMES[i]);
        if (!name || (size_t)length != wanted || std::memcmp(name, SYMBOL_NAMES[i], wanted))
            ids[i] = mrb_intern_static(mrb, SYMBOL_NAMES[i], wanted);
    }
    return ids;
}

struct open_element {
    mrb_value element, children;
};

constexpr size_t KEY_SLOTS = 64;

struct xml_builder {
    mrb_state *mrb;
    const mrb_sym *symbols;
    mrb_value result;
    // The open element and its children: a child is added without a look-up
    // in the element's Hash.
    mrb_value current, children;
    // The open element's ancestors, innermost last. Each hangs from the
    // root, which keep holds, so the collector needs no list of them and
    // closing an element touches no Ruby object.
    open_element *stack; // from mrb_realloc: growing it may raise
    size_t depth, capacity;
    mrb_value keep; // holds the root for the collector
    int arena;      // the GC arena as it was once keep existed
    bool strip;
    bool out_of_memory; // the interpreter's, while a step built
    // Attribute names met lately, as frozen Strings, by a hash of the name.
    mrb_value keys[KEY_SLOTS];
};

mrb_value sym(const xml_builder *builder, xml_symbol which) { return mrb_symbol_value(builder->symbols[which]); }

mrb_value text_string(mrb_state *mrb, const char *text, uint32_t length) {
    return mrb_str_new(mrb, text ? text : "", (mrb_int)length);
}

// {type: type, name: name, children: []}, or without name and children;
// sized for the keys it will hold (an element may gain attributes).
mrb_value node(const xml_builder *builder, xml_symbol type, mrb_value name, mrb_value children) {
    mrb_state *mrb = builder->mrb;
    mrb_value hash = mrb_hash_new_capa(mrb, mrb_nil_p(children) ? 3 : 4);
    mrb_hash_set(mrb, hash, sym(builder, SYM_TYPE), sym(builder, type));
    if (!mrb_undef_p(name)) mrb_hash_set(mrb, hash, sym(builder, SYM_NAME), name);
    if (!mrb_nil_p(children)) mrb_hash_set(mrb, hash, sym(builder, SYM_CHILDREN), children);
    return hash;
}

void add_child(xml_builder *builder, mrb_value child) {
    if (mrb_array_p(builder->children)) mrb_ary_push(builder->mrb, builder->children, child);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void build_start(xml_builder *builder, xml_parse_context *) {
    mrb_state *mrb = builder->mrb;
    builder->children = mrb_ary_new(mrb);
    builder->result = builder->current = node(builder, SYM_ELEMENT, mrb_nil_value(), builder->children);
    mrb_ary_push(mrb, builder->keep, builder->result);
}

void build_element_start(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value children = mrb_ary_new(mrb);
    mrb_value element = node(builder, SYM_ELEMENT, text_string(mrb, context->text, context->text_length), children);
    add_child(builder, element);
    if (builder->depth == builder->capacity) {
        size_t capacity = builder->capacity ? builder->capacity * 2 : 64;
        builder->stack = (open_element *)mrb_realloc(mrb, builder->stack, capacity * sizeof(open_element));
        builder->capacity = capacity;
    }
    builder->stack[builder->depth++] = {builder->current, builder->children};
    builder->current = element, builder->children = children;
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
    mrb_value content = node(builder, SYM_CONTENT, mrb_undef_value(), mrb_nil_value());
    mrb_hash_set(mrb, content, sym(builder, SYM_DATA), mrb_str_new(mrb, start, end - start));
    add_child(builder, content);
}

// Attribute names repeat from element to element. A Hash keeps a frozen copy
// of a String key that is not frozen, so a name met again is handed over as
// the frozen String made for it before: every Hash shares that one as its
// key, and no copy is made and dropped per attribute.
mrb_value attribute_key(xml_builder *builder, const char *name, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) hash = (hash ^ (unsigned char)name[i]) * 16777619u;
    mrb_value &slot = builder->keys[hash % KEY_SLOTS];
    if (mrb_string_p(slot) && RSTRING_LEN(slot) == (mrb_int)length && !std::memcmp(RSTRING_PTR(slot), name, length))
        return slot;
    slot = mrb_obj_freeze(builder->mrb, text_string(builder->mrb, name, length));
    mrb_ary_push(builder->mrb, builder->keep, slot);
    return slot;
}

void build_attribute(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value attributes = mrb_hash_get(mrb, builder->current, sym(builder, SYM_ATTRIBUTES));
    if (!mrb_hash_p(attributes)) {
        // Sized for one, as an element often has just one attribute; the
        // table grows for more.
        attributes = mrb_hash_new_capa(mrb, 1);
        mrb_hash_set(mrb, builder->current, sym(builder, SYM_ATTRIBUTES), attributes);
    }
    mrb_hash_set(mrb, attributes, attribute_key(builder, context->previous_text, context->previous_length),
                 text_string(mrb, context->text, context->text_length));
}

void build_pi(xml_builder *builder, xml_parse_context *context) {
    mrb_state *mrb = builder->mrb;
    mrb_value pi = node(builder, SYM_PI, text_string(mrb, context->previous_text, context->previous_length),
                        mrb_nil_value());
    mrb_hash_set(mrb, pi, sym(builder, SYM_DATA), text_string(mrb, context->text, context->text_length));
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
// XML parser, and one that happens cancels the parse and is logged, except
// running out of memory, which the parse reports as its failure. What a step
// made hangs from the root (or keep), so the arena can be reset.
int protected_step(xml_parse_context *context, build_step step) {
    xml_builder *builder = (xml_builder *)context->userdata;
    step_call call = {step, context};
    bool out_of_memory = false;
    bool ok = host_protect(builder->mrb, run_step, &call, nullptr, &out_of_memory);
    builder->out_of_memory |= out_of_memory;
    mrb_gc_arena_restore(builder->mrb, builder->arena);
    return ok ? 1 : 0;
}

int on_start(xml_parse_context *context) { return protected_step(context, build_start); }
int on_element_start(xml_parse_context *context) { return protected_step(context, build_element_start); }
int on_content(xml_parse_context *context) { return protected_step(context, build_content); }
int on_attribute(xml_parse_context *context) { return protected_step(context, build_attribute); }
// Back to the enclosing element (the document root after the top element);
// nothing here can raise, so it needs no rescue.
int on_element_end(xml_parse_context *context) {
    xml_builder *builder = (xml_builder *)context->userdata;
    if (builder->depth == 0) {
        builder->current = builder->children = mrb_nil_value();
        return 1;
    }
    open_element enclosing = builder->stack[--builder->depth];
    builder->current = enclosing.element, builder->children = enclosing.children;
    return 1;
}
int on_pi(xml_parse_context *context) { return protected_step(context, build_pi); }

int on_finish(xml_parse_context *context) {
    xml_builder *builder = (xml_builder *)context->userdata;
    builder->current = builder->children = mrb_nil_value();
    // A failed document leaves no partial tree behind.
    if (context->message) builder->result = mrb_nil_value();
    return 1;
}

// Runs parse (over text or a file) with the tree builder installed.
template <typename Parse> mrb_value build_tree(mrb_state *mrb, bool strip, Parse parse) {
    xml_builder builder = {};
    builder.mrb = mrb;
    builder.symbols = tree_symbols(mrb);
    builder.result = builder.current = builder.children = mrb_nil_value();
    const int arena = mrb_gc_arena_save(mrb);
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
    // The collector keeps running: the parse's allocations pay for its
    // steps as any Ruby code's do, so a game that parses every frame frees
    // its earlier trees, and memory running out can be met by a collection.
    // The tree being built is reachable from keep throughout.
    parse(&context);
    mrb_free(mrb, builder.stack);
    // A partial tree is let go at once: after running out of memory, what
    // the caller allocates next needs that memory back.
    mrb_gc_arena_restore(mrb, arena);
    mrb_gc_protect(mrb, builder.result);
    return builder.result;
}

// Why a parse failed, with where: nothing for a file that could not be
// loaded (no fault of a document) or a build the game's code cancelled
// (its exception is logged already).
std::string failure_text(const xml_parse_context &context) {
    const char *message = context.message;
    if (message == XML_MESSAGE_CANCELLED && ((const xml_builder *)context.userdata)->out_of_memory)
        message = XML_MESSAGE_OUT_OF_MEMORY;
    if (!message || message == XML_MESSAGE_NO_FILE || message == XML_MESSAGE_CANCELLED) return "";
    // No position: nothing was read, so the document is empty (or memory
    // ran out before it could be).
    if (context.line == 0) return message == XML_MESSAGE_OUT_OF_MEMORY ? message : "the text is empty";
    return message + ffi_parse_position_text(context.line, (unsigned long)context.column + 1);
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
