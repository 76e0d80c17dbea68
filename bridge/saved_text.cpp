#include "saved_text.h"

#include "float_text.h"

#include <cmath>
#include <cstring>

namespace {

// Operator names a symbol may have, longest first so that :<=> is not read
// as :<= followed by >.
const char *const OPERATORS[] = {"[]=", "<=>", "===", "[]", "**", "!=", "!~", "+@", "-@", "<=", "<<", ">=", ">>", "==",
                                 "=~",  "!",   "+",   "-",  "*",  "/",  "%",  "<",  ">",  "&",  "|",  "^",  "~",  "`"};
// What may follow "$" in the name of a special global variable.
const char GLOBAL_PUNCTUATION[] = "~*$?!@/\\;,.=:<>\"&`'+0_";

bool word_byte(int b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_';
}

bool digit(int b) { return b >= '0' && b <= '9'; }

bool hex_digit(int b) { return digit(b) || (b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F'); }

int hex_value(int b) { return digit(b) ? b - '0' : (b | 0x20) - 'a' + 10; }

// The byte at index, -1 past the end.
int byte_at(const saved_text_reader *r, size_t index) {
    return index < r->length ? (unsigned char)r->text[index] : -1;
}

int peek(const saved_text_reader *r) { return byte_at(r, r->pos); }

bool text_at(const saved_text_reader *r, size_t index, const char *what, size_t length) {
    return index <= r->length && r->length - index >= length && std::memcmp(r->text + index, what, length) == 0;
}

saved_text_token fail(saved_text_reader *r, const char *what) {
    if (!r->failure) {
        r->failure = what;
        r->failure_at = r->pos;
    }
    return saved_text_token{};
}

void skip_space(saved_text_reader *r) {
    for (int b = peek(r); b == ' ' || b == '\n' || b == '\t' || b == '\r'; b = peek(r)) r->pos++;
}

size_t name_length(const saved_text_reader *r, size_t from) {
    size_t index = from;
    while (word_byte(byte_at(r, index))) index++;
    return index - from;
}

size_t skip_digits(saved_text_reader *r) {
    size_t start = r->pos;
    while (digit(peek(r))) r->pos++;
    return r->pos - start;
}

saved_text_token token(saved_text_token_kind kind) {
    saved_text_token t;
    t.kind = kind;
    return t;
}

// The word at the read position, which it passes.
size_t read_word(saved_text_reader *r) {
    size_t length = name_length(r, r->pos);
    r->pos += length;
    return length;
}

bool word_is(const saved_text_reader *r, size_t start, size_t length, const char *word) {
    return length == std::strlen(word) && std::memcmp(r->text + start, word, length) == 0;
}

saved_text_token read_number(saved_text_reader *r) {
    size_t start = r->pos;
    bool negative = peek(r) == '-';
    if (negative) r->pos++;
    if (peek(r) == 'I') {
        size_t word = r->pos;
        if (!word_is(r, word, read_word(r), "Infinity")) return fail(r, "not a number");
        saved_text_token t = token(SAVED_TEXT_FLOAT);
        t.number = -HUGE_VAL;
        return t;
    }
    size_t digits_start = r->pos;
    if (skip_digits(r) == 0) return fail(r, "not a number");
    size_t digits_end = r->pos;
    bool is_float = false;
    if (peek(r) == '.' && digit(byte_at(r, r->pos + 1))) {
        is_float = true;
        r->pos++;
        skip_digits(r);
    }
    if (peek(r) == 'e' || peek(r) == 'E') {
        is_float = true;
        r->pos++;
        if (peek(r) == '+' || peek(r) == '-') r->pos++;
        if (skip_digits(r) == 0) return fail(r, "not a number");
    }
    if (is_float) {
        // The C library reads the shortest text the writer chose back to
        // the same bits.
        saved_text_token t = token(SAVED_TEXT_FLOAT);
        if (!float_text_parse(r->text + start, r->pos - start, &t.number)) return fail(r, "not a number");
        return t;
    }
    // Integers are 64-bit; beyond that the text is refused at its start.
    uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
    uint64_t magnitude = 0;
    for (size_t i = digits_start; i < digits_end; ++i) {
        uint64_t d = (uint64_t)(r->text[i] - '0');
        if (magnitude > (limit - d) / 10) {
            r->pos = start;
            return fail(r, "integer out of range");
        }
        magnitude = magnitude * 10 + d;
    }
    saved_text_token t = token(SAVED_TEXT_INTEGER);
    t.integer = negative ? (int64_t)(0 - magnitude) : (int64_t)magnitude;
    return t;
}

// A string from its opening quote. Without escapes its bytes stay in the
// text; otherwise they are put together in the scratch buffer.
saved_text_token read_string(saved_text_reader *r, saved_text_token_kind kind) {
    r->pos++;
    bool copied = false;
    size_t first = r->pos;
    for (;;) {
        size_t start = r->pos;
        int b = -1;
        while (r->pos < r->length) {
            b = peek(r);
            if (b == '"' || b == '\\' || b == '#') break;
            r->pos++;
        }
        if (r->pos >= r->length) return fail(r, "unterminated string");
        if (b == '"') {
            saved_text_token t = token(kind);
            if (copied) {
                r->scratch.append(r->text + start, r->pos - start);
                t.bytes = r->scratch.data();
                t.length = r->scratch.size();
            } else {
                t.bytes = r->text + first;
                t.length = r->pos - first;
            }
            r->pos++;
            return t;
        }
        if (!copied) {
            r->scratch.clear();
            copied = true;
        }
        r->scratch.append(r->text + start, r->pos - start);
        if (b == '#') {
            // Unescaped, this would be code in Ruby source.
            int follower = byte_at(r, r->pos + 1);
            if (follower == '{' || follower == '$' || follower == '@') return fail(r, "interpolation in a string");
            r->scratch.push_back('#');
            r->pos++;
            continue;
        }
        int letter = byte_at(r, r->pos + 1);
        if (letter == 'x') {
            size_t hex = r->pos + 2, count = 0;
            int value = 0;
            while (count < 2 && hex_digit(byte_at(r, hex + count))) value = value * 16 + hex_value(byte_at(r, hex + count++));
            if (count == 0) return fail(r, "bad \\x escape");
            r->pos = hex + count;
            r->scratch.push_back((char)value);
            continue;
        }
        const char *escape = nullptr;
        switch (letter) {
        case 'n': escape = "\n"; break;
        case 't': escape = "\t"; break;
        case 'r': escape = "\r"; break;
        case 'e': escape = "\x1b"; break;
        case 'a': escape = "\a"; break;
        case 'b': escape = "\b"; break;
        case 'v': escape = "\v"; break;
        case 'f': escape = "\f"; break;
        case '"': escape = "\""; break;
        case '\\': escape = "\\"; break;
        case '#': escape = "#"; break;
        default: return fail(r, "unknown escape");
        }
        r->scratch.push_back(escape[0]);
        r->pos += 2;
    }
}

// Whether a symbol may end before index: at the end of the text, a
// separator or an arrow.
bool follower_ok(const saved_text_reader *r, size_t index) {
    if (index >= r->length) return true;
    int b = byte_at(r, index);
    if (b == ',' || b == ']' || b == '}' || b == ' ' || b == '\n' || b == '\t' || b == '\r') return true;
    return text_at(r, index, "=>", 2);
}

saved_text_token read_symbol(saved_text_reader *r) {
    r->pos++;
    if (peek(r) == '"') return read_string(r, SAVED_TEXT_SYMBOL);
    // The lengths the symbol could have, longest first; the first one
    // followed by a separator is the one the writer meant (:a==>1 is :a=).
    size_t start = r->pos, lengths[sizeof(OPERATORS) / sizeof(OPERATORS[0])];
    size_t count = 0;
    int b = peek(r);
    if (b < 0) {
    } else if (word_byte(b) && !digit(b)) {
        size_t n = name_length(r, start);
        int suffix = byte_at(r, start + n);
        if (suffix == '?' || suffix == '!' || suffix == '=') lengths[count++] = n + 1;
        lengths[count++] = n;
    } else if (b == '@') {
        size_t prefix = byte_at(r, start + 1) == '@' ? 2 : 1;
        size_t n = name_length(r, start + prefix);
        if (n > 0 && !digit(byte_at(r, start + prefix))) lengths[count++] = prefix + n;
    } else if (b == '$') {
        size_t n = name_length(r, start + 1);
        int next = byte_at(r, start + 1);
        if (n > 0)
            lengths[count++] = 1 + n;
        else if (next == '-' && word_byte(byte_at(r, start + 2)))
            lengths[count++] = 3;
        else if (next > 0 && std::strchr(GLOBAL_PUNCTUATION, next))
            lengths[count++] = 2;
    } else {
        for (const char *op : OPERATORS) {
            size_t length = std::strlen(op);
            if (text_at(r, start, op, length)) lengths[count++] = length;
        }
    }
    for (size_t i = 0; i < count; ++i)
        if (follower_ok(r, start + lengths[i])) {
            r->pos = start + lengths[i];
            saved_text_token t = token(SAVED_TEXT_SYMBOL);
            t.bytes = r->text + start;
            t.length = lengths[i];
            return t;
        }
    return fail(r, "not a symbol");
}

saved_text_token read_scalar(saved_text_reader *r) {
    int c = peek(r);
    if (c < 0) return fail(r, "unexpected end of the saved text");
    if (c == '"') return read_string(r, SAVED_TEXT_STRING);
    if (c == ':') return read_symbol(r);
    if (c == '-' || digit(c)) return read_number(r);
    size_t start = r->pos, length = read_word(r);
    if (word_is(r, start, length, "nil")) return token(SAVED_TEXT_NIL);
    if (word_is(r, start, length, "true")) return token(SAVED_TEXT_TRUE);
    if (word_is(r, start, length, "false")) return token(SAVED_TEXT_FALSE);
    saved_text_token t = token(SAVED_TEXT_FLOAT);
    if (word_is(r, start, length, "Infinity")) {
        t.number = HUGE_VAL;
        return t;
    }
    if (word_is(r, start, length, "NaN")) {
        t.number = NAN;
        return t;
    }
    return fail(r, "not a literal");
}

saved_text_token read_value(saved_text_reader *r) {
    skip_space(r);
    int c = peek(r);
    if (c == '[' || c == '{') {
        bool hash = c == '{';
        r->pos++;
        skip_space(r);
        saved_text_token t = token(hash ? SAVED_TEXT_HASH : SAVED_TEXT_ARRAY);
        if (peek(r) == (hash ? '}' : ']')) {
            r->pos++;
            t.empty = true;
            r->after_value = true;
        } else {
            r->frames.push_back({hash, hash});
        }
        return t;
    }
    saved_text_token t = read_scalar(r);
    if (!r->failure) r->after_value = true;
    return t;
}

} // namespace

void saved_text_read_start(saved_text_reader *reader, const char *text, size_t length) {
    reader->text = text;
    reader->length = length;
    reader->pos = 0;
    reader->after_value = false;
    reader->frames.clear();
    reader->scratch.clear();
    reader->failure = nullptr;
    reader->failure_at = 0;
}

saved_text_token saved_text_next(saved_text_reader *r) {
    if (r->failure) return saved_text_token{};
    if (!r->after_value) return read_value(r);
    // What follows a value: the end of the text, the arrow after a key, or
    // a comma or the end of the container it is in.
    skip_space(r);
    if (r->frames.empty()) {
        if (r->pos < r->length) return fail(r, "unexpected text after the saved value");
        return token(SAVED_TEXT_DONE);
    }
    saved_text_frame &frame = r->frames.back();
    if (frame.expecting_key) {
        frame.expecting_key = false;
        if (!text_at(r, r->pos, "=>", 2)) return fail(r, "expected =>");
        r->pos += 2;
        r->after_value = false;
        return read_value(r);
    }
    int c = peek(r);
    if (c == ',') {
        r->pos++;
        frame.expecting_key = frame.hash;
        r->after_value = false;
        return read_value(r);
    }
    if (c == (frame.hash ? '}' : ']')) {
        r->pos++;
        r->frames.pop_back();
        return token(SAVED_TEXT_END);
    }
    return fail(r, frame.hash ? "expected , or }" : "expected , or ]");
}
