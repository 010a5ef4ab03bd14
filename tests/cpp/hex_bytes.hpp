// Golden byte strings written the way they read in a hex dump.
#pragma once

#include <cctype>
#include <charconv>
#include <stdexcept>
#include <string_view>

#include "protocols/encoder.hpp"

namespace protocols::testing {

// "01 | C8 01" -> {0x01, 0xC8, 0x01}; blanks, line breaks and "|" separate.
inline Bytes hex_bytes(std::string_view hex) {
    Bytes out;
    std::size_t i = 0;
    while (i < hex.size()) {
        if (!std::isxdigit(static_cast<unsigned char>(hex[i]))) {
            ++i;
            continue;
        }
        std::uint8_t byte = 0;
        const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        if (error != std::errc{} || end != hex.data() + i + 2) {
            throw std::invalid_argument("bad hex byte in test data");
        }
        out.push_back(byte);
        i += 2;
    }
    return out;
}

template <typename T>
Bytes encoded(const T& value) {
    Bytes out;
    serialize(value, out);
    return out;
}

}  // namespace protocols::testing
