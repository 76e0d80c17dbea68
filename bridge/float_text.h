// Floats as text that reads back to the same bits. The interpreter's own
// float printing and reading round to about 15 digits both ways, which
// changes saved values; these go through the C library instead.
#pragma once

#include <cstddef>

// Writes the shortest of the 15-, 16- and 17-digit forms that reads back as
// exactly `value`, as a Ruby float literal ("0.5", "1.0e+20", "-0.0"), and
// answers its length. Infinities and NaN are not literals: "inf", "-inf" and
// "nan" are written for them and the caller names them its own way. `out`
// needs FLOAT_TEXT_SIZE bytes.
constexpr size_t FLOAT_TEXT_SIZE = 40;
size_t float_text_format(double value, char *out);

// Reads a whole float text with the C library; false when any of it is not
// part of the number (so "1.5x" and "" are refused). Out of range texts give
// the infinities or zero, as the C library rounds them.
bool float_text_parse(const char *text, size_t length, double *out);
