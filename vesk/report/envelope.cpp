#include "envelope.hpp"

#include <algorithm>
#include <cmath>

namespace vesk {
namespace {

struct Extremes {
    std::int16_t low;
    std::int16_t high;
};

// Branch-free over a non-empty run, with plain values rather than the
// references std::min gives, so that it vectorises.
Extremes extremes(const std::int16_t* first, const std::int16_t* last) {
    std::int16_t low = *first, high = *first;
    const auto n = static_cast<std::size_t>(last - first);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int16_t value = first[i];
        low = value < low ? value : low;
        high = value > high ? value : high;
    }
    return {low, high};
}

}  // namespace

Envelope column_envelope(std::span<const std::int16_t> samples, double samples_per_column,
                         std::size_t columns, double offset) {
    Envelope envelope;
    const std::size_t n = samples.size();
    if (n == 0) return envelope;
    // Kept finite and positive, so that every bound below is a number.
    const double step = std::clamp(samples_per_column, 1e-9, 1e18);
    envelope.low.reserve(columns);
    envelope.high.reserve(columns);
    Extremes all = {samples[0], samples[0]};
    std::size_t reached = 0;  // samples seen so far
    for (std::size_t c = 0; c < columns; ++c) {
        const double start = std::floor(offset + static_cast<double>(c) * step);
        if (!(start < static_cast<double>(n))) break;
        const double end = std::ceil(offset + static_cast<double>(c + 1) * step);
        const auto first = static_cast<std::size_t>(start);
        const std::size_t last =
            std::max(first + 1, static_cast<std::size_t>(std::min(end, static_cast<double>(n))));
        const Extremes column = extremes(samples.data() + first, samples.data() + last);
        envelope.low.push_back(column.low);
        envelope.high.push_back(column.high);
        all = {std::min(all.low, column.low), std::max(all.high, column.high)};
        reached = last;
    }
    if (reached < n) {
        const Extremes rest = extremes(samples.data() + reached, samples.data() + n);
        all = {std::min(all.low, rest.low), std::max(all.high, rest.high)};
    }
    envelope.lowest = all.low;
    envelope.highest = all.high;
    return envelope;
}

}  // namespace vesk
