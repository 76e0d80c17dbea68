#include "float_text.h"

#include <mruby.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int MAX_DIGITS = 17;

bool digit(char c) { return c >= '0' && c <= '9'; }

// How a candidate's digits are laid out: in the interpreter's own way (fixed
// from 1.0e-04 up to below 1.0e+15, else one digit before the point and an
// exponent), with `point` digits before the point and an exponent, or as
// "0." and `point` zeros before the digits and an exponent.
enum layout_kind { OWN, POINT_AFTER, ZEROS_BEFORE };

// The text of the digits `digits` (count of them, the first not 0) times
// 10^exponent, where the first digit is in the ones place.
size_t layout(bool negative, const char *digits, int count, int exponent, layout_kind kind, int point, char *out) {
    while (count > 1 && digits[count - 1] == '0') --count;
    char *at = out;
    if (negative) *at++ = '-';
    bool fixed = kind == OWN && exponent >= -4 && exponent < 15;
    if (kind == OWN && !fixed) point = 0;
    if (fixed && exponent < 0) {
        *at++ = '0';
        *at++ = '.';
        for (int i = -1; i > exponent; --i) *at++ = '0';
        std::memcpy(at, digits, (size_t)count);
        at += count;
    } else if (kind == ZEROS_BEFORE) {
        *at++ = '0';
        *at++ = '.';
        for (int i = 0; i < point; ++i) *at++ = '0';
        std::memcpy(at, digits, (size_t)count);
        at += count;
        exponent += point + 1;
    } else {
        int whole = fixed ? exponent + 1 : point + 1;
        for (int i = 0; i < whole; ++i) *at++ = i < count ? digits[i] : '0';
        *at++ = '.';
        if (count > whole) {
            std::memcpy(at, digits + whole, (size_t)(count - whole));
            at += count - whole;
        } else {
            *at++ = '0';
        }
        exponent -= whole - 1;
    }
    if (!fixed) at += std::snprintf(at, 8, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    *at = 0;
    return (size_t)(at - out);
}

// The first text, over digit counts from 1 to 17, in the layouts from
// `first` to `last` placement, that reads back as value; 0 when none does.
// A count is tried rounded down and rounded up; below 14 digits only when
// the digits dropped are all 0s or all 9s, since otherwise the text is too
// far from the value to read back as it.
size_t search(double value, const char *digits, int exponent, layout_kind kind, int first, int last, char *out) {
    bool negative = std::signbit(value);
    for (int count = 1; count <= MAX_DIGITS; ++count) {
        for (int up = 0; up < 2; ++up) {
            bool plausible = true;
            for (int i = count; i < 14 && plausible; ++i) plausible = digits[i] == (up ? '9' : '0');
            if (!plausible) continue;
            char candidate[MAX_DIGITS + 1];
            std::memcpy(candidate, digits, (size_t)count);
            int candidate_exponent = exponent;
            if (up) {
                int i = count - 1;
                while (i >= 0 && candidate[i] == '9') candidate[i--] = '0';
                if (i >= 0) {
                    candidate[i]++;
                } else {
                    // 9.99 rounds up to 10.0: one more power of ten.
                    candidate[0] = '1';
                    candidate_exponent++;
                }
            }
            for (int point = first; point <= last; ++point) {
                size_t length = layout(negative, candidate, count, candidate_exponent, kind, point, out);
                if (float_text_kept(mrb_float_read(out, nullptr)) == value) return length;
            }
        }
    }
    return 0;
}

} // namespace

double float_text_kept(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits &= ~(uint64_t)3;
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

size_t float_text_format(double value, char *out) {
    if (std::isnan(value)) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, "nan");
    if (std::isinf(value)) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, value > 0 ? "inf" : "-inf");
    value = float_text_kept(value);
    if (value == 0) return (size_t)std::snprintf(out, FLOAT_TEXT_SIZE, std::signbit(value) ? "-0.0" : "0.0");
    // The value's first 17 significant digits, from which every candidate is
    // cut.
    char exact[32];
    std::snprintf(exact, sizeof exact, "%.16e", std::fabs(value));
    char digits[MAX_DIGITS + 1];
    digits[0] = exact[0];
    std::memcpy(digits + 1, exact + 2, MAX_DIGITS - 1);
    digits[MAX_DIGITS] = 0;
    int exponent = std::atoi(std::strchr(exact, 'e') + 1);
    // The interpreter sums digits in floating point and scales by a power of
    // ten, which misses some values by more than their rounding allows;
    // moving the point changes both sums, and leading zeros keep the power
    // of ten out of the subnormal range for the smallest values.
    size_t length = search(value, digits, exponent, OWN, 0, 0, out);
    if (!length) length = search(value, digits, exponent, POINT_AFTER, 0, MAX_DIGITS - 1, out);
    if (!length) length = search(value, digits, exponent, ZEROS_BEFORE, 1, 30, out);
    if (!length) length = layout(std::signbit(value), digits, MAX_DIGITS, exponent, OWN, 0, out);
    return length;
}

bool float_text_parse(const char *text, size_t length, double *out) {
    size_t i = 0;
    if (i < length && (text[i] == '-' || text[i] == '+')) ++i;
    size_t whole = i;
    while (i < length && digit(text[i])) ++i;
    if (i == whole) return false;
    if (i < length && text[i] == '.') {
        size_t fraction = ++i;
        while (i < length && digit(text[i])) ++i;
        if (i == fraction) return false;
    }
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < length && (text[i] == '-' || text[i] == '+')) ++i;
        size_t power = i;
        while (i < length && digit(text[i])) ++i;
        if (i == power) return false;
    }
    if (i != length) return false;
    // The interpreter's reader needs a terminated string; saved numbers are
    // short.
    char copy[FLOAT_TEXT_SIZE];
    if (length < sizeof copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
        *out = mrb_float_read(copy, nullptr);
    } else {
        *out = mrb_float_read(std::string(text, length).c_str(), nullptr);
    }
    return true;
}
