#include "replay_text.h"

#include "saved_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

bool leading_blank(unsigned char c) { return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\v'; }

// String#strip drops NULs at the end too, not at the start.
bool trailing_blank(unsigned char c) { return leading_blank(c) || c == 0; }

bool begins(std::string_view line, std::string_view word) { return line.substr(0, word.size()) == word; }

bool container(const saved_text_token &token) {
    return token.kind == SAVED_TEXT_ARRAY || token.kind == SAVED_TEXT_HASH;
}

// One element of an event line: a scalar, or a container (of kind
// SAVED_TEXT_ARRAY, whatever it holds).
struct event_field {
    saved_text_token_kind kind = SAVED_TEXT_FAILED;
    int64_t integer = 0;
    double number = 0;
};

// The elements of the one Array the line holds, with the bytes of the
// first and the seventh when they are Symbols (a token's bytes last only
// until the next token); false when the line is no Array of at most seven.
struct event_line {
    saved_text_reader reader;
    std::vector<event_field> fields;
    std::string name, mark;

    bool read(std::string_view line) {
        fields.clear();
        name.clear();
        mark.clear();
        saved_text_read_start(&reader, line.data(), line.size());
        saved_text_token token = saved_text_next(&reader);
        if (token.kind != SAVED_TEXT_ARRAY) return false;
        for (bool open = !token.empty; open;) {
            token = saved_text_next(&reader);
            if (token.kind == SAVED_TEXT_END) break;
            if (token.kind == SAVED_TEXT_FAILED || fields.size() == 7) return false;
            event_field field;
            field.kind = container(token) ? SAVED_TEXT_ARRAY : token.kind;
            field.integer = token.integer;
            field.number = token.number;
            if (token.kind == SAVED_TEXT_SYMBOL && (fields.empty() || fields.size() == 6))
                (fields.empty() ? name : mark).assign(token.bytes, token.length);
            for (int depth = container(token) && !token.empty ? 1 : 0; depth > 0;) {
                saved_text_token inner = saved_text_next(&reader);
                if (inner.kind == SAVED_TEXT_FAILED) return false;
                if (container(inner) && !inner.empty) ++depth;
                if (inner.kind == SAVED_TEXT_END) --depth;
            }
            fields.push_back(field);
        }
        return saved_text_next(&reader).kind == SAVED_TEXT_DONE;
    }
};

bool number(const event_field &field) { return field.kind == SAVED_TEXT_INTEGER || field.kind == SAVED_TEXT_FLOAT; }

// Ranges are tested before anything converts the value: NaN fails every
// comparison, and a huge Float is no Integer.
bool fits(const replay_value_kind &kind, const event_field &value) {
    if (value.kind == SAVED_TEXT_FLOAT) {
        double x = value.number;
        if (kind.whole && !(std::isfinite(x) && std::floor(x) == x)) return false;
        if (!(x >= (double)kind.least && (kind.most_excluded ? x < (double)kind.most : x <= (double)kind.most)))
            return false;
        return kind.allowed.empty() ||
               std::find(kind.allowed.begin(), kind.allowed.end(), (int64_t)x) != kind.allowed.end();
    }
    int64_t n = value.integer;
    if (!(n >= kind.least && (kind.most_excluded ? n < kind.most : n <= kind.most))) return false;
    return kind.allowed.empty() || std::find(kind.allowed.begin(), kind.allowed.end(), n) != kind.allowed.end();
}

uint64_t value_bits(const event_field &value) {
    uint64_t bits;
    if (value.kind == SAVED_TEXT_FLOAT)
        std::memcpy(&bits, &value.number, sizeof bits);
    else
        std::memcpy(&bits, &value.integer, sizeof bits);
    return bits;
}

// What is wrong with a line that begins with "[", if anything; the event
// it holds otherwise.
replay_text_fault read_event(event_line *line, std::string_view text, const std::vector<replay_input> &inputs,
                             const std::unordered_map<std::string_view, int32_t> &by_name, replay_event *event) {
    const std::vector<event_field> &f = line->fields;
    if (!line->read(text) || (f.size() != 6 && f.size() != 7) || !number(f[1]) || !number(f[2]) ||
        f[3].kind != SAVED_TEXT_INTEGER || f[4].kind != SAVED_TEXT_INTEGER || f[5].kind != SAVED_TEXT_INTEGER ||
        (f.size() == 7 && (f[6].kind != SAVED_TEXT_SYMBOL || line->mark != "in_tick")))
        return REPLAY_TEXT_CORRUPT;
    auto found = f[0].kind == SAVED_TEXT_SYMBOL ? by_name.find(line->name) : by_name.end();
    if (found == by_name.end() || (int64_t)inputs[(size_t)found->second].values.size() != f[3].integer)
        return REPLAY_TEXT_UNKNOWN_INPUT;
    const replay_input &input = inputs[(size_t)found->second];
    for (size_t i = 0; i < input.values.size(); ++i)
        if (!fits(input.values[i], f[1 + i])) return REPLAY_TEXT_BAD_VALUE;
    event->tick = f[5].integer;
    event->order = f[4].integer;
    event->input = found->second;
    event->value_count = (uint8_t)input.values.size();
    event->floats = 0;
    event->unused = 0;
    for (int i = 0; i < 2; ++i) {
        event->values[i] = value_bits(f[1 + i]);
        if (f[1 + i].kind == SAVED_TEXT_FLOAT) event->floats |= (uint8_t)(1 << i);
    }
    event->in_tick = f.size() == 7;
    return REPLAY_TEXT_FINE;
}

} // namespace

size_t replay_text_room(const char *text, size_t length) {
    // The shortest line an event can be: "[:a,0,0,0,0,0]".
    constexpr size_t SHORTEST_EVENT = 14;
    size_t room = 0;
    for (size_t start = 0; start < length;) {
        const char *newline = (const char *)std::memchr(text + start, '\n', length - start);
        size_t end = newline ? (size_t)(newline - text) : length;
        size_t from = start;
        while (from < end && leading_blank((unsigned char)text[from])) ++from;
        if (from < end && text[from] == '[' && end - from >= SHORTEST_EVENT) ++room;
        start = end + 1;
    }
    return room;
}

void replay_text_read(const char *text, size_t length, const std::vector<replay_input> &inputs, replay_event *events,
                      replay_text_reading *reading) {
    *reading = replay_text_reading();
    std::unordered_map<std::string_view, int32_t> by_name;
    for (size_t i = 0; i < inputs.size(); ++i) by_name.emplace(inputs[i].name, (int32_t)i);
    for (size_t i = 0; i < length && reading->blank; ++i) reading->blank = trailing_blank((unsigned char)text[i]);
    if (reading->blank) return;
    event_line line;
    for (size_t start = 0; start < length;) {
        const char *newline = (const char *)std::memchr(text + start, '\n', length - start);
        size_t end = newline ? (size_t)(newline - text) : length;
        size_t from = start, to = end;
        start = end + 1;
        while (from < to && leading_blank((unsigned char)text[from])) ++from;
        while (to > from && trailing_blank((unsigned char)text[to - 1])) --to;
        std::string_view stripped(text + from, to - from);
        if (stripped.empty() || begins(stripped, "replay_version")) continue;
        replay_text_fault fault = REPLAY_TEXT_CORRUPT;
        if (begins(stripped, "[")) {
            replay_event *event = &events[reading->events];
            fault = read_event(&line, stripped, inputs, by_name, event);
            if (fault == REPLAY_TEXT_FINE) {
                reading->in_tick = reading->in_tick || event->in_tick;
                reading->events++;
                continue;
            }
        } else if (begins(stripped, "seed") || begins(stripped, "stopped_at") || begins(stripped, "recorded_at")) {
            reading->headers.emplace_back(from, to - from);
            continue;
        }
        reading->fault = fault;
        reading->fault_at = from;
        reading->fault_length = to - from;
        return;
    }
    // A recording writes its events in order, except that the game's own
    // input is noted under the tick before the one being counted.
    auto earlier = [](const replay_event &a, const replay_event &b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    };
    // Sorted where they lie: a long replay's events are not copied again.
    if (!std::is_sorted(events, events + reading->events, earlier)) std::sort(events, events + reading->events, earlier);
}

replay_event replay_event_unpack(const unsigned char *from) {
    replay_event event;
    std::memcpy(&event, from, sizeof event);
    return event;
}

size_t replay_events_first_at(const unsigned char *packed, size_t count, int64_t tick) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (replay_event_unpack(packed + middle * sizeof(replay_event)).tick < tick)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
