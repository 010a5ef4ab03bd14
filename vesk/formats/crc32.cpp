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

// a(x) * b(x) modulo the polynomial, in the reflected bit order of the CRC.
constexpr std::uint32_t multiply_mod_p(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t bit = std::uint32_t{1} << 31; bit != 0; bit >>= 1) {
        if ((a & bit) != 0) product ^= b;
        b = (b & 1) != 0 ? (b >> 1) ^ POLYNOMIAL : b >> 1;
    }
    return product;
}

// X_POWERS[k]: x^(2^k) modulo the polynomial (x^0 is the top bit). The
// polynomial is irreducible, so x^(2^32) is x again and 32 entries serve
// every k.
constexpr auto X_POWERS = [] {
    std::array<std::uint32_t, 32> powers{};
    powers[0] = std::uint32_t{1} << 30;  // x^1
    for (std::size_t k = 1; k < powers.size(); ++k) {
        powers[k] = multiply_mod_p(powers[k - 1], powers[k - 1]);
    }
    return powers;
}();

}  // namespace

// Appending n zero bytes multiplies the register by x^(8n); the rest is linear.
std::uint32_t crc32_combine(std::uint32_t first, std::uint32_t second,
                            std::uint64_t second_length) {
    std::uint32_t shift = std::uint32_t{1} << 31;  // x^0
    for (std::size_t k = 3; second_length != 0; second_length >>= 1, ++k) {
        if ((second_length & 1) != 0) shift = multiply_mod_p(X_POWERS[k % 32], shift);
    }
    return multiply_mod_p(shift, first) ^ second;
}

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
