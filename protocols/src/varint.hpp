// LEB128 varints and the zigzag mapping of the wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace protocols {

inline constexpr std::size_t MAX_VARINT_BYTES = 10;  // 64 bits in 7-bit groups
inline constexpr std::size_t MAX_SAMPLE_BYTES = 3;   // 16 bits in 7-bit groups

// Writes `value` at `p` in the shortest LEB128 form and returns the end.
// Unsigned only: signed values go through zigzag first.
template <typename U>
constexpr std::uint8_t* put_varint(std::uint8_t* p, U value) {
    static_assert(std::is_unsigned_v<U>, "varints encode unsigned values; zigzag signed ones");
    while (value >= 0x80) {
        *p++ = static_cast<std::uint8_t>(value | 0x80);
        value = static_cast<U>(value >> 7);
    }
    *p++ = static_cast<std::uint8_t>(value);
    return p;
}

// The number of bytes put_varint writes for `value`.
constexpr std::size_t varint_length(std::uint64_t value) {
    std::size_t length = 1;
    for (; value >= 0x80; value >>= 7) ++length;
    return length;
}

// Zigzag folds the sign into the lowest bit so small magnitudes stay short:
//    0 -> 0,  -1 -> 1,  1 -> 2,  -2 -> 3,  ...,  32767 -> 65534,  -32768 -> 65535
constexpr std::uint16_t zigzag(std::int16_t n) {
    return static_cast<std::uint16_t>((static_cast<std::uint16_t>(n) << 1) ^ (n >> 15));
}

}  // namespace protocols
