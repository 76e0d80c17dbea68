// Floats as text, read the way the interpreter reads a float literal in game
// code, so that a saved or parsed number is the value the same text gives in
// a game's own source. The interpreter's conversion is not the C library's:
// it sums the digits in floating point, and a Float keeps 50 of a double's
// 53 mantissa bits (boxing clears the two lowest). "0.3" is therefore not
// the C library's nearest double, and the writer searches for a text that
// this conversion reads back to the value it holds.
#pragma once

#include <cstddef>

// The value a Float holding `value` has: its two lowest mantissa bits
// cleared.
double float_text_kept(double value);

// Writes a Ruby float literal that the interpreter's conversion reads back as
// exactly the Float `value` holds, and answers its length. The text is the
// shortest one in the interpreter's own layout ("0.1", "1.0e-05", "-0.0",
// "1.0e+20"); when no such text reads back, the shortest with the point
// moved ("669916.9529701933e-169", "0.000012345e-300"), which game code reads
// the same way. Every Float tried (millions of bit patterns, subnormals
// included) has one of these; were there one without, its nearest 17-digit
// text would be written. Infinities and NaN are not literals: "inf", "-inf"
// and "nan" are written for them and the caller names them its own way.
// `out` needs FLOAT_TEXT_SIZE bytes.
constexpr size_t FLOAT_TEXT_SIZE = 64;
size_t float_text_format(double value, char *out);

// Reads a whole float text (an optional sign, digits, an optional fraction
// and exponent; no underscores) as a literal in game code is read; false when
// any of it is not part of the number (so "1.5x", "1." and "" are refused).
// Out of range texts give the infinities or zero, as the interpreter's
// conversion does.
bool float_text_parse(const char *text, size_t length, double *out);
