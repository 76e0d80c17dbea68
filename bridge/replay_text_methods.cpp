// FFI.replay_text_read and FFI.replay_events_at: the recorder's reading of
// a replay file (bridge/replay_text.cpp) and its look-up of the events of
// one tick in what the reading kept. The recorder (vellum/recording.rb)
// says which inputs a replay may give and what each value may be, and
// words every refusal.
#include "ffi.h"
#include "replay_text.h"

#include <mruby/array.h>
#include <mruby/error.h>
#include <mruby/string.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

mrb_value item(mrb_value array, mrb_int i) { return RARRAY_LEN(array) > i ? RARRAY_PTR(array)[i] : mrb_nil_value(); }

int64_t whole_number(mrb_state *mrb, mrb_value value) {
    if (!mrb_integer_p(value)) mrb_raise(mrb, E_TYPE_ERROR, "replay inputs: bounds must be Integers");
    return (int64_t)mrb_integer(value);
}

// [[name, [[whole, least, most, most_excluded, allowed or nil], ...]], ...]
void read_inputs(mrb_state *mrb, mrb_value given, std::vector<replay_input> *inputs) {
    for (mrb_int i = 0; i < RARRAY_LEN(given); ++i) {
        mrb_value entry = mrb_ensure_array_type(mrb, item(given, i));
        mrb_value name = item(entry, 0), kinds = mrb_ensure_array_type(mrb, item(entry, 1));
        replay_input input;
        if (mrb_symbol_p(name)) {
            mrb_int length = 0;
            const char *bytes = mrb_sym_name_len(mrb, mrb_symbol(name), &length);
            input.name.assign(bytes, (size_t)length);
        } else {
            name = mrb_ensure_string_type(mrb, name);
            input.name.assign(RSTRING_PTR(name), (size_t)RSTRING_LEN(name));
        }
        for (mrb_int k = 0; k < RARRAY_LEN(kinds); ++k) {
            mrb_value spec = mrb_ensure_array_type(mrb, item(kinds, k));
            replay_value_kind kind;
            kind.whole = mrb_test(item(spec, 0));
            kind.least = whole_number(mrb, item(spec, 1));
            kind.most = whole_number(mrb, item(spec, 2));
            kind.most_excluded = mrb_test(item(spec, 3));
            mrb_value allowed = item(spec, 4);
            if (!mrb_nil_p(allowed)) {
                allowed = mrb_ensure_array_type(mrb, allowed);
                for (mrb_int a = 0; a < RARRAY_LEN(allowed); ++a)
                    kind.allowed.push_back(whole_number(mrb, item(allowed, a)));
            }
            input.values.push_back(kind);
        }
        inputs->push_back(input);
    }
}

const char *fault_name(replay_text_fault fault) {
    switch (fault) {
    case REPLAY_TEXT_UNKNOWN_INPUT: return "input";
    case REPLAY_TEXT_BAD_VALUE: return "value";
    default: return "corrupt";
    }
}

struct read_job {
    mrb_value text, given_inputs, failure;
    std::vector<replay_input> inputs;
    replay_text_reading reading;
};

// Run under mrb_protect_error: a raise leaves through mruby's long jump,
// which skips destructors, so the buffers live in the job outside it.
mrb_value read_walk(mrb_state *mrb, void *data) {
    read_job *job = (read_job *)data;
    read_inputs(mrb, job->given_inputs, &job->inputs);
    const char *text = RSTRING_PTR(job->text);
    size_t length = (size_t)RSTRING_LEN(job->text);
    // The events are read into the String that keeps them, with room for
    // as many as the text can hold, then cut to those there were: a long
    // replay is never held twice. A String of one event or more has a
    // buffer of its own from the allocator, aligned for any record.
    size_t room = std::max<size_t>(1, replay_text_room(text, length));
    mrb_value events = mrb_str_new(mrb, nullptr, (mrb_int)(room * sizeof(replay_event)));
    if ((uintptr_t)RSTRING_PTR(events) % alignof(replay_event) != 0)
        mrb_raise(mrb, E_RUNTIME_ERROR, "replay events: the buffer is not aligned");
    replay_text_read(text, length, job->inputs, (replay_event *)RSTRING_PTR(events), &job->reading);
    const replay_text_reading &r = job->reading;
    mrb_str_resize(mrb, events, (mrb_int)(r.events * sizeof(replay_event)));
    mrb_value headers = mrb_ary_new_capa(mrb, (mrb_int)r.headers.size());
    for (const auto &line : r.headers) mrb_ary_push(mrb, headers, mrb_str_new(mrb, text + line.first, line.second));
    if (r.fault != REPLAY_TEXT_FINE) {
        mrb_ary_push(mrb, job->failure, mrb_symbol_value(mrb_intern_cstr(mrb, fault_name(r.fault))));
        mrb_ary_push(mrb, job->failure, mrb_str_new(mrb, text + r.fault_at, r.fault_length));
    }
    mrb_value answer[4] = {events, headers, mrb_bool_value(r.blank), mrb_bool_value(r.in_tick)};
    return mrb_ary_new_from_values(mrb, 4, answer);
}

// FFI.replay_text_read(text, inputs, failure): [events, header lines,
// blank, in_tick] for the text of a replay file: its events packed, sorted
// by tick and then by order; its header lines as Strings, stripped; whether
// it holds nothing but blanks; whether some event is the game's own input.
// At the first line that cannot be replayed it stops, and appends to
// failure what was wrong (:corrupt, :input or :value) and the line.
mrb_value ffi_replay_text_read(mrb_state *mrb, mrb_value) {
    mrb_value text, inputs, failure;
    mrb_get_args(mrb, "SAA", &text, &inputs, &failure);
    mrb_bool raised = FALSE;
    mrb_value result;
    {
        read_job job;
        job.text = text;
        job.given_inputs = inputs;
        job.failure = failure;
        result = mrb_protect_error(mrb, read_walk, &job, &raised);
    }
    if (raised) mrb_exc_raise(mrb, result);
    return result;
}

// FFI.replay_events_at(events, tick): the events FFI.replay_text_read packed
// that were recorded at tick, in order, each [input, value_1, value_2,
// value_count, order, in_tick], input being the index of its input.
mrb_value ffi_replay_events_at(mrb_state *mrb, mrb_value) {
    mrb_value events;
    mrb_int tick;
    mrb_get_args(mrb, "Si", &events, &tick);
    size_t bytes = (size_t)RSTRING_LEN(events);
    if (bytes % sizeof(replay_event) != 0) mrb_raise(mrb, E_ARGUMENT_ERROR, "not packed replay events");
    const unsigned char *packed = (const unsigned char *)RSTRING_PTR(events);
    size_t count = bytes / sizeof(replay_event);
    mrb_value found = mrb_ary_new(mrb);
    for (size_t i = replay_events_first_at(packed, count, (int64_t)tick); i < count; ++i) {
        replay_event event = replay_event_unpack(packed + i * sizeof(replay_event));
        if (event.tick != (int64_t)tick) break;
        mrb_value values[2];
        for (int v = 0; v < 2; ++v) {
            if (event.floats & (1 << v)) {
                double number;
                std::memcpy(&number, &event.values[v], sizeof number);
                values[v] = mrb_float_value(mrb, number);
            } else {
                int64_t integer;
                std::memcpy(&integer, &event.values[v], sizeof integer);
                values[v] = mrb_int_value(mrb, (mrb_int)integer);
            }
        }
        mrb_value fields[6] = {mrb_int_value(mrb, event.input), values[0], values[1],
                               mrb_int_value(mrb, event.value_count), mrb_int_value(mrb, (mrb_int)event.order),
                               mrb_bool_value(event.in_tick)};
        mrb_ary_push(mrb, found, mrb_ary_new_from_values(mrb, 6, fields));
    }
    return found;
}

} // namespace

void ffi_replay_text_methods_define(mrb_state *mrb, RClass *ffi_module) {
    mrb_define_module_function(mrb, ffi_module, "replay_text_read", ffi_replay_text_read, MRB_ARGS_REQ(3));
    mrb_define_module_function(mrb, ffi_module, "replay_events_at", ffi_replay_events_at, MRB_ARGS_REQ(2));
}
