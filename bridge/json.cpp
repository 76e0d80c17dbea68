// FFI::Misc#parse_json and #parse_json_file: JSON text as plain Ruby values.
// null, true and false map to nil, true and false; a whole number that fits
// a 64-bit Integer becomes one, read exactly from its text, any other number
// a Float; objects become Hashes with String keys (a repeated key keeps its
// last value). Only the first complete value is read: what follows it is
// not looked at. A document that does not parse, or holds a NUL byte before
// its value is complete, answers nil, and the method's receiver keeps why
// (FFI::Misc#parse_error) for the runtime to report.
#include "ffi.h"
#include "float_text.h"

#include "../host/fileio.h"
#include "../host/host_call.h"

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char MESSAGE_OUT_OF_MEMORY[] = "Out of memory";

// cJSON answers a document it could not allocate for as one that does not
// parse; its allocations are watched to tell the two apart.
bool allocation_failed = false;

void *json_malloc(size_t size) {
    void *memory = SDL_malloc(size);
    if (!memory) allocation_failed = true;
    return memory;
}

// Where a byte of the text is, as every parser says it.
std::string position_text(const char *text, const char *at) {
    unsigned long line = 1;
    const char *line_start = text;
    for (const char *c = text; c < at; ++c)
        if (*c == '\n') ++line, line_start = c + 1;
    return ffi_parse_position_text(line, (unsigned long)(at - line_start) + 1);
}

// The byte after the string whose opening quote is at c, in text that ends
// with a NUL.
const char *after_string(const char *c) {
    for (++c; *c; ++c) {
        if (*c == '"') return c + 1;
        if (*c == '\\' && !*++c) break;
    }
    return c;
}

// How many arrays and objects are open at `at`.
size_t depth_at(const char *text, const char *at) {
    size_t depth = 0;
    for (const char *c = text; c < at;) {
        if (*c == '"') {
            c = after_string(c);
            continue;
        }
        if (*c == '[' || *c == '{') ++depth;
        else if ((*c == ']' || *c == '}') && depth) --depth;
        ++c;
    }
    return depth;
}

// Why cJSON stopped at `at`: it reports where, not why.
std::string parse_failure(const char *text, const char *at) {
    const char *first = text + std::strspn(text, " \t\r\n");
    if (!*first) return "the text is empty";
    if (allocation_failed) return MESSAGE_OUT_OF_MEMORY;
    if (!at || at < text) return "the text is not JSON";
    if (!*at) return "the text ends before the value is complete" + position_text(text, at);
    if ((*at == '[' || *at == '{') && depth_at(text, at) >= CJSON_NESTING_LIMIT)
        return "arrays and objects nest deeper than " + std::to_string(CJSON_NESTING_LIMIT) + " levels" +
               position_text(text, at);
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

// Parses the first value of text, which holds `length` bytes and a NUL
// after them; whatever follows a complete value is not read (files often
// end in NUL bytes, an end-of-file byte or a second document). On failure
// answers NULL and says why.
cJSON *parse_checked(const char *text, size_t length, std::string *failure) {
    const char *end = nullptr;
    allocation_failed = false;
    cJSON *tree = cJSON_ParseWithOpts(text, &end, 0);
    if (!tree) {
        // The parser takes a NUL byte for the end of the text: one before
        // the value is complete is what cut it short.
        const char *nul = (const char *)std::memchr(text, 0, length);
        *failure = nul && (!end || end >= nul) ? "the text holds a NUL byte" + position_text(text, nul)
                                               : parse_failure(text, end);
        return nullptr;
    }
    if (const char *nul = escaped_nul(text, end)) {
        cJSON_Delete(tree);
        *failure = "a string holds \\u0000, which would cut it short" + position_text(text, nul);
        return nullptr;
    }
    return tree;
}

// The value of a number's text when it is a whole number within the
// Integer range (1e3, 3.0 and -0 are), read exactly: the parser's double
// has only 53 bits. False for any other number.
bool exact_whole_number(const char *text, size_t length, mrb_int *value) {
    const char *c = text, *end = text + length;
    const bool negative = c < end && *c == '-';
    if (negative) ++c;
    // The digits as a whole number, times ten to the power `scale`. Zeros
    // after the last other digit only count in the scale, so the digits
    // hold only what is significant.
    const uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
    uint64_t digits = 0;
    int64_t scale = 0, zeros = 0;
    bool any = false, fraction = false;
    for (; c < end && ((*c >= '0' && *c <= '9') || (*c == '.' && !fraction)); ++c) {
        if (*c == '.') {
            fraction = true;
            continue;
        }
        any = true;
        if (fraction) --scale;
        if (*c == '0') {
            ++zeros;
            continue;
        }
        for (; zeros > 0; --zeros)
            if (digits > limit / 10) return false;
            else digits *= 10;
        if (digits > (limit - (uint64_t)(*c - '0')) / 10) return false;
        digits = digits * 10 + (uint64_t)(*c - '0');
    }
    if (!any) return false;
    if (c < end && (*c == 'e' || *c == 'E')) {
        ++c;
        const bool down = c < end && *c == '-';
        if (c < end && (*c == '-' || *c == '+')) ++c;
        if (c == end) return false;
        int64_t exponent = 0;
        for (; c < end && *c >= '0' && *c <= '9'; ++c)
            if (exponent < 1000000) exponent = exponent * 10 + (*c - '0');
        scale += down ? -exponent : exponent;
    }
    if (c != end) return false;
    if (digits == 0) {
        *value = 0;
        return true;
    }
    scale += zeros;
    // The last significant digit is not 0, so a fraction remains.
    if (scale < 0) return false;
    for (; scale > 0; --scale)
        if (digits > limit / 10) return false;
        else digits *= 10;
    if (digits > limit) return false;
    *value = negative ? (mrb_int)(0 - digits) : (mrb_int)digits;
    return true;
}

// The text of the next number from *cursor on, in text that parsed; the
// cursor moves past it. Numbers come in the order the tree holds them.
const char *next_number(const char **cursor, size_t *length) {
    const char *c = *cursor;
    while (*c && *c != '-' && (*c < '0' || *c > '9')) c = *c == '"' ? after_string(c) : c + 1;
    const char *start = c;
    while ((*c >= '0' && *c <= '9') || *c == '-' || *c == '+' || *c == '.' || *c == 'e' || *c == 'E') ++c;
    *cursor = c;
    *length = (size_t)(c - start);
    return start;
}

// Any other number is a Float, read as the same literal in game code is
// (the parser's own reading can differ in the last bits the interpreter
// keeps).
mrb_value json_number(mrb_state *mrb, const cJSON *item, const char **number_text) {
    size_t length = 0;
    const char *text = next_number(number_text, &length);
    mrb_int whole = 0;
    if (exact_whole_number(text, length, &whole)) return mrb_int_value(mrb, whole);
    double value = item->valuedouble;
    float_text_parse(text, length, &value);
    return mrb_float_value(mrb, value);
}

struct conversion {
    const cJSON *tree;
    const char *text;
};

mrb_value convert_top(mrb_state *mrb, void *data) {
    conversion *convert = (conversion *)data;
    mrb_value value = json_to_ruby(mrb, mrb_undef_value(), convert->tree, &convert->text);
    return mrb_undef_p(value) ? mrb_nil_value() : value;
}

// Converts a tree parsed from text, then frees it. Running out of memory
// answers nil and is the failure; another Ruby exception while converting
// is logged and answers nil.
mrb_value convert_and_delete(mrb_state *mrb, cJSON *tree, const char *text, std::string *failure) {
    if (!tree) return mrb_nil_value();
    mrb_value value = mrb_nil_value();
    conversion convert = {tree, text};
    bool out_of_memory = false;
    host_protect(mrb, convert_top, &convert, &value, &out_of_memory);
    cJSON_Delete(tree);
    if (out_of_memory) *failure = MESSAGE_OUT_OF_MEMORY;
    return value;
}

// A file that cannot be loaded answers nil without a reason: like a missing
// file for read, it is no fault of the document.
mrb_value misc_parse_json_file(mrb_state *mrb, mrb_value self) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    std::string failure;
    size_t size = 0;
    char *text = (char *)loadfile(path, &size);
    mrb_value value = json_text_to_ruby(mrb, text, size, &failure);
    SDL_free(text);
    ffi_misc_record_parse_failure(mrb, self, failure);
    return value;
}

mrb_value misc_parse_json(mrb_state *mrb, mrb_value self) {
    mrb_value string = mrb_nil_value();
    mrb_get_args(mrb, "S", &string);
    // RSTRING_CSTR ends the text with a NUL, and raises for a NUL inside it:
    // the parser stops at the first NUL of such a text, which lies inside it.
    size_t length = (size_t)RSTRING_LEN(string);
    const char *text = std::memchr(RSTRING_PTR(string), 0, length) ? RSTRING_PTR(string) : RSTRING_CSTR(mrb, string);
    std::string failure;
    mrb_value value = json_text_to_ruby(mrb, text, length, &failure);
    ffi_misc_record_parse_failure(mrb, self, failure);
    return value;
}

mrb_value misc_parse_error(mrb_state *mrb, mrb_value self) {
    return mrb_iv_get(mrb, self, mrb_intern_lit(mrb, "@parse_error"));
}

} // namespace

mrb_value json_to_ruby(mrb_state *mrb, mrb_value parent, const cJSON *item, const char **number_text) {
    mrb_value value;
    switch (item->type & 0xFF) {
    case cJSON_NULL: value = mrb_nil_value(); break;
    case cJSON_False: value = mrb_false_value(); break;
    case cJSON_True: value = mrb_true_value(); break;
    case cJSON_Number: value = json_number(mrb, item, number_text); break;
    case cJSON_String: value = mrb_str_new_cstr(mrb, item->valuestring ? item->valuestring : ""); break;
    case cJSON_Array:
    case cJSON_Object: {
        value = (item->type & 0xFF) == cJSON_Array ? mrb_ary_new(mrb) : mrb_hash_new(mrb);
        // Each child hangs from value as soon as it is made.
        int arena = mrb_gc_arena_save(mrb);
        for (const cJSON *child = item->child; child; child = child->next) {
            json_to_ruby(mrb, value, child, number_text);
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

mrb_value json_text_to_ruby(mrb_state *mrb, const char *text, size_t length, std::string *failure) {
    if (!text) return mrb_nil_value();
    std::string unused;
    if (!failure) failure = &unused;
    return convert_and_delete(mrb, parse_checked(text, length, failure), text, failure);
}

void json_methods_define(mrb_state *mrb, RClass *misc_class) {
    // The parser's allocations come from the engine's allocator.
    static cJSON_Hooks hooks = {json_malloc, SDL_free};
    cJSON_InitHooks(&hooks);
    mrb_define_method(mrb, misc_class, "parse_json_file", misc_parse_json_file, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "parse_json", misc_parse_json, MRB_ARGS_REQ(1));
    // Shared with the XML parsers, which keep their reason the same way.
    mrb_define_method(mrb, misc_class, "parse_error", misc_parse_error, MRB_ARGS_NONE());
}
