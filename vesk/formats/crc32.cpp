// Slicing by eight: eight table lookups fold eight bytes at once, where the
// byte-at-a-time loop waits on each lookup before the next can start.
#include "crc32.hpp"

#include <array>

namespace vesk {
namespace {

constexpr std::uint32_t POLYNOMIAL = 0xEDB88320;

// TABLES[0][b]: the CRC of byte b alone; TABLES[k][b]: of b followed by k zero bytes.
constexpr auto TABLES = [] {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? (c >> 1) ^ POLYNOMIAL : c >> 1;
        tables[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t b = 0; b < 256; ++b) {
            const std::uint32_t previous = tables[k - 1][b];
            tables[k][b] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}();

// Little-endian whatever the host, so that the byte order of the input is kept.
std::uint32_t load32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

}  // namespace

void Crc32::update(std::span<const std::uint8_t> bytes) {
    const auto& t = TABLES;
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    std::uint32_t c = state_;
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint32_t low = load32(p) ^ c;
        const std::uint32_t high = load32(p + 4);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
            t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; n > 0; ++p, --n) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    state_ = c;
}

}  // namespace vesk
