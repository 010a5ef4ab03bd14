// A double as its 64 bits: the file stores floats bit for bit, so NaN
// payloads and the sign of zero are part of a value, and comparing two values
// means comparing their bits.
#pragma once

#include <bit>
#include <cstdint>

namespace protocols {

constexpr std::uint64_t float_bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

constexpr double float_from_bits(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// -0.0 is not 0.0, and a NaN is only the NaN of the same bits.
constexpr bool same_bits(double a, double b) {
    return float_bits(a) == float_bits(b);
}

// The quiet NaN that arithmetic, math.nan and float("nan") give.
inline constexpr std::uint64_t USUAL_NAN_BITS = 0x7FF8000000000000;
inline constexpr std::uint64_t FLOAT_SIGN_BIT = std::uint64_t{1} << 63;

}  // namespace protocols
