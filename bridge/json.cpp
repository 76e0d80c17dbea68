// FFI::Misc#parse_json and #parse_json_file: JSON text as plain Ruby values.
// null, true and false map to nil, true and false; a whole number that fits
// a 64-bit Integer becomes one, any other number a Float; objects become
// Hashes with String keys (a repeated key keeps its last value). Text after
// the first complete value is ignored; a document that does not parse
// answers nil, and the method's receiver keeps why (FFI::Misc#parse_error)
// for the runtime to report.
#include "ffi.h"
#include "float_text.h"

#include "../host/fileio.h"
#include "../host/host_call.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Where a byte of the text is, as every parser says it.
std::string position_text(const char *text, const char *at) {
    unsigned long line = 1;
    const char *line_start = text;
    for (const char *c = text; c < at; ++c)
        if (*c == '\n') ++line, line_start = c + 1;
    return ffi_parse_position_text(line, (unsigned long)(at - line_start) + 1);
}

// Why cJSON stopped at `at`: it reports where, not why.
std::string parse_failure(const char *text, const char *at) {
    const char *first = text + std::strspn(text, " \t\r\n");
    if (!*first) return "the text is empty";
    if (!at || at < text) return "the text is not JSON";
    if (!*at) return "the text ends before the value is complete" + position_text(text, at);
    unsigned char c = (unsigned char)*at;
    char shown[32];
    if (c >= 0x20 && c < 0x7f) std::snprintf(shown, sizeof shown, "unexpected '%c'", c);
    else std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", c);
    return shown + position_text(text, at);
}

// cJSON ends a string at an escaped NUL and answers the rest as lost; such a
// document is refused instead of answered shortened. Backslashes only occur
// inside strings in a document that parsed, so pairs are skipped from the
// start. NULL when there is none.
const char *escaped_nul(const char *text, const char *end) {
    const char *c = text;
    while (c < end && (c = (const char *)std::memchr(c, '\\', (size_t)(end - c))) != nullptr) {
        if (end - c >= 6 && c[1] == 'u' && !std::memcmp(c + 2, "0000", 4)) return c;
        c += 2;
    }
    return nullptr;
}

// The text of the next number at or after *cursor, outside strings; the
// cursor moves past it. Numbers come in the document's order, as a walk of
// the parsed tree meets them.
std::string_view next_number_text(const char **cursor) {
    const char *c = *cursor;
    while (*c && *c != '-' && !(*c >= '0' && *c <= '9')) {
        if (*c == '"')
            for (++c; *c && *c != '"'; ++c)
                if (*c == '\\' && c[1]) ++c;
        if (*c) ++c;
    }
    const char *start = c;
    while (*c && std::strchr("0123456789+-.eE", *c)) ++c;
    *cursor = c;
    return std::string_view(start, (size_t)(c - start));
}

// cJSON reads numbers with the C library; a Float is what the same literal
// in game code gives, so each number that is not whole is read again from
// its text with the interpreter's conversion. (Were that to read a whole
// number, the C library's value is kept: the text is no whole number.)
void reread_floats(cJSON *item, const char **cursor) {
    for (; item; item = item->next) {
        if ((item->type & 0xFF) == cJSON_Number) {
            std::string_view text = next_number_text(cursor);
            double value = 0;
            if (item->valuedouble != std::floor(item->valuedouble) &&
                float_text_parse(text.data(), text.size(), &value) && value != std::floor(value))
                item->valuedouble = value;
        }
        reread_floats(item->child, cursor);
    }
}

// Parses text; on failure answers NULL and says why in *failure.
cJSON *parse_checked(const char *text, std::string *failure) {
    const char *end = nullptr;
    cJSON *tree = cJSON_ParseWithOpts(text, &end, 0);
    if (!tree) {
        if (failure) *failure = parse_failure(text, end);
        return nullptr;
    }
    if (const char *nul = escaped_nul(text, end ? end : text + std::strlen(text))) {
        cJSON_Delete(tree);
        if (failure) *failure = "a string holds \\u0000, which would cut it short" + position_text(text, nul);
        return nullptr;
    }
    const char *cursor = text;
    reread_floats(tree, &cursor);
    return tree;
}

mrb_value json_number(mrb_state *mrb, double number) {
    // Both bounds are powers of two and so exact as doubles; outside them
    // (and for infinities and NaN) converting to an integer is undefined.
    if (number == std::floor(number) && number >= -9223372036854775808.0 && number < 9223372036854775808.0)
        return mrb_int_value(mrb, (mrb_int)number);
    return mrb_float_value(mrb, number);
}

mrb_value convert_top(mrb_state *mrb, void *item) {
    mrb_value value = json_to_ruby(mrb, mrb_undef_value(), (const cJSON *)item);
    return mrb_undef_p(value) ? mrb_nil_value() : value;
}

// Converts a parsed tree, then frees it. A Ruby exception while converting
// is logged and answers nil.
mrb_value convert_and_delete(mrb_state *mrb, cJSON *tree) {
    if (!tree) return mrb_nil_value();
    mrb_value value = mrb_nil_value();
    host_protect(mrb, convert_top, tree, &value);
    cJSON_Delete(tree);
    return value;
}

// A file that cannot be loaded answers nil without a reason: like a missing
// file for read, it is no fault of the document.
mrb_value misc_parse_json_file(mrb_state *mrb, mrb_value self) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    std::string failure;
    char *text = (char *)loadfile(path, nullptr);
    cJSON *tree = text ? parse_checked(text, &failure) : nullptr;
    SDL_free(text);
    ffi_misc_record_parse_failure(mrb, self, failure);
    return convert_and_delete(mrb, tree);
}

mrb_value misc_parse_json(mrb_state *mrb, mrb_value self) {
    const char *text = nullptr;
    mrb_get_args(mrb, "z", &text);
    std::string failure;
    mrb_value value = json_text_to_ruby(mrb, text, &failure);
    ffi_misc_record_parse_failure(mrb, self, failure);
    return value;
}

mrb_value misc_parse_error(mrb_state *mrb, mrb_value self) {
    return mrb_iv_get(mrb, self, mrb_intern_lit(mrb, "@parse_error"));
}

} // namespace

mrb_value json_to_ruby(mrb_state *mrb, mrb_value parent, const cJSON *item) {
    mrb_value value;
    switch (item->type & 0xFF) {
    case cJSON_NULL: value = mrb_nil_value(); break;
    case cJSON_False: value = mrb_false_value(); break;
    case cJSON_True: value = mrb_true_value(); break;
    case cJSON_Number: value = json_number(mrb, item->valuedouble); break;
    case cJSON_String: value = mrb_str_new_cstr(mrb, item->valuestring ? item->valuestring : ""); break;
    case cJSON_Array:
    case cJSON_Object: {
        value = (item->type & 0xFF) == cJSON_Array ? mrb_ary_new(mrb) : mrb_hash_new(mrb);
        // Each child hangs from value as soon as it is made.
        int arena = mrb_gc_arena_save(mrb);
        for (const cJSON *child = item->child; child; child = child->next) {
            json_to_ruby(mrb, value, child);
            mrb_gc_arena_restore(mrb, arena);
        }
        break;
    }
    case cJSON_Invalid: std::printf("JSON: INVALID TYPE!\n"); return parent;
    default: std::printf("JSON: UNKNOWN TYPE!\n"); return parent;
    }
    if (mrb_undef_p(parent)) return value;
    if (item->string && mrb_hash_p(parent)) mrb_hash_set(mrb, parent, mrb_str_new_cstr(mrb, item->string), value);
    else if (!item->string && mrb_array_p(parent)) mrb_ary_push(mrb, parent, value);
    return parent;
}

std::string ffi_parse_position_text(unsigned long line, unsigned long column) {
    return " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

void ffi_misc_record_parse_failure(mrb_state *mrb, mrb_value self, const std::string &failure) {
    mrb_value reason = failure.empty() ? mrb_nil_value() : mrb_str_new(mrb, failure.data(), failure.size());
    mrb_iv_set(mrb, self, mrb_intern_lit(mrb, "@parse_error"), reason);
}

mrb_value json_text_to_ruby(mrb_state *mrb, const char *text, std::string *failure) {
    return convert_and_delete(mrb, text ? parse_checked(text, failure) : nullptr);
}

void json_methods_define(mrb_state *mrb, RClass *misc_class) {
    // The parser's allocations come from the engine's allocator.
    static cJSON_Hooks hooks = {SDL_malloc, SDL_free};
    cJSON_InitHooks(&hooks);
    mrb_define_method(mrb, misc_class, "parse_json_file", misc_parse_json_file, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "parse_json", misc_parse_json, MRB_ARGS_REQ(1));
    // Shared with the XML parsers, which keep their reason the same way.
    mrb_define_method(mrb, misc_class, "parse_error", misc_parse_error, MRB_ARGS_NONE());
}
