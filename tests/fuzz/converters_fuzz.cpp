// Arbitrary bytes through the XML and JSON converters: no crash, no hang, no
// exception left pending, a tree is always a Hash or nil, and a document
// answers nil exactly when it comes with a reason (JSON's null answers nil
// without one).
#include "bridge/ffi.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static mrb_state *mrb = [] {
        mrb_state *state = mrb_open();
        json_methods_define(state, state->object_class);
        return state;
    }();
    if (size == 0) return 0;
    int arena = mrb_gc_arena_save(mrb);
    // The first byte picks the converter: XML as written, XML stripped, JSON.
    int mode = data[0] % 3;
    std::string text((const char *)data + 1, size - 1);
    std::string failure;
    mrb_value value = mode == 2 ? json_text_to_ruby(mrb, text.c_str(), &failure)
                                : xml_text_to_ruby(mrb, text.data(), text.size(), mode == 1, &failure);
    if (mrb->exc || (mode != 2 && !mrb_nil_p(value) && !mrb_hash_p(value))) __builtin_trap();
    if (!failure.empty() && !mrb_nil_p(value)) __builtin_trap();
    if (mode != 2 && mrb_nil_p(value) && failure.empty()) __builtin_trap();
    mrb_gc_arena_restore(mrb, arena);
    return 0;
}
