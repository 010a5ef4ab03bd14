// The decimal text of stored samples, for the text form and the JSON form.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>

#include "byte_order.hpp"

namespace protocols {

inline constexpr std::size_t MAX_SAMPLE_CHARS = 6;  // "-32768"

// Bytes put_sample_digits may store past the digits it writes.
inline constexpr std::size_t SAMPLE_DIGITS_SLACK = 8;

// The decimal text of every sample in 0..32767, the range quantisation gives:
// the digits from the lowest byte up and their count in the top byte. Loading
// eight bytes is cheaper than converting digit by digit in the hot loop.
inline constexpr auto SAMPLE_TEXTS = [] {
    std::array<std::uint64_t, 32768> table{};
    for (std::uint64_t value = 0; value < table.size(); ++value) {
        std::uint64_t digits = 0;
        std::uint64_t count = 0;
        std::uint64_t rest = value;
        do {
            digits = (digits << 8) | ('0' + rest % 10);
            rest /= 10;
            ++count;
        } while (rest != 0);
        table[value] = digits | (count << 56);
    }
    return table;
}();

// Writes one sample's digits at p and returns their end: eight bytes stored at
// once for the values quantisation gives, of which the text's own are kept.
inline char* put_sample_digits(char* p, std::int16_t sample) {
    if (sample >= 0) {
        const std::uint64_t text = SAMPLE_TEXTS[static_cast<std::size_t>(sample)];
        store_little_endian(p, text);
        return p + (text >> 56);
    }
    return std::to_chars(p, p + MAX_SAMPLE_CHARS, sample).ptr;
}

}  // namespace protocols
