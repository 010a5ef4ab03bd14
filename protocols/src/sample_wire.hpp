// The wire forms of arbitrary samples, written in bulk: the encoder's hot loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocols {

// Bytes that put_sample_wire_forms may store past the end it returns.
inline constexpr std::size_t SAMPLE_WIRE_SLACK = 16;

// Writes the varint of the zigzag value of each sample in [first, last) at
// `out`, in order, and returns the end of what it wrote.
std::uint8_t* put_sample_wire_forms(const std::int16_t* first, const std::int16_t* last,
                                    std::uint8_t* out);

}  // namespace protocols
