// LEB128 varints and the zigzag mapping of the wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "byte_order.hpp"

namespace protocols {

inline constexpr std::size_t MAX_VARINT_BYTES = 10;  // 64 bits in 7-bit groups
inline constexpr std::size_t MAX_SAMPLE_BYTES = 3;   // 16 bits in 7-bit groups

// Writes `value` at `p` in the shortest LEB128 form and returns the end.
// Unsigned only: signed values go through zigzag first.
template <typename U>
inline std::uint8_t* put_varint(std::uint8_t* p, U value) {
    static_assert(std::is_unsigned_v<U>, "varints encode unsigned values; zigzag signed ones");
    while (value >= 0x80) {
        *p++ = static_cast<std::uint8_t>(value | 0x80);
        value = static_cast<U>(value >> 7);
    }
    *p++ = static_cast<std::uint8_t>(value);
    return p;
}

// Zigzag folds the sign into the lowest bit so small magnitudes stay short:
//    0 -> 0,  -1 -> 1,  1 -> 2,  -2 -> 3,  ...,  32767 -> 65534,  -32768 -> 65535
constexpr std::uint16_t zigzag(std::int16_t n) {
    return static_cast<std::uint16_t>((static_cast<std::uint16_t>(n) << 1) ^ (n >> 15));
}

// The varint of zigzag(sample) without branches, for the per-sample loop.
// Stores four bytes at `p` (the caller leaves one byte of slack after the
// last sample) and returns the end of the 1 to 3 bytes that count.
inline std::uint8_t* put_sample(std::uint8_t* p, std::int16_t sample) {
    const std::uint32_t z = zigzag(sample);
    const std::uint32_t needs_second = z >= 0x80;
    const std::uint32_t needs_third = z >= 0x4000;
    const std::uint32_t word = (z & 0x7F) | (needs_second << 7) | ((z >> 7 & 0x7F) << 8) |
                               (needs_third << 15) | ((z >> 14) << 16);
    store_little_endian(p, word);
    return p + 1 + needs_second + needs_third;
}

}  // namespace protocols
