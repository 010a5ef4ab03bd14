#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crc32.hpp"

namespace vesk {
namespace {

// One bit at a time, straight from the definition.
std::uint32_t bitwise_crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
    }
    return ~c;
}

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32, CheckValues) {
    EXPECT_EQ(crc32(bytes_of("")), 0u);
    EXPECT_EQ(crc32(bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytes_of("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

// Every start alignment and tail length of the eight-byte loop, and the
// same bytes fed in uneven pieces.
TEST(Crc32, MatchesTheBitwiseDefinitionAtAnyOffsetLengthAndSplit) {
    std::mt19937 random(1234);
    std::vector<std::uint8_t> data(4096 + 16);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (std::size_t start = 0; start < 16; ++start) {
        for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 4095u}) {
            const std::uint8_t* p = data.data() + start;
            ASSERT_EQ(crc32({p, length}), bitwise_crc32(p, length)) << start << " " << length;
            Crc32 pieces;
            const std::size_t cut = length / 3;
            pieces.update({p, cut});
            pieces.update({p + cut, length - cut});
            ASSERT_EQ(pieces.value(), bitwise_crc32(p, length)) << start << " " << length;
        }
    }
}

}  // namespace
}  // namespace vesk
