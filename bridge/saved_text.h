// Reading saved game state, without the interpreter. The text is what the
// state and the values it holds print as: Ruby literals of Hash, Array,
// String, Symbol, Integer, Float, nil, true and false, in every form Ruby
// source writes them (single or double quotes with their escapes, label
// keys as in {a: 1}, trailing commas, 1_000, 0x10, 0b101, 0o17, 017). Nothing
// in it is ever evaluated, so a save file cannot run code; anything else is
// refused with what was wrong and the byte where it was found.
//
// The reader hands out one token at a time and never calls back, so the code
// that builds values from the tokens may leave by a long jump (the
// interpreter raising) without skipping any of the reader's clean-up: every
// buffer lives in the reader record, which its owner destroys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum saved_text_token_kind {
    SAVED_TEXT_NIL,
    SAVED_TEXT_TRUE,
    SAVED_TEXT_FALSE,
    SAVED_TEXT_INTEGER,
    SAVED_TEXT_FLOAT,
    SAVED_TEXT_STRING,
    SAVED_TEXT_SYMBOL,
    // A container begins; `empty` when it also ends at once ("[]", "{}").
    SAVED_TEXT_ARRAY,
    SAVED_TEXT_HASH,
    // The innermost open container ends.
    SAVED_TEXT_END,
    // The whole text was one value.
    SAVED_TEXT_DONE,
    // The text is not saved state: see the reader's failure and failure_at.
    SAVED_TEXT_FAILED,
};

struct saved_text_token {
    saved_text_token_kind kind = SAVED_TEXT_FAILED;
    int64_t integer = 0;
    double number = 0;
    // A string's or symbol's bytes: in the text itself or in the reader's
    // scratch buffer, valid until the next token.
    const char *bytes = nullptr;
    size_t length = 0;
    bool empty = false;
    // The byte where the value begins in the text.
    size_t at = 0;
};

struct saved_text_frame {
    bool hash;
    bool expecting_key;
};

struct saved_text_reader {
    const char *text = nullptr;
    size_t length = 0;
    size_t pos = 0;
    // After a value the reader looks for what follows it (a comma, an arrow,
    // the end of a container or of the text) before the next value.
    bool after_value = false;
    std::vector<saved_text_frame> frames;
    std::string scratch;
    // Set once the text is refused.
    const char *failure = nullptr;
    size_t failure_at = 0;
};

// Begins reading length bytes of text, which must stay unchanged meanwhile.
void saved_text_read_start(saved_text_reader *reader, const char *text, size_t length);

// The next token. Values come in the order they appear: in a Hash a key and
// then its value. After SAVED_TEXT_DONE or SAVED_TEXT_FAILED every call
// answers the same again.
saved_text_token saved_text_next(saved_text_reader *reader);
