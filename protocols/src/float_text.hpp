// The float layout of the text form, into a caller's buffer.
#pragma once

#include <cstddef>

namespace protocols {

// Longest results: "-0.0000" + 17 digits, or "-d." + 16 digits + "e-324".
inline constexpr std::size_t MAX_FLOAT_CHARS = 48;

// Writes the text form of `value` at `out`, which has room for
// MAX_FLOAT_CHARS, and returns the end of what it wrote.
char* format_float(double value, char* out);

}  // namespace protocols
