// FFI::Misc#parse_json and #parse_json_file: JSON text as plain Ruby values.
// null, true and false map to nil, true and false; a whole number that fits
// a 64-bit Integer becomes one, any other number a Float; objects become
// Hashes with String keys (a repeated key keeps its last value). Text after
// the first complete value is ignored; a document that does not parse
// answers nil.
#include "ffi.h"

#include "../host/fileio.h"
#include "../host/host_call.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>

namespace {

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

mrb_value misc_parse_json_file(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    char *text = (char *)loadfile(path, nullptr);
    if (!text) return mrb_nil_value();
    cJSON *tree = cJSON_ParseWithOpts(text, nullptr, 0);
    SDL_free(text);
    return convert_and_delete(mrb, tree);
}

mrb_value misc_parse_json(mrb_state *mrb, mrb_value) {
    const char *text = nullptr;
    mrb_get_args(mrb, "z", &text);
    return json_text_to_ruby(mrb, text);
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

mrb_value json_text_to_ruby(mrb_state *mrb, const char *text) {
    return convert_and_delete(mrb, text ? cJSON_ParseWithOpts(text, nullptr, 0) : nullptr);
}

void json_methods_define(mrb_state *mrb, RClass *misc_class) {
    // The parser's allocations come from the engine's allocator.
    static cJSON_Hooks hooks = {SDL_malloc, SDL_free};
    cJSON_InitHooks(&hooks);
    mrb_define_method(mrb, misc_class, "parse_json_file", misc_parse_json_file, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "parse_json", misc_parse_json, MRB_ARGS_REQ(1));
}
