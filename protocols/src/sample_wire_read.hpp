// Reading the wire forms of arbitrary samples in bulk: the decoder's hot loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocols {

struct SampleRun {
    std::size_t samples = 0;  // decoded and stored at out[0, samples)
    std::size_t bytes = 0;    // taken from the input
};

// Decodes up to `count` samples from [first, last) into `out`, for as long as
// each is well formed: a varint of 1 to 3 bytes in its shortest form whose
// value fits 16 bits, zigzag-mapped. Stops before the first one that is not,
// or that lies too near `last` to be seen whole, and leaves it to the exact
// reader, which decodes it or names its fault. Never reads at or past `last`.
SampleRun take_sample_wire_forms(const std::uint8_t* first, const std::uint8_t* last,
                                 std::int16_t* out, std::size_t count);

// The loop take_sample_wire_forms runs on this processor, for benchmarks:
// "avx512-vbmi2", "avx2", "ssse3" or "one at a time".
const char* sample_loop_name();

}  // namespace protocols
