// Checking and quantising a caller's normalised samples in one pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocols/signals.hpp"

namespace protocols {

enum class SampleFault {
    None,
    BelowZero,  // not >= 0.0 (NaN included): "assertion failed: *sample >= 0.0"
    AboveOne,   // not <= 1.0: "assertion failed: *sample <= 1.0"
};

// Room for `count` samples, for import_samples to fill: one allocation of
// exactly `count`, advised for huge pages before its first touch, since the
// fresh pages of a long signal otherwise cost one fault per 4 KiB.
Samples new_sample_array(std::size_t count);

// Reads `count` doubles starting at `data`, `stride` bytes apart (any sign,
// zero included), in index order; checks each against [0.0, 1.0] and writes
// quantise_sample() of it to out[i]. Returns the fault of the first offending
// element in index order, or None. On a fault the contents of `out` are
// unspecified.
SampleFault import_samples(const std::byte* data, std::ptrdiff_t stride, std::size_t count,
                           std::int16_t* out);

}  // namespace protocols
