// Little-endian stores for the wire format, whatever the host's byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace protocols {

template <typename U>
constexpr U to_little_endian(U value) {
    static_assert(std::is_unsigned_v<U>);
    if constexpr (std::endian::native == std::endian::little) {
        return value;
    } else {
        U swapped = 0;
        for (std::size_t i = 0; i < sizeof(U); ++i) {
            swapped = static_cast<U>((swapped << 8) | (value & 0xFF));
            value = static_cast<U>(value >> 8);
        }
        return swapped;
    }
}

// Stores all sizeof(U) bytes of `value` at `p`, least significant first.
template <typename U>
inline void store_little_endian(void* p, U value) {
    const U le = to_little_endian(value);
    std::memcpy(p, &le, sizeof le);
}

}  // namespace protocols
