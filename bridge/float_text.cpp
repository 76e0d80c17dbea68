#include "float_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

size_t float_text_format(double value, char *out) {
    if (std::isnan(value)) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, "nan");
    if (std::isinf(value)) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, value > 0 ? "inf" : "-inf");
    char digits[FLOAT_TEXT_SIZE];
    // 17 significant digits always read back exactly; fewer keep short
    // values such as 0.1 short.
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(digits, sizeof(digits), "%.*g", precision, value);
        if (std::strtod(digits, nullptr) == value) break;
    }
    // Ruby float literals have a point: "1e+20" becomes "1.0e+20", "-0"
    // becomes "-0.0".
    if (std::strchr(digits, '.')) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, "%s", digits);
    const char *exponent = std::strchr(digits, 'e');
    if (!exponent) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, "%s.0", digits);
    return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, "%.*s.0%s", (int)(exponent - digits), digits, exponent);
}

bool float_text_parse(const char *text, size_t length, double *out) {
    if (length == 0 || std::memchr(text, 0, length)) return false;
    // strtod needs a terminated string; saved floats are short.
    std::string copy(text, length);
    char *end = nullptr;
    double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return false;
    *out = value;
    return true;
}
