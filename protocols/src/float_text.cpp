// The float layout of the text form. std::to_chars finds the shortest digits
// that read back to the same double; this file only lays them out.
#include "float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "protocols/text_form.hpp"

namespace protocols {
namespace {

// Shortest digits of a finite, non-zero magnitude: "d.ddde±xx" from to_chars,
// split into the bare digit string and the decimal exponent of its first digit.
struct Decimal {
    char digits[24];
    std::size_t count = 0;
    int exponent = 0;
};

Decimal shortest_decimal(double magnitude) {
    char scientific[32];
    const char* const end = std::to_chars(scientific, scientific + sizeof scientific, magnitude,
                                          std::chars_format::scientific)
                                .ptr;
    Decimal decimal;
    const char* p = scientific;
    for (; *p != 'e'; ++p) {
        if (*p != '.') decimal.digits[decimal.count++] = *p;
    }
    ++p;  // 'e'
    if (*p == '+') ++p;
    std::from_chars(p, end, decimal.exponent);
    return decimal;
}

char* fill(char* p, char c, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) *p++ = c;
    return p;
}

char* copy(char* p, const char* from, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) *p++ = from[i];
    return p;
}

}  // namespace

char* format_float(double value, char* out) {
    if (std::isnan(value)) return copy(out, "NaN", 3);
    if (std::isinf(value)) return value < 0 ? copy(out, "-inf", 4) : copy(out, "inf", 3);
    if (value == 0.0) return std::signbit(value) ? copy(out, "-0.0", 4) : copy(out, "0.0", 3);
    const double magnitude = std::fabs(value);
    const Decimal d = shortest_decimal(magnitude);
    char* p = out;
    if (value < 0) *p++ = '-';
    if (magnitude >= 1e16 || magnitude < 1e-4) {
        *p++ = d.digits[0];
        if (d.count > 1) {
            *p++ = '.';
            p = copy(p, d.digits + 1, d.count - 1);
        }
        *p++ = 'e';
        return std::to_chars(p, out + MAX_FLOAT_CHARS, d.exponent).ptr;
    }
    if (d.exponent >= 0) {
        const auto whole = static_cast<std::size_t>(d.exponent) + 1;
        if (d.count <= whole) {
            p = copy(p, d.digits, d.count);
            p = fill(p, '0', whole - d.count);
            return copy(p, ".0", 2);
        }
        p = copy(p, d.digits, whole);
        *p++ = '.';
        return copy(p, d.digits + whole, d.count - whole);
    }
    p = copy(p, "0.", 2);
    p = fill(p, '0', static_cast<std::size_t>(-d.exponent - 1));
    return copy(p, d.digits, d.count);
}

void write_float(std::string& out, double value) {
    char buffer[MAX_FLOAT_CHARS];
    out.append(buffer, format_float(value, buffer));
}

}  // namespace protocols
