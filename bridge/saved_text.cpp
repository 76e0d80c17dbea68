#include "saved_text.h"

#include "float_text.h"

#include <cmath>
#include <cstring>

namespace {

// Operator names a symbol may have as the interpreter writes them (:&& and
// :|| among them), longest first so that :<=> is not read as :<= followed
// by >.
const char *const OPERATORS[] = {"[]=", "<=>", "===", "[]", "**", "!=", "!~", "+@", "-@", "<=", "<<", ">=", ">>",
                                 "==",  "=~",  "&&",  "||", "!",  "+",  "-",  "*",  "/",  "%",  "<",  ">",  "&",
                                 "|",   "^",   "~",   "`"};
// What may follow "$" in the name of a special global variable ("$-" alone
// is one too).
const char GLOBAL_PUNCTUATION[] = "~*$?!@/\\;,.=:<>\"&`'+0_-";

// Bytes of names: letters, digits, "_" and every byte of a multi-byte
// character, as in Ruby source.
bool word_byte(int b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' || b >= 0x80;
}

bool digit(int b) { return b >= '0' && b <= '9'; }

bool hex_digit(int b) { return digit(b) || (b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F'); }

bool octal_digit(int b) { return b >= '0' && b <= '7'; }

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

bool digit_of_base(int b, int base) {
    if (base == 16) return hex_digit(b);
    return b >= '0' && b < '0' + base;
}

// Digits of base with single underscores between them (1_000), as Ruby
// reads numbers; answers how many digits it passed.
size_t skip_digits(saved_text_reader *r, int base = 10) {
    size_t count = 0;
    for (int b = peek(r);; b = peek(r)) {
        if (digit_of_base(b, base)) {
            count++;
        } else if (!(b == '_' && count > 0 && digit_of_base(byte_at(r, r->pos + 1), base))) {
            break;
        }
        r->pos++;
    }
    return count;
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

// The base of an Integer written with a prefix (0x10, 0b101, 0o17, 0d9 and
// 017 or 0_17, which are octal), with the read position moved past it; 10
// for a number without one.
int number_base(saved_text_reader *r) {
    if (peek(r) != '0') return 10;
    int next = byte_at(r, r->pos + 1);
    int base = 0;
    switch (next | 0x20) {
    case 'x': base = 16; break;
    case 'b': base = 2; break;
    case 'o': base = 8; break;
    case 'd': base = 10; break;
    default: break;
    }
    if (base) {
        r->pos += 2;
        return base;
    }
    // A leading 0 makes the rest octal: 08 and 0_8 are refused.
    if (digit(next) || next == '_') {
        r->pos += next == '_' ? 2 : 1;
        return 8;
    }
    return 10;
}

saved_text_token read_number(saved_text_reader *r) {
    size_t start = r->pos;
    bool negative = peek(r) == '-';
    if (negative || peek(r) == '+') r->pos++;
    if (negative && peek(r) == 'I') {
        size_t word = r->pos;
        if (!word_is(r, word, read_word(r), "Infinity")) return fail(r, "not a number");
        saved_text_token t = token(SAVED_TEXT_FLOAT);
        t.number = -HUGE_VAL;
        return t;
    }
    size_t prefix_start = r->pos;
    int base = number_base(r);
    bool prefixed = r->pos != prefix_start;
    size_t digits_start = r->pos;
    if (skip_digits(r, base) == 0 || (base == 8 && digit(peek(r)))) return fail(r, "not a number");
    size_t digits_end = r->pos;
    bool is_float = false;
    if (!prefixed && peek(r) == '.' && digit(byte_at(r, r->pos + 1))) {
        is_float = true;
        r->pos++;
        skip_digits(r);
    }
    if (!prefixed && (peek(r) == 'e' || peek(r) == 'E')) {
        is_float = true;
        r->pos++;
        if (peek(r) == '+' || peek(r) == '-') r->pos++;
        if (skip_digits(r) == 0) return fail(r, "not a number");
    }
    if (is_float) {
        // Read as the same literal in game code is, without its underscores.
        saved_text_token t = token(SAVED_TEXT_FLOAT);
        const char *text = r->text + start;
        size_t length = r->pos - start;
        if (std::memchr(text, '_', length)) {
            r->scratch.clear();
            for (size_t i = 0; i < length; ++i)
                if (text[i] != '_') r->scratch.push_back(text[i]);
            text = r->scratch.data();
            length = r->scratch.size();
        }
        if (!float_text_parse(text, length, &t.number)) return fail(r, "not a number");
        return t;
    }
    // Integers are 64-bit; beyond that the text is refused at its start.
    uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
    uint64_t magnitude = 0;
    for (size_t i = digits_start; i < digits_end; ++i) {
        if (r->text[i] == '_') continue;
        uint64_t d = (uint64_t)hex_value((unsigned char)r->text[i]);
        if (magnitude > (limit - d) / (uint64_t)base) {
            r->pos = start;
            return fail(r, "integer out of range");
        }
        magnitude = magnitude * (uint64_t)base + d;
    }
    saved_text_token t = token(SAVED_TEXT_INTEGER);
    t.integer = negative ? (int64_t)(0 - magnitude) : (int64_t)magnitude;
    return t;
}

void append_utf8(std::string *out, uint32_t c) {
    if (c < 0x80) {
        out->push_back((char)c);
    } else if (c < 0x800) {
        out->push_back((char)(0xC0 | (c >> 6)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back((char)(0xE0 | (c >> 12)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    } else {
        out->push_back((char)(0xF0 | (c >> 18)));
        out->push_back((char)(0x80 | ((c >> 12) & 0x3F)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
}

constexpr int BAD_ESCAPE = INT32_MIN;

// A code point of 1 to `most` hex digits, which it passes; BAD_ESCAPE for
// none, a surrogate or one beyond Unicode.
int read_code_point(saved_text_reader *r, int most) {
    int count = 0;
    uint32_t value = 0;
    while (count < most && hex_digit(peek(r))) {
        value = value * 16 + (uint32_t)hex_value(peek(r));
        r->pos++;
        count++;
    }
    if (count == 0 || value > 0x10FFFF || (value & 0xFFFFF800) == 0xD800) return BAD_ESCAPE;
    return (int)value;
}

// The value of the escape whose letter is at the read position, which it
// passes, as Ruby reads it in double quotes: a byte, or minus a code point
// for \u; BAD_ESCAPE for one Ruby refuses. Any other character stands for
// itself ("\q" is "q").
int escape_value(saved_text_reader *r) {
    int c = peek(r);
    if (c < 0) return BAD_ESCAPE;
    r->pos++;
    switch (c) {
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    case 'f': return '\f';
    case 'v': return '\v';
    case 'a': return '\a';
    case 'e': return 0x1b;
    case 'b': return '\b';
    case 's': return ' ';
    case 'x': {
        int value = 0, count = 0;
        while (count < 2 && hex_digit(peek(r))) value = value * 16 + hex_value(byte_at(r, r->pos++)), count++;
        return count ? value : BAD_ESCAPE;
    }
    case 'u': {
        bool braced = peek(r) == '{';
        if (braced) r->pos++;
        int value = read_code_point(r, braced ? 8 : 4);
        if (value == BAD_ESCAPE || (braced && byte_at(r, r->pos++) != '}')) return BAD_ESCAPE;
        return -value;
    }
    case 'M': {
        if (byte_at(r, r->pos++) != '-') return BAD_ESCAPE;
        int next = peek(r);
        if (next < 0) return BAD_ESCAPE;
        r->pos++;
        int value = next == '\\' ? escape_value(r) : next;
        return value < 0 ? BAD_ESCAPE : (value & 0xFF) | 0x80;
    }
    case 'C':
        if (byte_at(r, r->pos++) != '-') return BAD_ESCAPE;
        [[fallthrough]];
    case 'c': {
        int next = peek(r);
        if (next < 0) return BAD_ESCAPE;
        r->pos++;
        if (next == '?') return 0x7F;
        int value = next == '\\' ? escape_value(r) : next;
        return value < 0 ? BAD_ESCAPE : value & 0x9F;
    }
    default:
        if (c >= '0' && c <= '7') {
            int value = c - '0';
            for (int count = 1; count < 3 && octal_digit(peek(r)); ++count) value = value * 8 + (byte_at(r, r->pos++) - '0');
            return value & 0xFF;
        }
        return c;
    }
}

// Appends the bytes of the escape after a backslash in double quotes; a
// backslash before a line break joins the lines, and \u{...} may hold
// several code points.
bool append_escape(saved_text_reader *r) {
    if (peek(r) == '\n') {
        r->pos++;
        return true;
    }
    if (peek(r) == 'u' && byte_at(r, r->pos + 1) == '{') {
        r->pos += 2;
        for (;;) {
            while (peek(r) == ' ' || (peek(r) >= '\t' && peek(r) <= '\r')) r->pos++;
            if (peek(r) == '}') {
                r->pos++;
                return true;
            }
            int value = read_code_point(r, 8);
            if (value == BAD_ESCAPE) return false;
            append_utf8(&r->scratch, (uint32_t)value);
        }
    }
    int value = escape_value(r);
    if (value == BAD_ESCAPE) return false;
    if (value < 0) append_utf8(&r->scratch, (uint32_t)-value);
    else r->scratch.push_back((char)value);
    return true;
}

// A string from its opening quote, double or single. Without escapes its
// bytes stay in the text; otherwise they are put together in the scratch
// buffer. In single quotes only \\ and \' are escapes.
saved_text_token read_string(saved_text_reader *r, saved_text_token_kind kind) {
    int quote = peek(r);
    r->pos++;
    bool copied = false;
    size_t first = r->pos;
    for (;;) {
        size_t start = r->pos;
        int b = -1;
        while (r->pos < r->length) {
            b = peek(r);
            if (b == quote || b == '\\' || (b == '#' && quote == '"')) break;
            r->pos++;
        }
        if (r->pos >= r->length) return fail(r, "unterminated string");
        if (b == quote) {
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
        size_t backslash = r->pos++;
        if (quote == '\'') {
            int next = peek(r);
            if (next == '\\' || next == '\'') r->pos++;
            else r->scratch.push_back('\\');
            if (next == '\\' || next == '\'') r->scratch.push_back((char)next);
            continue;
        }
        if (!append_escape(r)) {
            int letter = byte_at(r, backslash + 1);
            r->pos = backslash;
            return fail(r, letter == 'x' ? "bad \\x escape" : letter == 'u' ? "bad \\u escape" : "bad escape");
        }
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
    if (peek(r) == '"' || peek(r) == '\'') return read_string(r, SAVED_TEXT_SYMBOL);
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
    if (c == '"' || c == '\'') return read_string(r, SAVED_TEXT_STRING);
    if (c == ':') return read_symbol(r);
    if (c == '-' || c == '+' || digit(c)) return read_number(r);
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

saved_text_token read_value_at(saved_text_reader *r);

saved_text_token read_value(saved_text_reader *r) {
    skip_space(r);
    size_t at = r->pos;
    saved_text_token t = read_value_at(r);
    t.at = at;
    return t;
}

saved_text_token read_value_at(saved_text_reader *r) {
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
    saved_text_frame *frame = r->frames.empty() ? nullptr : &r->frames.back();
    bool key = frame && frame->expecting_key;
    // A key may be written as a label, as in {a: 1}, {a?: 1} or {"a b": 1}:
    // a name or a string followed at once by a colon (not by "::") is a
    // Symbol key, and the value follows without an arrow.
    size_t name = key && word_byte(c) && !digit(c) ? name_length(r, r->pos) : 0;
    if (name && (byte_at(r, r->pos + name) == '?' || byte_at(r, r->pos + name) == '!')) name++;
    saved_text_token t;
    if (name && byte_at(r, r->pos + name) == ':' && byte_at(r, r->pos + name + 1) != ':') {
        t = token(SAVED_TEXT_SYMBOL);
        t.bytes = r->text + r->pos;
        t.length = name;
        r->pos += name;
    } else {
        t = read_scalar(r);
        if (r->failure) return t;
        r->after_value = true;
        if (!(key && t.kind == SAVED_TEXT_STRING && peek(r) == ':' && byte_at(r, r->pos + 1) != ':')) return t;
        t.kind = SAVED_TEXT_SYMBOL;
    }
    r->pos++;
    frame->expecting_key = false;
    r->after_value = false;
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
        // A comma may end a container: [1, 2,] and {a: 1,}.
        skip_space(r);
        c = peek(r);
        if (c != (frame.hash ? '}' : ']')) {
            frame.expecting_key = frame.hash;
            r->after_value = false;
            return read_value(r);
        }
    }
    if (c == (frame.hash ? '}' : ']')) {
        r->pos++;
        r->frames.pop_back();
        return token(SAVED_TEXT_END);
    }
    return fail(r, frame.hash ? "expected , or }" : "expected , or ]");
}
