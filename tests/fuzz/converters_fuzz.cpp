// Arbitrary bytes through the XML and JSON converters and the saved-state
// reader: no crash, no hang, no exception left pending, a tree is always a
// Hash or nil, and a document answers nil exactly when it comes with a
// reason (JSON's null answers nil without one), and JSON answers the same
// whatever follows a NUL. Saved text that reads is
// written and read again, and then writes the same text once more. The same
// bytes read as a replay file give events of known inputs, in order when
// the whole file reads, and a fault within the text.
#include "bridge/ffi.h"
#include "bridge/replay_text.h"

#include <string>
#include <vector>

namespace {

mrb_value read_saved(mrb_state *mrb, mrb_value text, mrb_value failure) {
    mrb_value args[2] = {text, failure};
    return mrb_funcall_argv(mrb, mrb_obj_value(mrb_module_get(mrb, "FFI")), mrb_intern_lit(mrb, "saved_text_read"), 2,
                            args);
}

mrb_value write_saved(mrb_state *mrb, mrb_value value) {
    mrb_value args[3] = {value, mrb_str_new_lit(mrb, "state"), mrb_nil_value()};
    return mrb_funcall_argv(mrb, mrb_obj_value(mrb_module_get(mrb, "FFI")), mrb_intern_lit(mrb, "saved_text_write"), 3,
                            args);
}

void saved_text_round_trip(mrb_state *mrb, const std::string &text) {
    mrb_value failure = mrb_ary_new(mrb);
    mrb_value value = read_saved(mrb, mrb_str_new(mrb, text.data(), (mrb_int)text.size()), failure);
    if (mrb->exc) __builtin_trap();
    if (RARRAY_LEN(failure) != 0) {
        // Refused: nil, with what was wrong and a byte within the text.
        mrb_value at = mrb_ary_entry(failure, 1);
        if (!mrb_nil_p(value) || RARRAY_LEN(failure) != 2 || !mrb_integer_p(at) || mrb_integer(at) < 0 ||
            mrb_integer(at) > (mrb_int)text.size())
            __builtin_trap();
        return;
    }
    mrb_value written = write_saved(mrb, value);
    if (mrb->exc || !mrb_string_p(written)) __builtin_trap();
    mrb_value again = read_saved(mrb, written, failure);
    if (mrb->exc || RARRAY_LEN(failure) != 0) __builtin_trap();
    mrb_value rewritten = write_saved(mrb, again);
    if (mrb->exc || !mrb_string_p(rewritten) || !mrb_str_equal(mrb, written, rewritten)) __builtin_trap();
}

void replay_text_check(const std::string &text) {
    static const std::vector<replay_input> inputs = [] {
        replay_value_kind pixel{false, -2147483648LL, 2147483648LL, true, {}};
        replay_value_kind pad{true, 0, 64, true, {1, 2, 15}};
        return std::vector<replay_input>{{"mouse_move", {pixel, pixel}}, {"key_down_player_one", {pad}}};
    }();
    std::vector<replay_event> events(replay_text_room(text.data(), text.size()));
    replay_text_reading reading;
    replay_text_read(text.data(), text.size(), inputs, events.data(), &reading);
    if (reading.events > events.size() || reading.fault_at + reading.fault_length > text.size()) __builtin_trap();
    for (size_t i = 0; i < reading.events; ++i) {
        const replay_event &e = events[i];
        if (e.input < 0 || (size_t)e.input >= inputs.size() || e.value_count != inputs[(size_t)e.input].values.size())
            __builtin_trap();
        if (reading.fault == REPLAY_TEXT_FINE && i > 0 &&
            (events[i - 1].tick > e.tick || (events[i - 1].tick == e.tick && events[i - 1].order > e.order)))
            __builtin_trap();
    }
    for (const auto &line : reading.headers)
        if (line.first + line.second > text.size()) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static mrb_state *mrb = [] {
        mrb_state *state = mrb_open();
        json_methods_define(state, state->object_class);
        ffi_saved_text_methods_define(state, mrb_define_module(state, "FFI"));
        return state;
    }();
    if (size == 0) return 0;
    int arena = mrb_gc_arena_save(mrb);
    // The first byte picks the converter: XML as written, XML stripped, JSON,
    // saved state.
    int mode = data[0] % 4;
    std::string text((const char *)data + 1, size - 1);
    if (mode == 3) {
        saved_text_round_trip(mrb, text);
        replay_text_check(text);
        mrb_gc_arena_restore(mrb, arena);
        return 0;
    }
    std::string failure;
    mrb_value value = mode == 2 ? json_text_to_ruby(mrb, text.c_str(), text.size(), &failure)
                                : xml_text_to_ruby(mrb, text.data(), text.size(), mode == 1, &failure);
    if (mrb->exc || (mode != 2 && !mrb_nil_p(value) && !mrb_hash_p(value))) __builtin_trap();
    if (!failure.empty() && !mrb_nil_p(value)) __builtin_trap();
    if (mode != 2 && mrb_nil_p(value) && failure.empty()) __builtin_trap();
    if (mode == 2) {
        // Only the first value is read, and a NUL ends the text: whatever
        // follows one changes nothing.
        std::string padded = text + '\0' + text, unused;
        mrb_value again = json_text_to_ruby(mrb, padded.c_str(), padded.size(), &unused);
        // eql?, since == of two equal Integers beyond 62 bits is false here.
        if (mrb->exc || !mrb_eql(mrb, value, again)) __builtin_trap();
    }
    mrb_gc_arena_restore(mrb, arena);
    return 0;
}
