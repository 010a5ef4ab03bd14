// The lowest and highest stored sample in each pixel column of a plot, so
// that a picture of millions of samples has as many points as pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vesk {

struct Envelope {
    // Per pixel column, from the first: the extremes of the samples whose
    // period overlaps the column. Ends at the last column that a sample reaches.
    std::vector<std::int16_t> low;
    std::vector<std::int16_t> high;
    // Over every sample, those past the last column included; 0 when there are none.
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
};

// Sample i covers [i, i + 1) in units of sample periods; column c covers
// offset + [c, c + 1) * samples_per_column, `offset` being where the first
// column starts within samples[0] (0 <= offset < 1 for a window cut to the
// samples it overlaps). One pass over the samples.
Envelope column_envelope(std::span<const std::int16_t> samples, double samples_per_column,
                         std::size_t columns, double offset = 0.0);

}  // namespace vesk
