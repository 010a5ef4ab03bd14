// Names of parameterised test cases made from their values, so that a case
// reads the same in every build and can be selected by name: GoogleTest takes
// only letters, digits and '_'. Callers begin each name with a letter, since
// CTest replaces a name of digits alone by the printed parameter.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace param_name {

// Letters and digits kept; a space, '/', '.' or '-' as '_'; any other byte as
// 'x' and two hex digits ("say \"hi\"" -> "say_x22hix22"); "" -> "empty".
inline std::string text(std::string_view value) {
    if (value.empty()) return "empty";
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string name;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= 'a' && byte <= 'z')) {
            name += c;
        } else if (c == ' ' || c == '/' || c == '.' || c == '-') {
            name += '_';
        } else {
            name += 'x';
            name += kHex[byte >> 4];
            name += kHex[byte & 0xF];
        }
    }
    return name;
}

// The shortest digits that read back as `value`, '.' as '_' and a sign as a
// word: 0.07 -> "0_07", -1e-300 -> "minus1eminus300", NaN -> "nan".
inline std::string number(double value) {
    // C++ libraries print a NaN each their own way (libc++: "-nan(ind)").
    if (std::isnan(value)) return std::signbit(value) ? "minusnan" : "nan";
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    std::string name;
    for (const char* c = digits; c != end; ++c) {
        if (*c == '-') {
            name += "minus";
        } else if (*c == '.') {
            name += '_';
        } else if (*c != '+') {
            name += *c;
        }
    }
    return name;
}

inline std::string number(std::uint64_t value) {
    return std::to_string(value);
}

}  // namespace param_name
